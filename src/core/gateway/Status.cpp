#include "core/gateway/Status.h"

#include "core/gateway/PermCatalog.h"
#include "core/gateway/Replies.h"
#include "core/gateway/StatusRules.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPromise>

#include <memory>
#include <utility>

namespace {

const QString kNoWorkspace = QStringLiteral("这台电脑上还没有工作区");

Failure noWorkspace()
{
    return Failure::tolvarine(-1, kNoWorkspace);
}

bool sameWorkspace(const CLIConfig& a, const CLIConfig& b)
{
    return a.api == b.api && a.workspace == b.workspace;
}

} // namespace

Status::Status(QObject* parent)
    : QObject(parent)
    , m_client(new GatewayClient(this))
{
    m_client->setResolvedHandler(
        [this](const CLIConfig& config, const std::optional<QString>& origin) { onResolved(config, origin); });
}

Status::~Status() = default;

void Status::emitGroup(void (Status::*signal)())
{
    (this->*signal)();
    emit changed();
}

void Status::onResolved(const CLIConfig& config, const std::optional<QString>& origin)
{
    // A resolution of another address must not describe the one shown; the
    // origin depends on the address only, so another workspace behind the
    // same address is described alike.
    if (!m_config || m_config->api != config.api)
        return;
    setEndpoint(config.api, origin);
}

void Status::setEndpoint(const QString& api, const std::optional<QString>& origin)
{
    const std::optional<QString> reachable = GatewayClient::phoneReachable(origin);
    const std::optional<QString> note = origin ? GatewayClient::endpointNote(api, *origin) : std::nullopt;
    if (reachable == m_reachableEndpoint && note == m_endpointNote)
        return;
    m_reachableEndpoint = reachable;
    m_endpointNote = note;
    emitGroup(&Status::endpointChanged);
}

// ---------------------------------------------------------------- generations

quint64 Status::startReload()
{
    const quint64 generation = ++m_loads;
    m_latest.fill(generation);
    return generation;
}

quint64 Status::startLoad(Load kind)
{
    const quint64 generation = ++m_loads;
    m_latest[kind] = generation;
    return generation;
}

void Status::markPublished(Load kind, quint64 generation)
{
    m_published[kind] = generation;
    // Taken out before any is called: a waiter may ask for another wait.
    std::vector<Waiter> ready;
    for (auto it = m_waiters.begin(); it != m_waiters.end();) {
        if (!it->context) {
            it = m_waiters.erase(it);
        } else if (it->kind == kind && it->mark < generation) {
            ready.push_back(std::move(*it));
            it = m_waiters.erase(it);
        } else {
            ++it;
        }
    }
    for (Waiter& waiter : ready) {
        if (waiter.context)
            waiter.then();
    }
}

void Status::whenPublished(Load kind, quint64 mark, QObject* context, std::function<void()> then)
{
    if (publishedSince(kind, mark)) {
        then();
        return;
    }
    m_waiters.push_back({ kind, mark, context, std::move(then) });
}

QCoro::Task<> Status::publishedAfter(Load kind, quint64 mark)
{
    if (publishedSince(kind, mark))
        co_return;
    // Finished by the waiter, or cancelled when the model goes with the waiter uncalled.
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    QFuture<void> future = promise->future();
    whenPublished(kind, mark, this, [promise] { promise->finish(); });
    co_await future;
}

QString Status::workspaceKey(const CLIConfig& config)
{
    return config.api + QLatin1Char('\n') + config.workspace;
}

const Status::AutoConfirmation& Status::shownAuto() const
{
    static const AutoConfirmation none;
    if (!m_config)
        return none;
    const auto it = m_auto.constFind(workspaceKey(*m_config));
    return it == m_auto.cend() ? none : *it;
}

// ---------------------------------------------------------------- reload

void Status::dropLists()
{
    m_commands.clear();
    m_commandsError.reset();
    m_runners.clear();
    m_lastError.reset();
    emitGroup(&Status::commandsChanged);
    m_presence = AgentPresence::notRead();
    emitGroup(&Status::presenceChanged);
    m_progress.clear();
    m_progressError.reset();
    m_progressTruncated = false;
    m_progressOf.reset();
    emitGroup(&Status::progressChanged);
    m_perms.clear();
    m_permsOf.reset();
    m_pendingPerms.clear();
    m_permsError.reset();
    emitGroup(&Status::permsChanged);
    m_team.clear();
    m_teamError.reset();
    m_teamLoadFinished = false;
    emitGroup(&Status::teamChanged);
    m_deviceRuntimes.clear();
    m_agentsError.reset();
    emitGroup(&Status::agentsChanged);
}

