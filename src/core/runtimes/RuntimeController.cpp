#include "core/runtimes/RuntimeController.h"

#include "core/gateway/CLI.h"
#include "core/platform/DeskCrumbs.h"
#include "core/platform/DisplayText.h"
#include "core/platform/OffMainThread.h"
#include "core/platform/ProcessGroup.h"
#include "core/platform/SecretStore.h"
#include "core/platform/SerialExecutor.h"
#include "core/providers/CredentialBroker.h"
#include "core/runtimes/RuntimeChildLedger.h"

#include <QDateTime>
#include <QPointer>
#include <QProcess>
#include <QSignalBlocker>
#include <QThread>
#include <QTimer>
#include <QUuid>
#include <QtConcurrent>

#include <algorithm>
#include <csignal>

#include <unistd.h>

namespace {
constexpr qsizetype kMinMaskedSecret = 6;
} // namespace

RuntimeController::RuntimeController(QObject* parent)
    : QObject(parent)
{
}

RuntimeController::~RuntimeController()
{
    // Nothing is left running when the controller goes; whoever listens may
    // be going too, so nobody is told.
    const QSignalBlocker quiet(this);
    stopAll();
    waitForStopped();
}

RuntimeController& RuntimeController::shared()
{
    static RuntimeController* controller = new RuntimeController();
    return *controller;
}

void RuntimeController::workersBump()
{
    ++m_revision;
    emit workersChanged();
}

void RuntimeController::append(const QString& workspace, const QString& k, const QString& line)
{
    QStringList& lines = m_output[k];
    lines.append(line);
    if (lines.size() > kMaxLines)
        lines.erase(lines.begin(), lines.begin() + (lines.size() - kMaxLines));
    ++m_revision;
    emit outputChanged(workspace);
}

void RuntimeController::start(const CLIConfig& config, const RuntimeLaunch& launch,
    const std::optional<RuntimeSetupInfo>& setup, const std::optional<ProviderProfile>& profile)
{
    const QString k = key(config.workspace, launch.kind);
    if (isRunning(config.workspace, launch.kind))
        return;
    m_kindsSeen[config.workspace].insert(launch.kind);
    m_earlyEnds.remove(k);
    const quint64 ticket = ++m_tickets;
    m_pending.insert(k, Pending { ticket, config, launch, setup, std::nullopt });
    workersBump();
    prepare(k, ticket, profile);
}

QCoro::Task<> RuntimeController::prepare(QString k, quint64 ticket, std::optional<ProviderProfile> profile)
{
    QPointer<RuntimeController> self(this);
    const Pending pending = m_pending.value(k);
    const std::optional<RuntimeSetupInfo>& setup = pending.setup;
    // A custom connection, a runtime with no contract, with a profile of a
    // provider it does not take, or with neither a profile nor a credential
    // provider: nothing to read from the key store.
    QMap<QString, QString> keys;
    if (CredentialBroker::readsKey(setup, profile)) {
        // The key store may keep its caller waiting (a prompt, a stalled
        // daemon): the keys are read on its queue, after the key writes
        // handed to it before. Only launches that need a key wait there.
        auto readKeys = [setup, kind = pending.launch.kind, profile] {
            return profile ? CredentialBroker::launchEnv(*profile, *setup, kind)
                           : CredentialBroker::launchEnv(*setup->credentialProvider, setup->apiKeyEnvVars);
        };
        auto keysRead = SecretStore::queue().task(std::move(readKeys));
        keys = co_await std::move(keysRead);
        if (!self || self->m_pending.value(k).ticket != ticket)
            co_return;
    }
    // The executable is looked for on disk, and the first launch waits for
    // the login shell's PATH.
    auto job = [config = pending.config, launch = pending.launch, keys = std::move(keys)] {
        Prepared prepared;
        prepared.keys = keys;
        QHash<QString, QString> extra;
        for (auto it = keys.cbegin(); it != keys.cend(); ++it)
            extra.insert(it.key(), it.value());
        prepared.launchable = CLI::prepareLaunch(config, launch, extra);
        return prepared;
    };
    auto task = offMainThread(std::move(job));
    Prepared prepared = co_await std::move(task);
    if (!self)
        co_return;
    // Stopped (and perhaps started again) meanwhile: this start is void.
    const auto it = self->m_pending.find(k);
    if (it == self->m_pending.end() || it->ticket != ticket)
        co_return;
    it->prepared = std::move(prepared);
    self->launchIfReady(k);
}

