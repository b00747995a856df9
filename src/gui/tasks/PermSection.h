#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Records.h"
#include "core/tasks/PermPresentation.h"

#include <QCoroTask>
#include <QDateTime>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class PermActions;
class PendingCall;
class PermList;
class RunnersCard;
class RuntimeInventoryStore;
class RuntimeStateCard;
class Status;
class TasksCard;

// "当前工作区的 Runtime 与权限": what the workspace's executor is doing now,
// the machines that run it, the latest tasks and the six permission tiers with
// their actions. Follows the status model (and the local runtime inventory
// for the tiers they cannot enforce), updating in place on every reload.
class PermSection : public QWidget {
    Q_OBJECT
public:
    // `reload` follows every action (the window's reload of the workspace
    // selected then); `inventory` may be null.
    PermSection(Status* status, RuntimeInventoryStore* inventory, std::function<QCoro::Task<>()> reload = {},
        QWidget* parent = nullptr);

    RuntimeStateCard* runtimeCard() const { return m_runtime; }
    RunnersCard* runnersCard() const { return m_runners; }
    TasksCard* tasksCard() const { return m_tasks; }
    PermList* permList() const { return m_perms; }
    PermActions* actions() const { return m_actions; }

    // Redraws from the models now (a change is otherwise drawn on the next turn of the event loop).
    void refresh();

signals:
    // When an action has ended (for tests and automation): after the reload
    // that follows it, or at once when it did not run.
    void actionFinished(const QString& key);

private:
    void scheduleRefresh();
    void refreshPerms();
    void onAction(const PermRow& row, PermPresentation::PermButton::Action action);
    // The irreversible tier: a critical alert first; "算了" (or closing it) does nothing.
    QCoro::Task<> confirmThen(QString message, QString informative, QString confirm, std::function<void()> act);

    QPointer<Status> m_status;
    QPointer<RuntimeInventoryStore> m_inventory;
    PermActions* m_actions;
    PendingCall* m_refresh;
    RuntimeStateCard* m_runtime;
    RunnersCard* m_runners;
    TasksCard* m_tasks;
    PermList* m_perms;
    // The configuration the tiers on screen were read with; none while none are.
    std::optional<CLIConfig> m_drawnFor;
};
