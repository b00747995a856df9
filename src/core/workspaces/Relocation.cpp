#include "core/workspaces/Relocation.h"

#include "core/gateway/CLI.h"
#include "core/gateway/Json.h"
#include "core/platform/DisplayText.h"

namespace Relocation {

QString silentToolText()
{
    return QStringLiteral("Brenlow CLI 没有回话。它可能太旧（不认识 --json），或者根本没跑起来。");
}

QStringList discoverArguments(const QString& workspace)
{
    return { QStringLiteral("workspace"), QStringLiteral("relocate"), QStringLiteral("--ws"), workspace,
        QStringLiteral("--json"), QStringLiteral("--dry-run") };
}

QStringList applyArguments(const QString& workspace, const QString& folder)
{
    return { QStringLiteral("workspace"), QStringLiteral("relocate"), QStringLiteral("--ws"), workspace, folder,
        QStringLiteral("--json") };
}

Discovery parse(const QString& output)
{
    Discovery failed;
    // The tool's words are shown in a note: cut, credentials masked.
    failed.error = output.isEmpty() ? silentToolText() : DisplayText::message(output);

    const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString key = QStringLiteral("\"ok\"");
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        if (!it->contains(key))
            continue;
        // Only this line counts: a progress line after it never hides it,
        // and a broken answer line is not skipped for an earlier one.
        const auto object = json::parseObject(it->toUtf8());
        if (!object)
            return failed;
        const json::LenientReader r(*object);
        Discovery d;
        d.ok = r.boolean(QStringLiteral("ok"));
        d.path = r.string(QStringLiteral("path"));
        // One element that is not a string drops the whole list.
        const QJsonArray candidates = r.array(QStringLiteral("candidates"));
        for (const QJsonValue& v : candidates) {
            if (!v.isString()) {
                d.candidates.clear();
                break;
            }
            d.candidates.append(v.toString());
        }
        d.error = DisplayText::message(r.string(QStringLiteral("error")));
        return d;
    }
    return failed;
}

namespace {

QCoro::Task<Discovery> runJSON(QStringList args, std::chrono::milliseconds timeLimit, const QObject* owner)
{
    const QString cut = CLI::outputCutText(args);
    auto task = CLI::runAsync(std::move(args), std::nullopt, std::nullopt, std::nullopt, timeLimit, owner);
    const CLI::Result result = co_await std::move(task);
    // Half an answer is none: a cut output would read as a refusal without reason.
    if (result.outputCut)
        co_return Discovery { false, {}, {}, cut };
    // A tool that was stopped (at the time limit, or cancelled) says so, rather
    // than showing whatever half an answer it had printed.
    if (result.failure == CLI::Failure::TimedOut || result.failure == CLI::Failure::Cancelled)
        co_return Discovery { false, {}, {}, result.error };
    // A tool that could not be run at all printed nothing.
    co_return parse(result.failed() ? QString() : result.out);
}

} // namespace

QCoro::Task<Discovery> discover(QString workspace, std::chrono::milliseconds timeLimit, const QObject* owner)
{
    auto task = runJSON(discoverArguments(workspace), timeLimit, owner);
    Discovery d = co_await std::move(task);
    co_return d;
}

QCoro::Task<Discovery> apply(
    QString workspace, QString folder, std::chrono::milliseconds timeLimit, const QObject* owner)
{
    auto task = runJSON(applyArguments(workspace, folder), timeLimit, owner);
    Discovery d = co_await std::move(task);
    co_return d;
}

} // namespace Relocation
