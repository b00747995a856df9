#include "gui/shell/MainWindow.h"

#include "core/design/DS.h"
#include "core/gateway/CLI.h"
#include "core/gateway/Status.h"
#include "core/platform/ReduceMotion.h"
#include "core/providers/CredentialRedaction.h"
#include "core/runtimes/AgentServiceHealth.h"
#include "core/runtimes/RecoveryRunner.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeEnablement.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/shell/WorkspaceSummary.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/platform/Prompts.h"
#include "gui/runtimes/RecoverySheet.h"
#include "gui/shell/AboutSection.h"
#include "gui/shell/FirstRunPage.h"
#include "gui/shell/NoticeBanner.h"
#include "gui/shell/PairedPage.h"
#include "gui/shell/WindowHeader.h"
#include "gui/shell/WorkspaceSummaryBar.h"
#include "gui/tasks/ApprovalsSheet.h"
#include "gui/tasks/FailedTasksSheet.h"

#include <QCloseEvent>
#include <QCoroTimer>
#include <QDialog>
#include <QHBoxLayout>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The content column's widest extent, padding excluded.
constexpr int kColumnWidth = 1180;
constexpr int kPadding = 20;

// The last `count` characters of a text, counted in code points so that a
// character outside the basic plane is never cut in half.
QString tail(const QString& text, int count)
{
    int start = text.size();
    for (int taken = 0; start > 0 && taken < count; ++taken) {
        --start;
        if (start > 0 && text.at(start).isLowSurrogate() && text.at(start - 1).isHighSurrogate())
            --start;
    }
    return text.mid(start);
}

// Texts and argument lists live outside the coroutines below: g++ 12 cannot
// keep a QStringLiteral's array in a coroutine frame.
QStringList pairArgs(const QString& folder)
{
    return { QStringLiteral("pair"), QStringLiteral("--path"), folder, QStringLiteral("--grant"),
        QStringLiteral("read") };
}

QString pairPrompt()
{
    return QStringLiteral("配对");
}

QString pairFailed(const QString& output)
{
    // The tool's words are shown as they are, so a token it echoed is masked first.
    return QStringLiteral("配对失败：") + tail(CredentialRedaction::redact(output), 200);
}

QString pairSucceeded()
{
    return QStringLiteral("工作区已加入；现有工作区与 Runtime 没有停止");
}

QString scrollStyle()
{
    return QStringLiteral("QScrollBar:vertical { background: transparent; width: 10px; margin: 2px; }"
                          "QScrollBar::handle:vertical { background: %1; border-radius: 3px; min-height: 32px; }"
                          "QScrollBar::handle:vertical:hover { background: %2; }"
                          "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                          "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }")
        .arg(DS::muted(0.18).name(QColor::HexArgb), DS::muted(0.3).name(QColor::HexArgb));
}

// Every window alive now, with its instance stamp.
QHash<const MainWindow*, quint64>& liveWindows()
{
    static QHash<const MainWindow*, quint64> windows;
    return windows;
}

quint64 nextStamp()
{
    static quint64 stamp = 0;
    return ++stamp;
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : MainWindow(Intervals {}, parent)
{
}

MainWindow::MainWindow(Intervals intervals, QWidget* parent)
    : QWidget(parent)
    , m_intervals(intervals)
    , m_instance(nextStamp())
    , m_status(new Status(this))
    , m_catalog(new WorkspaceCatalog(this))
    , m_runtimes(&RuntimeController::shared())
    , m_inventory(new RuntimeInventoryStore(this))
    , m_recovery(new RecoveryRunner(this))
    , m_serviceHealth(new AgentServiceHealth(this))
    , m_enablement(new RuntimeEnablement(this))
    , m_pairTimeLimit(CLI::defaultTimeLimit)
{
    liveWindows().insert(this, m_instance);
    setObjectName(QStringLiteral("main.window"));
    setWindowTitle(QStringLiteral("Tolvarine Desktop"));
    setMinimumSize(640, 520);
    resize(840, 720);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, DS::bg());
    p.setColor(QPalette::Base, DS::bg());
    p.setColor(QPalette::WindowText, DS::ink());
    p.setColor(QPalette::Text, DS::ink());
    p.setColor(QPalette::ButtonText, DS::ink());
    p.setColor(QPalette::ToolTipBase, DS::bg().lighter(140));
    p.setColor(QPalette::ToolTipText, DS::ink());
    setPalette(p);

    m_refresh = new QTimer(this);
    m_refresh->setSingleShot(true);
    m_refresh->setInterval(0);
    connect(m_refresh, &QTimer::timeout, this, &MainWindow::refreshView);

    build();
    connectModels();
    refreshView();
}

