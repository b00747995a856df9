#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <QCoroTask>

#include <coroutine>
#include <deque>
#include <utility>

// The requests this process has under way to each gateway (by its configured
// address), a probe and the request it comes before counting as one: at most
// kInFlight at a time, the rest wait their turn. The window's own status reads
// and the user's actions go ahead of every waiting evidence poll, and polls
// hold at most kPollSlots places, so a thousand running tasks polling their
// evidence never hold up the five-second reload, and the connections opened
// stay few. Lives on the GUI thread.
class RequestGate : public QObject {
    Q_OBJECT
public:
    enum class Priority { Status, Poll };
    static constexpr int kInFlight = 12;
    static constexpr int kPollSlots = 8;

    // The one gate of the process.
    static RequestGate& shared();

    // A place under way, given back when it goes; an empty one is false.
    class Pass {
    public:
        Pass() = default;
        Pass(Pass&& other) noexcept
            : m_gate(std::exchange(other.m_gate, nullptr))
            , m_key(std::move(other.m_key))
            , m_priority(other.m_priority)
        {
        }
        Pass& operator=(Pass&& other) noexcept
        {
            if (this != &other) {
                release();
                m_gate = std::exchange(other.m_gate, nullptr);
                m_key = std::move(other.m_key);
                m_priority = other.m_priority;
            }
            return *this;
        }
        ~Pass() { release(); }
        explicit operator bool() const { return m_gate != nullptr; }

    private:
        friend class RequestGate;
        Pass(RequestGate* gate, QString key, Priority priority)
            : m_gate(gate)
            , m_key(std::move(key))
            , m_priority(priority)
        {
        }
        void release();

        QPointer<RequestGate> m_gate;
        QString m_key;
        Priority m_priority = Priority::Status;
    };

    // A place for a request to `gateway`, at once when one is free. When
    // `owner` (the client that sends it) or `requester` (what asked for it,
    // may be none) goes while the request still waits, it resumes at once
    // with an empty pass and nothing is sent.
    QCoro::Task<Pass> enter(QString gateway, Priority priority, QObject* owner, QObject* requester = nullptr);

    // Under way and waiting, for tests and benchmarks.
    int inFlight(const QString& gateway) const;
    int waiting(const QString& gateway, Priority priority) const;

private:
    struct Waiter {
        Priority priority;
        QObject* owner;
        QObject* requester;
        std::coroutine_handle<> handle;
        bool granted = false;
    };
    struct Awaiter {
        Waiter* waiter;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) noexcept { waiter->handle = handle; }
        void await_resume() const noexcept { }
    };
    struct Line {
        int inFlight = 0;
        int polls = 0;
        std::deque<Waiter*> status;
        std::deque<Waiter*> waitingPolls;
    };

    RequestGate() = default;
    bool mayStart(const Line& line, Priority priority) const;
    void take(Line& line, Priority priority);
    void leave(const QString& gateway, Priority priority);
    void drop(QObject* gone);
    void watch(QObject* object);

    QHash<QString, Line> m_lines;
    QSet<QObject*> m_watched;
    // Gateways with a place given back since the granting began.
    QSet<QString> m_freed;
    bool m_granting = false;
};
