#include "core/agents/AdvancedAccess.h"

#include "core/agents/AdvancedConnectionStore.h"
#include "core/runtimes/RuntimeController.h"

AdvancedAccess::AdvancedAccess(RuntimeController& runtimes, SelectedConfig selected, QObject* parent)
    : QObject(parent)
    , m_runtimes(runtimes)
    , m_selected(std::move(selected))
{
    connect(&m_runtimes, &RuntimeController::workersChanged, this, &AdvancedAccess::changed);
    reload();
}

void AdvancedAccess::reload()
{
    const QList<AdvancedConnection> loaded = AdvancedConnectionStore::load();
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

bool AdvancedAccess::add(const QString& name, const QString& command, QString* error)
{
    AdvancedConnection c;
    c.id = QUuid::createUuid();
    c.kind = AdvancedConnectionKind::generic;
    c.name = name.trimmed();
    c.command = command.trimmed();
    c.createdAt = QDateTime::currentDateTimeUtc();
    const QStringList words = c.words();
    QString why;
    if (c.name.isEmpty())
        why = QStringLiteral("给它起个名字");
    else if (words.value(0).isEmpty())
        why = QStringLiteral("填上启动它的命令");
    else if (words.size() > 1)
        // A worker is started with the program alone; arguments would be dropped without a word.
        why = QStringLiteral("只能填要启动的程序，不能带参数：「") + words.mid(1).join(QLatin1Char(' '))
            + QStringLiteral("」传不到它那里。把参数去掉再添加；程序路径里有空格的话，用双引号把整条路径括起来。");
    else if (!AdvancedConnectionStore::upsert(c, &why))
        why = QStringLiteral("存不下这条连接：") + why;
    if (!why.isEmpty()) {
        if (error)
            *error = why;
        return false;
    }
    reload();
    return true;
}

bool AdvancedAccess::remove(const QUuid& id, QString* error)
{
    for (auto it = m_launched.cbegin(); it != m_launched.cend(); ++it) {
        if (it.value() == id)
            m_runtimes.stop(it.key(), runtimeKind());
    }
    m_launched.removeIf([&](const auto& entry) { return entry.value() == id; });
    QString why;
    if (!AdvancedConnectionStore::remove(id, &why)) {
        if (error)
            *error = QStringLiteral("删不掉这条连接：") + why;
        return false;
    }
    reload();
    return true;
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

bool AdvancedAccess::isAdvancedRunning(const QUuid& id) const
{
    const std::optional<CLIConfig> cfg = m_selected();
    return cfg && m_launched.value(cfg->workspace) == id && m_runtimes.isRunning(cfg->workspace, runtimeKind());
}
