#include "core/workforce/WorkforceAggregator.h"

#include "core/platform/BlankTrim.h"

#include <algorithm>

bool WorkforceAggregator::isFinished(const QString& status)
{
    return status == QLatin1String("done") || status == QLatin1String("failed")
        || status == QLatin1String("unsupported") || status == QLatin1String("dependency_failed");
}

namespace {
using WorkforceAggregator::isFinished;

// A runtime id of blanks names no runtime.
bool namesRuntime(const QString& runtimeID)
{
    return !trimBlanks(runtimeID).isEmpty();
}

// Completion times where a missing one is the most distant past.
bool completedBefore(const CommandBrief& a, const CommandBrief& b)
{
    if (!b.completedAt)
        return false;
    return !a.completedAt || *a.completedAt < *b.completedAt;
}

QList<CommandBrief> withStatus(const QList<CommandBrief>& list, QLatin1String status)
{
    QList<CommandBrief> out;
    for (const CommandBrief& c : list) {
        if (c.status == status)
            out.append(c);
    }
    return out;
}

struct Context {
    const QList<CommandBrief>& commands;
    // Indexed once for every employee: each employee's own commands, the
    // commands each machine claimed for nobody (both in list order), and the
    // blocked work of nobody.
    QHash<QString, QList<qsizetype>> ownOf;
    QHash<QString, QList<qsizetype>> unassignedClaimedBy;
    QList<CommandBrief> blockedQueue;
    QHash<QString, const CommandBrief*> cmdByID;
    QHash<QString, QString> nameOf;
    QHash<QString, int> machineCount;
    const QMap<QString, QStringList>& deviceRuntimes;
    const RuntimeCatalog& catalog;
    const QSet<QString>& waitingTaskIDs;
};

// Names of the employees owning the upstream commands of `dependents`, each
// once, in first-seen order. With `onlyFailed`, upstreams that are done are
// passed over.
QStringList upstreamNames(const QList<CommandBrief>& dependents, const Context& ctx, bool onlyFailed)
{
    QStringList names;
    for (const CommandBrief& c : dependents) {
        for (const QString& dep : c.dependsOn) {
            const CommandBrief* up = ctx.cmdByID.value(dep);
            if (!up)
                continue;
            if (onlyFailed && up->status == QLatin1String("done"))
                continue;
            const auto it = ctx.nameOf.constFind(up->employeeID);
            if (it != ctx.nameOf.constEnd() && !names.contains(*it))
                names.append(*it);
        }
    }
    return names;
}

RuntimeAttribution attribution(
    const TeammateBrief& t, const QList<CommandBrief>& running, const QList<CommandBrief>& mine, const Context& ctx)
{
    const auto name = [&ctx](const QString& id) { return RuntimeName::friendly(id, ctx.catalog); };

    for (const CommandBrief& c : running) {
        if (namesRuntime(c.ranRuntime))
            return RuntimeAttribution::known(name(c.ranRuntime));
    }
    // The newest that names a runtime; on equal times the earlier one.
    const CommandBrief* newest = nullptr;
    for (const CommandBrief& c : mine) {
        if (namesRuntime(c.ranRuntime) && (!newest || completedBefore(*newest, c)))
            newest = &c;
    }
    if (newest)
        return RuntimeAttribution::lastKnown(name(newest->ranRuntime));
    if (namesRuntime(t.deviceRuntime))
        return RuntimeAttribution::deviceOnly(name(t.deviceRuntime));

    QString device = t.device;
    if (device.isEmpty()) {
        QStringList claimants;
        for (const CommandBrief& c : running) {
            if (!c.claimedBy.isEmpty() && !claimants.contains(c.claimedBy))
                claimants.append(c.claimedBy);
        }
        if (claimants.size() == 1)
            device = claimants.first();
        else
            return running.isEmpty() ? RuntimeAttribution::noMachine() : RuntimeAttribution::unknown();
    }
    QStringList registered;
    for (const QString& r : ctx.deviceRuntimes.value(device)) {
        if (namesRuntime(r))
            registered.append(r);
    }
    if (registered.size() == 1)
        return RuntimeAttribution::deviceOnly(name(registered.first()));
    if (registered.isEmpty())
        return RuntimeAttribution::unknown();
    return RuntimeAttribution::ambiguous(int(registered.size()));
}

TolvarineStatus decideStatus(const TeammateBrief& t, const WorkforceFacts& f, const QList<CommandBrief>& own)
{
    if (!f.awaitingApproval.isEmpty())
        return TolvarineStatus::waitingApproval;
    if (!f.running.isEmpty())
        return TolvarineStatus::running;
    if (!f.blockedMine.isEmpty())
        return TolvarineStatus::waitingDependency;
    if (!f.dependencyFailedMine.isEmpty())
        return TolvarineStatus::dependencyFailed;
    if (t.device.isEmpty())
        return TolvarineStatus::unassigned;
    if (t.deviceAlive == false)
        return TolvarineStatus::offline;
    for (const CommandBrief& c : own) {
        if (c.status == QLatin1String("runtime_unavailable"))
            return TolvarineStatus::runtimeUnavailable;
    }
    if (!f.blockedQueue.isEmpty())
        return TolvarineStatus::waitingDependency;
    if (f.ambiguousOwnership || !f.lastFinished)
        return TolvarineStatus::idle;
    const QString& s = f.lastFinished->status;
    if (s == QLatin1String("failed") || s == QLatin1String("unsupported"))
        return TolvarineStatus::failed;
    if (s == QLatin1String("dependency_failed"))
        return TolvarineStatus::dependencyFailed;
    return f.lastFinished->verdict == QLatin1String("PARTIAL_SUCCESS") ? TolvarineStatus::partiallyDone
                                                                       : TolvarineStatus::completed;
}

WorkforceFacts one(const TeammateBrief& t, const Context& ctx)
{
    QList<CommandBrief> own;
    QSet<QString> ownIDs;
    for (const qsizetype i : ctx.ownOf.value(t.id)) {
        own.append(ctx.commands.at(i));
        ownIDs.insert(ctx.commands.at(i).id);
    }
    // Work the employee's machine claimed for no employee counts as its own
    // too (running, finished, attribution), never as blocked or failed.
    QList<CommandBrief> mine = own;
    if (!t.device.isEmpty()) {
        for (const qsizetype i : ctx.unassignedClaimedBy.value(t.device)) {
            if (!ownIDs.contains(ctx.commands.at(i).id))
                mine.append(ctx.commands.at(i));
        }
    }

    WorkforceFacts f;
    f.employeeID = t.id;
    f.running = withStatus(mine, QLatin1String("claimed"));
    f.blockedMine = withStatus(own, QLatin1String("blocked"));
    f.blockedQueue = ctx.blockedQueue;
    f.dependencyFailedMine = withStatus(own, QLatin1String("dependency_failed"));
    for (const CommandBrief& c : mine) {
        if (ctx.waitingTaskIDs.contains(c.id))
            f.awaitingApproval.append(c);
    }

    // The most recently completed; on equal times the later one in the list.
    const CommandBrief* last = nullptr;
    for (const CommandBrief& c : mine) {
        if (isFinished(c.status) && (!last || !completedBefore(c, *last)))
            last = &c;
    }
    if (last)
        f.lastFinished = *last;

    const int sharing = t.device.isEmpty() ? 0 : ctx.machineCount.value(t.device);
    if (sharing >= 2) {
        if (!f.running.isEmpty()) {
            f.ambiguousOwnership = std::any_of(
                f.running.cbegin(), f.running.cend(), [](const CommandBrief& c) { return c.employeeID.isEmpty(); });
        } else {
            f.ambiguousOwnership = f.lastFinished && f.lastFinished->employeeID.isEmpty();
        }
    }

    f.waitingOnNames = upstreamNames(f.blockedMine, ctx, false);
    f.failedUpstreamNames = upstreamNames(f.dependencyFailedMine, ctx, true);
    f.status = decideStatus(t, f, own);
    f.hasReading = !t.device.isEmpty() && t.deviceAlive.has_value();
    f.runtime = attribution(t, f.running, mine, ctx);
    if (!t.deviceTask.isEmpty())
        f.machineWorkLine = QStringLiteral("它那台机器正在跑：") + t.deviceTask;
    return f;
}

} // namespace

