#pragma once

#include "core/design/TolvarineStatus.h"
#include "core/gateway/Records.h"
#include "core/workforce/WorkforceFacts.h"

#include <QHash>
#include <QList>
#include <QString>

class WorkforceIndex;

struct CollabNode {
    QString id;
    QString name;
    TolvarineStatus status = TolvarineStatus::unassigned;
    bool hasReading = false;
    QString subtitle;

    bool operator==(const CollabNode&) const = default;
};

// The owner of an upstream command → the owner of a command waiting on it.
struct CollabEdge {
    QString fromEmployeeID;
    QString toEmployeeID;
    bool upstreamFailed = false;

    bool operator==(const CollabEdge&) const = default;
};

// Who waits on whom among the employees.
struct CollabGraph {
    QList<CollabNode> nodes;
    QList<CollabEdge> edges;

    struct FanIn {
        CollabNode target;
        QList<CollabNode> sources; // once per edge, in edge order
        bool operator==(const FanIn&) const = default;
    };

    static CollabGraph build(const QList<TeammateBrief>& team, const QList<CommandBrief>& commands,
        const QHash<QString, WorkforceFacts>& facts);
    // The same from an index of the roster and the command list built once for every derivation.
    static CollabGraph build(const WorkforceIndex& index, const QHash<QString, WorkforceFacts>& facts);

    // Edges grouped by their target, ordered by the target's name compared
    // code point by code point.
    QList<FanIn> fanIn() const;

    bool operator==(const CollabGraph&) const = default;

private:
    static QString subtitle(const TeammateBrief& teammate, const WorkforceFacts* facts);
};
