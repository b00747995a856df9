#include "core/workforce/SkillBridge.h"

#include "core/gateway/CLI.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace SkillBridge {

QStringList arguments(const QString& role)
{
    return { QStringLiteral("employee"), QStringLiteral("evidence"), role, QStringLiteral("--json") };
}

QString firstLine(const QString& text)
{
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.isEmpty() ? QStringLiteral("CLI 没有说明原因") : lines.first();
}

Result interpret(int exitCode, const QString& output)
{
    if (exitCode != 0)
        return LoadError { firstLine(output) };
    const qsizetype brace = output.indexOf(QLatin1Char('{'));
    if (brace < 0)
        return LoadError { QStringLiteral("CLI 没有输出 JSON") };
    // Everything from the brace on: a warning printed after the JSON is a
    // decoding failure, as it would be for any strict JSON reader.
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(output.mid(brace).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return LoadError { error.errorString() };
    auto view = EmployeeSkillView::fromJson(doc.isObject() ? QJsonValue(doc.object()) : QJsonValue());
    if (!view)
        return LoadError { QStringLiteral("the data is not an object") };
    return *view;
}

Result load(const QString& role, const std::optional<CLIConfig>& config, std::chrono::milliseconds timeLimit,
    std::shared_ptr<ProcessGroup> group)
{
    const CLI::Result run = CLI::run(arguments(role), std::nullopt, config, std::nullopt, timeLimit, std::move(group));
    if (run.failed())
        return LoadError { run.error };
    if (run.outputCut)
        return LoadError { CLI::outputCutText(arguments(role)) };
    return interpret(run.code, run.out);
}

} // namespace SkillBridge
