#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <QCoroTask>

#include <chrono>
#include <coroutine>

// The pause between two passes of a loop that belongs to `owner`: resumes
// after the duration, or at once when the owner is destroyed or emits the
// wake signal. A plain timer wait stays suspended for ever when its owner goes
// first (at quit nothing fires it any more), and the frame of every coroutine
// waiting on it leaks with what it holds.
class LoopPause {
public:
    LoopPause(QObject* owner, std::chrono::milliseconds duration);
    ~LoopPause();
    LoopPause(const LoopPause&) = delete;
    LoopPause& operator=(const LoopPause&) = delete;

    template <typename Sender, typename Signal> void wakeOn(const Sender* sender, Signal signal)
    {
        m_wake = QObject::connect(sender, signal, [this] { resume(); });
    }

    auto operator co_await() noexcept
    {
        struct Awaiter {
            LoopPause* pause;
            bool await_ready() const noexcept { return !pause->m_owner; }
            void await_suspend(std::coroutine_handle<> handle) { pause->suspend(handle); }
            void await_resume() const noexcept { }
        };
        return Awaiter { this };
    }

private:
    void suspend(std::coroutine_handle<> handle);
    void resume();
    void disconnectAll();

    QPointer<QObject> m_owner;
    QTimer m_timer;
    QMetaObject::Connection m_destroyed;
    QMetaObject::Connection m_wake;
    std::coroutine_handle<> m_handle;
};

// Awaits a LoopPause of `owner` that also ends when `owner` emits `wake`.
template <typename Owner, typename Signal>
QCoro::Task<> pauseLoop(Owner* owner, std::chrono::milliseconds duration, Signal wake)
{
    LoopPause pause(owner, duration);
    pause.wakeOn(owner, wake);
    co_await pause;
}
