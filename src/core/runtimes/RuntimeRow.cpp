#include "core/runtimes/RuntimeRow.h"

RuntimeRow::RuntimeRow(const RuntimeEntry& e)
    : kind(e.kind)
    , display(e.display)
    , installed(e.health.installed)
    , version(e.health.version && !e.health.version->isEmpty() ? *e.health.version : QStringLiteral("—"))
    , authState(e.auth.state)
    , authSource(e.auth.source)
    , authHint(e.auth.hint.value_or(QString()))
    , loginCommand(e.auth.login.value_or(QStringList()))
    , loginNote(e.auth.loginNote.value_or(QString()))
    , usability(RuntimeUsabilities::fromRawValue(e.usability))
    , capYes(e.capCounts.value(QStringLiteral("yes")))
    , capAuthRequired(e.capCounts.value(QStringLiteral("auth-required")))
    , capUnknown(e.capCounts.value(QStringLiteral("unknown")))
    , capNo(e.capCounts.value(QStringLiteral("no")))
    , capUnenforceable(e.capCounts.value(QStringLiteral("unenforceable")))
    , detail(e.health.path ? *e.health.path : e.health.error.value_or(QString()))
{
}

QString RuntimeRow::capabilitySummary() const
{
    QStringList parts { QStringLiteral("%1 格支持").arg(capYes) };
    if (capUnenforceable >= 1)
        parts << QStringLiteral("%1 格约束不住").arg(capUnenforceable);
    if (capAuthRequired >= 1)
        parts << QStringLiteral("%1 格卡在鉴权").arg(capAuthRequired);
    if (capNo >= 1)
        parts << QStringLiteral("%1 格不支持").arg(capNo);
    if (capUnknown >= 1)
        parts << QStringLiteral("%1 格没验过").arg(capUnknown);
    return parts.join(QStringLiteral(" · "));
}

QList<QPair<QString, QString>> RuntimeRow::diagnosticRows() const
{
    QList<QPair<QString, QString>> rows;
    rows.append({ QStringLiteral("版本"), version });
    if (!detail.isEmpty())
        rows.append({ detail.startsWith(QLatin1Char('/')) ? QStringLiteral("可执行文件") : QStringLiteral("探测说明"),
            detail });
    if (!authState.isEmpty())
        rows.append({ QStringLiteral("鉴权状态"), authState });
    if (!authSource.isEmpty())
        rows.append({ QStringLiteral("判定依据"), authSource });
    if (!authHint.isEmpty())
        rows.append({ QStringLiteral("怎么修"), authHint });
    rows.append({ QStringLiteral("能力"), capabilitySummary() });
    if (!loginCommand.isEmpty())
        rows.append({ QStringLiteral("登录命令"), loginCommand.join(QLatin1Char(' ')) });
    return rows;
}

QString RuntimeRow::diagnosticText() const
{
    QStringList lines;
    for (const auto& [label, value] : diagnosticRows())
        lines << label + QStringLiteral("：") + value;
    return display + QStringLiteral("（") + kind + QStringLiteral("）\n") + lines.join(QLatin1Char('\n'));
}
