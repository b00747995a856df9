#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <optional>

// Measures how long the GUI thread is held up waiting: a 10 ms repeating timer
// records the largest gap between two of its ticks beyond the interval, less
// the time the thread spent running or ready to run in that gap (from the
// kernel's scheduler statistics) and less the time spent painting. What is
// left is time it was blocked in the application's own work: a wait, a
// blocking call, a write to disk. Work (layout, the test's own code) and a
// machine busy with other processes are left out, so that the measure does
// not depend on the build or the machine; so is painting, where Qt waits for
// its own helper threads to fill large areas. Where the kernel keeps no
// statistics, all but painting counts.
class StallProbe : public QObject {
public:
    static constexpr std::chrono::milliseconds kInterval { 10 };

    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kInterval);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_worst = std::max(m_worst, sinceLastTick(true)); });
        QCoreApplication::instance()->installEventFilter(this);
        reset();
    }

    // Forgets what was measured and starts again.
    void reset()
    {
        m_worst = 0;
        m_clock.start();
        m_scheduled = scheduledNs();
        m_paintMs = 0;
        m_paintScheduledNs = 0;
        m_timer.start();
    }

    // The longest the thread was held up so far, in milliseconds; a tick due now counts.
    qint64 worstMs() { return std::max(m_worst, sinceLastTick(false)); }

    // One probe for a whole test program.
    static StallProbe& shared()
    {
        static StallProbe probe;
        return probe;
    }
    // Fails the running test when the thread was held up for more than 100 ms since the last reset.
    void verifyNoStall()
    {
        const qint64 worst = worstMs();
        QVERIFY2(worst <= 100, qPrintable(QStringLiteral("stalled %1 ms").arg(worst)));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (m_painting || (event->type() != QEvent::UpdateRequest && event->type() != QEvent::Expose))
            return false;
        // Delivered here, timed, and not again.
        m_painting = true;
        QElapsedTimer clock;
        clock.start();
        const std::optional<qint64> before = scheduledNs();
        QCoreApplication::sendEvent(watched, event);
        const std::optional<qint64> after = scheduledNs();
        m_paintMs += clock.elapsed();
        m_paintScheduledNs += before && after ? *after - *before : 0;
        m_painting = false;
        return true;
    }

private:
    // The delay of a tick arriving now; `restart` starts the next gap.
    qint64 sinceLastTick(bool restart)
    {
        const qint64 elapsed = restart ? m_clock.restart() : m_clock.elapsed();
        const std::optional<qint64> scheduled = scheduledNs();
        const qint64 scheduledOutsidePaint
            = scheduled && m_scheduled ? (*scheduled - *m_scheduled - m_paintScheduledNs) / 1000000 : 0;
        const qint64 delay = elapsed - m_paintMs - scheduledOutsidePaint - qint64(kInterval.count());
        if (restart) {
            m_scheduled = scheduled;
            m_paintMs = 0;
            m_paintScheduledNs = 0;
        }
        return delay;
    }

    // This thread's time on a CPU plus its time waiting on a run queue.
    static std::optional<qint64> scheduledNs()
    {
        QFile f(QStringLiteral("/proc/thread-self/schedstat"));
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        const QList<QByteArray> fields = f.readAll().simplified().split(' ');
        if (fields.size() < 2)
            return std::nullopt;
        bool running = false;
        bool queued = false;
        const qint64 ns = fields.at(0).toLongLong(&running) + fields.at(1).toLongLong(&queued);
        return running && queued ? std::optional<qint64>(ns) : std::nullopt;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    std::optional<qint64> m_scheduled;
    qint64 m_paintMs = 0;
    qint64 m_paintScheduledNs = 0;
    bool m_painting = false;
    qint64 m_worst = 0;
};