void RuntimeController::launchIfReady(const QString& k)
{
    const auto it = m_pending.find(k);
    if (it == m_pending.end() || !it->prepared || !it->mark.isEmpty())
        return;
    // Never two workers of one pair: the new one waits for the old one's end.
    for (const Stopping& s : std::as_const(m_stopping)) {
        if (s.key == k)
            return;
    }
    // Without an executable nothing runs, and there is nothing to record.
    if (!it->prepared->launchable.exe) {
        const Pending pending = *it;
        m_pending.erase(it);
        spawn(k, pending, std::nullopt);
        return;
    }
    it->mark = QUuid::createUuid().toString(QUuid::WithoutBraces);
    recordThenSpawn(k, it->ticket);
}

QCoro::Task<> RuntimeController::recordThenSpawn(QString k, quint64 ticket)
{
    QPointer<RuntimeController> self(this);
    const Pending& pending = m_pending[k];
    // The worker's pid comes with its start; until then its record names it
    // by the mark it will carry.
    RuntimeChildRecord rec = RuntimeChildLedger::ownRecord();
    rec.exe = *pending.prepared->launchable.exe;
    rec.workspace = pending.config.workspace;
    rec.kind = pending.launch.kind;
    rec.startedAt = QDateTime::currentDateTimeUtc();
    rec.launch = pending.mark;
    auto landed = RuntimeChildLedger::recordLater(rec);
    const std::optional<QString> failure = co_await std::move(landed);
    if (!self)
        co_return;
    // Stopped meanwhile: the stop has had the record dropped.
    const auto it = self->m_pending.constFind(k);
    if (it == self->m_pending.cend() || it->ticket != ticket)
        co_return;
    const Pending started = *it;
    self->m_pending.erase(it);
    // A worker the ledger could not record is started all the same: the
    // user is told on its card.
    self->spawn(k, started, failure);
}

void RuntimeController::dropPending(const QString& k)
{
    const Pending dropped = m_pending.take(k);
    if (!dropped.mark.isEmpty())
        RuntimeChildLedger::forgetLater(0, dropped.mark);
}

