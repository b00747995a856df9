#pragma once

#include "core/design/TolvarineStatus.h"
#include "core/workforce/CollabGraph.h"

#include <QList>
#include <QString>

#include <optional>

// How the collaboration diagram lays a graph out.
namespace CollabLayout {

enum class Body { empty, list, diagram };
// No nodes: the placeholder; seven or more: the plain list; else the diagram.
Body body(const CollabGraph& graph);

// The nodes in no fan-in group, in graph order.
QList<CollabNode> outsiders(const CollabGraph& graph, const QList<CollabGraph::FanIn>& groups);

// A group's connector is dashed when one of its sources failed or had a
// dependency fail.
bool dashed(const QList<CollabNode>& sources);

// The status glyph: the symbol of the status, or none for a dot (running:
// the pulsing dot; the others: solid with a reading, a ring without).
std::optional<QString> glyphSymbol(TolvarineStatus status);

// "collab.node.<id>.<English status>"
QString nodeIdentifier(const CollabNode& node);

} // namespace CollabLayout