MainWindow::~MainWindow()
{
    stopLoops();
    liveWindows().remove(this);
}

void MainWindow::build()
{
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    m_header = new WindowHeader(this);
    root->addWidget(m_header);
    connect(m_header, &WindowHeader::workspaceChosen, m_catalog, &WorkspaceCatalog::setSelectedID);
    connect(m_header, &WindowHeader::addRequested, this, [this] { pickFolderAndPair(); });

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("main.scroll"));
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Only the bar gets a style sheet: one on the scroll area would stop the
    // palette from reaching the page's labels.
    m_scroll->verticalScrollBar()->setStyleSheet(scrollStyle());
    m_scroll->viewport()->setAutoFillBackground(false);
    root->addWidget(m_scroll, 1);

    // The page column follows the window's width up to its widest, flush left.
    auto* canvas = new QWidget;
    canvas->setAutoFillBackground(false);
    auto* canvasRow = new QHBoxLayout(canvas);
    canvasRow->setContentsMargins(0, 0, 0, 0);
    canvasRow->setSpacing(0);
    auto* column = new QWidget(canvas);
    column->setObjectName(QStringLiteral("main.column"));
    column->setMaximumWidth(kColumnWidth + 2 * kPadding);
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    stack->setSpacing(18);
    canvasRow->addWidget(column, 1);
    canvasRow->addStretch(0);

    m_banner = new NoticeBanner(column);
    m_banner->hide();
    connect(m_banner, &NoticeBanner::dismissed, this, [this] { setNotice(std::nullopt, m_noticeIsError); });
    stack->addWidget(m_banner);

    m_pages = new QStackedWidget(column);
    m_firstRun = new FirstRunPage;
    connect(m_firstRun, &FirstRunPage::pairRequested, this, [this] { pickFolderAndPair(); });
    m_paired = new PairedPage;
    m_bar = new WorkspaceSummaryBar;
    auto* barSlot = new QWidget;
    auto* barRow = new QHBoxLayout(barSlot);
    barRow->setContentsMargins(20, 0, 20, 0);
    barRow->addWidget(m_bar);
    m_paired->setSection(PairedPage::SummaryBar, barSlot);
    connect(m_bar, &WorkspaceSummaryBar::runtimesRequested, this, &MainWindow::jumpToRuntimes);
    connect(m_bar, &WorkspaceSummaryBar::approvalsRequested, this, &MainWindow::openApprovals);
    connect(m_bar, &WorkspaceSummaryBar::failedTasksRequested, this, &MainWindow::openFailedTasks);
    connect(m_bar, &WorkspaceSummaryBar::recoveryRequested, this, &MainWindow::recover);
    m_pages->addWidget(m_firstRun);
    m_pages->addWidget(m_paired);
    stack->addWidget(m_pages);
    stack->addStretch(1);

    m_scroll->setWidget(canvas);
}

