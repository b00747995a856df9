#include "core/agents/AdvancedAccess.h"

#include "core/agents/AdvancedConnectionStore.h"
#include "core/platform/SerialExecutor.h"
#include "core/runtimes/RuntimeController.h"

#include <QPointer>

AdvancedAccess::AdvancedAccess(RuntimeController& runtimes, SelectedConfig selected, QObject* parent)
    : QObject(parent)
    , m_runtimes(runtimes)
    , m_selected(std::move(selected))
{
    connect(&m_runtimes, &RuntimeController::workersChanged, this, &AdvancedAccess::changed);
    m_workspace = selectedWorkspace();
    reload();
}

std::optional<QString> AdvancedAccess::selectedWorkspace() const
{
    if (const std::optional<CLIConfig> cfg = m_selected())
        return cfg->workspace;
    return std::nullopt;
}

void AdvancedAccess::selectionChanged()
{
    std::optional<QString> now = selectedWorkspace();
    if (now == m_workspace)
        return;
    m_workspace = std::move(now);
    emit changed();
}

void AdvancedAccess::reload()
{
    apply(AdvancedConnectionStore::load());
}

void AdvancedAccess::apply(const QList<AdvancedConnection>& loaded)
{
    if (loaded == m_connections)
        return;
    m_connections = loaded;
    emit changed();
}

std::optional<AdvancedConnection> AdvancedAccess::find(const QUuid& id) const
{
    for (const AdvancedConnection& c : m_connections) {
        if (c.id == id)
            return c;
    }
    return std::nullopt;
}

namespace {

// A change made on the store's queue, and the list as it stands after it.
struct Changed {
    bool ok = false;
    QString error;
    QList<AdvancedConnection> connections;
};

} // namespace

QCoro::Task<QString> AdvancedAccess::add(QString name, QString command)
{
    AdvancedConnection c;
    c.id = QUuid::createUuid();
    c.kind = AdvancedConnectionKind::generic;
    c.name = name.trimmed();
    c.command = command.trimmed();
    c.createdAt = QDateTime::currentDateTimeUtc();
    const QStringList words = c.words();
    if (c.name.isEmpty())
        co_return QStringLiteral("给它起个名字");
    if (c.hasOpenQuote())
        co_return QStringLiteral("双引号没有成对：有一个 \" 没配上另一半，看不出程序路径到哪里为止。"
                                 "补上或去掉它再添加；程序路径里有空格的话，用一对双引号把整条路径括起来。");
    if (words.value(0).isEmpty())
        co_return QStringLiteral("填上启动它的命令");
    if (words.size() > 1)
        // A worker is started with the program alone; arguments would be dropped without a word.
        co_return QStringLiteral("只能填要启动的程序，不能带参数：「") + words.mid(1).join(QLatin1Char(' '))
            + QStringLiteral("」传不到它那里。把参数去掉再添加；程序路径里有空格的话，用双引号把整条路径括起来。");
    auto change = changeStore(
        [c](QString* error) { return AdvancedConnectionStore::upsert(c, error); }, QStringLiteral("存不下这条连接："));
    co_return co_await std::move(change);
}

QCoro::Task<QString> AdvancedAccess::remove(QUuid id)
{
    for (auto it = m_launched.cbegin(); it != m_launched.cend(); ++it) {
        if (it.value() == id)
            m_runtimes.stop(it.key(), runtimeKind());
    }
    m_launched.removeIf([&](const auto& entry) { return entry.value() == id; });
    auto change = changeStore([id](QString* error) { return AdvancedConnectionStore::remove(id, error); },
        QStringLiteral("删不掉这条连接："));
    co_return co_await std::move(change);
}

QCoro::Task<QString> AdvancedAccess::changeStore(std::function<bool(QString*)> write, QString failure)
{
    QPointer<AdvancedAccess> self(this);
    auto job = [write = std::move(write)] {
        Changed changed;
        changed.ok = write(&changed.error);
        changed.connections = AdvancedConnectionStore::load();
        return changed;
    };
    auto task = AdvancedConnectionStore::queue().task(std::move(job));
    const Changed changed = co_await std::move(task);
    if (!changed.ok)
        co_return failure + changed.error;
    if (self)
        self->apply(changed.connections);
    co_return QString();
}

void AdvancedAccess::launchAdvanced(const QUuid& id)
{
    const std::optional<CLIConfig> cfg = m_selected();
    const std::optional<AdvancedConnection> c = find(id);
    if (!cfg || !c || c->kind != AdvancedConnectionKind::generic)
        return;
    const QStringList words = c->words();
    if (words.value(0).isEmpty())
        return;
    // The controller holds one generic worker per workspace: another
    // connection's worker would otherwise go on under this one's name.
    if (m_runtimes.isRunning(cfg->workspace, runtimeKind()))
        m_runtimes.stop(cfg->workspace, runtimeKind());
    m_launched.insert(cfg->workspace, id);
    m_runtimes.start(*cfg, RuntimeLaunch { runtimeKind(), words.first(), c->name }, std::nullopt, std::nullopt);
    emit changed();
}

void AdvancedAccess::stopAdvanced(const QUuid& id)
{
    const std::optional<CLIConfig> cfg = m_selected();
    if (!cfg || m_launched.value(cfg->workspace) != id)
        return;
    m_runtimes.stop(cfg->workspace, runtimeKind());
}

std::optional<QString> AdvancedAccess::wouldStop(const QUuid& id) const
{
    const std::optional<CLIConfig> cfg = m_selected();
    if (!cfg || !m_runtimes.isRunning(cfg->workspace, runtimeKind()))
        return std::nullopt;
    const auto launched = m_launched.constFind(cfg->workspace);
    if (launched == m_launched.cend() || *launched == id)
        return std::nullopt;
    const std::optional<AdvancedConnection> running = find(*launched);
    return running ? running->name : QString();
}

bool AdvancedAccess::isAdvancedRunning(const QUuid& id) const
{
    const std::optional<CLIConfig> cfg = m_selected();
    return cfg && m_launched.value(cfg->workspace) == id && m_runtimes.isRunning(cfg->workspace, runtimeKind());
}