void RuntimeController::spawn(const QString& k, const Pending& pending, const std::optional<QString>& unrecorded)
{
    const CLIConfig& config = pending.config;
    const RuntimeLaunch& launch = pending.launch;
    const std::optional<RuntimeSetupInfo>& setup = pending.setup;
    const QMap<QString, QString>& env = pending.prepared->keys;

    // The worker holds the keys and the token it was given; they are masked
    // word for word, also when they do not look like keys. (Values too short
    // to be a credential would only mangle ordinary output.)
    QSet<QString> keyVars;
    if (setup) {
        keyVars = QSet<QString>(setup->apiKeyEnvVars.cbegin(), setup->apiKeyEnvVars.cend());
        for (const ProviderSlot& slot : setup->providerSlots)
            keyVars.unite(QSet<QString>(slot.keyEnvVars.cbegin(), slot.keyEnvVars.cend()));
    }
    QStringList secrets;
    for (auto it = env.cbegin(); it != env.cend(); ++it) {
        if (keyVars.contains(it.key()) && it.value().size() >= kMinMaskedSecret)
            secrets.append(it.value());
    }
    if (config.token.size() >= kMinMaskedSecret)
        secrets.append(config.token);

    const QString workspace = config.workspace;
    const QString display = launch.display;
    const QString prefix = QLatin1Char('[') + display + QStringLiteral("] ");
    auto worker = std::make_shared<Worker>();
    worker->kind = launch.kind;
    worker->mark = pending.mark;
    CLI::Launchable launchable = pending.prepared->launchable;
    if (!pending.mark.isEmpty())
        launchable.env.insert(QLatin1String(RuntimeChildLedger::kLaunchVariable), pending.mark);
    QPointer<RuntimeController> self(this);
    CLI::Spawned spawned = CLI::childOf(launchable, { QStringLiteral("run") }, config.path,
        [self, workspace, k, prefix, secrets, worker](const QString& line) {
            if (!self || self->m_outputDropped)
                return;
            // A line is shown as a message is: the worker's secrets and any
            // credential masked, cut to a display length, however long the
            // worker made it.
            worker->lastLine = DisplayText::message(line, secrets);
            self->append(workspace, k, prefix + worker->lastLine);
        });
    if (!spawned.process) {
        const QString line = prefix + QStringLiteral("启动失败：") + spawned.error;
        append(workspace, k, line);
        workersBump();
        emit startFailed(workspace, worker->kind, line);
        return;
    }

    QProcess* process = spawned.process.release();
    process->setParent(this);
    // The platform tells later whether the child started; the pair is held meanwhile.
    connect(process, &QProcess::started, this,
        [this, process, workspace, worker] { onStarted(process, workspace, *worker); });
    connect(process, &QProcess::errorOccurred, this,
        [this, k, process, workspace, display, worker](QProcess::ProcessError e) {
            if (e == QProcess::FailedToStart)
                onFailedToStart(k, process, workspace, display, *worker);
        });
    connect(process, &QProcess::finished, this,
        [this, k, process, worker] { onFinished(k, process, process->property("workerPid").toInt(), *worker); });
    m_processes.insert(k, process);
    worker->since.start();
    process->start();
    // A child that could not even be forked has been dealt with already.
    if (process->state() == QProcess::NotRunning)
        return;
    const qint32 pid = qint32(process->processId());
    // processId() reads 0 once the child has been collected; the ledger still
    // needs the pid then.
    process->setProperty("workerPid", pid);
    process->setProperty("workerMark", pending.mark);
    // The child makes itself the leader of a group before it runs the tool;
    // made so from here as well, so that a stop arriving before that still
    // reaches the whole group. (Once the tool runs this fails, harmlessly.)
    ::setpgid(pid, pid);
    // The pid is this worker's now: no group of an earlier worker goes by it any more.
    m_leftGroups.remove(pid);
    if (unrecorded)
        m_unrecorded.insert(k, *unrecorded);
    workersBump();
}

void RuntimeController::onStarted(QProcess* process, const QString& workspace, const Worker& worker)
{
    const qint32 pid = qint32(process->processId());
    const QString exe = process->program();
    if (!exe.isEmpty()) {
        // Takes the place of the record written before the start.
        RuntimeChildRecord rec = RuntimeChildLedger::ownRecord();
        rec.pid = pid;
        rec.exe = exe;
        rec.workspace = workspace;
        rec.kind = worker.kind;
        rec.startedAt = QDateTime::currentDateTimeUtc();
        rec.launch = worker.mark;
        RuntimeChildLedger::recordLater(rec);
    }
    DeskCrumbs::drop(QStringLiteral("runtime.start %1 pid=%2").arg(worker.kind).arg(pid));
}

void RuntimeController::onFailedToStart(
    const QString& k, QProcess* process, const QString& workspace, const QString& display, const Worker& worker)
{
    // Nothing more comes from it that this controller wants.
    disconnect(process, nullptr, this, nullptr);
    if (!worker.mark.isEmpty())
        RuntimeChildLedger::forgetLater(0, worker.mark);
    if (m_processes.value(k) == process) {
        m_processes.remove(k);
        m_unrecorded.remove(k);
    }
    const bool wasStopping = m_stopping.remove(process) > 0;
    const QString line = QLatin1Char('[') + display + QStringLiteral("] 启动失败：") + process->errorString();
    append(workspace, k, line);
    workersBump();
    emit startFailed(workspace, worker.kind, line);
    process->deleteLater();
    if (wasStopping)
        launchIfReady(k);
}

