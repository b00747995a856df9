#include "core/runtimes/DaemonStatus.h"

#include "core/gateway/Json.h"
#include "core/platform/DisplayText.h"

namespace DaemonStatus {

QString firstLine(const QString& text)
{
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return {};
    QString line = lines.first();
    qsizetype start = 0;
    qsizetype end = line.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (start < end && blank(line.at(start)))
        ++start;
    while (end > start && blank(line.at(end - 1)))
        --end;
    return line.mid(start, end - start);
}

QString shownLine(const QString& text)
{
    return DisplayText::message(firstLine(text));
}

QString Report::display() const
{
    if (state == QLatin1String("running"))
        return QStringLiteral("正在跑") + (pid ? QStringLiteral(" · pid ") + *pid : QString());
    if (state == QLatin1String("installed_not_running")) {
        QString text = QStringLiteral("已安装，但当前没有进程在跑");
        if (lastExitCode && *lastExitCode != QLatin1String("0"))
            text += QStringLiteral("，上次退出码 ") + *lastExitCode;
        return text;
    }
    if (state == QLatin1String("installed_not_loaded"))
        return QStringLiteral("plist 在，但 launchd 里没有它");
    if (state == QLatin1String("not_installed"))
        return QStringLiteral("没有安装常驻");
    if (state == QLatin1String("installed_state_unknown"))
        return QStringLiteral("已安装，但这台机器答不出它在不在跑");
    return QStringLiteral("认不出来的状态码：") + state;
}

std::optional<Report> Report::decode(const QByteArray& data)
{
    const std::optional<QJsonObject> object = json::parseObject(data);
    if (!object)
        return std::nullopt;
    json::StrictReader r(*object);
    Report rep;
    rep.schema = r.requiredInt(QStringLiteral("schema"));
    // The words the report gives are shown; the known states are short and stay as they are.
    rep.state = DisplayText::name(r.requiredString(QStringLiteral("state")));
    rep.running = r.optionalBool(QStringLiteral("running"));
    rep.pid = DisplayText::shown(r.optionalString(QStringLiteral("pid")), DisplayText::name);
    rep.log = DisplayText::shown(r.optionalString(QStringLiteral("log")), DisplayText::name);
    rep.lastExitCode = DisplayText::shown(r.optionalString(QStringLiteral("last_exit_code")), DisplayText::name);
    rep.legacyLabels = r.optionalStringList(QStringLiteral("legacy_labels"));
    if (!r.ok())
        return std::nullopt;
    return rep;
}

Result interpret(int exitCode, const QString& output)
{
    const std::optional<Report> report = Report::decode(output.toUtf8());
    if (!report) {
        const QString line = shownLine(output);
        return { std::nullopt,
            line.isEmpty() ? QStringLiteral("问不到这台机器（daemon status --json 没有输出）") : line };
    }
    if (report->schema != 1)
        return { std::nullopt, QStringLiteral("daemon status 的回包版本是 %1，这一版只认 1").arg(report->schema) };
    if (exitCode != 0)
        return { std::nullopt,
            QStringLiteral("daemon status --json 退出码 %1（回包 state=%2）").arg(exitCode).arg(report->state) };
    return { report, QString() };
}

} // namespace DaemonStatus
