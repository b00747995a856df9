#include "core/workforce/CollabGraph.h"

#include "core/workforce/CollabCopy.h"
#include "core/workforce/WorkforceIndex.h"

#include <QSet>

#include <algorithm>

namespace {

// Unicode scalar order, not UTF-16 code-unit order: the two differ for
// characters above the basic plane against U+E000..U+FFFF.
bool codePointLess(const QString& a, const QString& b)
{
    const QList<uint> ua = a.toUcs4();
    const QList<uint> ub = b.toUcs4();
    return std::lexicographical_compare(ua.cbegin(), ua.cend(), ub.cbegin(), ub.cend());
}

} // namespace

CollabGraph CollabGraph::build(
    const QList<TeammateBrief>& team, const QList<CommandBrief>& commands, const QHash<QString, WorkforceFacts>& facts)
{
    return build(WorkforceIndex(team, commands), facts);
}

CollabGraph CollabGraph::build(const WorkforceIndex& index, const QHash<QString, WorkforceFacts>& facts)
{
    const QList<CommandBrief>& commands = index.commands();
    CollabGraph g;
    // Edges are told apart by their ends' slots and the failure flag; each
    // employee's slot is marked once it is at an end of one.
    QSet<quint64> seen;
    QList<bool> involved(index.slotCount(), false);
    bool anyInvolved = false;
    for (qsizetype i = 0; i < commands.size(); ++i) {
        const CommandBrief& c = commands.at(i);
        if (c.dependsOn.isEmpty() || c.employeeID.isEmpty())
            continue;
        const int to = index.ownerSlot(i);
        for (const QString& dep : c.dependsOn) {
            const qsizetype u = index.firstWithID(dep);
            if (u < 0)
                continue;
            const CommandBrief& up = commands.at(u);
            const int from = index.ownerSlot(u);
            if (up.employeeID.isEmpty() || from == to)
                continue;
            const bool failed = WorkforceIndex::isFailure(index.word(u));
            const quint64 key = (quint64(from) << 33) | (quint64(to) << 1) | quint64(failed);
            const qsizetype before = seen.size();
            seen.insert(key);
            if (seen.size() != before)
                g.edges.append(CollabEdge { up.employeeID, c.employeeID, failed });
            involved[from] = true;
            involved[to] = true;
            anyInvolved = true;
        }
    }

    for (const TeammateBrief& t : index.team()) {
        if (anyInvolved && !involved.at(index.slotOf(t.id)))
            continue;
        const auto it = facts.constFind(t.id);
        const WorkforceFacts* f = it == facts.constEnd() ? nullptr : &*it;
        CollabNode node;
        node.id = t.id;
        node.name = t.name;
        node.status = f ? f->status : TolvarineStatus::unassigned;
        node.hasReading = f && f->hasReading;
        node.subtitle = subtitle(t, f);
        g.nodes.append(node);
    }
    return g;
}

QString CollabGraph::subtitle(const TeammateBrief& teammate, const WorkforceFacts* facts)
{
    if (!facts)
        return {};
    switch (facts->status) {
    case TolvarineStatus::running:
        return facts->running.isEmpty() ? QStringLiteral("正在执行") : facts->running.first().text;
    case TolvarineStatus::waitingDependency:
        return CollabCopy::waitingFor(facts->waitingOnNames);
    case TolvarineStatus::completed:
    case TolvarineStatus::failed:
    case TolvarineStatus::partiallyDone:
        return facts->lastFinished ? facts->lastFinished->text : TolvarineStatuses::zh(facts->status);
    case TolvarineStatus::offline:
        return QStringLiteral("它那台机器的心跳停了");
    case TolvarineStatus::dependencyFailed:
        return CollabCopy::blockedByFailure(facts->failedUpstreamNames);
    case TolvarineStatus::runtimeUnavailable:
        return QStringLiteral("那台机器上没有能跑它的 CLI");
    case TolvarineStatus::unassigned:
        return QStringLiteral("还没分到机器");
    default:
        return teammate.roleTitle;
    }
}

QList<CollabGraph::FanIn> CollabGraph::fanIn() const
{
    QHash<QString, const CollabNode*> nodeByID;
    for (const CollabNode& n : nodes) {
        if (!nodeByID.contains(n.id))
            nodeByID.insert(n.id, &n);
    }

    // Groups in the order their targets first appear among the edges.
    QStringList targets;
    QMap<QString, QStringList> sourcesOf;
    for (const CollabEdge& e : edges) {
        if (!sourcesOf.contains(e.toEmployeeID))
            targets.append(e.toEmployeeID);
        sourcesOf[e.toEmployeeID].append(e.fromEmployeeID);
    }

    QList<FanIn> out;
    for (const QString& target : targets) {
        const CollabNode* node = nodeByID.value(target);
        if (!node)
            continue;
        FanIn pair { *node, {} };
        for (const QString& source : sourcesOf.value(target)) {
            if (const CollabNode* s = nodeByID.value(source))
                pair.sources.append(*s);
        }
        out.append(pair);
    }
    std::stable_sort(out.begin(), out.end(),
        [](const FanIn& a, const FanIn& b) { return codePointLess(a.target.name, b.target.name); });
    return out;
}
