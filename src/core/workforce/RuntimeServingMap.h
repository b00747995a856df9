#pragma once

#include "core/gateway/Records.h"
#include "core/workforce/RuntimeName.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// One piece of work listed under a local runtime.
struct RuntimeServing {
    std::optional<QString> employeeName; // none: no employee, or not in the roster
    QString taskText;
    bool running = false; // false: the last finished one

    bool operator==(const RuntimeServing&) const = default;
};

// For each runtime kind, the work it serves now (every running command), or
// else the newest finished one. Kinds with neither are absent.
namespace RuntimeServingMap {

// The key a command is listed under: its runtime id trimmed, lower-cased and
// mapped to its kind. Empty when the command names no runtime.
QString kindOf(const CommandBrief& command);

QHash<QString, QList<RuntimeServing>> build(
    const QList<CommandBrief>& commands, const QList<TeammateBrief>& team, const RuntimeCatalog& catalog);

} // namespace RuntimeServingMap
