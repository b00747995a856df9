#include "core/workforce/EmployeeRules.h"

#include "core/design/DS.h"
#include "core/platform/DisplayText.h"
#include "core/workforce/CollabCopy.h"

namespace EmployeeRules {

namespace {

bool partial(const CommandBrief& c)
{
    return c.status == QLatin1String("done") && c.verdict == QLatin1String("PARTIAL_SUCCESS");
}

} // namespace

QString recentLine(const CommandBrief& command, bool shared)
{
    QString prefix;
    if (partial(command))
        prefix = shared ? QStringLiteral("这台机器最近跑完了一部分（不完整）：")
                        : QStringLiteral("最近这一件只完成了一部分：");
    else if (command.status == QLatin1String("done"))
        prefix = shared ? QStringLiteral("这台机器最近跑完：") : QStringLiteral("最近完成：");
    else
        prefix = shared ? QStringLiteral("这台机器最近这一趟没成：") : QStringLiteral("最近这一件没成：");
    return prefix + command.text;
}

CardWork cardWork(const TeammateBrief& member, const WorkforceFacts& facts)
{
    CardWork w;
    if (facts.machineWorkLine) {
        w.machineLine = SymbolLine { QStringLiteral("play.fill"), *facts.machineWorkLine, DS::cyan() };
    } else if (!facts.running.isEmpty()) {
        w.running = facts.running.mid(0, 3);
        w.runningBeyond = facts.running.size() - w.running.size();
    }
    if (!facts.awaitingApproval.isEmpty())
        w.awaitingApproval
            = SymbolLine { QStringLiteral("hand.raised"), awaitingApprovalText(facts.awaitingApproval), DS::amber() };
    if (facts.status == TolvarineStatus::waitingDependency)
        w.waiting
            = SymbolLine { QStringLiteral("hourglass"), CollabCopy::waitingFor(facts.waitingOnNames), DS::amber() };
    if (facts.status == TolvarineStatus::dependencyFailed)
        w.failedUpstream = SymbolLine { QStringLiteral("xmark.octagon"),
            CollabCopy::blockedByFailure(facts.failedUpstreamNames), DS::failureRed() };

    // Work that waits for the user's approval is work in hand, not idleness.
    const bool busy = w.machineLine || !w.running.isEmpty() || w.awaitingApproval || w.waiting || w.failedUpstream;
    if (member.device.isEmpty()) {
        w.state = CardWork::State::noMachine;
    } else if (busy) {
        w.state = CardWork::State::none;
    } else if (!facts.lastFinished) {
        w.state = CardWork::State::neverWorked;
    } else {
        const CommandBrief& c = *facts.lastFinished;
        w.state = CardWork::State::lastFinished;
        SymbolLine line { QStringLiteral("exclamationmark"), recentLine(c, facts.ambiguousOwnership), DS::muted(0.55) };
        if (partial(c))
            line.colour = DS::amber();
        else if (c.status == QLatin1String("done"))
            line.symbol = QStringLiteral("checkmark");
        else if (!facts.ambiguousOwnership)
            line.colour = DS::failureRed();
        w.lastFinished = line;
    }
    w.sharedNote = facts.ambiguousOwnership;
    return w;
}

QString runningBeyondText(qsizetype count)
{
    return QStringLiteral("还有 ") + QString::number(count) + QStringLiteral(" 条正在跑（详情里全列）");
}

QString awaitingApprovalText(const QList<CommandBrief>& waiting)
{
    if (waiting.isEmpty())
        return QString();
    QString text = QStringLiteral("等你批准：") + waiting.first().text;
    if (waiting.size() > 1)
        text += QStringLiteral(" 等 ") + QString::number(waiting.size()) + QStringLiteral(" 件");
    return text;
}

std::optional<QString> runtimeChip(const RuntimeAttribution& runtime)
{
    switch (runtime.kind) {
    case RuntimeAttribution::Kind::known:
        return runtime.name;
    case RuntimeAttribution::Kind::lastKnown:
        return QStringLiteral("上一趟 ") + runtime.name;
    default:
        return std::nullopt;
    }
}

CurrentWork currentWork(const TeammateBrief& member, const WorkforceFacts& facts)
{
    if (member.device.isEmpty())
        return CurrentWork::noMachine;
    if (!facts.running.isEmpty())
        return CurrentWork::running;
    if (facts.machineWorkLine)
        return CurrentWork::machineLine;
    if (!facts.blockedMine.isEmpty())
        return CurrentWork::blocked;
    if (!facts.awaitingApproval.isEmpty())
        return CurrentWork::awaitingApproval;
    return CurrentWork::idle;
}

Attention needsAttention(const WorkforceFacts& facts)
{
    Attention a;
    a.offline = facts.status == TolvarineStatus::offline;
    // The facts keep no list of the employee's runtime-unavailable commands;
    // the derived status is what says one of them holds it up.
    a.runtimeUnavailable = facts.status == TolvarineStatus::runtimeUnavailable;
    a.dependencyFailed = facts.dependencyFailedMine;
    return a;
}

QList<CommandBrief> shownFinished(const QList<CommandBrief>& recentFinished, const WorkforceFacts& facts)
{
    if (!recentFinished.isEmpty())
        return recentFinished.mid(0, 3);
    if (facts.lastFinished)
        return { *facts.lastFinished };
    return {};
}

bool machineNote(const CommandBrief& command, const WorkforceFacts& facts)
{
    return facts.ambiguousOwnership && command.employeeID.isEmpty();
}

QList<QPair<QString, QString>> diagnostics(const TeammateBrief& member, const WorkforceFacts& facts)
{
    const auto orDash = [](const QString& v) { return v.isEmpty() ? QStringLiteral("—") : v; };
    QList<QPair<QString, QString>> rows {
        // Ids come whole (requests need them); shown, they are cut like any name.
        { QStringLiteral("员工 id"), DisplayText::name(member.id) },
        { QStringLiteral("绑定设备"), member.device.isEmpty() ? QStringLiteral("（未绑定）") : member.device },
        { QStringLiteral("Runtime"),
            member.deviceRuntime.isEmpty() ? QStringLiteral("（未上报）") : member.deviceRuntime },
        { QStringLiteral("Runtime 归属"), facts.runtime.diagnosticText() },
        { QStringLiteral("runtime_fit"), orDash(member.runtimeFit) },
        { QStringLiteral("contract tier"), orDash(member.deviceTier) },
        { QStringLiteral("服务端 status"), member.status },
    };
    if (const auto& last = facts.lastFinished) {
        rows.append({ QStringLiteral("最近一条 id"), DisplayText::name(last->id) });
        rows.append({ QStringLiteral("claimed_by"), orDash(last->claimedBy) });
        rows.append({ QStringLiteral("raw status"), last->status });
    }
    return rows;
}

QString hhmm(const std::optional<QDateTime>& time)
{
    if (!time || !time->isValid())
        return QStringLiteral("—");
    return time->toLocalTime().toString(QStringLiteral("HH:mm"));
}

QString firstLines(const QString& text, int n)
{
    // A line feed right after a carriage return belongs to it and does not end a line.
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\n') && !(i > 0 && text.at(i - 1) == QLatin1Char('\r'))) {
            lines.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    lines.append(text.mid(start));
    if (lines.size() <= n)
        return text;
    return lines.mid(0, n).join(QLatin1Char('\n')) + QStringLiteral("…");
}

} // namespace EmployeeRules
