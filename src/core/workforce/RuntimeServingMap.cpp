#include "core/workforce/RuntimeServingMap.h"

#include "core/workforce/BlankTrim.h"

#include <algorithm>

namespace RuntimeServingMap {

QString kindOf(const CommandBrief& command)
{
    const QString key = trimBlanks(command.ranRuntime).toLower();
    if (key.isEmpty())
        return {};
    return RuntimeName::serverToCLIKind().value(key, key);
}

QHash<QString, QList<RuntimeServing>> build(const QList<CommandBrief>& commands, const QList<TeammateBrief>& team,
    const RuntimeCatalog& /*catalog: keys stay runtime kinds*/)
{
    QHash<QString, QString> nameOf;
    for (const TeammateBrief& t : team) {
        if (!nameOf.contains(t.id))
            nameOf.insert(t.id, t.name);
    }
    auto employeeName = [&nameOf](const CommandBrief& c) -> std::optional<QString> {
        if (c.employeeID.isEmpty())
            return std::nullopt;
        const auto it = nameOf.constFind(c.employeeID);
        if (it == nameOf.constEnd())
            return std::nullopt;
        return *it;
    };

    // A runtime id of blanks names no runtime.
    QList<const CommandBrief*> running;
    QList<const CommandBrief*> finished;
    static const QStringList finishedWords { QStringLiteral("done"), QStringLiteral("failed"),
        QStringLiteral("unsupported"), QStringLiteral("dependency_failed") };
    for (const CommandBrief& c : commands) {
        if (kindOf(c).isEmpty())
            continue;
        if (c.status == QLatin1String("claimed"))
            running.append(&c);
        else if (finishedWords.contains(c.status))
            finished.append(&c);
    }
    // Newest first; a missing completion time is the most distant past.
    std::stable_sort(finished.begin(), finished.end(), [](const CommandBrief* a, const CommandBrief* b) {
        if (!b->completedAt)
            return bool(a->completedAt);
        return a->completedAt && *a->completedAt > *b->completedAt;
    });

    QHash<QString, QList<RuntimeServing>> map;
    for (const CommandBrief* c : running)
        map[kindOf(*c)].append(RuntimeServing { employeeName(*c), c->text, true });
    for (const CommandBrief* c : finished) {
        const QString key = kindOf(*c);
        if (!map.contains(key))
            map.insert(key, { RuntimeServing { employeeName(*c), c->text, false } });
    }
    return map;
}

} // namespace RuntimeServingMap
