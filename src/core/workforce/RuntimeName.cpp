#include "core/workforce/RuntimeName.h"

#include "core/platform/BlankTrim.h"

namespace {

const QHash<QString, QString>& fallbackDisplay()
{
    static const QHash<QString, QString> table {
        { QStringLiteral("claude"), QStringLiteral("Claude Code") },
        { QStringLiteral("codex"), QStringLiteral("Codex") },
        { QStringLiteral("gemini"), QStringLiteral("Gemini CLI") },
        { QStringLiteral("agy"), QStringLiteral("Antigravity") },
        { QStringLiteral("qwen"), QStringLiteral("Qwen Code") },
        { QStringLiteral("codebuddy"), QStringLiteral("CodeBuddy / WorkBuddy") },
        { QStringLiteral("opencode"), QStringLiteral("OpenCode") },
        { QStringLiteral("kimi"), QStringLiteral("Kimi Code") },
        { QStringLiteral("mimo"), QStringLiteral("MiMo Code") },
        { QStringLiteral("pi"), QStringLiteral("Pi") },
        { QStringLiteral("generic"), QStringLiteral("本机自定义 Agent") },
    };
    return table;
}

} // namespace

namespace RuntimeName {

const QHash<QString, QString>& serverToCLIKind()
{
    static const QHash<QString, QString> table {
        { QStringLiteral("claude-code"), QStringLiteral("claude") },
        { QStringLiteral("antigravity-cli"), QStringLiteral("agy") },
        { QStringLiteral("gemini-cli"), QStringLiteral("gemini") },
        { QStringLiteral("kimi-code"), QStringLiteral("kimi") },
        { QStringLiteral("qwen-code"), QStringLiteral("qwen") },
        { QStringLiteral("mimo-code"), QStringLiteral("mimo") },
        { QStringLiteral("codebuddy-code"), QStringLiteral("codebuddy") },
        { QStringLiteral("codex"), QStringLiteral("codex") },
        { QStringLiteral("opencode"), QStringLiteral("opencode") },
        { QStringLiteral("pi"), QStringLiteral("pi") },
        { QStringLiteral("generic"), QStringLiteral("generic") },
    };
    return table;
}

QString friendly(const QString& id, const RuntimeCatalog& catalog)
{
    const QString trimmed = trimBlanks(id);
    if (trimmed.isEmpty())
        return {};
    const QString kind = serverToCLIKind().value(trimmed, trimmed);
    if (const auto it = catalog.constFind(kind); it != catalog.constEnd())
        return *it;
    if (const auto it = fallbackDisplay().constFind(kind); it != fallbackDisplay().constEnd())
        return *it;
    return trimmed;
}

} // namespace RuntimeName
