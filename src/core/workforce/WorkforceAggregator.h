#pragma once

#include "core/gateway/Records.h"
#include "core/workforce/RuntimeName.h"
#include "core/workforce/WorkforceFacts.h"

class WorkforceIndex;

#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// Derives the per-employee facts; pure, no state.
namespace WorkforceAggregator {

// A command that has run its course: done, failed, unsupported or failed on a dependency.
bool isFinished(const QString& status);

// One record per employee id of the roster (the first of a repeated id).
// `deviceRuntimes`: device id → runtime ids registered for it;
// `waitingTaskIDs`: task ids of feed items waiting for the user's decision.
QHash<QString, WorkforceFacts> facts(const QList<TeammateBrief>& team, const QList<CommandBrief>& commands,
    const QMap<QString, QStringList>& deviceRuntimes, const RuntimeCatalog& runtimeCatalog,
    const QSet<QString>& waitingTaskIDs);
// The same from an index of the roster and the command list built once for every derivation.
QHash<QString, WorkforceFacts> facts(const WorkforceIndex& index, const QMap<QString, QStringList>& deviceRuntimes,
    const RuntimeCatalog& runtimeCatalog, const QSet<QString>& waitingTaskIDs);

} // namespace WorkforceAggregator
