#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Records.h"
#include "core/workforce/WorkforceFacts.h"
#include "gui/design/KeyedReconciler.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class Chip;
class Disclosure;
class EmptyState;
class ErrorBanner;
class Marker;
class QHBoxLayout;
class QLabel;
class QVBoxLayout;
class SelectableText;
class SkillDeliverySection;
class SkillLoader;
class StatusBadge;
class Status;

// The open detail of one employee, below the team grid: who it is and where
// it works, what it has in hand (each running command with its live
// evidence), what needs the user, its skill contract, what it finished
// lately (with evidence) and the raw diagnostics.
//
// One pane per employee id: the section keeps it across reloads and hands it
// the latest values; lists inside are kept by command id, so open folds and
// running evidence polls survive. Its skill load runs when it comes on screen
// and again when the role key changes; a result for another role, or one
// that arrives after the pane is gone, is dropped. Identifier
// "employee.detail." + the employee id.
class EmployeeDetailBody : public QWidget {
    Q_OBJECT
public:
    // `status` and `cfg` go to the evidence views; without either there is no evidence.
    EmployeeDetailBody(
        const QString& employeeID, Status* status, std::optional<CLIConfig> cfg, QWidget* parent = nullptr);

    void setContent(const TeammateBrief& member, const WorkforceFacts& facts, const QString& thisMachine,
        const QList<CommandBrief>& recentFinished, const QString& employeeRole);

    SkillLoader* skillLoader() const { return m_loader; }
    SkillDeliverySection* skillSection() const { return m_skill; }
    // The evidence of a running command; null when it has none here.
    QWidget* runningRow(const QString& commandID) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildHeader(QVBoxLayout* body);
    void buildCurrentWork(QVBoxLayout* body);
    void buildAttention(QVBoxLayout* body);
    void buildSkill(QVBoxLayout* body);
    void buildRecent(QVBoxLayout* body);
    void buildDiagnostics(QVBoxLayout* body);

    void updateHeader(const TeammateBrief& member, const WorkforceFacts& facts, const QString& thisMachine);
    void updateCurrentWork(const TeammateBrief& member, const WorkforceFacts& facts);
    void updateAttention(const WorkforceFacts& facts);
    void updateRecent(const WorkforceFacts& facts, const QList<CommandBrief>& recentFinished);
    void updateDiagnostics(const TeammateBrief& member, const WorkforceFacts& facts);
    void loadSkill();
    void showSkill();

    QPointer<Status> m_status;
    std::optional<CLIConfig> m_cfg;
    QString m_role;
    bool m_loadPending = true;
    SkillLoader* m_loader;

    // header
    QLabel* m_name;
    QLabel* m_roleTitle;
    StatusBadge* m_badge;
    Chip* m_runtime;
    Chip* m_here;
    QWidget* m_skills;
    QHBoxLayout* m_skillRow;
    KeyedReconciler<QString, Chip> m_skillChips;

    // current work
    EmptyState* m_noMachine;
    QVBoxLayout* m_runningList;
    KeyedReconciler<QString> m_running;
    QLabel* m_sharedNote;
    QLabel* m_machineLine;
    QVBoxLayout* m_blockedList;
    KeyedReconciler<QString> m_blocked;
    EmptyState* m_idle;

    // needs attention
    QWidget* m_attention;
    ErrorBanner* m_offline;
    QVBoxLayout* m_failedList;
    KeyedReconciler<QString> m_failed;
    ErrorBanner* m_noRuntime;

    // skill
    Marker* m_anchor;
    QWidget* m_unmapped;
    QLabel* m_unmappedText;
    SkillDeliverySection* m_skill;

    // recent work
    QVBoxLayout* m_recentList;
    KeyedReconciler<QString> m_recent;
    EmptyState* m_noRecent;

    // diagnostics
    Disclosure* m_diagnostics;
    QList<std::pair<QLabel*, SelectableText*>> m_diagRows;
};
