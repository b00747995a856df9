#pragma once

#include "core/gateway/Records.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// The roster and the command list indexed once per derivation, shared by the
// facts, the collaboration graph and the serving map: each command found by
// its id, each employee id (of the roster or of a command) turned into a small
// number, its slot, and each command's status word into a code, so the inner
// loops compare numbers instead of hashing and comparing strings again.
//
// It refers to the two lists it was built from: they must outlive it unchanged.
class WorkforceIndex {
public:
    // The status words the derivations tell apart; `other` for every other word.
    enum class Word : quint8 {
        other,
        claimed,
        blocked,
        dependencyFailed,
        runtimeUnavailable,
        done,
        failed,
        unsupported
    };

    WorkforceIndex(const QList<TeammateBrief>& team, const QList<CommandBrief>& commands);
    WorkforceIndex(const WorkforceIndex&) = delete;
    WorkforceIndex& operator=(const WorkforceIndex&) = delete;

    const QList<TeammateBrief>& team() const { return m_team; }
    const QList<CommandBrief>& commands() const { return m_commands; }

    // The position of the first command with this id; -1 when no command has it.
    qsizetype firstWithID(const QString& id) const { return m_firstByID.value(id, -1); }
    Word word(qsizetype command) const { return m_words.at(command); }
    // The slot of the command's employee id (an empty id has one too).
    int ownerSlot(qsizetype command) const { return m_owners.at(command); }
    // The slot of an employee id; -1 when neither the roster nor a command names it.
    int slotOf(const QString& employeeID) const { return m_slots.value(employeeID, -1); }
    int slotCount() const { return int(m_names.size()); }
    // The name of the first teammate with the slot's id; null when the id is not on the roster.
    const QString* rosterName(int slot) const
    {
        const std::optional<QString>& name = m_names.at(slot);
        return name ? &*name : nullptr;
    }

    static Word wordOf(const QString& status);
    // Done, failed, unsupported or failed on a dependency.
    static bool isFinished(Word w)
    {
        return w == Word::done || w == Word::failed || w == Word::unsupported || w == Word::dependencyFailed;
    }
    // Failed, unsupported or failed on a dependency.
    static bool isFailure(Word w) { return w == Word::failed || w == Word::unsupported || w == Word::dependencyFailed; }

private:
    int intern(const QString& employeeID, const std::optional<QString>& name);

    const QList<TeammateBrief>& m_team;
    const QList<CommandBrief>& m_commands;
    QHash<QString, qsizetype> m_firstByID;
    QHash<QString, int> m_slots;
    QList<std::optional<QString>> m_names; // by slot
    QList<Word> m_words; // by command
    QList<int> m_owners; // by command
};
