#pragma once

#include "core/gateway/CLIConfig.h"

#include <QCoroTask>
#include <QMap>
#include <QPointer>

#include <functional>
#include <QWidget>

#include <chrono>
#include <optional>

class AgentServiceHealth;
class ApprovalsSheet;
class FailedTasksSheet;
class RecoverySheet;
class WorkspaceSummaryBar;
class FirstRunPage;
class LiveTaskBoard;
class NoticeBanner;
class PairedPage;
class QScrollArea;
class QStackedWidget;
class QTimer;
class RecoveryRunner;
class RuntimeController;
class RuntimeEnablement;
class RuntimeInventoryStore;
class Status;
class WindowHeader;
class WorkspaceCatalog;

// The application's one window. It creates its stores once and keeps them for
// its lifetime, keeps them current with three loops (the start-up load, the
// 5-second poll, the 60-second service check) and a reload on every change of
// the selected workspace, and shows the header, the notice banner and either
// the first-run page or the paired-workspace page.
//
// The loops start when the window is first shown and end when it is closed or
// destroyed: a sleeping loop wakes at once and ends without another pass.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    struct Intervals {
        std::chrono::milliseconds poll { std::chrono::seconds(5) };
        std::chrono::milliseconds health { std::chrono::seconds(60) };
    };

    explicit MainWindow(QWidget* parent = nullptr);
    explicit MainWindow(Intervals intervals, QWidget* parent = nullptr);
    ~MainWindow() override;

    Status* status() const { return m_status; }
    WorkspaceCatalog* catalog() const { return m_catalog; }
    RuntimeInventoryStore* inventory() const { return m_inventory; }
    RecoveryRunner* recovery() const { return m_recovery; }
    AgentServiceHealth* serviceHealth() const { return m_serviceHealth; }
    RuntimeEnablement* enablement() const { return m_enablement; }
    RuntimeController& runtimes() const { return *m_runtimes; }

    WindowHeader* header() const { return m_header; }
    NoticeBanner* noticeBanner() const { return m_banner; }
    FirstRunPage* firstRunPage() const { return m_firstRun; }
    PairedPage* pairedPage() const { return m_paired; }
    QScrollArea* scrollArea() const { return m_scroll; }
    WorkspaceSummaryBar* summaryBar() const { return m_bar; }
    LiveTaskBoard* liveBoard() const { return m_board; }
    // The open sheets; null while closed.
    ApprovalsSheet* approvalsSheet() const;
    FailedTasksSheet* failedTasksSheet() const;
    RecoverySheet* recoverySheet() const;

    // The configuration of the catalogue's selected record, or none.
    std::optional<CLIConfig> selectedConfig() const;

    bool busy() const { return m_busy; }
    const std::optional<QString>& notice() const { return m_notice; }
    bool noticeIsError() const { return m_noticeIsError; }
    // Shows (or, with none, removes) the notice banner.
    void setNotice(const std::optional<QString>& text, bool isError);

    // Starts the loops (once); the first show does it.
    void startLoops();
    // Ends the loops; closing the window does it.
    void stopLoops();
    bool loopsRunning() const { return m_loopsRunning; }

    // Folder picker, then the companion tool's pairing of the chosen folder;
    // the outcome goes to the notice banner.
    QCoro::Task<> pickFolderAndPair();
    // Runs the recovery runner for the selected workspace, then reloads the
    // catalogue and the runtime enablement flags. Not tied to the window's
    // loops: closing the recovery sheet does not stop it.
    QCoro::Task<> startRecovery();
    // Re-reads the per-kind enabled flags for the inventory's rows.
    void reloadRuntimeEnabled();
    // Scrolls the runtime section to the top of the page; nothing when the page has none.
    void jumpToRuntimes();
    // The summary bar's actions: each sheet opens window-modal over the page
    // (an open one is brought to the front); recovery also starts a run.
    void openApprovals();
    void openFailedTasks();
    void recover();

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
    void noticeChanged();
    void busyChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    void connectModels();
    void scheduleRefresh();
    void refreshView();
    void setBusy(bool busy);

    // Loop bodies; `generation` identifies the run of loops they belong to.
    QCoro::Task<> initialLoad(quint64 generation);
    QCoro::Task<> pollLoop(quint64 generation);
    QCoro::Task<> healthLoop(quint64 generation);
    QCoro::Task<> selectionReload(quint64 generation);
    // Sleeps for `duration`, or less when the loops are stopped meanwhile.
    QCoro::Task<> pause(std::chrono::milliseconds duration);
    // Liveness checks after a suspension. Coroutines hold the window's raw
    // pointer with its instance stamp (or a loop generation); both stamps are
    // unique in the process, so a new window at the same address never passes.
    static bool live(const MainWindow* window, quint64 instance);
    static bool alive(const MainWindow* window, quint64 generation);
    static QCoro::Task<> reloadStatusFor(MainWindow* window, quint64 instance);
    // Reloads the status model for the selection as it is now, then hands the
    // reachable gateway to the catalogue; false when `stillWanted` says the
    // window (or the work) went away meanwhile.
    QCoro::Task<bool> reloadAndPublish(std::function<bool()> stillWanted);

    Intervals m_intervals;
    quint64 m_instance;
    Status* m_status;
    WorkspaceCatalog* m_catalog;
    RuntimeController* m_runtimes;
    RuntimeInventoryStore* m_inventory;
    RecoveryRunner* m_recovery;
    AgentServiceHealth* m_serviceHealth;
    RuntimeEnablement* m_enablement;

    bool m_busy = false;
    std::optional<QString> m_notice;
    bool m_noticeIsError = false;

    bool m_loopsStarted = false;
    bool m_loopsRunning = false;
    quint64 m_generation = 0;
    // The start-up load settles the selection itself; that is not a user's change.
    bool m_initialSync = false;
    std::chrono::milliseconds m_pairTimeLimit;

    WindowHeader* m_header = nullptr;
    QScrollArea* m_scroll = nullptr;
    NoticeBanner* m_banner = nullptr;
    QStackedWidget* m_pages = nullptr;
    FirstRunPage* m_firstRun = nullptr;
    PairedPage* m_paired = nullptr;
    WorkspaceSummaryBar* m_bar = nullptr;
    LiveTaskBoard* m_board = nullptr;
    QPointer<ApprovalsSheet> m_approvals;
    QPointer<FailedTasksSheet> m_failedTasks;
    QPointer<RecoverySheet> m_recoverySheet;
    QTimer* m_refresh = nullptr;

signals:
    // Wakes sleeping loops so that they end now.
    void loopsStopped();
};