QCoro::Task<> Status::reload(std::optional<CLIConfig> given)
{
    QPointer<Status> self(this);
    // Every load an older reload still has in flight is dropped from now on.
    const quint64 generation = startReload();
    const std::optional<CLIConfig> config = given ? given : CLIConfig::current();
    // The lists held belong to the workspace they were read from: at a switch
    // they go at once (the page shows its loading state), so nothing of the
    // previous workspace is shown, fetched or acted on with this one's
    // configuration. A reload without a configuration keeps what it keeps.
    const bool otherWorkspace = m_listsOf && config && *m_listsOf != workspaceKey(*config);
    m_config = config;
    if (config)
        m_listsOf = workspaceKey(*config);
    emitGroup(&Status::configChanged);
    // What is known of this address's origin (from the client's cache), else
    // nothing until a resolution finds one: never the previous address's.
    setEndpoint(
        config ? config->api : QString(), config ? m_client->resolvedOrigin(config->api) : std::optional<QString>());
    // The feed and agent loaders keep their last lists when a load fails; after a
    // switch those lists belong to the other workspace. The feed's own
    // configuration says whose its lists are (a reload without one in between
    // leaves them standing); the same workspace's lists take its latest credentials.
    if (config && m_feedConfig) {
        if (sameWorkspace(*m_feedConfig, *config)) {
            m_feedConfig = config;
        } else {
            m_feedConfig.reset();
            if (!m_pendingApprovalItems.isEmpty() || !m_failedFeedItems.isEmpty() || !m_waitingTaskIDs.isEmpty()) {
                m_pendingApprovalItems.clear();
                m_failedFeedItems.clear();
                m_waitingTaskIDs.clear();
                emitGroup(&Status::feedChanged);
            }
            if (std::exchange(m_feedError, std::nullopt))
                emit feedErrorChanged();
        }
    }
    if (otherWorkspace)
        dropLists();
    if (!config) {
        m_presence = AgentPresence::unknown(QStringLiteral("本机还没有配对过任何工作区"));
        emitGroup(&Status::presenceChanged);
        m_perms.clear();
        m_permsOf.reset();
        emitGroup(&Status::permsChanged);
        m_commands.clear();
        emitGroup(&Status::commandsChanged);
        m_progress.clear();
        emitGroup(&Status::progressChanged);
        // Nothing more comes of these for lack of a workspace: what shows now is this reload's.
        for (const Load kind : { Commands, Progress, Perms, Team, Agents })
            markPublished(kind, generation);
        co_return;
    }

    // The command list comes first and alone: the progress loader follows a command from it.
    const std::optional<QList<CommandBrief>> loaded = co_await loadCommands(*config, generation);
    // A newer reload has started, or another workspace is shown: nothing of this one would be published.
    if (!self || !loaded)
        co_return;

    auto progress = loadProgress(*config, generation, *loaded);
    auto perms = loadPerms(*config, generation, true);
    auto team = loadTeam(*config, generation);
    auto agents = loadAgents(*config, generation);
    auto feed = loadFeed(*config, generation);
    co_await progress;
    co_await perms;
    co_await team;
    co_await agents;
    co_await feed;
}

