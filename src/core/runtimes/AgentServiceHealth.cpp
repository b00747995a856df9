#include "core/runtimes/AgentServiceHealth.h"

#include "core/gateway/CLIAsync.h"

#include <QPointer>

AgentServiceHealth::AgentServiceHealth(QObject* parent)
    : QObject(parent)
{
}

QCoro::Task<DaemonStatus::Result> AgentServiceHealth::probe(std::chrono::milliseconds timeLimit, const QObject* owner)
{
    auto task = CLIAsync::run(
        { QStringLiteral("daemon"), QStringLiteral("status"), QStringLiteral("--json") }, timeLimit, owner);
    const CLI::Result run = co_await std::move(task);
    DaemonStatus::Result result = DaemonStatus::interpret(run.code, run.out);
    result.toolMissing = run.failure == CLI::Failure::NotFound;
    co_return result;
}

QCoro::Task<> AgentServiceHealth::refresh()
{
    QPointer<AgentServiceHealth> self(this);
    auto task = probe(kProbeTimeLimit, this);
    const DaemonStatus::Result result = co_await std::move(task);
    if (!self)
        co_return;
    if (result.ok()) {
        self->m_running = result.report->running;
        self->m_detail = result.report->display();
    } else {
        self->m_running.reset();
        self->m_detail = result.failure;
    }
    self->m_stamp = QDateTime::currentDateTime();
    emit self->changed();
}