namespace WorkforceAggregator {

QHash<QString, WorkforceFacts> facts(const QList<TeammateBrief>& team, const QList<CommandBrief>& commands,
    const QMap<QString, QStringList>& deviceRuntimes, const RuntimeCatalog& runtimeCatalog,
    const QSet<QString>& waitingTaskIDs)
{
    Context ctx { commands, {}, {}, {}, {}, {}, {}, deviceRuntimes, runtimeCatalog, waitingTaskIDs };
    for (const TeammateBrief& t : team) {
        if (!ctx.nameOf.contains(t.id))
            ctx.nameOf.insert(t.id, t.name);
        if (!t.device.isEmpty())
            ++ctx.machineCount[t.device];
    }
    for (qsizetype i = 0; i < commands.size(); ++i) {
        const CommandBrief& c = commands.at(i);
        if (!ctx.cmdByID.contains(c.id))
            ctx.cmdByID.insert(c.id, &c);
        if (!c.employeeID.isEmpty()) {
            ctx.ownOf[c.employeeID].append(i);
        } else {
            if (!c.claimedBy.isEmpty())
                ctx.unassignedClaimedBy[c.claimedBy].append(i);
            if (c.status == QLatin1String("blocked"))
                ctx.blockedQueue.append(c);
        }
    }

    QHash<QString, WorkforceFacts> out;
    for (const TeammateBrief& t : team) {
        if (!out.contains(t.id))
            out.insert(t.id, one(t, ctx));
    }
    return out;
}

} // namespace WorkforceAggregator
