#pragma once

#include "core/gateway/Records.h"
#include "core/runtimes/RuntimeServing.h"
#include "core/workforce/RuntimeName.h"

#include <QHash>
#include <QList>
#include <QString>

class WorkforceIndex;

// For each runtime kind, the work it serves now (every running command), or
// else the newest finished one. Kinds with neither are absent.
namespace RuntimeServingMap {

// The key a command is listed under: its runtime id trimmed, lower-cased and
// mapped to its kind. Empty when the command names no runtime.
QString kindOf(const CommandBrief& command);

QHash<QString, QList<RuntimeServing>> build(
    const QList<CommandBrief>& commands, const QList<TeammateBrief>& team, const RuntimeCatalog& catalog);
// The same from an index of the roster and the command list built once for every derivation.
QHash<QString, QList<RuntimeServing>> build(const WorkforceIndex& index, const RuntimeCatalog& catalog);

} // namespace RuntimeServingMap
