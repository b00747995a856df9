#include "core/workforce/SkillCopy.h"

#include "core/design/DS.h"

namespace SkillCopy {

Look readiness(const QString& s)
{
    if (s == QLatin1String("READY"))
        return { QStringLiteral("可以接活"), DS::mint() };
    QString label = QStringLiteral("还不能接活");
    if (s == QLatin1String("BLOCKED_AUTH"))
        label = QStringLiteral("要先登录");
    else if (s == QLatin1String("BLOCKED_PERMISSION"))
        label = QStringLiteral("要先授权");
    else if (s == QLatin1String("BLOCKED_VALIDATOR"))
        label = QStringLiteral("校验用不了");
    else if (s == QLatin1String("BLOCKED_DEVICE"))
        label = QStringLiteral("缺真机");
    else if (s == QLatin1String("BLOCKED_RUNTIME"))
        label = QStringLiteral("没有可用的 CLI");
    else if (s == QLatin1String("BLOCKED_CAPABILITY"))
        label = QStringLiteral("能力没验过");
    return { label, DS::amber() };
}

QString evidenceLabel(const QString& level)
{
    if (level == QLatin1String("yes"))
        return QStringLiteral("已验证");
    if (level == QLatin1String("no"))
        return QStringLiteral("做不到");
    if (level == QLatin1String("unenforceable"))
        return QStringLiteral("管不住");
    if (level == QLatin1String("auth-required"))
        return QStringLiteral("待登录");
    if (level == QLatin1String("unknown"))
        return QStringLiteral("没验过");
    return level;
}

QColor evidenceTint(const QString& level)
{
    if (level == QLatin1String("yes"))
        return DS::mint();
    if (level == QLatin1String("no"))
        return DS::failureRed();
    if (level == QLatin1String("unenforceable") || level == QLatin1String("auth-required"))
        return DS::amber();
    return DS::muted(0.45);
}

QString ownerLabel(const QString& owner)
{
    if (owner == QLatin1String("user"))
        return QStringLiteral("要你处理");
    if (owner == QLatin1String("us"))
        return QStringLiteral("我们还没做");
    if (owner == QLatin1String("provider"))
        return QStringLiteral("等服务方");
    return owner;
}

QString compatibilityText(qsizetype runtimes)
{
    return QStringLiteral("在 ") + QString::number(runtimes) + QStringLiteral(" 家上成立");
}

QString errorText(const QString& error)
{
    return QStringLiteral("读不到技能信息：") + error;
}

QString errorIdentifier(const QString& error)
{
    return QStringLiteral("skill.error:") + error.left(120);
}

} // namespace SkillCopy