QCoro::Task<std::optional<QList<CommandBrief>>> Status::loadCommands(CLIConfig config, quint64 generation)
{
    QPointer<Status> self(this);
    const auto path = GatewayClient::workspacePath(config);
    Result<QByteArray> body = GatewayClient::invalidAddress(config);
    if (path)
        body = co_await m_client->get(config, *path + QStringLiteral("/commands"), config.deviceId());
    if (!self || !isLatest(Commands, generation, config))
        co_return std::nullopt;
    // A workspace's list runs to thousands of records: they are read off the
    // GUI thread, and only when the list is not the one read last time.
    Result<replies::Commands> reply;
    if (!body) {
        reply = body.failure();
    } else {
        const QString source = config.api + *path;
        auto reading = replies::decodeCommandsOn(
            replies::decodePool(), *body, source == m_readCommandsFrom ? m_readCommands : replies::CommandsReading {});
        Result<replies::CommandsReading> read = co_await std::move(reading);
        if (!self || !isLatest(Commands, generation, config))
            co_return std::nullopt;
        if (read) {
            reply = read->commands;
            m_readCommandsFrom = source;
            m_readCommands = std::move(read.value());
        } else {
            reply = read.failure();
            m_readCommands = {};
        }
    }
    if (!reply) {
        const QString text = reply.failure().description();
        m_commands.clear();
        m_runners.clear();
        m_commandsError = text;
        m_lastError = text;
        emitGroup(&Status::commandsChanged);
        m_presence = AgentPresence::unknown(text);
        emitGroup(&Status::presenceChanged);
        markPublished(Commands, generation);
        co_return QList<CommandBrief>();
    }
    m_commands = reply->commands;
    m_commandsError.reset();
    if (!reply->runnersRead) {
        emitGroup(&Status::commandsChanged);
        m_presence = AgentPresence::unknown(QStringLiteral("服务端说心跳读不到"));
        emitGroup(&Status::presenceChanged);
        markPublished(Commands, generation);
        co_return reply->commands;
    }
    m_runners = reply->runners;
    m_presence = rules::presence(m_runners, config.deviceId());
    if (m_presence.kind == AgentPresence::Kind::Online || m_presence.kind == AgentPresence::Kind::Stale)
        m_lastError.reset();
    emitGroup(&Status::commandsChanged);
    emitGroup(&Status::presenceChanged);
    markPublished(Commands, generation);
    co_return reply->commands;
}

QCoro::Task<> Status::loadProgress(CLIConfig config, quint64 generation, QList<CommandBrief> loaded)
{
    QPointer<Status> self(this);
    const auto focal = rules::focalCommand(loaded);
    if (!focal) {
        if (!isLatest(Progress, generation, config))
            co_return;
        m_progress.clear();
        m_progressError.reset();
        m_progressTruncated = false;
        m_progressOf.reset();
        emitGroup(&Status::progressChanged);
        markPublished(Progress, generation);
        co_return;
    }
    const auto path
        = GatewayClient::itemPath(config, QStringLiteral("commands"), focal->id, QStringLiteral("/progress?limit=200"));
    Result<QByteArray> body = GatewayClient::invalidAddress(config, focal->id);
    if (path)
        body = co_await m_client->get(config, *path, config.deviceId());
    if (!self || !isLatest(Progress, generation, config))
        co_return;
    Result<replies::Progress> reply;
    if (!body) {
        reply = body.failure();
    } else {
        auto reading = m_progressMemo.readOn(replies::decodePool(), config.api + *path, *body,
            [](const QByteArray& b) { return replies::decodeProgress(b, true); });
        reply = co_await std::move(reading);
        if (!self || !isLatest(Progress, generation, config))
            co_return;
    }
    if (reply) {
        m_progress = reply->lines;
        m_progressTruncated = reply->truncated;
        m_progressOf = focal->id;
        m_progressError.reset();
    } else {
        m_progress.clear();
        m_progressTruncated = false;
        m_progressOf = focal->id;
        m_progressError = reply.failure().description();
    }
    emitGroup(&Status::progressChanged);
    markPublished(Progress, generation);
}

QCoro::Task<> Status::loadPerms(CLIConfig config, quint64 generation, bool allowAuto)
{
    QPointer<Status> self(this);
    const auto path = GatewayClient::workspacePath(config);
    Result<QByteArray> body = GatewayClient::invalidAddress(config);
    if (path)
        body = co_await m_client->get(config, *path + QStringLiteral("/permissions"), config.deviceId());
    if (!self || !isLatest(Perms, generation, config))
        co_return;
    Result<replies::Permissions> reply;
    if (!body) {
        reply = body.failure();
    } else {
        auto reading
            = m_permsMemo.readOn(replies::decodePool(), config.api + *path, *body, &replies::decodePermissions);
        reply = co_await std::move(reading);
        if (!self || !isLatest(Perms, generation, config))
            co_return;
    }
    if (!reply) {
        m_perms.clear();
        m_permsOf.reset();
        m_pendingPerms.clear();
        m_permsError = reply.failure().description();
        emitGroup(&Status::permsChanged);
        markPublished(Perms, generation);
        co_return;
    }
    const QStringList pending = perm::pendingKeys(reply->pending);
    m_pendingPerms = pending;
    m_perms = perm::rows(reply->effective, pending);
    m_permsOf = workspaceKey(config);
    m_permsError.reset();
    emitGroup(&Status::permsChanged);
    markPublished(Perms, generation);
    if (allowAuto) {
        auto confirming = autoConfirm(config, pending);
        co_await std::move(confirming);
    }
}

