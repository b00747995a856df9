#include "core/tasks/PermPresentation.h"

#include "core/design/DS.h"

namespace PermPresentation {

namespace {

bool isDanger(const QString& key)
{
    return key == QLatin1String("danger");
}

constexpr int kNamedRuntimes = 3;

} // namespace

QString stateIcon(PermState state)
{
    switch (state) {
    case PermState::Granted:
        return QStringLiteral("checkmark.circle.fill");
    case PermState::Pending:
        return QStringLiteral("hand.raised.circle.fill");
    case PermState::Denied:
        break;
    }
    return QStringLiteral("circle");
}

QColor stateColor(PermState state)
{
    switch (state) {
    case PermState::Granted:
        return DS::mint();
    case PermState::Pending:
        return DS::amber();
    case PermState::Denied:
        break;
    }
    return DS::muted(0.45);
}

QString stateWord(PermState state)
{
    switch (state) {
    case PermState::Granted:
        return QStringLiteral("已授权");
    case PermState::Pending:
        return QStringLiteral("等你确认");
    case PermState::Denied:
        break;
    }
    return QStringLiteral("未授权");
}

QString permExplain(PermState state, const QString& key, bool autoFailed)
{
    const bool danger = isDanger(key);
    switch (state) {
    case PermState::Granted:
        return danger ? QStringLiteral("已开。不可逆的操作现在不会再拦你一道。") : QString();
    case PermState::Pending:
        // It is not tried again while it stays pending: promising it would be false.
        if (autoFailed && !danger)
            return QStringLiteral("自动批准没成，这一档不会再自己生效了——要你点一下「批准」。");
        return danger ? QStringLiteral("已经有机器声明过这一档了，就差最后一次点头。**它不可逆**，"
                                       "而且是唯一不会自动完成的那一档——点之前想清楚。")
                      : QStringLiteral("刚开的，马上就会自动生效。不用你点。");
    case PermState::Denied:
        break;
    }
    return danger ? QStringLiteral("没开。**手机开不了**——这一档不走远程授权那条路，只能用下面那个按钮，"
                                   "在这台机器上先声明一次。")
                  : QStringLiteral("没开。这里点「授权」就能开，手机上也能开。");
}

QString usageLabel(const PermUse& use)
{
    switch (use.kind) {
    case PermUse::Kind::Used:
        return QStringLiteral("本次已用到");
    case PermUse::Kind::NotSeen:
        return QStringLiteral("本次没看到");
    case PermUse::Kind::NotExpressed:
        return QStringLiteral("进度不表达");
    case PermUse::Kind::Unknown:
        break;
    }
    return QStringLiteral("无从判断");
}

std::optional<QString> unenforceableNote(const QString& key, const QList<RuntimeRow>& rows)
{
    if (key != QLatin1String("read") && key != QLatin1String("write") && key != QLatin1String("exec"))
        return std::nullopt;
    QStringList names;
    int kept = 0;
    for (const RuntimeRow& row : rows) {
        if (!row.installed || row.capUnenforceable <= 0)
            continue;
        if (kept < kNamedRuntimes)
            names.append(row.display);
        ++kept;
    }
    if (kept == 0)
        return std::nullopt;
    QString who = names.join(QStringLiteral(" / "));
    if (kept > kNamedRuntimes)
        who += QStringLiteral(" 等 ") + QString::number(kept) + QStringLiteral(" 家");
    return QStringLiteral("⚠️ ") + who + QStringLiteral(" 暂不支持由 Tolvarine 强制执行这一档 —— ")
        + QStringLiteral("开关表达的是你的意图，在这几家上要靠它们自己遵守。");
}

QString autoNoteText()
{
    return QStringLiteral("自动生效中…");
}

PermButtons permButtons(const PermRow& row, bool autoFailed)
{
    using S = PermButton::Style;
    using A = PermButton::Action;
    const QString approve = QStringLiteral("批准");
    const QString reject = QStringLiteral("拒绝");
    switch (row.state) {
    case PermState::Granted:
        return { false, { { S::Secondary, QStringLiteral("收回"), A::Revoke } } };
    case PermState::Pending:
        if (isDanger(row.key))
            return { false, { { S::Primary, approve, A::ApproveDanger }, { S::Danger, reject, A::Reject } } };
        if (autoFailed)
            return { false, { { S::Primary, approve, A::Approve }, { S::Secondary, reject, A::Reject } } };
        return { true, { { S::Secondary, reject, A::Reject } } };
    case PermState::Denied:
        break;
    }
    if (isDanger(row.key))
        return { false, { { S::Danger, QStringLiteral("在这台机器上授权（不可逆）"), A::GrantDanger } } };
    return { false, { { S::Secondary, QStringLiteral("授权"), A::Approve } } };
}

PermActionState rowFeedback(const PermActionState& action, const std::optional<QDateTime>& autoConfirmed,
    const std::optional<QString>& autoFailed)
{
    if (action.kind() != PermActionState::Kind::Idle)
        return action;
    if (autoFailed)
        return PermActionState::failed(QStringLiteral("自动批准没成：") + *autoFailed);
    if (autoConfirmed)
        return PermActionState::ok(QStringLiteral("已自动批准"), *autoConfirmed);
    return action;
}

} // namespace PermPresentation
