#include "core/tasks/RuntimeStatePresentation.h"

#include "core/design/DS.h"
#include "core/gateway/GatewayTime.h"
#include "core/gateway/PermCatalog.h"

namespace RuntimeStatePresentation {

namespace {

using Kind = RuntimeState::Kind;

bool unsupported(const RuntimeState& s)
{
    return s.command.status == QLatin1String("unsupported");
}

// Only an explicit false counts as "no file touched".
bool touchedNothing(const RuntimeState& s)
{
    return s.command.filesTouched == std::optional<bool>(false);
}

// The age of `date` relative to `now`, whole seconds; none when there is no
// date or it lies in the future.
std::optional<QString> age(const std::optional<QDateTime>& date, const QDateTime& now)
{
    if (!date || !date->isValid())
        return std::nullopt;
    const qint64 ms = date->msecsTo(now);
    if (ms < 0)
        return std::nullopt;
    return GatewayTime::agoSecs(ms / 1000);
}

std::optional<QString> prefixed(const QString& prefix, const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    return prefix + *text;
}

QString tierTitle(const QString& key)
{
    for (const perm::Tier& tier : perm::catalog()) {
        if (tier.key == key)
            return tier.title;
    }
    return key;
}

} // namespace

QString stateIcon(const RuntimeState& s)
{
    switch (s.kind) {
    case Kind::Unknown:
        return QStringLiteral("questionmark.circle");
    case Kind::Running:
        return QStringLiteral("gearshape.2.fill");
    case Kind::AwaitingGrant:
        return QStringLiteral("hand.raised.fill");
    case Kind::Queued:
        return QStringLiteral("clock.fill");
    case Kind::LastFailed:
        return QStringLiteral("exclamationmark.triangle.fill");
    case Kind::LastDone:
        return QStringLiteral("checkmark.circle.fill");
    case Kind::Idle:
        return QStringLiteral("moon.zzz.fill");
    case Kind::NoRunner:
        return QStringLiteral("bolt.horizontal.circle");
    }
    return {};
}

QColor stateColor(const RuntimeState& s)
{
    switch (s.kind) {
    case Kind::Running:
        return DS::cyan();
    case Kind::AwaitingGrant:
        return DS::amber();
    case Kind::Queued:
        return DS::at(DS::amber(), 0.75);
    case Kind::LastFailed:
        return DS::danger();
    case Kind::LastDone:
    case Kind::Idle:
        return DS::mint();
    case Kind::Unknown:
    case Kind::NoRunner:
        break;
    }
    return DS::muted(0.45);
}

QString stateTitle(const RuntimeState& s)
{
    switch (s.kind) {
    case Kind::Unknown:
        return QStringLiteral("读不到执行状态");
    case Kind::Running:
        return s.byThisMachine ? QStringLiteral("正在执行 · 这台机器") : QStringLiteral("正在执行 · 另一台设备");
    case Kind::AwaitingGrant:
        return QStringLiteral("等待你的授权（") + QString::number(s.grants.size()) + QStringLiteral(" 档）");
    case Kind::Queued:
        return QStringLiteral("排队中 · 还没有执行体认领");
    case Kind::LastFailed:
        return unsupported(s) ? QStringLiteral("上一趟：执行体说它处理不了") : QStringLiteral("上一趟失败");
    case Kind::LastDone:
        return QStringLiteral("上一趟已完成");
    case Kind::Idle:
        return QStringLiteral("空闲 · 在线，手上没活");
    case Kind::NoRunner:
        switch (s.presence.kind) {
        case AgentPresence::Kind::Stale:
            return QStringLiteral("最后一次心跳已过期");
        case AgentPresence::Kind::Unknown:
            return QStringLiteral("读不到心跳");
        case AgentPresence::Kind::Never:
        case AgentPresence::Kind::Online:
            break;
        }
        return QStringLiteral("还没有执行体来找过活");
    }
    return {};
}

std::optional<QString> stateTime(const RuntimeState& s, const QDateTime& now)
{
    switch (s.kind) {
    case Kind::Running:
    case Kind::Queued:
        return prefixed(QStringLiteral("发起于 "), age(s.command.issuedAt, now));
    case Kind::LastFailed:
    case Kind::LastDone:
        return prefixed(
            QStringLiteral("结束于 "), age(s.command.completedAt ? s.command.completedAt : s.command.issuedAt, now));
    case Kind::Idle:
        return QStringLiteral("心跳 ") + GatewayTime::agoSecs(s.seconds);
    case Kind::NoRunner:
        if (s.presence.kind == AgentPresence::Kind::Stale)
            return GatewayTime::agoSecs(s.presence.seconds);
        return std::nullopt;
    case Kind::Unknown:
    case Kind::AwaitingGrant:
        break;
    }
    return std::nullopt;
}

QString stateHeadline(const RuntimeState& s)
{
    switch (s.kind) {
    case Kind::Unknown:
        return QStringLiteral("取不到命令列表（") + s.reason + QStringLiteral("）。这**不等于**它没在跑。");
    case Kind::Running:
        return s.byThisMachine ? QStringLiteral("这台机器认领了它。下面是进度流的最后几行。")
                               : QStringLiteral("认领它的是**另一台设备**，不是这台机器。这个窗口只能看，停不了它。");
    case Kind::AwaitingGrant: {
        QStringList titles;
        for (const QString& key : s.grants)
            titles.append(tierTitle(key));
        return QStringLiteral("这几档还等着你：**") + titles.join(QStringLiteral("、")) + QStringLiteral("**。")
            + QStringLiteral("read / write / push 本来是自动完成的，出现在这里说明自动那条路失败了；")
            + QStringLiteral("danger 则从来不自动——它不可逆，只认你在这台机器上点的那一下。");
    }
    case Kind::Queued:
        if (s.blockedByAssignee) {
            return QStringLiteral("这条活指派给了 **") + *s.blockedByAssignee
                + QStringLiteral("**，而他名下没有能干活的机器 —— ")
                + QStringLiteral("所以**没有任何设备领得走它**，再等也不会。")
                + QStringLiteral("在手机上给他绑一台机器，或者把这条活重新指派给别人。");
        }
        if (s.hasRunner)
            return QStringLiteral("已经排上了，还没有执行体认领。心跳是新鲜的，通常一两秒就会被接走。");
        return QStringLiteral("排着队，但**没有新鲜心跳**——多半是本机没有执行体在跑。"
                              "上面「执行体」那块的启动按钮就是干这个的。");
    case Kind::LastFailed:
        if (unsupported(s))
            return QStringLiteral("执行体判断这句话它没法处理。换个说法重发通常有效。");
        if (s.command.error.isEmpty())
            return QStringLiteral("执行体回报了失败，没有附带原因。");
        return s.command.error;
    case Kind::LastDone:
        if (touchedNothing(s))
            return QStringLiteral("它正常结束了，但**一个文件都没动**。这多半是一句回复，不是一件做完的事。");
        if (s.command.summary.isEmpty())
            return QStringLiteral("执行体回报了完成，没有附带结论。");
        return s.command.summary;
    case Kind::Idle:
        return QStringLiteral("心跳 ") + GatewayTime::agoSecs(s.seconds)
            + QStringLiteral("还在，队列里没有等着的命令。");
    case Kind::NoRunner:
        switch (s.presence.kind) {
        case AgentPresence::Kind::Stale:
            return QStringLiteral("最后一次心跳是 ") + GatewayTime::agoSecs(s.presence.seconds)
                + QStringLiteral("。**过期不等于它已经关了**——")
                + QStringLiteral("一条跑很久的命令在执行期间就是不轮询的。");
        case AgentPresence::Kind::Unknown:
            return QStringLiteral("读不到心跳（") + s.presence.reason + QStringLiteral("）。**读不到不等于没有。**");
        case AgentPresence::Kind::Never:
        case AgentPresence::Kind::Online:
            break;
        }
        return QStringLiteral("命令接口读通了，就是没有任何执行体来找过活。");
    }
    return {};
}

std::optional<QString> stateEvidence(const RuntimeState& s)
{
    if (s.kind == Kind::LastFailed && unsupported(s) && !s.command.error.isEmpty())
        return s.command.error;
    if (s.kind == Kind::LastDone && touchedNothing(s) && !s.command.summary.isEmpty())
        return s.command.summary;
    return std::nullopt;
}

std::optional<CommandBrief> stateCommand(const RuntimeState& s)
{
    switch (s.kind) {
    case Kind::Running:
    case Kind::Queued:
    case Kind::LastFailed:
    case Kind::LastDone:
        return s.command;
    default:
        return std::nullopt;
    }
}

} // namespace RuntimeStatePresentation