void MainWindow::connectModels()
{
    connect(m_status, &Status::changed, this, &MainWindow::scheduleRefresh);
    connect(m_catalog, &WorkspaceCatalog::recordsChanged, this, &MainWindow::scheduleRefresh);
    connect(m_catalog, &WorkspaceCatalog::selectionChanged, this, &MainWindow::scheduleRefresh);
    connect(m_inventory, &RuntimeInventoryStore::changed, this, &MainWindow::scheduleRefresh);
    connect(m_inventory, &RuntimeInventoryStore::refreshed, this, &MainWindow::reloadRuntimeEnabled);
    connect(m_serviceHealth, &AgentServiceHealth::changed, this, &MainWindow::scheduleRefresh);
    connect(m_enablement, &RuntimeEnablement::changed, this, &MainWindow::scheduleRefresh);
    connect(m_enablement, &RuntimeEnablement::notice, this,
        [this](const QString& text, bool isError) { setNotice(text, isError); });
    connect(m_runtimes, &RuntimeController::workersChanged, this, &MainWindow::scheduleRefresh);

    // A change of the selected workspace reloads the status model at once;
    // setting the value it already has is no change.
    connect(m_catalog, &WorkspaceCatalog::selectionChanged, this, [this] {
        if (m_loopsRunning && !m_initialSync)
            selectionReload(m_generation);
    });
}

std::optional<CLIConfig> MainWindow::selectedConfig() const
{
    if (const std::optional<WorkspaceRecord> r = m_catalog->selected())
        return r->config;
    return std::nullopt;
}

void MainWindow::scheduleRefresh()
{
    if (!m_refresh->isActive())
        m_refresh->start();
}

void MainWindow::refreshView()
{
    m_refresh->stop();
    const QList<WorkspaceRecord>& records = m_catalog->records();
    const std::optional<CLIConfig> selected = selectedConfig();

    m_header->setWorkspaces(records, selected ? selected->workspace : QString());
    m_header->setPresence(m_status->presence());
    m_header->setBusy(m_busy);
    m_firstRun->setBusy(m_busy);

    // The bar holds the current summary before it is shown (it writes the
    // snapshot when shown and on every change while visible).
    m_bar->setSummary(WorkspaceSummary::compute(
        *m_status, *m_catalog, *m_inventory, m_enablement->enabled(), *m_runtimes, *m_serviceHealth));

    QWidget* page = records.isEmpty() ? static_cast<QWidget*>(m_firstRun) : m_paired;
    if (m_pages->currentWidget() != page || page->sizePolicy().verticalPolicy() == QSizePolicy::Ignored) {
        // The hidden page must not size the scroll area: only the shown one counts.
        for (QWidget* each : { static_cast<QWidget*>(m_firstRun), static_cast<QWidget*>(m_paired) })
            each->setSizePolicy(QSizePolicy::Preferred, each == page ? QSizePolicy::Preferred : QSizePolicy::Ignored);
        m_pages->setCurrentWidget(page);
    }
    m_firstRun->about()->setWorkspace(selected, m_status->endpointNote());
    m_paired->about()->setWorkspace(selected, m_status->endpointNote());
}

void MainWindow::setNotice(const std::optional<QString>& text, bool isError)
{
    m_notice = text;
    m_noticeIsError = isError;
    if (text) {
        m_banner->setNotice(*text, isError);
        m_banner->show();
    } else {
        m_banner->hide();
    }
    emit noticeChanged();
}

void MainWindow::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    m_header->setBusy(busy);
    m_firstRun->setBusy(busy);
    emit busyChanged();
}

// --- loops -------------------------------------------------------------------

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    startLoops();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    stopLoops();
    // An open sheet must not keep the application alive once its window is closed.
    for (QDialog* sheet : { static_cast<QDialog*>(m_approvals.data()), static_cast<QDialog*>(m_failedTasks.data()),
             static_cast<QDialog*>(m_recoverySheet.data()) })
        if (sheet)
            sheet->reject();
    QWidget::closeEvent(event);
}

