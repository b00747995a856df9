#include "core/tasks/TaskEvidenceModel.h"

#include "core/gateway/Status.h"
#include "core/tasks/EvidenceClient.h"
#include "core/tasks/EvidenceSnapshotFile.h"
#include "core/tasks/EvidenceText.h"

#include <QTimer>

TaskEvidenceModel::TaskEvidenceModel(
    const CommandBrief& command, std::optional<CLIConfig> cfg, Status* status, QObject* parent)
    : QObject(parent)
    , m_command(command)
    , m_cfg(std::move(cfg))
    , m_status(status)
    , m_evidence(status ? EvidenceClient::sharedBy(status) : nullptr)
    , m_next(new QTimer(this))
{
    m_next->setSingleShot(true);
    m_next->setInterval(kPollInterval);
    connect(m_next, &QTimer::timeout, this, [this] {
        if (!m_fetching)
            fetchOnce(m_run);
    });
}

EvidenceClient* TaskEvidenceModel::evidence() const
{
    return m_evidence.data();
}

bool TaskEvidenceModel::isLive() const
{
    return EvidenceText::isLive(m_command);
}

std::optional<QString> TaskEvidenceModel::employeeName() const
{
    // The roster is the one of the workspace the status model shows: once it
    // shows another, an employee of that one may carry this command's employee id.
    const std::optional<CLIConfig> shown = m_status ? m_status->config() : std::nullopt;
    if (!shown || !m_cfg || Status::workspaceKey(*shown) != Status::workspaceKey(*m_cfg))
        return std::nullopt;
    return EvidenceText::employeeName(m_status->team(), m_command.employeeID);
}

QString TaskEvidenceModel::originLine() const
{
    // "This machine" as the command's own workspace names it.
    const QString machine = EvidenceText::thisMachine(m_cfg);
    return EvidenceLive::originLine(
        employeeName().value_or(QString()), m_command.claimedBy, machine, m_command.executionID);
}

void TaskEvidenceModel::setCommand(const CommandBrief& command)
{
    if (command == m_command)
        return;
    const bool restarts = command.status != m_command.status;
    m_command = command;
    emit changed();
    if (restarts)
        restart();
}

void TaskEvidenceModel::retry()
{
    if (m_retrying)
        return;
    m_retrying = true;
    restart();
    emit changed();
}

void TaskEvidenceModel::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    restart();
}

void TaskEvidenceModel::restart()
{
    ++m_run;
    m_next->stop();
    if (!m_active)
        m_retrying = false;
    else if (!m_fetching)
        fetchOnce(m_run);
}

QCoro::Task<> TaskEvidenceModel::fetchOnce(quint64 run)
{
    QPointer<TaskEvidenceModel> self(this);
    m_fetching = true;
    auto fetching = fetch(run);
    co_await std::move(fetching);
    if (!self)
        co_return;
    m_fetching = false;
    if (m_run != run && m_active)
        fetchOnce(m_run);
}

QCoro::Task<> TaskEvidenceModel::fetch(quint64 run)
{
    QPointer<TaskEvidenceModel> self(this);
    // Once the window's status model is gone, nothing is fetched any more.
    if (!m_status || !m_evidence) {
        m_retrying = false;
        co_return;
    }
    // The command as this run knows it: its id and whether it is live.
    const QString id = m_command.id;
    const bool live = isLive();
    const std::optional<CLIConfig> cfg = m_cfg;

    const TaskEvidenceSnapshot snapshot = co_await m_evidence->evidenceSnapshot(id, cfg, this);
    if (!self || self->m_run != run)
        co_return;
    std::optional<Result<QList<ProgressLine>>> lines;
    if (live) {
        if (!m_status || !m_evidence) {
            m_retrying = false;
            co_return;
        }
        lines = co_await m_evidence->progressLines(id, cfg, kProgressLimit, this);
        if (!self || self->m_run != run)
            co_return;
    }

    m_retrying = false;
    m_state = snapshot.state;
    m_changesState = snapshot.changesState;
    ++m_polls;
    m_lastFetch = QDateTime::currentDateTime();
    if (lines) {
        if (lines->ok()) {
            m_progressTail = lines->value();
            m_progressError.reset();
        } else {
            m_progressError = lines->failure().description();
        }
    }
    dumpForAcceptance();
    if (live && m_active)
        m_next->start();
    emit changed();
    emit fetched();
}

void TaskEvidenceModel::dumpForAcceptance()
{
    EvidenceSnapshotFile::shared().put(
        m_command.id, EvidenceSnapshotFile::entry(m_command, m_state, m_polls, originLine(), m_changesState));
}
