#include "core/workforce/RuntimeServingMap.h"

#include "core/platform/BlankTrim.h"
#include "core/workforce/WorkforceIndex.h"

#include <algorithm>

namespace RuntimeServingMap {

QString kindOf(const CommandBrief& command)
{
    const QString key = trimBlanks(command.ranRuntime).toLower();
    if (key.isEmpty())
        return {};
    return RuntimeName::serverToCLIKind().value(key, key);
}

QHash<QString, QList<RuntimeServing>> build(
    const QList<CommandBrief>& commands, const QList<TeammateBrief>& team, const RuntimeCatalog& catalog)
{
    return build(WorkforceIndex(team, commands), catalog);
}

QHash<QString, QList<RuntimeServing>> build(
    const WorkforceIndex& index, const RuntimeCatalog& /*catalog: keys stay runtime kinds*/)
{
    const QList<CommandBrief>& commands = index.commands();
    auto employeeName = [&](qsizetype i) -> std::optional<QString> {
        if (commands.at(i).employeeID.isEmpty())
            return std::nullopt;
        if (const QString* name = index.rosterName(index.ownerSlot(i)))
            return *name;
        return std::nullopt;
    };
    // Commands name a handful of runtime ids: each is trimmed and mapped once.
    QHash<QString, QString> kinds;
    auto kindAt = [&](qsizetype i) -> QString {
        const CommandBrief& c = commands.at(i);
        auto it = kinds.constFind(c.ranRuntime);
        if (it == kinds.constEnd())
            it = kinds.insert(c.ranRuntime, kindOf(c));
        return *it;
    };
    // Newest first; a missing completion time is the most distant past; on
    // equal times the earlier in the list.
    auto newer = [&](qsizetype a, qsizetype b) {
        const std::optional<QDateTime>& ta = commands.at(a).completedAt;
        const std::optional<QDateTime>& tb = commands.at(b).completedAt;
        if (!tb)
            return bool(ta) || a < b;
        if (!ta)
            return false;
        if (*ta != *tb)
            return *ta > *tb;
        return a < b;
    };

    // Every running command goes in, in list order; of the finished ones only
    // the newest of each kind, and only for a kind with nothing running.
    QHash<QString, QList<RuntimeServing>> map;
    QHash<QString, qsizetype> newestOf;
    QList<qsizetype> newest;
    for (qsizetype i = 0; i < commands.size(); ++i) {
        const WorkforceIndex::Word word = index.word(i);
        const bool running = word == WorkforceIndex::Word::claimed;
        if (!running && !WorkforceIndex::isFinished(word))
            continue;
        const QString key = kindAt(i);
        // A runtime id of blanks names no runtime.
        if (key.isEmpty())
            continue;
        if (running) {
            map[key].append(RuntimeServing { employeeName(i), commands.at(i).text, true });
            continue;
        }
        const auto it = newestOf.find(key);
        if (it == newestOf.end()) {
            newestOf.insert(key, newest.size());
            newest.append(i);
        } else if (newer(i, newest.at(*it))) {
            newest[*it] = i;
        }
    }
    // In the order the newest are, as they were listed newest first.
    std::sort(newest.begin(), newest.end(), newer);
    for (const qsizetype i : std::as_const(newest)) {
        const QString key = kindAt(i);
        if (!map.contains(key))
            map.insert(key, { RuntimeServing { employeeName(i), commands.at(i).text, false } });
    }
    return map;
}

} // namespace RuntimeServingMap
