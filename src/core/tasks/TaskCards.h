#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Records.h"

#include <QColor>
#include <QList>
#include <QString>

#include <optional>

// What the runners card, the tasks card and the progress tail show. Pure.
namespace TaskCards {

// One runner as its row shows it.
struct RunnerLook {
    QString name; // "这台电脑" for this device, else the friendly machine name
    bool thisDevice = false;
    bool running = false; // the newest claimed command is this runner's
    bool stale = false; // heartbeat older than 25 seconds
    QString heartbeat; // "N 秒前", plus " · 心跳已过期" when stale

    bool operator==(const RunnerLook&) const = default;
};

// Without a configuration no runner is this device.
RunnerLook runnerLook(
    const RunnerInfo& runner, const std::optional<CLIConfig>& config, const QList<CommandBrief>& commands);
QString runnersHeader(int count);

// The commands the tasks card shows: the last 12, in list order.
QList<CommandBrief> shownTasks(const QList<CommandBrief>& commands);
// Counts every command, not only the shown ones.
QString tasksHeader(int count);

// The progress lines the tail shows: the last 5, oldest first.
QList<ProgressLine> tailLines(const QList<ProgressLine>& progress);
// A progress kind's symbol and colour; kinds compare case-sensitively.
QString kindIcon(const QString& kind);
QColor kindColor(const QString& kind);
// The first non-empty line of a text (the text itself when it has none),
// cut to 72 characters as the user sees them, plus "…" when longer.
QString oneLine(const QString& text);

} // namespace TaskCards