QCoro::Task<> Status::autoConfirm(CLIConfig config, QStringList pending)
{
    QPointer<Status> self(this);
    const QString workspace = workspaceKey(config);
    // A tier is tried once per pending spell of its own workspace: forget the
    // tiers that left the list.
    m_auto[workspace].tried.removeIf([&pending](const QString& key) { return !pending.contains(key); });
    if (pending.isEmpty())
        co_return;
    bool anyConfirmed = false;
    for (const QString& key : pending) {
        if (key == QLatin1String("danger") || m_auto[workspace].tried.contains(key))
            continue;
        // Marked before the request so that an overlapping reload does not try it as well.
        m_auto[workspace].tried.insert(key);
        // Confirmed in the workspace whose load saw the tier pending, whatever is shown by now.
        const Result<> result = co_await confirm(config, key, true);
        if (!self)
            co_return;
        // Kept with that workspace, also when another one is shown by now: the
        // tier is not tried again, and its state must say why.
        AutoConfirmation& outcome = m_auto[workspace];
        if (result) {
            outcome.confirmed.insert(key, QDateTime::currentDateTime());
            outcome.failed.remove(key);
            anyConfirmed = true;
        } else {
            outcome.failed.insert(key, result.failure().description());
        }
        if (!isCurrent(config))
            co_return;
        emitGroup(&Status::permsChanged);
    }
    // A load of its own, started after the confirmations: it wins over the
    // reload's (which may have read the tiers still pending), and loses to
    // any reload started after it.
    if (anyConfirmed)
        co_await loadPerms(config, startLoad(Perms), false);
}

QCoro::Task<> Status::loadTeam(CLIConfig config, quint64 generation)
{
    QPointer<Status> self(this);
    const auto path = GatewayClient::workspacePath(config);
    Result<QByteArray> body = GatewayClient::invalidAddress(config);
    if (path)
        body = co_await m_client->get(config, *path + QStringLiteral("/employees"), config.deviceId());
    if (!self || !isLatest(Team, generation, config))
        co_return;
    Result<QList<TeammateBrief>> reply;
    if (!body) {
        reply = body.failure();
    } else {
        auto reading = m_teamMemo.readOn(replies::decodePool(), config.api + *path, *body, &replies::decodeEmployees);
        reply = co_await std::move(reading);
        if (!self || !isLatest(Team, generation, config))
            co_return;
    }
    if (reply) {
        m_team = *reply;
        m_teamError.reset();
    } else {
        m_team.clear();
        const auto& gw = reply.failure().gatewayError();
        m_teamError = gw && gw->status == 404 ? QStringLiteral("这台网关还没有 AI 团队这条接口（升级后端即可）")
                                              : reply.failure().description();
    }
    m_teamLoadFinished = true;
    emitGroup(&Status::teamChanged);
    markPublished(Team, generation);
}

QCoro::Task<> Status::loadAgents(CLIConfig config, quint64 generation)
{
    QPointer<Status> self(this);
    const auto path = GatewayClient::workspacePath(config);
    Result<QByteArray> body = GatewayClient::invalidAddress(config);
    if (path)
        body = co_await m_client->get(config, *path + QStringLiteral("/agents"), config.deviceId());
    if (!self || !isLatest(Agents, generation, config))
        co_return;
    Result<QList<replies::AgentEntry>> reply;
    if (!body) {
        reply = body.failure();
    } else {
        auto reading = m_agentsMemo.readOn(replies::decodePool(), config.api + *path, *body, &replies::decodeAgents);
        reply = co_await std::move(reading);
        if (!self || !isLatest(Agents, generation, config))
            co_return;
    }
    if (reply) {
        m_deviceRuntimes = rules::deviceRuntimes(*reply);
        m_agentsError.reset();
    } else {
        m_agentsError = reply.failure().description();
    }
    emitGroup(&Status::agentsChanged);
    markPublished(Agents, generation);
}

