#include "core/workforce/CollabLayout.h"

#include <QSet>

#include <algorithm>

namespace CollabLayout {

Body body(const CollabGraph& graph)
{
    if (graph.nodes.isEmpty())
        return Body::empty;
    return graph.nodes.size() >= 7 ? Body::list : Body::diagram;
}

QList<CollabNode> outsiders(const CollabGraph& graph, const QList<CollabGraph::FanIn>& groups)
{
    QSet<QString> involved;
    for (const CollabGraph::FanIn& g : groups) {
        involved.insert(g.target.id);
        for (const CollabNode& s : g.sources)
            involved.insert(s.id);
    }
    QList<CollabNode> out;
    for (const CollabNode& n : graph.nodes) {
        if (!involved.contains(n.id))
            out.append(n);
    }
    return out;
}

bool dashed(const QList<CollabNode>& sources)
{
    return std::any_of(sources.cbegin(), sources.cend(), [](const CollabNode& n) {
        return n.status == TolvarineStatus::failed || n.status == TolvarineStatus::dependencyFailed;
    });
}

std::optional<QString> glyphSymbol(TolvarineStatus status)
{
    switch (status) {
    case TolvarineStatus::waitingApproval:
        return QStringLiteral("smallcircle.filled.circle");
    case TolvarineStatus::waitingDependency:
    case TolvarineStatus::queued:
        return QStringLiteral("hourglass");
    case TolvarineStatus::completed:
        return QStringLiteral("checkmark");
    case TolvarineStatus::failed:
        return QStringLiteral("xmark");
    case TolvarineStatus::dependencyFailed:
    case TolvarineStatus::runtimeUnavailable:
        return QStringLiteral("nosign");
    default:
        return std::nullopt;
    }
}

QString nodeIdentifier(const CollabNode& node)
{
    return QStringLiteral("collab.node.") + node.id + QLatin1Char('.') + TolvarineStatuses::rawValue(node.status);
}

} // namespace CollabLayout
