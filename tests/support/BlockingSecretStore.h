#pragma once

#include "core/platform/SecretStore.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QWaitCondition>

#include <atomic>
#include <chrono>
#include <utility>

// A secret store whose calls wait until the test opens it, the way the Secret
// Service waits on a prompt or a stalled daemon. A call that nobody opens
// gives up after 5 s or the patience set (so that a test of a caller that
// blocks the GUI thread fails rather than hangs) and records that it did.
// Opened, the first call still takes the delay, if one is set: a daemon that
// is slow to answer at first (starting, unlocking).
class BlockingSecretStore final : public SecretStore {
public:
    std::optional<QByteArray> read(const QString& s, const QString& a) override
    {
        hold();
        return m_inner.read(s, a);
    }
    bool write(const QString& s, const QString& a, const QByteArray& secret, const QString& label,
        QString* error = nullptr) override
    {
        hold();
        return m_inner.write(s, a, secret, label, error);
    }
    bool remove(const QString& s, const QString& a, QString* error = nullptr) override
    {
        hold();
        return m_inner.remove(s, a, error);
    }

    // A call is waiting now.
    bool waiting() const { return m_waiting > 0; }
    // Lets every waiting and later call through.
    void open()
    {
        const QMutexLocker lock(&m_mutex);
        m_open = true;
        m_opened.wakeAll();
    }
    // How long an unopened call waits before it gives up (5 s unless set).
    void setPatience(std::chrono::milliseconds patience) { m_patience = patience; }
    void setDelay(std::chrono::milliseconds delay)
    {
        const QMutexLocker lock(&m_mutex);
        m_delay = delay;
    }
    // Some call gave up waiting before open().
    bool gaveUp() const { return m_gaveUp; }
    // The calls made so far (reads, writes and removals alike).
    int calls() const { return m_calls; }
    MemorySecretStore& inner() { return m_inner; }

private:
    void hold()
    {
        const QMutexLocker lock(&m_mutex);
        ++m_calls;
        ++m_waiting;
        const QDeadlineTimer deadline(m_patience.load());
        while (!m_open) {
            if (!m_opened.wait(&m_mutex, deadline)) {
                m_gaveUp = true;
                break;
            }
        }
        --m_waiting;
        const QDeadlineTimer slow(std::exchange(m_delay, std::chrono::milliseconds(0)));
        while (!slow.hasExpired())
            m_opened.wait(&m_mutex, slow);
    }

    MemorySecretStore m_inner;
    QMutex m_mutex;
    QWaitCondition m_opened;
    bool m_open = false;
    std::atomic<int> m_waiting { 0 };
    std::atomic<int> m_calls { 0 };
    std::atomic<bool> m_gaveUp { false };
    std::chrono::milliseconds m_delay { 0 };
    std::atomic<std::chrono::milliseconds> m_patience { std::chrono::milliseconds(5000) };
};