void MainWindow::startLoops()
{
    if (m_loopsStarted)
        return;
    m_loopsStarted = true;
    m_loopsRunning = true;
    m_generation = nextStamp();
    const quint64 generation = m_generation;
    // The poll's first sleep starts together with the start-up load.
    initialLoad(generation);
    pollLoop(generation);
    healthLoop(generation);
    // The runtime inventory's first load belongs to the runtime section; until
    // the page has one, the window asks once so that the summary has rows.
    m_inventory->refresh();
}

void MainWindow::stopLoops()
{
    if (!m_loopsRunning)
        return;
    m_loopsRunning = false;
    m_generation = 0;
    emit loopsStopped();
}

bool MainWindow::live(const MainWindow* window, quint64 instance)
{
    const auto it = liveWindows().constFind(window);
    return it != liveWindows().cend() && it.value() == instance;
}

bool MainWindow::alive(const MainWindow* window, quint64 generation)
{
    return liveWindows().contains(window) && window->m_loopsRunning && window->m_generation == generation;
}

QCoro::Task<> MainWindow::pause(std::chrono::milliseconds duration)
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    // Stopping the loops fires the timer now, so that the loop ends at once.
    connect(this, &MainWindow::loopsStopped, &timer, [&timer] { timer.start(0); });
    timer.start(duration);
    co_await qCoro(timer).waitForTimeout();
}

QCoro::Task<> MainWindow::initialLoad(quint64 generation)
{
    MainWindow* self = this;
    const quint64 instance = m_instance;
    m_initialSync = true;
    co_await m_catalog->reload(true);
    if (!live(self, instance))
        co_return;
    m_initialSync = false;
    if (!alive(self, generation))
        co_return;
    if (!co_await reloadAndPublish([self, generation] { return alive(self, generation); }))
        co_return;
    emit initialLoadFinished();
}

QCoro::Task<> MainWindow::pollLoop(quint64 generation)
{
    MainWindow* self = this;
    while (alive(self, generation)) {
        co_await pause(m_intervals.poll);
        if (!alive(self, generation))
            co_return;
        co_await m_catalog->reload(false);
        if (!alive(self, generation))
            co_return;
        if (!co_await reloadAndPublish([self, generation] { return alive(self, generation); }))
            co_return;
        emit pollPassFinished();
    }
}

QCoro::Task<> MainWindow::healthLoop(quint64 generation)
{
    MainWindow* self = this;
    co_await m_serviceHealth->refresh();
    if (!alive(self, generation))
        co_return;
    emit healthPassFinished();
    for (;;) {
        co_await pause(m_intervals.health);
        if (!alive(self, generation))
            co_return;
        m_inventory->refresh();
        co_await m_serviceHealth->refresh();
        if (!alive(self, generation))
            co_return;
        emit healthPassFinished();
    }
}

QCoro::Task<> MainWindow::selectionReload(quint64 generation)
{
    MainWindow* self = this;
    if (!co_await reloadAndPublish([self, generation] { return alive(self, generation); }))
        co_return;
    emit selectionReloadFinished();
}

// --- user actions --------------------------------------------------------------

QCoro::Task<> MainWindow::pickFolderAndPair()
{
    if (m_busy)
        co_return;
    MainWindow* self = this;
    const quint64 instance = m_instance;
    const std::optional<QString> folder = co_await Prompts::shared().pickFolder(this, pairPrompt(), QString());
    if (!live(self, instance) || !folder || folder->isEmpty() || m_busy)
        co_return;

    setBusy(true);
    const CLI::Result result
        = co_await CLI::runAsync(pairArgs(*folder), *folder, std::nullopt, std::nullopt, m_pairTimeLimit);
    if (!live(self, instance))
        co_return;
    setBusy(false);

    if (result.failure == CLI::Failure::NotFound || result.failure == CLI::Failure::CouldNotStart) {
        // The tool never ran: nothing changed anywhere, so nothing is reloaded.
        setNotice(result.error, true);
        emit pairingFinished();
        co_return;
    }
    if (result.failure == CLI::Failure::TimedOut) {
        setNotice(pairFailed(result.error), true);
    } else if (result.code != 0) {
        setNotice(pairFailed(result.out), true);
    } else {
        setNotice(pairSucceeded(), false);
        co_await m_catalog->reload(true);
        if (!live(self, instance))
            co_return;
        if (const std::optional<CLIConfig> current = WorkspaceCatalog::currentConfig())
            m_catalog->setSelectedID(current->workspace);
    }
    if (!co_await reloadAndPublish([self, instance] { return live(self, instance); }))
        co_return;
    emit pairingFinished();
}

