#include "core/workforce/WorkforceIndex.h"

WorkforceIndex::WorkforceIndex(const QList<TeammateBrief>& team, const QList<CommandBrief>& commands)
    : m_team(team)
    , m_commands(commands)
{
    const qsizetype n = commands.size();
    // Backwards, so that the first command of a repeated id is the one kept.
    m_firstByID.reserve(n);
    for (qsizetype i = n - 1; i >= 0; --i)
        m_firstByID.insert(commands.at(i).id, i);

    // Roster ids first: a slot names the first teammate with its id.
    m_slots.reserve(team.size() + 16);
    for (const TeammateBrief& t : team)
        intern(t.id, t.name);
    m_words.reserve(n);
    m_owners.reserve(n);
    for (const CommandBrief& c : commands) {
        m_words.append(wordOf(c.status));
        m_owners.append(intern(c.employeeID, std::nullopt));
    }
}

int WorkforceIndex::intern(const QString& employeeID, const std::optional<QString>& name)
{
    const int next = int(m_names.size());
    int& slot = m_slots[employeeID];
    if (m_slots.size() > next) {
        slot = next;
        m_names.append(name);
    }
    return slot;
}

WorkforceIndex::Word WorkforceIndex::wordOf(const QString& status)
{
    if (status == QLatin1String("done"))
        return Word::done;
    if (status == QLatin1String("claimed"))
        return Word::claimed;
    if (status == QLatin1String("failed"))
        return Word::failed;
    if (status == QLatin1String("blocked"))
        return Word::blocked;
    if (status == QLatin1String("dependency_failed"))
        return Word::dependencyFailed;
    if (status == QLatin1String("unsupported"))
        return Word::unsupported;
    if (status == QLatin1String("runtime_unavailable"))
        return Word::runtimeUnavailable;
    return Word::other;
}
