#include "core/runtimes/RuntimeController.h"

#include "core/gateway/CLI.h"
#include "core/platform/DeskCrumbs.h"
#include "core/providers/CredentialBroker.h"
#include "core/providers/CredentialRedaction.h"
#include "core/runtimes/RuntimeChildLedger.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QPointer>
#include <QProcess>

#include <algorithm>

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
    // Whatever is still running is ended the same way a stop would.
    terminateAll(m_processes.values());
}

RuntimeController& RuntimeController::shared()
{
    static RuntimeController* controller = new RuntimeController();
    return *controller;
}

void RuntimeController::bump()
{
    ++m_revision;
    emit changed();
}

void RuntimeController::append(const QString& k, const QString& line)
{
    QStringList& lines = m_output[k];
    lines.append(line);
    if (lines.size() > kMaxLines)
        lines.erase(lines.begin(), lines.begin() + (lines.size() - kMaxLines));
    bump();
}

void RuntimeController::start(const CLIConfig& config, const RuntimeLaunch& launch,
    const std::optional<RuntimeSetupInfo>& setup, const std::optional<ProviderProfile>& profile)
{
    const QString k = key(config.workspace, launch.kind);
    if (m_processes.contains(k))
        return;
    m_kindsSeen[config.workspace].insert(launch.kind);

    QMap<QString, QString> env;
    if (setup) {
        if (profile)
            env = CredentialBroker::launchEnv(*profile, *setup, launch.kind);
        else if (setup->credentialProvider && !setup->credentialProvider->isEmpty())
            env = CredentialBroker::launchEnv(*setup->credentialProvider, setup->apiKeyEnvVars);
    }
    QHash<QString, QString> extra;
    for (auto it = env.cbegin(); it != env.cend(); ++it)
        extra.insert(it.key(), it.value());

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
    // Longest first, so that a secret holding another is masked whole.
    std::sort(secrets.begin(), secrets.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });

    const QString prefix = QLatin1Char('[') + launch.display + QStringLiteral("] ");
    QPointer<RuntimeController> self(this);
    CLI::Spawned spawned = CLI::spawn(
        { QStringLiteral("run") }, config.path, config, launch, extra, [self, k, prefix, secrets](const QString& line) {
            if (!self)
                return;
            QString masked = line;
            for (const QString& secret : secrets)
                masked.replace(secret, QStringLiteral("****"));
            self->append(k, prefix + CredentialRedaction::redact(masked));
        });
    if (!spawned.process) {
        append(k, QLatin1Char('[') + launch.display + QStringLiteral("] 启动失败：") + spawned.error);
        return;
    }

    QProcess* process = spawned.process.release();
    process->setParent(this);
    const qint32 pid = qint32(process->processId());
    // processId() reads 0 once the child has been collected; the ledger still
    // needs the pid then.
    process->setProperty("workerPid", pid);
    const QString exe = process->program();
    if (!exe.isEmpty()) {
        RuntimeChildRecord rec;
        rec.pid = pid;
        rec.exe = exe;
        rec.workspace = config.workspace;
        rec.kind = launch.kind;
        rec.ownerPID = qint32(::getpid());
        rec.startedAt = QDateTime::currentDateTimeUtc();
        RuntimeChildLedger::record(rec);
    }

    // The worker ended by itself. Only this process leaves: the key may hold
    // a newer worker by the time the notice arrives.
    connect(process, &QProcess::finished, this, [this, k, process, pid] {
        RuntimeChildLedger::forget(pid);
        if (m_processes.value(k) == process) {
            m_processes.remove(k);
            bump();
        }
        process->deleteLater();
    });

    m_processes.insert(k, process);
    bump();
    DeskCrumbs::drop(QStringLiteral("runtime.start %1 pid=%2").arg(launch.kind).arg(pid));
}

void RuntimeController::terminateAll(const QList<QProcess*>& children)
{
    QList<QPair<QProcess*, qint32>> pending;
    for (QProcess* p : children) {
        disconnect(p, &QProcess::finished, this, nullptr);
        pending.append({ p, p->property("workerPid").toInt() });
        // A child that has already ended (and been collected) is never
        // signalled: its pid may belong to someone else by now.
        if (p->state() != QProcess::NotRunning)
            p->terminate();
    }
    QDeadlineTimer deadline(qint64(m_grace * 1000));
    for (const auto& [p, pid] : pending) {
        if (p->state() != QProcess::NotRunning) {
            if (!p->waitForFinished(int(std::max<qint64>(deadline.remainingTime(), 0)))
                && p->state() != QProcess::NotRunning) {
                DeskCrumbs::drop(QStringLiteral("child.kill pid=%1 宽限期内没退出，SIGKILL").arg(pid));
                p->kill();
                p->waitForFinished(1000);
            }
        }
        if (pid != 0)
            RuntimeChildLedger::forget(pid);
        // A killed child can linger (stuck in the kernel); deleting its QProcess
        // while it runs would block until it goes, so it is deleted once it has.
        if (p->state() == QProcess::NotRunning)
            p->deleteLater();
        else
            connect(p, &QProcess::finished, p, &QObject::deleteLater);
    }
}

void RuntimeController::stop(const QString& workspace, const QString& kind)
{
    QProcess* p = m_processes.take(key(workspace, kind));
    if (!p)
        return;
    bump();
    terminateAll({ p });
}

void RuntimeController::stopAll()
{
    const QList<QProcess*> children = m_processes.values();
    m_processes.clear();
    bump();
    DeskCrumbs::drop(QStringLiteral("runtime.stopAll 共 %1 个").arg(children.size()));
    terminateAll(children);
}

bool RuntimeController::isRunning(const QString& workspace, const QString& kind) const
{
    return m_processes.contains(key(workspace, kind));
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
