#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <optional>

// Measures how well the event loop keeps turning: a 10 ms repeating timer
// records the largest gap between two of its ticks beyond the interval.
// Whatever holds up the GUI thread (a wait, a blocking call, a slow write,
// long work) shows up as a gap; so does test code running between two waits,
// so a probe is reset after the test's own set-up. Time the thread spent
// ready but waiting for a CPU is left out where the kernel tells it: a busy
// machine is not the application's stall.
class StallProbe {
public:
    static constexpr std::chrono::milliseconds kInterval { 10 };

    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kInterval);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_worst = std::max(m_worst, sinceLastTick(true)); });
        reset();
    }

    // Forgets what was measured and starts again.
    void reset()
    {
        m_worst = 0;
        m_clock.start();
        m_queued = queuedNs();
        m_timer.start();
    }

    // The largest delay seen so far, in milliseconds; a tick due now counts.
    qint64 worstMs() { return std::max(m_worst, sinceLastTick(false)); }

private:
    // The delay of a tick arriving now; `restart` starts the next gap.
    qint64 sinceLastTick(bool restart)
    {
        const qint64 elapsed = restart ? m_clock.restart() : m_clock.elapsed();
        const std::optional<qint64> queued = queuedNs();
        const qint64 waitedForCpu = queued && m_queued ? (*queued - *m_queued) / 1000000 : 0;
        if (restart)
            m_queued = queued;
        return elapsed - waitedForCpu - qint64(kInterval.count());
    }

    // How long this thread has waited on a run queue, from the kernel's
    // scheduler statistics; none where they are not kept.
    static std::optional<qint64> queuedNs()
    {
        QFile f(QStringLiteral("/proc/thread-self/schedstat"));
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        const QList<QByteArray> fields = f.readAll().simplified().split(' ');
        bool ok = false;
        const qint64 ns = fields.size() >= 2 ? fields.at(1).toLongLong(&ok) : 0;
        return ok ? std::optional<qint64>(ns) : std::nullopt;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    std::optional<qint64> m_queued;
    qint64 m_worst = 0;
};
