#include "core/workforce/WorkforceAggregator.h"

#include "core/platform/BlankTrim.h"
#include "core/workforce/WorkforceIndex.h"

#include <QSet>

#include <algorithm>

bool WorkforceAggregator::isFinished(const QString& status)
{
    return status == QLatin1String("done") || status == QLatin1String("failed")
        || status == QLatin1String("unsupported") || status == QLatin1String("dependency_failed");
}

namespace {

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

using Word = WorkforceIndex::Word;

struct Context {
    const WorkforceIndex& index;
    const QList<CommandBrief>& commands;
    // Indexed once for every employee: each employee's own commands (by the
    // slot of its id), the commands each machine claimed for nobody (both in
    // list order), and the blocked work of nobody.
    QList<QList<qsizetype>> ownOf;
    QHash<QString, QList<qsizetype>> unassignedClaimedBy;
    QList<CommandBrief> blockedQueue;
    QHash<QString, int> machineCount;
    const QMap<QString, QStringList>& deviceRuntimes;
    const RuntimeCatalog& catalog;
    const QSet<QString>& waitingTaskIDs;
};

// The commands of `among` whose status is `word`, in their order.
QList<CommandBrief> withWord(const QList<qsizetype>& among, Word word, const Context& ctx)
{
    QList<CommandBrief> out;
    for (const qsizetype i : among) {
        if (ctx.index.word(i) == word)
            out.append(ctx.commands.at(i));
    }
    return out;
}

// Names of the employees owning the upstream commands of `dependents`, each
// once, in first-seen order. With `onlyFailed`, upstreams that are done are
// passed over.
QStringList upstreamNames(const QList<CommandBrief>& dependents, const Context& ctx, bool onlyFailed)
{
    QStringList names;
    for (const CommandBrief& c : dependents) {
        for (const QString& dep : c.dependsOn) {
            const qsizetype up = ctx.index.firstWithID(dep);
            if (up < 0)
                continue;
            if (onlyFailed && ctx.index.word(up) == Word::done)
                continue;
            const QString* name = ctx.index.rosterName(ctx.index.ownerSlot(up));
            if (name && !names.contains(*name))
                names.append(*name);
        }
    }
    return names;
}

RuntimeAttribution attribution(
    const TeammateBrief& t, const QList<CommandBrief>& running, const QList<qsizetype>& mine, const Context& ctx)
{
    const auto name = [&ctx](const QString& id) { return RuntimeName::friendly(id, ctx.catalog); };

    for (const CommandBrief& c : running) {
        if (namesRuntime(c.ranRuntime))
            return RuntimeAttribution::known(name(c.ranRuntime));
    }
    // The newest that names a runtime; on equal times the earlier one.
    const CommandBrief* newest = nullptr;
    for (const qsizetype i : mine) {
        const CommandBrief& c = ctx.commands.at(i);
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

TolvarineStatus decideStatus(
    const TeammateBrief& t, const WorkforceFacts& f, const QList<qsizetype>& own, const Context& ctx)
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
    for (const qsizetype i : own) {
        if (ctx.index.word(i) == Word::runtimeUnavailable)
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
    const int slot = ctx.index.slotOf(t.id);
    const QList<qsizetype> own = slot >= 0 ? ctx.ownOf.at(slot) : QList<qsizetype>();
    // Work the employee's machine claimed for no employee counts as its own
    // too (running, finished, attribution), never as blocked or failed; not
    // when one of its own commands has the same id.
    QList<qsizetype> mine = own;
    if (!t.device.isEmpty()) {
        const auto claimed = ctx.unassignedClaimedBy.constFind(t.device);
        if (claimed != ctx.unassignedClaimedBy.constEnd()) {
            QSet<QString> ownIDs;
            ownIDs.reserve(own.size());
            for (const qsizetype i : own)
                ownIDs.insert(ctx.commands.at(i).id);
            for (const qsizetype i : *claimed) {
                if (!ownIDs.contains(ctx.commands.at(i).id))
                    mine.append(i);
            }
        }
    }

    WorkforceFacts f;
    f.employeeID = t.id;
    f.running = withWord(mine, Word::claimed, ctx);
    f.blockedMine = withWord(own, Word::blocked, ctx);
    f.blockedQueue = ctx.blockedQueue;
    f.dependencyFailedMine = withWord(own, Word::dependencyFailed, ctx);
    if (!ctx.waitingTaskIDs.isEmpty()) {
        for (const qsizetype i : mine) {
            if (ctx.waitingTaskIDs.contains(ctx.commands.at(i).id))
                f.awaitingApproval.append(ctx.commands.at(i));
        }
    }

    // The most recently completed; on equal times the later one in the list.
    const CommandBrief* last = nullptr;
    for (const qsizetype i : mine) {
        const CommandBrief& c = ctx.commands.at(i);
        if (WorkforceIndex::isFinished(ctx.index.word(i)) && (!last || !completedBefore(c, *last)))
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
    f.status = decideStatus(t, f, own, ctx);
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
    return facts(WorkforceIndex(team, commands), deviceRuntimes, runtimeCatalog, waitingTaskIDs);
}

QHash<QString, WorkforceFacts> facts(const WorkforceIndex& index, const QMap<QString, QStringList>& deviceRuntimes,
    const RuntimeCatalog& runtimeCatalog, const QSet<QString>& waitingTaskIDs)
{
    const QList<TeammateBrief>& team = index.team();
    const QList<CommandBrief>& commands = index.commands();
    Context ctx { index, commands, {}, {}, {}, {}, deviceRuntimes, runtimeCatalog, waitingTaskIDs };
    for (const TeammateBrief& t : team) {
        if (!t.device.isEmpty())
            ++ctx.machineCount[t.device];
    }
    ctx.ownOf.resize(index.slotCount());
    for (qsizetype i = 0; i < commands.size(); ++i) {
        const CommandBrief& c = commands.at(i);
        if (!c.employeeID.isEmpty()) {
            ctx.ownOf[index.ownerSlot(i)].append(i);
        } else {
            if (!c.claimedBy.isEmpty())
                ctx.unassignedClaimedBy[c.claimedBy].append(i);
            if (index.word(i) == Word::blocked)
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
