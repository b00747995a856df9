#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>

// Measures how well the event loop keeps turning: a 10 ms repeating timer
// records the largest gap between two of its ticks beyond the interval.
// Whatever blocks the GUI thread (a wait, a blocking call, a slow write)
// shows up as a gap; so does test code running between two waits, so a
// probe is reset (or made) after the test's own set-up.
class StallProbe {
public:
    static constexpr std::chrono::milliseconds kInterval { 10 };

    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kInterval);
        QObject::connect(&m_timer, &QTimer::timeout,
            [this] { m_worst = std::max(m_worst, m_clock.restart() - qint64(kInterval.count())); });
        reset();
    }

    // Forgets what was measured and starts again.
    void reset()
    {
        m_worst = 0;
        m_clock.start();
        m_timer.start();
    }

    // The largest delay seen so far, in milliseconds; a tick due now counts.
    qint64 worstMs() const { return std::max(m_worst, m_clock.elapsed() - qint64(kInterval.count())); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_worst = 0;
};