void RuntimeController::onFinished(const QString& k, QProcess* process, qint32 pid, const Worker& worker)
{
    // A stopped worker's record stays until what left its group has ended too.
    const std::shared_ptr<std::atomic<int>> holds = m_stopping.value(process).holds;
    if (!holds || holds->fetch_sub(1) == 1)
        RuntimeChildLedger::forgetLater(pid, worker.mark);
    const bool signalled = process->exitStatus() == QProcess::CrashExit;
    // A crash's exit code is the signal's number.
    const int status = process->exitCode();
    DeskCrumbs::drop(QStringLiteral("runtime.exit %1 pid=%2 %3=%4")
                         .arg(worker.kind)
                         .arg(pid)
                         .arg(signalled ? QStringLiteral("signal") : QStringLiteral("status"))
                         .arg(status));
    // A worker that ended by itself leaves its pair; only this process does:
    // the pair may hold a newer worker by the time the notice arrives.
    if (m_processes.value(k) == process) {
        m_processes.remove(k);
        m_unrecorded.remove(k);
        // One that did not get going says how it ended.
        if (worker.since.elapsed() < kEarlyEndMs)
            m_earlyEnds.insert(k, EarlyEnd { status, signalled, worker.lastLine });
        workersBump();
    }
    const Stopping stopping = m_stopping.value(process);
    const bool wasStopping = m_stopping.remove(process) > 0;
    // The rest of its group got the SIGTERM too and keeps what is left of the grace.
    if (wasStopping && stopping.group && !stopping.killAt.hasExpired()) {
        m_leftGroups.insert(stopping.pid, stopping.killAt);
        QTimer::singleShot(int(stopping.killAt.remainingTime()), this, [this, pgid = stopping.pid] {
            if (m_leftGroups.remove(pgid) > 0)
                endLeftGroup(pgid);
        });
    }
    process->deleteLater();
    if (wasStopping)
        launchIfReady(k);
}

void RuntimeController::beginStop(QProcess* process, const QString& k)
{
    const int graceMs = int(m_grace * 1000);
    const qint32 pid = process->property("workerPid").toInt();
    // Still ours until its end has been collected, so the pid, and the group
    // it leads, cannot belong to anyone else yet.
    const bool group = process->state() != QProcess::NotRunning && pid > 1 && ::getpgid(pid) == pid;
    Stopping stopping { k, pid, QDeadlineTimer(graceMs), group, nullptr };
    if (group)
        ::kill(-pid, SIGTERM);
    else
        process->terminate();
    // What carries the worker's mark outside its group (a child that called
    // setsid), with the rest of that child's group, ends too, on a thread that
    // may wait for their grace. The record goes once both have ended.
    const QString mark = process->property("workerMark").toString();
    if (!mark.isEmpty() && pid > 1) {
        stopping.holds = std::make_shared<std::atomic<int>>(2);
        m_sweeps.append(QtConcurrent::run(offMainThreadPool(), [mark, pid, grace = m_grace, holds = stopping.holds] {
            RuntimeChildLedger::endMarked(mark, pid, grace);
            if (holds->fetch_sub(1) == 1)
                RuntimeChildLedger::forgetLater(pid, mark);
        }));
        m_sweeps.removeIf([](const QFuture<void>& f) { return f.isFinished(); });
    }
    m_stopping.insert(process, stopping);
    QTimer::singleShot(graceMs, process, [this, process] { kill(process); });
}

void RuntimeController::kill(QProcess* process)
{
    if (process->state() == QProcess::NotRunning)
        return;
    const Stopping stopping = m_stopping.value(process);
    DeskCrumbs::drop(QStringLiteral("child.kill pid=%1 宽限期内没退出，SIGKILL").arg(stopping.pid));
    if (stopping.group)
        ProcessGroup::end(stopping.pid);
    else
        process->kill();
}

void RuntimeController::endLeftGroup(qint32 pgid)
{
    if (!ProcessGroup::anyLeft(pgid))
        return;
    DeskCrumbs::drop(QStringLiteral("child.kill pgid=%1 宽限期内没退出，SIGKILL").arg(pgid));
    ProcessGroup::end(pgid);
}

void RuntimeController::stop(const QString& workspace, const QString& kind)
{
    const QString k = key(workspace, kind);
    bool released = m_pending.contains(k);
    dropPending(k);
    m_unrecorded.remove(k);
    if (QProcess* p = m_processes.take(k)) {
        beginStop(p, k);
        released = true;
    }
    if (released)
        workersBump();
}

