#pragma once

#include "core/gateway/Records.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// What the live task board shows of the status model: the commands running
// now and, for each, who runs it and for how long.
namespace LiveBoard {

// The commands whose status is exactly "claimed", in list order.
QList<CommandBrief> running(const QList<CommandBrief>& commands);

// The name of the first teammate whose id is the command's employee id; none
// without an employee id or a match.
std::optional<QString> employeeName(const QList<TeammateBrief>& team, const CommandBrief& command);

// Who runs a command, as the card says it.
struct Runner {
    QString text;
    bool named = false; // a teammate's name, else one of the two explanations
};
Runner runner(const QList<TeammateBrief>& team, const CommandBrief& command);

// "此刻在跑（N）".
QString countText(qsizetype running);

// "已跑 " + the time since the claim (whole seconds, a claim in the future
// gives negative seconds); none without a claim time.
std::optional<QString> elapsed(const CommandBrief& command, const QDateTime& now);

} // namespace LiveBoard
