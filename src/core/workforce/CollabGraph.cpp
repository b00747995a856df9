#include "core/workforce/CollabGraph.h"

#include "core/workforce/CollabCopy.h"

#include <QSet>

#include <algorithm>

namespace {

bool isFailure(const QString& status)
{
    return status == QLatin1String("failed") || status == QLatin1String("unsupported")
        || status == QLatin1String("dependency_failed");
}

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
    QHash<QString, const CommandBrief*> cmdByID;
    for (const CommandBrief& c : commands) {
        if (!cmdByID.contains(c.id))
            cmdByID.insert(c.id, &c);
    }

    CollabGraph g;
    QSet<QString> involved;
    for (const CommandBrief& c : commands) {
        if (c.dependsOn.isEmpty() || c.employeeID.isEmpty())
            continue;
        for (const QString& dep : c.dependsOn) {
            const CommandBrief* up = cmdByID.value(dep);
            if (!up || up->employeeID.isEmpty() || up->employeeID == c.employeeID)
                continue;
            const CollabEdge edge { up->employeeID, c.employeeID, isFailure(up->status) };
            if (!g.edges.contains(edge))
                g.edges.append(edge);
            involved.insert(up->employeeID);
            involved.insert(c.employeeID);
        }
    }

    for (const TeammateBrief& t : team) {
        if (!involved.isEmpty() && !involved.contains(t.id))
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
