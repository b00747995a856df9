#include "core/gateway/StatusRules.h"

#include "core/design/TolvarineStatus.h"

#include <QHash>

namespace rules {
namespace {

// The last command, in list order, whose status is one of `statuses`.
const CommandBrief* lastWithStatus(const QList<CommandBrief>& commands, std::initializer_list<QLatin1String> statuses)
{
    for (auto it = commands.crbegin(); it != commands.crend(); ++it)
        for (const QLatin1String s : statuses)
            if (it->status == s)
                return &*it;
    return nullptr;
}

FeedApprovalItem toItem(const replies::FeedItem& f)
{
    const auto v = [](const std::optional<QString>& s) { return s.value_or(QString()); };
    return { v(f.id), v(f.taskID), v(f.category), v(f.title), v(f.subtitle), v(f.command), v(f.originDevice),
        v(f.outcome) };
}

} // namespace

AgentPresence presence(const QList<RunnerInfo>& runners, const QString& deviceId)
{
    for (const RunnerInfo& r : runners)
        if (r.deviceID == deviceId)
            return r.secondsAgo > 25 ? AgentPresence::stale(r.secondsAgo) : AgentPresence::online(r.secondsAgo);
    if (!runners.isEmpty())
        return AgentPresence::unknown(QStringLiteral("这个工作区里有执行体，但都不是本机"), true);
    return AgentPresence::never();
}

std::optional<CommandBrief> focalCommand(const QList<CommandBrief>& commands)
{
    if (const CommandBrief* c = lastWithStatus(commands, { QLatin1String("claimed") }))
        return *c;
    if (const CommandBrief* c
        = lastWithStatus(commands, { QLatin1String("done"), QLatin1String("failed"), QLatin1String("unsupported") }))
        return *c;
    return std::nullopt;
}

std::optional<QString> blockedByAssignee(const CommandBrief& command, const QList<TeammateBrief>& team)
{
    if (command.employeeID.isEmpty())
        return std::nullopt;
    for (const TeammateBrief& t : team) {
        if (t.id == command.employeeID) {
            if (t.device.isEmpty())
                return t.name;
            return std::nullopt;
        }
    }
    return QStringLiteral("已经不在团队里的同事");
}

RuntimeState runtimeState(const RuntimeInputs& in)
{
    RuntimeState s;
    if (in.commandsError) {
        s.kind = RuntimeState::Kind::Unknown;
        s.reason = *in.commandsError;
        return s;
    }
    if (const CommandBrief* c = lastWithStatus(in.commands, { QLatin1String("claimed") })) {
        s.kind = RuntimeState::Kind::Running;
        s.command = *c;
        s.byThisMachine = !c->claimedBy.isEmpty() && in.config && c->claimedBy == in.config->deviceId();
        return s;
    }
    QStringList grants;
    for (const QString& key : in.pendingPerms)
        if (key == QLatin1String("danger") || in.autoFailed.contains(key))
            grants.append(key);
    if (!grants.isEmpty()) {
        s.kind = RuntimeState::Kind::AwaitingGrant;
        s.grants = grants;
        return s;
    }
    if (const CommandBrief* c = lastWithStatus(in.commands, { QLatin1String("pending") })) {
        s.kind = RuntimeState::Kind::Queued;
        s.command = *c;
        s.hasRunner = in.presence.kind == AgentPresence::Kind::Online;
        s.blockedByAssignee = blockedByAssignee(*c, in.team);
        return s;
    }
    if (const CommandBrief* c = lastWithStatus(
            in.commands, { QLatin1String("done"), QLatin1String("failed"), QLatin1String("unsupported") })) {
        s.kind = c->status == QLatin1String("done") ? RuntimeState::Kind::LastDone : RuntimeState::Kind::LastFailed;
        s.command = *c;
        return s;
    }
    if (in.presence.kind == AgentPresence::Kind::Online) {
        s.kind = RuntimeState::Kind::Idle;
        s.seconds = in.presence.seconds;
        return s;
    }
    s.kind = RuntimeState::Kind::NoRunner;
    s.presence = in.presence;
    return s;
}

namespace {

// Sorts feed items into the lists the views show, one at a time, keeping
// none of the others.
class FeedSorter {
public:
    void add(const replies::FeedItem& f)
    {
        static const QSet<QString> waitingCategories { QStringLiteral("approval"), QStringLiteral("permission"),
            QStringLiteral("conflict") };
        const bool failed = f.category == QStringLiteral("failed")
            || (f.category == QStringLiteral("approval") && f.outcome == QStringLiteral("failed"));
        if (!f.id || f.id->isEmpty())
            return;
        const bool waiting = f.category && waitingCategories.contains(*f.category)
            && f.status.value_or(QStringLiteral("pending")) == QLatin1String("pending");
        if (waiting && !failed)
            m_view.pendingApprovalItems.append(toItem(f));
        if (failed)
            m_view.failedFeedItems.append(toItem(f));
    }

    FeedView done()
    {
        for (const FeedApprovalItem& item : std::as_const(m_view.pendingApprovalItems))
            if (!item.taskID.isEmpty())
                m_view.waitingTaskIDs.insert(item.taskID);
        return std::move(m_view);
    }

private:
    FeedView m_view;
};

} // namespace

Result<FeedView> readFeed(const QByteArray& body)
{
    FeedSorter sorter;
    const Result<> read = replies::readFeed(body, [&sorter](replies::FeedItem&& f) { sorter.add(f); });
    if (!read)
        return read.failure();
    return sorter.done();
}

QMap<QString, QStringList> deviceRuntimes(const QList<replies::AgentEntry>& agents)
{
    QMap<QString, QStringList> map;
    for (const replies::AgentEntry& a : agents) {
        if (!a.device || a.device->isEmpty() || !a.runtime || a.runtime->isEmpty())
            continue;
        QStringList& list = map[*a.device];
        if (!list.contains(*a.runtime))
            list.append(*a.runtime);
    }
    return map;
}

} // namespace rules

std::optional<TolvarineStatus> CommandBrief::tolvarineStatus() const
{
    // Exact, case-sensitive words; anything else has no interface status.
    static const QHash<QString, TolvarineStatus> words {
        { QStringLiteral("claimed"), TolvarineStatus::running },
        { QStringLiteral("pending"), TolvarineStatus::queued },
        { QStringLiteral("blocked"), TolvarineStatus::waitingDependency },
        { QStringLiteral("waiting_approval"), TolvarineStatus::waitingApproval },
        { QStringLiteral("dependency_failed"), TolvarineStatus::dependencyFailed },
        { QStringLiteral("runtime_unavailable"), TolvarineStatus::runtimeUnavailable },
        { QStringLiteral("failed"), TolvarineStatus::failed },
        { QStringLiteral("unsupported"), TolvarineStatus::failed },
    };
    if (status == QLatin1String("done"))
        return verdict == QLatin1String("PARTIAL_SUCCESS") ? TolvarineStatus::partiallyDone
                                                           : TolvarineStatus::completed;
    const auto it = words.constFind(status);
    if (it == words.constEnd())
        return std::nullopt;
    return *it;
}
