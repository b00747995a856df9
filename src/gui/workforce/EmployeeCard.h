#pragma once

#include "core/gateway/Records.h"
#include "core/workforce/WorkforceFacts.h"
#include "gui/design/Card.h"
#include "gui/design/KeyedReconciler.h"

#include <functional>
#include <optional>

class Chip;
class ElidedLine;
class QLabel;
class QHBoxLayout;
class QVBoxLayout;
class SecondaryButton;
class StatusBadge;
class SymbolLabel;

// One employee in the team grid: name and status, role and first skills,
// what it runs or last finished, on which runtime and whether on this
// machine, and "查看", which opens its detail. Identifier "team.card." + id.
// Updated in place: an update with the same values touches nothing.
class EmployeeCard : public Card {
    Q_OBJECT
public:
    EmployeeCard(const QString& id, std::function<void()> onOpen, QWidget* parent = nullptr);

    void setContent(const TeammateBrief& member, const WorkforceFacts& facts, bool isHere, bool selected);

    SecondaryButton* openButton() const { return m_open; }
    StatusBadge* badge() const { return m_badge; }

private:
    struct Shown {
        TeammateBrief member;
        WorkforceFacts facts;
        bool isHere = false;
        bool selected = false;
        bool operator==(const Shown&) const = default;
    };
    void updateWork(const TeammateBrief& member, const WorkforceFacts& facts);

    std::optional<Shown> m_shown;

    ElidedLine* m_name;
    StatusBadge* m_badge;
    ElidedLine* m_role;
    QWidget* m_skills;
    QHBoxLayout* m_skillRow;
    KeyedReconciler<QString, Chip> m_skillChips;

    SymbolLabel* m_machineLine;
    QVBoxLayout* m_runningList;
    KeyedReconciler<QString, SymbolLabel> m_running;
    QLabel* m_beyond;
    SymbolLabel* m_awaitingApproval;
    SymbolLabel* m_waiting;
    SymbolLabel* m_failedUpstream;
    QLabel* m_noMachine;
    QLabel* m_neverWorked;
    SymbolLabel* m_lastFinished;
    QLabel* m_sharedNote;

    Chip* m_runtime;
    Chip* m_here;
    SecondaryButton* m_open;
};
