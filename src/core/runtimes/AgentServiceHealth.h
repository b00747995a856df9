#pragma once

#include "core/runtimes/DaemonStatus.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

// Whether the background agent service runs, as `brenlow daemon status --json`
// last said. The main window refreshes it and shows `running` in its summary.
class AgentServiceHealth : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kProbeTimeLimit { std::chrono::seconds(30) };

    explicit AgentServiceHealth(QObject* parent = nullptr);

    // The report's "running"; none when the last check failed or the report did not say.
    std::optional<bool> running() const { return m_running; }
    QString detail() const { return m_detail; }
    std::optional<QDateTime> stamp() const { return m_stamp; }

    // One check, run off the GUI thread with a time limit; publishes its outcome.
    QCoro::Task<> refresh();

    // `daemon status --json` through the awaitable run, interpreted.
    static QCoro::Task<DaemonStatus::Result> probe(
        std::chrono::milliseconds timeLimit = kProbeTimeLimit, const QObject* owner = nullptr);

signals:
    void changed();

private:
    std::optional<bool> m_running;
    QString m_detail;
    std::optional<QDateTime> m_stamp;
};
