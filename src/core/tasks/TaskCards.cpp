#include "core/tasks/TaskCards.h"

#include "core/design/DS.h"
#include "core/design/MachineName.h"
#include "core/gateway/GatewayTime.h"
#include "core/platform/Graphemes.h"

#include <QHash>

namespace TaskCards {

namespace {

constexpr qint64 kStaleAfter = 25;
constexpr int kShownTasks = 12;
constexpr int kTailLines = 5;
constexpr int kLineLength = 72;

} // namespace

RunnerLook runnerLook(
    const RunnerInfo& runner, const std::optional<CLIConfig>& config, const QList<CommandBrief>& commands)
{
    RunnerLook look;
    look.thisDevice = config && runner.deviceID == config->deviceId();
    look.name = look.thisDevice ? QStringLiteral("这台电脑") : MachineName::friendly(runner.deviceID);
    // Only the newest claimed command decides.
    for (auto it = commands.crbegin(); it != commands.crend(); ++it) {
        if (it->status == QLatin1String("claimed")) {
            look.running = it->claimedBy == runner.deviceID;
            break;
        }
    }
    look.stale = runner.secondsAgo > kStaleAfter;
    look.heartbeat = GatewayTime::agoSecs(runner.secondsAgo);
    if (look.stale)
        look.heartbeat += QStringLiteral(" · 心跳已过期");
    return look;
}

QString runnersHeader(int count)
{
    return QStringLiteral("能干活的机器（") + QString::number(count) + QStringLiteral("）");
}

QList<CommandBrief> shownTasks(const QList<CommandBrief>& commands)
{
    return commands.size() > kShownTasks ? commands.mid(commands.size() - kShownTasks) : commands;
}

QString tasksHeader(int count)
{
    return QStringLiteral("任务（") + QString::number(count) + QStringLiteral("）");
}

QList<ProgressLine> tailLines(const QList<ProgressLine>& progress)
{
    return progress.size() > kTailLines ? progress.mid(progress.size() - kTailLines) : progress;
}

QString kindIcon(const QString& kind)
{
    static const QHash<QString, QString> icons {
        { QStringLiteral("think"), QStringLiteral("bubble.left") },
        { QStringLiteral("read"), QStringLiteral("doc.text") },
        { QStringLiteral("edit"), QStringLiteral("pencil") },
        { QStringLiteral("shell"), QStringLiteral("terminal") },
        { QStringLiteral("test"), QStringLiteral("testtube.2") },
        { QStringLiteral("test_pass"), QStringLiteral("checkmark.seal.fill") },
        { QStringLiteral("test_fail"), QStringLiteral("xmark.seal.fill") },
    };
    return icons.value(kind, QStringLiteral("circle.dashed"));
}

QColor kindColor(const QString& kind)
{
    if (kind == QLatin1String("read") || kind == QLatin1String("test"))
        return DS::cyan();
    if (kind == QLatin1String("edit"))
        return DS::amber();
    if (kind == QLatin1String("test_pass"))
        return DS::mint();
    if (kind == QLatin1String("test_fail"))
        return DS::danger();
    return DS::muted(0.45);
}

QString oneLine(const QString& text)
{
    const QStringList pieces = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString line = pieces.isEmpty() ? text : pieces.first();
    return Graphemes::cut(line, kLineLength);
}

} // namespace TaskCards
