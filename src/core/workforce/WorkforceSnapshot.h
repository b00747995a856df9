#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Records.h"
#include "core/runtimes/RuntimeRow.h"
#include "core/workforce/CollabGraph.h"
#include "core/workforce/RuntimeName.h"
#include "core/workforce/RuntimeServingMap.h"
#include "core/workforce/WorkforceFacts.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class Status;

// Everything the workforce views and the summary bar read, derived in one
// go from the status model and the runtime inventory: the roster and the
// command list as they were, the per-employee facts, the collaboration
// graph, the work each runtime serves and this machine's device id. A plain
// value: derive it once per change of its inputs and share it.
struct WorkforceSnapshot {
    QList<TeammateBrief> team;
    std::optional<QString> teamError;
    // A roster load of this workspace has finished (with or without an
    // error): before that, an empty roster is not yet read, not empty.
    bool teamLoaded = false;
    QList<CommandBrief> commands;
    std::optional<QString> commandsError;
    // The device id the status model's configuration gives this machine; ""
    // without a configuration.
    QString thisMachine;
    RuntimeCatalog runtimeCatalog;
    QHash<QString, WorkforceFacts> workforceFacts;
    CollabGraph collabGraph;
    QHash<QString, QList<RuntimeServing>> runtimeServing;

    bool operator==(const WorkforceSnapshot&) const = default;

    // What the derivation reads, as plain values.
    struct Inputs {
        QList<TeammateBrief> team;
        std::optional<QString> teamError;
        bool teamLoaded = false;
        QList<CommandBrief> commands;
        std::optional<QString> commandsError;
        QMap<QString, QStringList> deviceRuntimes;
        QSet<QString> waitingTaskIDs;
        std::optional<CLIConfig> config;
        QList<RuntimeRow> inventoryRows;

        bool operator==(const Inputs&) const = default;

        static Inputs gather(const Status& status, const QList<RuntimeRow>& inventoryRows);
    };
    static WorkforceSnapshot derive(const Inputs& in);

    // The employee's facts, or the placeholder when it has none.
    WorkforceFacts facts(const QString& employeeID) const;
    // The employee's own finished commands (its employee id, not its
    // machine's), newest completion first; commands without a completion
    // time last, in list order.
    QList<CommandBrief> recentFinished(const QString& employeeID) const;
    // The collaboration section shows: a roster, and a graph with at least
    // one edge and one node to draw.
    bool showsCollaboration() const;
};
