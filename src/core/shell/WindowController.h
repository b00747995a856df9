#pragma once

#include "core/gateway/CLIConfig.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <optional>

class AdvancedAccess;
class AgentServiceHealth;
class RecoveryRunner;
class RelocationState;
class RuntimeController;
class RuntimeEnablement;
class RuntimeInventoryStore;
class RuntimeSectionModel;
class Status;
class WorkforceModel;
class WorkspaceCatalog;
class WorkspaceSummaryModel;

// Everything the main window does that is not drawing: it creates every model
// the window's views observe and keeps them for its lifetime (the views go
// before it, so they hold them by plain pointer), keeps them current with three loops
// (the start-up load, the 5-second poll, the 60-second service check) and a
// reload on every change of the selected workspace, and carries out the
// pairing and recovery flows with the notice and busy state they set.
//
// The loops start once and end when stopLoops() is called or the controller
// is destroyed: a sleeping loop wakes at once and ends without another pass.
// Every reload is of the workspace selected at the time it starts.
class WindowController : public QObject {
    Q_OBJECT
public:
    struct Intervals {
        std::chrono::milliseconds poll { std::chrono::seconds(5) };
        std::chrono::milliseconds health { std::chrono::seconds(60) };
    };

    explicit WindowController(QObject* parent = nullptr);
    explicit WindowController(Intervals intervals, QObject* parent = nullptr);
    ~WindowController() override;

    Status* status() const { return m_status; }
    WorkspaceCatalog* catalog() const { return m_catalog; }
    RuntimeInventoryStore* inventory() const { return m_inventory; }
    RecoveryRunner* recovery() const { return m_recovery; }
    AgentServiceHealth* serviceHealth() const { return m_serviceHealth; }
    RuntimeEnablement* enablement() const { return m_enablement; }
    RuntimeController& runtimes() const { return *m_runtimes; }
    // The facts, graph and serving map of the shown workforce, derived once
    // per publication of the status model and shared by every view.
    WorkforceModel* workforce() const { return m_workforce; }
    // The summary bar's counts and flags, and the snapshot written from them.
    WorkspaceSummaryModel* summary() const { return m_summary; }

    // The models of the page's sections, made on first use: they read their
    // stores and the key store when made, which the window leaves until its
    // sections are built, after the first frame. The runtime section's model
    // carries the custom connections' model.
    RuntimeSectionModel* runtimeSection();
    AdvancedAccess* advanced();
    RelocationState* relocation();

    // The configuration of the catalogue's selected record, or none.
    std::optional<CLIConfig> selectedConfig() const;

    bool busy() const { return m_busy; }
    const std::optional<QString>& notice() const { return m_notice; }
    bool noticeIsError() const { return m_noticeIsError; }
    // Sets (or, with none, removes) the notice.
    void setNotice(const std::optional<QString>& text, bool isError);

    // The employee whose detail the team section shows. Kept for the window's
    // lifetime: reloads and a change of workspace leave it alone, so the
    // detail comes back when an employee with that id is on the roster again.
    const std::optional<QString>& selectedEmployee() const { return m_selectedEmployee; }
    void setSelectedEmployee(const std::optional<QString>& id);
    // Opens the employee's detail, or closes it when it is the one open.
    void toggleEmployee(const QString& id);

    // Starts the loops (once).
    void startLoops();
    // Ends the loops.
    void stopLoops();
    bool loopsRunning() const { return m_loopsRunning; }

    // The companion tool's pairing of a chosen folder; the outcome goes to the
    // notice. Nothing happens while another pairing runs.
    QCoro::Task<> pair(QString folder);
    // Runs the recovery runner for the selected workspace, then reloads the
    // catalogue and the runtime enablement flags.
    QCoro::Task<> startRecovery();
    // Reloads the status model for the workspace selected now and hands the
    // reachable gateway to the catalogue: the reload that follows an action.
    QCoro::Task<> reloadSelected();
    // reloadSelected() as a function for views that outlive nothing: it does
    // nothing once the controller is gone.
    std::function<QCoro::Task<>()> reloader();
    // Re-reads the per-kind enabled flags for the inventory's rows.
    void reloadRuntimeEnabled();

    // Tests shorten the pairing run's time limit.
    void setPairTimeLimit(std::chrono::milliseconds limit) { m_pairTimeLimit = limit; }

signals:
    // Each loop pass and reload has finished (for tests and automation).
    void initialLoadFinished();
    void pollPassFinished();
    void healthPassFinished();
    void selectionReloadFinished();
    void pairingFinished();
    void recoveryFinished();
    void storedFilesChecked();
    void noticeChanged();
    void busyChanged();
    void selectedEmployeeChanged();
    // Any store the window shows has published a change.
    void modelChanged();
    // Wakes sleeping loops so that they end now.
    void loopsStopped();

private:
    void setBusy(bool busy);
    // The controller is still there and its loops run (checked after every suspension).
    static bool looping(const QPointer<WindowController>& self) { return self && self->m_loopsRunning; }

    QCoro::Task<> initialLoad();
    // Looks at the stored files once and says in the notice which cannot be read.
    QCoro::Task<> checkStoredFiles();
    QCoro::Task<> pollLoop();
    QCoro::Task<> healthLoop();
    QCoro::Task<> selectionReload();
    // Sleeps for `duration`, or less when the loops are stopped meanwhile.
    QCoro::Task<> pause(std::chrono::milliseconds duration);

    Intervals m_intervals;
    Status* m_status;
    WorkspaceCatalog* m_catalog;
    RuntimeController* m_runtimes;
    RuntimeInventoryStore* m_inventory;
    RecoveryRunner* m_recovery;
    AgentServiceHealth* m_serviceHealth;
    RuntimeEnablement* m_enablement;
    WorkforceModel* m_workforce;
    WorkspaceSummaryModel* m_summary;
    AdvancedAccess* m_advanced = nullptr;
    RuntimeSectionModel* m_runtimeSection = nullptr;
    RelocationState* m_relocation = nullptr;

    bool m_busy = false;
    std::optional<QString> m_notice;
    bool m_noticeIsError = false;
    // The tool runs of the inventory started before the notice was set.
    quint64 m_noticeAfterRun = 0;
    std::optional<QString> m_selectedEmployee;

    bool m_loopsStarted = false;
    bool m_loopsRunning = false;
    // The start-up load's catalogue reload is under way (the companion tool's
    // run may take many seconds). The catalogue settling the selection then is
    // not a user's change: the start-up load reloads afterwards anyway. A user's
    // pick meanwhile still reloads at once.
    bool m_initialSync = false;
    std::chrono::milliseconds m_pairTimeLimit;
};