QCoro::Task<bool> MainWindow::reloadAndPublish(std::function<bool()> stillWanted)
{
    const std::optional<CLIConfig> config = selectedConfig();
    co_await m_status->reload(config);
    // Nothing of this window is touched unless it (and the work) is still there.
    if (!stillWanted())
        co_return false;
    m_catalog->setPublishEndpoint(m_status->reachableEndpoint());
    co_return true;
}

QCoro::Task<> MainWindow::reloadStatusFor(MainWindow* window, quint64 instance)
{
    if (!live(window, instance))
        co_return;
    // The selection as it is now: the user may have switched while recovering.
    co_await window->m_status->reload(window->selectedConfig());
}

QCoro::Task<> MainWindow::startRecovery()
{
    MainWindow* self = this;
    const quint64 instance = m_instance;
    co_await m_recovery->run(
        selectedConfig(),
        [self, instance] {
            if (live(self, instance))
                self->m_inventory->refresh();
        },
        [self, instance] { return reloadStatusFor(self, instance); });
    if (!live(self, instance))
        co_return;
    co_await m_catalog->reload(true);
    if (!live(self, instance))
        co_return;
    reloadRuntimeEnabled();
    emit recoveryFinished();
}

void MainWindow::reloadRuntimeEnabled()
{
    m_enablement->reload(m_inventory->rows());
}

ApprovalsSheet* MainWindow::approvalsSheet() const
{
    return m_approvals;
}

FailedTasksSheet* MainWindow::failedTasksSheet() const
{
    return m_failedTasks;
}

RecoverySheet* MainWindow::recoverySheet() const
{
    return m_recoverySheet;
}

namespace {
// One sheet of a kind at a time: pressing again brings the open one forward.
// A sheet deletes itself when it finishes.
template <typename SheetT, typename Make>
void present(QPointer<SheetT>& slot, Make make)
{
    if (slot) {
        slot->raise();
        return;
    }
    slot = make();
    QObject::connect(slot.data(), &QDialog::finished, slot.data(), &QObject::deleteLater);
    slot->open();
}
} // namespace

void MainWindow::openApprovals()
{
    present(m_approvals, [this] { return new ApprovalsSheet(m_status, selectedConfig(), this); });
}

void MainWindow::openFailedTasks()
{
    present(m_failedTasks, [this] { return new FailedTasksSheet(m_status, selectedConfig(), this); });
}

void MainWindow::recover()
{
    present(m_recoverySheet, [this] { return new RecoverySheet(m_recovery, this); });
    // A run already under way makes this one return at once; the reloads after it still happen.
    startRecovery();
}

void MainWindow::jumpToRuntimes()
{
    QWidget* section = m_paired->section(PairedPage::Runtime);
    if (!section || m_pages->currentWidget() != m_paired)
        return;
    const int target = section->mapTo(m_scroll->widget(), QPoint(0, 0)).y();
    QScrollBar* bar = m_scroll->verticalScrollBar();
    if (ReduceMotion::enabled()) {
        bar->setValue(target);
        return;
    }
    auto* animation = new QPropertyAnimation(bar, "value", bar);
    animation->setDuration(250);
    animation->setEasingCurve(QEasingCurve::InOutCubic);
    animation->setEndValue(qMin(target, bar->maximum()));
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}