void RuntimeController::stopAll()
{
    DeskCrumbs::drop(QStringLiteral("runtime.stopAll 共 %1 个").arg(m_processes.size()));
    const QStringList pending = m_pending.keys();
    for (const QString& k : pending)
        dropPending(k);
    m_unrecorded.clear();
    // Nothing is said of the workers before any more.
    m_earlyEnds.clear();
    for (auto it = m_processes.cbegin(); it != m_processes.cend(); ++it)
        beginStop(it.value(), it.key());
    m_processes.clear();
    workersBump();
}

void RuntimeController::waitForStopped()
{
    // Every worker being stopped, with what it started, and what is left of
    // the groups of workers that ended within their grace: one wait for all.
    QList<ProcessGroup::Ending> endings;
    for (const Stopping& s : std::as_const(m_stopping))
        endings.append({ s.pid, s.group, s.killAt });
    const QHash<qint32, QDeadlineTimer> leftGroups = std::exchange(m_leftGroups, {});
    for (auto it = leftGroups.cbegin(); it != leftGroups.cend(); ++it)
        endings.append({ it.key(), true, it.value() });
    // Between looks the workers' output is read, as it comes: a worker that
    // writes as it shuts down is not held on a full pipe until its SIGKILL.
    const auto readOutput = [this](int ms) {
        QList<QPointer<QProcess>> running;
        for (QProcess* p : m_stopping.keys()) {
            if (p->state() != QProcess::NotRunning)
                running.append(p);
        }
        if (running.isEmpty()) {
            QThread::msleep(ms);
            return;
        }
        const int each = qMax(1, ms / int(running.size()));
        for (const QPointer<QProcess>& p : std::as_const(running)) {
            if (p && p->state() != QProcess::NotRunning)
                p->waitForReadyRead(each);
        }
    };
    for (const ProcessGroup::Ending& e : ProcessGroup::awaitEnded(endings, readOutput)) {
        // The worker itself, or only what it started.
        const QString what = e.pidLeft ? QStringLiteral("pid") : QStringLiteral("pgid");
        DeskCrumbs::drop(QStringLiteral("child.kill %1=%2 宽限期内没退出，SIGKILL").arg(what).arg(e.pid));
    }
    // Each one's finished() runs inside the waits and takes it off the list;
    // the ledger forgets it there.
    const QList<QProcess*> stopping = m_stopping.keys();
    for (QProcess* p : stopping) {
        if (m_stopping.contains(p) && p->state() != QProcess::NotRunning)
            p->waitForFinished(1000);
    }
    // What onFinished() just set aside has ended already.
    m_leftGroups.clear();
    // And what left the workers' groups.
    for (QFuture<void>& sweep : std::exchange(m_sweeps, {}))
        sweep.waitForFinished();
    // The ledger forgets the ended workers before the application goes.
    RuntimeChildLedger::waitForWrites();
}

bool RuntimeController::isRunning(const QString& workspace, const QString& kind) const
{
    const QString k = key(workspace, kind);
    return m_processes.contains(k) || m_pending.contains(k);
}

std::optional<RuntimeController::EarlyEnd> RuntimeController::earlyEnd(
    const QString& workspace, const QString& kind) const
{
    const auto it = m_earlyEnds.constFind(key(workspace, kind));
    return it == m_earlyEnds.cend() ? std::nullopt : std::optional<EarlyEnd>(*it);
}

std::optional<QString> RuntimeController::unrecorded(const QString& workspace, const QString& kind) const
{
    const auto it = m_unrecorded.constFind(key(workspace, kind));
    return it == m_unrecorded.cend() ? std::nullopt : std::optional<QString>(*it);
}

QStringList RuntimeController::lines(const QString& workspace) const
{
    QStringList kinds = m_kindsSeen.value(workspace).values();
    std::sort(kinds.begin(), kinds.end());
    QStringList out;
    for (const QString& kind : kinds)
        out += m_output.value(key(workspace, kind));
    return out;
}
