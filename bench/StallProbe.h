#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <optional>

// How long the event loop of this thread went without turning: a 10 ms
// repeating timer keeps the longest gap between two of its ticks, less the
// interval. Time the thread was ready but waited for a CPU is taken out where
// the kernel keeps it (/proc/thread-self/schedstat): on a loaded machine that
// wait is the machine's, not the window's. Header-only, so that the bare
// window of the floor uses the very same probe without our libraries.
class StallProbe {
public:
    static constexpr int kIntervalMs = 10;

    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kIntervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }

    void start()
    {
        m_worstMs = 0;
        m_clock.start();
        m_waited = waitedNs();
        m_timer.start();
    }

    // The worst gap so far in milliseconds.
    double worstMs() const { return m_worstMs; }

private:
    void tick()
    {
        const qint64 elapsed = m_clock.nsecsElapsed();
        m_clock.start();
        const std::optional<qint64> waited = waitedNs();
        const qint64 queued = waited && m_waited ? *waited - *m_waited : 0;
        m_waited = waited;
        m_worstMs = std::max(m_worstMs, double(elapsed - queued) / 1e6 - kIntervalMs);
    }

    // Nanoseconds this thread has spent runnable but waiting for a CPU.
    static std::optional<qint64> waitedNs()
    {
        QFile f(QStringLiteral("/proc/thread-self/schedstat"));
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        const QList<QByteArray> fields = f.readAll().simplified().split(' ');
        bool ok = false;
        const qint64 ns = fields.size() >= 2 ? fields[1].toLongLong(&ok) : 0;
        return ok ? std::optional<qint64>(ns) : std::nullopt;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    std::optional<qint64> m_waited;
    double m_worstMs = 0;
};
