#include "core/workforce/WorkforceSnapshot.h"

#include "core/gateway/Status.h"
#include "core/workforce/RuntimeCatalog.h"
#include "core/workforce/WorkforceAggregator.h"
#include "core/workforce/WorkforceIndex.h"

#include <algorithm>

WorkforceSnapshot::Inputs WorkforceSnapshot::Inputs::gather(
    const Status& status, const QList<RuntimeRow>& inventoryRows)
{
    Inputs in;
    in.team = status.team();
    in.teamError = status.teamError();
    in.teamLoaded = status.teamLoadFinished();
    in.commands = status.commands();
    in.commandsError = status.commandsError();
    in.deviceRuntimes = status.deviceRuntimes();
    in.waitingTaskIDs = status.waitingTaskIDs();
    in.config = status.config();
    in.inventoryRows = inventoryRows;
    return in;
}

WorkforceSnapshot WorkforceSnapshot::derive(const Inputs& in)
{
    WorkforceSnapshot s;
    s.team = in.team;
    s.teamError = in.teamError;
    s.teamLoaded = in.teamLoaded;
    s.commands = in.commands;
    s.commandsError = in.commandsError;
    s.thisMachine = in.config ? in.config->deviceId() : QString();
    s.runtimeCatalog = ::runtimeCatalog(in.inventoryRows);
    // One index of the roster and the commands for all three.
    const WorkforceIndex index(in.team, in.commands);
    s.workforceFacts = WorkforceAggregator::facts(index, in.deviceRuntimes, s.runtimeCatalog, in.waitingTaskIDs);
    s.collabGraph = CollabGraph::build(index, s.workforceFacts);
    s.runtimeServing = RuntimeServingMap::build(index, s.runtimeCatalog);
    return s;
}

WorkforceFacts WorkforceSnapshot::facts(const QString& employeeID) const
{
    return workforceFacts.value(employeeID, WorkforceFacts::placeholder());
}

QList<CommandBrief> WorkforceSnapshot::recentFinished(const QString& employeeID) const
{
    QList<CommandBrief> out;
    for (const CommandBrief& c : commands) {
        if (c.employeeID == employeeID && WorkforceAggregator::isFinished(c.status))
            out.append(c);
    }
    // Newest first; a missing completion time is the most distant past.
    std::stable_sort(out.begin(), out.end(), [](const CommandBrief& a, const CommandBrief& b) {
        if (!a.completedAt)
            return false;
        return !b.completedAt || *b.completedAt < *a.completedAt;
    });
    return out;
}

bool WorkforceSnapshot::showsCollaboration() const
{
    // Edges between employees none of whom is on the roster draw nothing.
    return !team.isEmpty() && !collabGraph.edges.isEmpty() && !collabGraph.nodes.isEmpty();
}
