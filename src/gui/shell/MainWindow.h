#pragma once

#include "core/shell/WindowController.h"

#include <QCoroTask>
#include <QPointer>
#include <QWidget>

#include <memory>

class ApprovalsSheet;
class FailedTasksSheet;
class FirstRunPage;
class NoticeBanner;
class PairedPage;
class PendingCall;
class QScrollArea;
class QVBoxLayout;
class RecoverySheet;
class TeamSection;
class WindowHeader;
class WorkspaceSummaryBar;

// The application's one window: the header, the notice banner and either the
// first-run page or the paired-workspace page, drawn from the stores of its
// controller, which keeps them current. Closing the window ends the loops.
//
// The controller owns every model the views observe: it is made first and
// destroyed last, after every view and sheet (see the destructor).
class MainWindow : public QWidget {
    Q_OBJECT
public:
    using Intervals = WindowController::Intervals;
    // When the sections are made: at once, or right after the first frame
    // (the application's start, so that the window is on screen sooner).
    enum class Sections { Now, AfterFirstFrame };

    // The application's window: default intervals, sections after the first frame.
    explicit MainWindow(QWidget* parent = nullptr);
    explicit MainWindow(Intervals intervals, QWidget* parent = nullptr);
    MainWindow(Intervals intervals, Sections sections, QWidget* parent = nullptr);
    ~MainWindow() override;

    WindowController* controller() const { return m_controller.get(); }

    WindowHeader* header() const { return m_header; }
    NoticeBanner* noticeBanner() const { return m_banner; }
    // The pages and sections; null until made (see Sections).
    FirstRunPage* firstRunPage() const { return m_firstRun; }
    PairedPage* pairedPage() const { return m_paired; }
    QScrollArea* scrollArea() const { return m_scroll; }
    WorkspaceSummaryBar* summaryBar() const { return m_bar; }
    TeamSection* teamSection() const { return m_team; }
    bool sectionsBuilt() const { return m_sectionsBuilt; }
    // The open sheets; null while closed.
    ApprovalsSheet* approvalsSheet() const;
    FailedTasksSheet* failedTasksSheet() const;
    RecoverySheet* recoverySheet() const;

    // Folder picker, then the controller's pairing of the chosen folder.
    QCoro::Task<> pickFolderAndPair();
    // Scrolls the runtime section to the top of the page; nothing when the page has none.
    void jumpToRuntimes();
    // The summary bar's actions: each sheet opens window-modal over the page
    // (an open one is brought to the front); recovery also starts a run.
    void openApprovals();
    void openFailedTasks();
    void recover();

signals:
    // The sections made right after the first frame are in place (start-up).
    void sectionsReady();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void buildFrame();
    void ensurePage(bool paired);
    void buildSections();
    void queueSections(int delayMs);
    void scheduleRefresh();
    void refreshView();
    void showNotice();
    void pinView();
    // Follows the anchors; false while the page is too short for that yet.
    bool holdView();
    void showBusy();

    // First among the members; the destructor deletes the views before it goes.
    std::unique_ptr<WindowController> m_controller;

    WindowHeader* m_header = nullptr;
    QScrollArea* m_scroll = nullptr;
    NoticeBanner* m_banner = nullptr;
    FirstRunPage* m_firstRun = nullptr;
    PairedPage* m_paired = nullptr;
    WorkspaceSummaryBar* m_bar = nullptr;
    QWidget* m_column = nullptr;
    QVBoxLayout* m_stack = nullptr;
    TeamSection* m_team = nullptr;
    qreal m_contentWidth = 0;
    // What the user is looking at, below the top of the page, and its
    // ancestors on the page, each with where it was on the page; and the
    // scroll offset then (see pinView and holdView). When one of them moves,
    // the view follows the first one still shown.
    struct Anchor {
        QPointer<QWidget> widget;
        int y = 0;
    };
    QList<Anchor> m_anchors;
    int m_anchorOffset = 0;
    PendingCall* m_hold = nullptr;
    PendingCall* m_repin = nullptr;
    bool m_holding = false;
    QPointer<ApprovalsSheet> m_approvals;
    QPointer<FailedTasksSheet> m_failedTasks;
    QPointer<RecoverySheet> m_recoverySheet;
    PendingCall* m_refresh = nullptr;
    // The pairing files held a workspace when the window was made.
    bool m_pairedAtStart = false;
    bool m_sectionsBuilt = false;
    bool m_sectionsQueued = false;
};
