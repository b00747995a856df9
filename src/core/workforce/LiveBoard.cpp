#include "core/workforce/LiveBoard.h"

#include "core/gateway/GatewayTime.h"

namespace LiveBoard {

QList<CommandBrief> running(const QList<CommandBrief>& commands)
{
    QList<CommandBrief> out;
    for (const CommandBrief& c : commands) {
        if (c.status == QLatin1String("claimed"))
            out.append(c);
    }
    return out;
}

std::optional<QString> employeeName(const QList<TeammateBrief>& team, const CommandBrief& command)
{
    if (command.employeeID.isEmpty())
        return std::nullopt;
    for (const TeammateBrief& member : team) {
        if (member.id == command.employeeID)
            return member.name;
    }
    return std::nullopt;
}

Runner runner(const QList<TeammateBrief>& team, const CommandBrief& command)
{
    if (const auto name = employeeName(team, command))
        return { *name, true };
    if (!command.employeeID.isEmpty())
        return { QStringLiteral("指派给了一位这里查不到的同事"), false };
    return { QStringLiteral("无主 · 机器领的"), false };
}

QString countText(qsizetype running)
{
    return QStringLiteral("此刻在跑（") + QString::number(running) + QStringLiteral("）");
}

std::optional<QString> elapsed(const CommandBrief& command, const QDateTime& now)
{
    if (!command.claimedAt)
        return std::nullopt;
    // Whole seconds, the fraction dropped (towards zero).
    const qint64 seconds = command.claimedAt->msecsTo(now) / 1000;
    return QStringLiteral("已跑 ") + GatewayTime::agoSecs(seconds);
}

} // namespace LiveBoard
