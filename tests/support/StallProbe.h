#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTest>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>

// Watches the event loop of the thread it lives on: a 10 ms repeating timer
// measures each gap between two of its ticks beyond the interval, two ways.
//
// Blocked time: the gap less the time the thread spent running or ready to run
// in it (from the kernel's scheduler statistics) and less the time spent
// painting. What is left is time it was blocked in the application's own work:
// a wait, a blocking call, a write to disk. Work and a machine busy with other
// processes are left out, so that the measure does not depend on the build or
// the machine; so is painting, where Qt waits for its own helper threads to
// fill large areas. Where the kernel keeps no statistics, all but painting
// counts.
//
// Turn time: the gap less only the time spent ready to run while other
// processes had the CPU, so a long layout or decode counts as well.
//
// The tests hold the GUI thread to both limits below; the benchmarks report
// the turn time beside the same probe in a bare window. Header-only, so that
// the bare window uses it without the application's libraries.
class StallProbe : public QObject {
public:
    static constexpr std::chrono::milliseconds kInterval { 10 };
    // The longest the GUI thread may be blocked.
    static constexpr double kBlockedLimitMs = 100;
    // The longest one turn of the GUI thread may take, working included. Far
    // above the longest turn of any test (the first layout of the main window,
    // a few hundred ms with the sanitizers), so that a slow machine does not
    // reach it, and still below a decode or layout of seconds.
    static constexpr double kTurnLimitMs = 1500;

    // One gap between two ticks, beyond the interval.
    struct Gap {
        QTime endedAt;
        double blockedMs = 0;
        double turnMs = 0;
        double wallMs = 0;
    };

    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kInterval);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const Gap gap = sinceLastTick(true);
            m_worst.blockedMs = std::max(m_worst.blockedMs, gap.blockedMs);
            m_worst.turnMs = std::max(m_worst.turnMs, gap.turnMs);
            m_worst.wallMs = std::max(m_worst.wallMs, gap.wallMs);
            if (m_onGap)
                m_onGap(gap);
        });
        QCoreApplication::instance()->installEventFilter(this);
        reset();
    }

    // Forgets what was measured and starts again.
    void reset()
    {
        m_worst = Gap {};
        m_clock.start();
        m_ticked = schedstat();
        m_paintNs = 0;
        m_paintScheduledNs = 0;
        m_timer.start();
    }

    // The longest the thread was blocked so far, in milliseconds; a tick due now counts.
    double worstMs() { return std::max(m_worst.blockedMs, sinceLastTick(false).blockedMs); }
    // The longest turn so far, in milliseconds; a tick due now counts.
    double worstTurnMs() { return std::max(m_worst.turnMs, sinceLastTick(false).turnMs); }
    // The longest gap between ticks so far, waiting for a CPU included.
    double worstWallMs() { return std::max(m_worst.wallMs, sinceLastTick(false).wallMs); }

    // Called with every gap as its tick arrives.
    void setOnGap(std::function<void(const Gap&)> onGap) { m_onGap = std::move(onGap); }

    // One probe for a whole test program.
    static StallProbe& shared()
    {
        static StallProbe probe;
        return probe;
    }

    // What is wrong since the last reset: the thread was blocked for more than
    // kBlockedLimitMs, or a turn took more than kTurnLimitMs.
    std::optional<QString> failure()
    {
        // Whole milliseconds, as the limits are given.
        const qint64 blocked = qint64(worstMs());
        const qint64 turn = qint64(worstTurnMs());
        if (blocked > kBlockedLimitMs)
            return QStringLiteral("stalled %1 ms").arg(blocked);
        if (turn > kTurnLimitMs)
            return QStringLiteral("one turn of the event loop took %1 ms").arg(turn);
        return std::nullopt;
    }
    // Fails the running test on a failure().
    void verifyNoStall()
    {
        const std::optional<QString> what = failure();
        QVERIFY2(!what, what ? qPrintable(*what) : "");
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
        const std::optional<Schedstat> before = schedstat();
        QCoreApplication::sendEvent(watched, event);
        const std::optional<Schedstat> after = schedstat();
        m_paintNs += clock.nsecsElapsed();
        m_paintScheduledNs += before && after ? after->scheduledNs() - before->scheduledNs() : 0;
        m_painting = false;
        return true;
    }

private:
    // This thread's time on a CPU and its time waiting on a run queue.
    struct Schedstat {
        qint64 runningNs = 0;
        qint64 queuedNs = 0;
        qint64 scheduledNs() const { return runningNs + queuedNs; }
    };

    // The gap of a tick arriving now; `restart` starts the next gap.
    Gap sinceLastTick(bool restart)
    {
        const qint64 elapsedNs = m_clock.nsecsElapsed();
        const std::optional<Schedstat> now = schedstat();
        const bool known = now && m_ticked;
        const qint64 scheduledOutsidePaint
            = known ? now->scheduledNs() - m_ticked->scheduledNs() - m_paintScheduledNs : 0;
        const qint64 queued = known ? now->queuedNs - m_ticked->queuedNs : 0;
        const double interval = double(kInterval.count());
        Gap gap;
        gap.endedAt = QTime::currentTime();
        gap.wallMs = double(elapsedNs) / 1e6 - interval;
        gap.turnMs = double(elapsedNs - queued) / 1e6 - interval;
        gap.blockedMs = double(elapsedNs - m_paintNs - scheduledOutsidePaint) / 1e6 - interval;
        if (restart) {
            m_clock.start();
            m_ticked = now;
            m_paintNs = 0;
            m_paintScheduledNs = 0;
        }
        return gap;
    }

    static std::optional<Schedstat> schedstat()
    {
        QFile f(QStringLiteral("/proc/thread-self/schedstat"));
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        const QList<QByteArray> fields = f.readAll().simplified().split(' ');
        if (fields.size() < 2)
            return std::nullopt;
        bool running = false;
        bool queued = false;
        const Schedstat s { fields.at(0).toLongLong(&running), fields.at(1).toLongLong(&queued) };
        return running && queued ? std::optional<Schedstat>(s) : std::nullopt;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    std::optional<Schedstat> m_ticked;
    qint64 m_paintNs = 0;
    qint64 m_paintScheduledNs = 0;
    bool m_painting = false;
    Gap m_worst;
    std::function<void(const Gap&)> m_onGap;
};