QCoro::Task<> Status::loadFeed(CLIConfig config, quint64 generation)
{
    QPointer<Status> self(this);
    const auto path = GatewayClient::workspacePath(config);
    Result<QByteArray> body = GatewayClient::invalidAddress(config);
    if (path)
        body = co_await m_client->get(config, *path + QStringLiteral("/feed"), config.deviceId());
    if (!self || !isLatest(Feed, generation, config))
        co_return;
    // A load that reads nothing publishes nothing: the lists stay as last read
    // (an item acted on stays held until a list is read); only why is kept,
    // for the sheets to say.
    const auto unreadable = [this](const Failure& failure) {
        if (m_feedError == failure.description())
            return;
        m_feedError = failure.description();
        emit feedErrorChanged();
    };
    if (!body) {
        unreadable(body.failure());
        co_return;
    }
    auto reading = m_feedMemo.readOn(replies::decodePool(), config.api + *path, *body, &rules::readFeed);
    const Result<rules::FeedView> reply = co_await std::move(reading);
    if (!self || !isLatest(Feed, generation, config))
        co_return;
    if (!reply) {
        unreadable(reply.failure());
        co_return;
    }
    m_pendingApprovalItems = reply->pendingApprovalItems;
    m_failedFeedItems = reply->failedFeedItems;
    m_waitingTaskIDs = reply->waitingTaskIDs;
    const bool wasUnreadable = std::exchange(m_feedError, std::nullopt).has_value();
    m_feedConfig = config;
    emitGroup(&Status::feedChanged);
    if (wasUnreadable)
        emit feedErrorChanged();
    markPublished(Feed, generation);
}

// ---------------------------------------------------------------- derived values

std::optional<CommandBrief> Status::focalCommand() const
{
    return rules::focalCommand(m_commands);
}

RuntimeState Status::runtimeState() const
{
    return rules::runtimeState(
        { m_commandsError, m_commands, m_config, m_pendingPerms, shownAuto().failed, m_presence, m_team });
}

QStringList Status::grantArgs(const QString& adding) const
{
    return perm::grantArgs(m_perms, adding);
}

bool Status::permsReadFor(const QString& workspace) const
{
    return m_config && workspaceKey(*m_config) == workspace && m_permsOf == workspace && !m_permsError
        && !m_perms.isEmpty();
}

PermUse Status::usage(const QString& key) const
{
    return perm::usage(key, focalCommand().has_value(), m_progressError, m_progress);
}

// ---------------------------------------------------------------- actions

QCoro::Task<Result<>> Status::confirm(CLIConfig config, QString key, bool approve)
{
    QPointer<Status> self(this);
    const auto path = GatewayClient::itemPath(config, QStringLiteral("permissions"), key, QStringLiteral("/confirm"));
    if (!path)
        co_return GatewayClient::invalidAddress(config, key);
    const QJsonObject body { { QStringLiteral("approve"), approve }, { QStringLiteral("by"), config.deviceId() } };
    auto post = m_client->post(config, *path, body, config.deviceId());
    const Result<QByteArray> reply = co_await std::move(post);
    if (!reply)
        co_return reply.failure();
    co_return Result<>();
}

QCoro::Task<Result<>> Status::confirmPermission(QString key, bool approve, std::optional<CLIConfig> config)
{
    if (!config)
        co_return Failure::tolvarine(-1, QStringLiteral("本机还没有配对过任何工作区"));
    const Result<> result = co_await confirm(std::move(*config), std::move(key), approve);
    co_return result;
}

QCoro::Task<Result<>> Status::postAction(
    std::optional<CLIConfig> config, QString id, std::optional<QString> path, QJsonObject body)
{
    if (!config)
        co_return noWorkspace();
    if (!path)
        co_return GatewayClient::invalidAddress(*config, id);
    auto post = m_client->post(*config, *path, body, config->deviceId());
    const Result<QByteArray> reply = co_await std::move(post);
    if (!reply)
        co_return reply.failure();
    co_return Result<>();
}

QCoro::Task<Result<>> Status::act(QString feedID, QString action, QString note, std::optional<CLIConfig> config)
{
    const auto path = config ? GatewayClient::itemPath(*config, QStringLiteral("feed"), feedID, QStringLiteral("/act"))
                             : std::nullopt;
    QJsonObject body;
    if (config)
        body = { { QStringLiteral("action"), action }, { QStringLiteral("note"), note },
            { QStringLiteral("by"), config->deviceId() } };
    return postAction(config, feedID, path, body);
}

QCoro::Task<Result<>> Status::retryCommand(QString id, std::optional<CLIConfig> config)
{
    const auto path = config
        ? GatewayClient::itemPath(*config, QStringLiteral("commands"), id, QStringLiteral("/retry"))
        : std::nullopt;
    return postAction(config, id, path, QJsonObject());
}

QCoro::Task<Result<>> Status::deleteCommand(QString id, std::optional<CLIConfig> config)
{
    const auto path = config
        ? GatewayClient::itemPath(*config, QStringLiteral("commands"), id, QStringLiteral("/delete"))
        : std::nullopt;
    return postAction(config, id, path, QJsonObject());
}
