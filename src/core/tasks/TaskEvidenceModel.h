#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Records.h"
#include "core/gateway/TaskEvidence.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <optional>

class EvidenceClient;
class QTimer;
class Status;

// What the evidence view of one command knows, and the loop that keeps it
// current: while active (its view is shown) it fetches the change summary
// once, and while the command is live again two seconds after each fetch has
// finished, with the last 30 progress lines each time. Every fetch rewrites
// the command's entry in the evidence snapshot file. The fetches go through
// an evidence client of its own (ended with it); the origin line names this
// machine as the command's own configuration does, and takes the employee's
// name from the status model's roster only while it shows that workspace.
//
// A run of the loop starts when the model becomes active, when the command's
// status changes and on retry; starting one ends the one before. Results of
// an ended run are dropped whole, so a finished command never shows the
// failure of a request cut short, nor counts it as a poll. One fetch is out
// at a time: its requests wait their turn behind the window's status reads
// (RequestGate), and a run started while one still waits or runs fetches
// once it has ended, instead of queueing a second one beside it.
class TaskEvidenceModel : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kPollInterval { 2000 };
    static constexpr int kProgressLimit = 30;

    TaskEvidenceModel(
        const CommandBrief& command, std::optional<CLIConfig> cfg, Status* status, QObject* parent = nullptr);

    const CommandBrief& command() const { return m_command; }
    const std::optional<CLIConfig>& config() const { return m_cfg; }
    Status* status() const { return m_status; }
    EvidenceClient* evidence() const;
    bool isLive() const;

    const TaskEvidenceState& state() const { return m_state; }
    qint64 polls() const { return m_polls; }
    const std::optional<QDateTime>& lastFetch() const { return m_lastFetch; }
    const QList<ProgressLine>& progressTail() const { return m_progressTail; }
    const std::optional<QString>& progressError() const { return m_progressError; }

    // The employee's name from the status model's roster, and the origin line.
    std::optional<QString> employeeName() const;
    QString originLine() const;

    // The command's latest fields; a change of status starts a new run.
    void setCommand(const CommandBrief& command);
    // Fetches again at once (the retry button); nothing while a retry's fetch
    // is still out (one press, one request).
    void retry();
    // From a retry until a fetch's results are taken in.
    bool retrying() const { return m_retrying; }
    // The loop runs only while active.
    void setActive(bool active);
    bool isActive() const { return m_active; }

signals:
    // Any of the state above changed.
    void changed();
    // A fetch's results were taken in (after the snapshot entry was put).
    void fetched();

private:
    void restart();
    // Fetches for `run`, then for the current run when another has started meanwhile.
    QCoro::Task<> fetchOnce(quint64 run);
    QCoro::Task<> fetch(quint64 run);
    void dumpForAcceptance();

    CommandBrief m_command;
    std::optional<CLIConfig> m_cfg;
    QPointer<Status> m_status;
    // The status model's shared client: it goes with the status model, after
    // which nothing is fetched.
    QPointer<EvidenceClient> m_evidence;

    TaskEvidenceState m_state;
    QString m_changesState;
    qint64 m_polls = 0;
    std::optional<QDateTime> m_lastFetch;
    QList<ProgressLine> m_progressTail;
    std::optional<QString> m_progressError;

    bool m_active = false;
    bool m_retrying = false;
    bool m_fetching = false;
    // The current run; a fetch whose run is no longer current is dropped.
    quint64 m_run = 0;
    QTimer* m_next;
};
