#include "gui/shell/MainWindow.h"

#include "core/design/DS.h"
#include "core/gateway/Status.h"
#include "core/platform/PendingCall.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/runtimes/RuntimeSectionModel.h"
#include "core/shell/WorkspaceSummaryModel.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/design/FocusKeeper.h"
#include "gui/design/ScreenFit.h"
#include "gui/design/ScrollIntoView.h"
#include "gui/design/Style.h"
#include "gui/design/TabChain.h"
#include "gui/platform/Prompts.h"
#include "gui/runtimes/RecoverySheet.h"
#include "gui/runtimes/RuntimeSection.h"
#include "gui/shell/AboutSection.h"
#include "gui/shell/FirstRunPage.h"
#include "gui/shell/NoticeBanner.h"
#include "gui/shell/PairedPage.h"
#include "gui/shell/WindowHeader.h"
#include "gui/shell/WorkspaceSummaryBar.h"
#include "gui/tasks/ApprovalsSheet.h"
#include "gui/tasks/FailedTasksSheet.h"
#include "gui/tasks/PermSection.h"
#include "gui/workforce/CollaborationSection.h"
#include "gui/workforce/TeamSection.h"
#include "gui/workspaces/PairingSection.h"
#include "gui/workspaces/RelocationBanner.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoroTimer>
#include <QCursor>
#include <QDialog>
#include <QDir>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace {

// The content column's widest extent, padding excluded.
constexpr int kColumnWidth = 1180;
constexpr int kPadding = 20;

// The page's scrolling area. Qt's own size hint is bounded by multiples of
// the default font's height, a font nothing on the page uses: measuring it
// would load one more font before the first frame. The window is sized
// explicitly, so this hint only has to be sensible.
class PageScrollArea : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override { return { kColumnWidth + 2 * kPadding, 640 }; }
};

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : MainWindow(Intervals {}, Sections::AfterFirstFrame, parent)
{
}

MainWindow::MainWindow(Intervals intervals, QWidget* parent)
    : MainWindow(intervals, Sections::Now, parent)
{
}

MainWindow::MainWindow(Intervals intervals, Sections sections, QWidget* parent)
    : QWidget(parent)
    , m_controller(std::make_unique<WindowController>(intervals))
{
    setObjectName(QStringLiteral("main.window"));
    setWindowTitle(QStringLiteral("Tolvarine Desktop"));
    // On a screen smaller than the window's size (960 × 540, say) it takes what the screen has.
    const QSize room = ScreenFit::room(this);
    setMinimumSize(QSize(640, 520).boundedTo(room));
    resize(QSize(840, 720).boundedTo(room));
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

    m_refresh = new PendingCall(this, [this] { refreshView(); });
    m_hold = new PendingCall(this, [this] { holdView(); });
    // What is under the pointer is what the user looks at: pinned again
    // where the pointer rests, once the view has followed any change.
    m_repin = new PendingCall(this, [this] {
        if (holdView())
            pinView();
    });

    m_pairedAtStart = WorkspaceCatalog::anyPaired();
    buildFrame();
    // The window opens with the keyboard on none of its controls (Qt would
    // pick the first one made, wherever it stands): the first Tab goes to the
    // header.
    setFocus(Qt::OtherFocusReason);
    connect(m_controller.get(), &WindowController::modelChanged, this, &MainWindow::scheduleRefresh);
    connect(m_controller.get(), &WindowController::noticeChanged, this, &MainWindow::showNotice);
    connect(m_controller.get(), &WindowController::busyChanged, this, &MainWindow::showBusy);
    if (sections == Sections::Now)
        buildSections();
    refreshView();
}

MainWindow::~MainWindow()
{
    // The window no longer draws what the controller says while they go.
    disconnect(m_controller.get(), nullptr, this, nullptr);
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(m_scroll->verticalScrollBar(), nullptr, this, nullptr);
    m_hold->cancel();
    m_repin->cancel();
    // Every view and sheet (all child widgets) goes before the controller and
    // the models it owns, which the views hold by plain pointer. The base
    // class would delete its children only after the members are gone.
    while (QWidget* child = findChild<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        delete child;
}

void MainWindow::buildFrame()
{
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    m_header = new WindowHeader(this);
    root->addWidget(m_header);
    connect(m_header, &WindowHeader::workspaceChosen, m_controller->catalog(), &WorkspaceCatalog::setSelectedID);
    connect(m_header, &WindowHeader::addRequested, this, [this] { pickFolderAndPair(); });

    m_scroll = new PageScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("main.scroll"));
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The page is no stop of its own (it would hold the keyboard with nothing
    // to show for it); its keys still scroll it from the control that has focus.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->viewport()->setAutoFillBackground(false);
    root->addWidget(m_scroll, 1);

    // The page column follows the window's width up to its widest, flush left.
    auto* canvas = new QWidget;
    canvas->setAutoFillBackground(false);
    // The page is as tall as its content at the width it has (its layout's
    // height for width), never its minimum height: that one is measured with
    // every wrapped text at its narrowest and would leave an empty tail.
    canvas->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    auto* canvasRow = new QHBoxLayout(canvas);
    canvasRow->setContentsMargins(0, 0, 0, 0);
    canvasRow->setSpacing(0);
    auto* column = new QWidget(canvas);
    m_column = column;
    column->setObjectName(QStringLiteral("main.column"));
    // Its width, less the padding, is what the sections have to lay out in.
    column->installEventFilter(this);
    column->setMaximumWidth(kColumnWidth + 2 * kPadding);
    m_stack = new QVBoxLayout(column);
    m_stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    m_stack->setSpacing(18);
    canvasRow->addWidget(column, 1);
    canvasRow->addStretch(0);

    m_banner = new NoticeBanner(column);
    m_banner->hide();
    connect(m_banner, &NoticeBanner::dismissed, this,
        [this] { m_controller->setNotice(std::nullopt, m_controller->noticeIsError()); });
    m_stack->addWidget(m_banner);
    m_stack->addStretch(1);
    m_scroll->setWidget(canvas);
    // What the user looks at stays put when the page above it changes height
    // (a notice coming or going, a section growing after an action): the
    // scroll range follows the page's new height once it is laid out. The
    // user's own scrolling takes a new place.
    QScrollBar* bar = m_scroll->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this] {
        if (!m_holding)
            pinView();
    });
    connect(bar, &QScrollBar::rangeChanged, this, &MainWindow::holdView);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (!now || !m_scroll->widget()->isAncestorOf(now))
            return;
        // A move not yet followed is followed first. The keyboard parked on
        // the row acted on, or given back to its control, stays with what is
        // held: pinned again there, the place would be taken wherever the row's
        // relayout happens to be at that moment, not where the user saw it.
        const bool isAnchor
            = std::any_of(m_anchors.cbegin(), m_anchors.cend(), [now](const Anchor& a) { return a.widget == now; });
        if (holdView() && !isAnchor)
            pinView();
    });

    // Only the page the window opens on is in the first frame; the other
    // page and the sections follow (buildSections).
    ensurePage(m_pairedAtStart);
}

void MainWindow::ensurePage(bool paired)
{
    // One page shows at a time; the hidden one takes no part in laying out the
    // column (a stacked layout would measure it on every pass). The first-run
    // page sits above the paired page in the column.
    if (paired && !m_paired) {
        m_paired = new PairedPage;
        m_paired->setPlaceholder(!m_sectionsBuilt);
        m_paired->hide();
        m_stack->insertWidget(m_firstRun ? 2 : 1, m_paired);
    } else if (!paired && !m_firstRun) {
        m_firstRun = new FirstRunPage;
        connect(m_firstRun, &FirstRunPage::pairRequested, this, [this] { pickFolderAndPair(); });
        m_firstRun->hide();
        m_stack->insertWidget(1, m_firstRun);
    }
}

void MainWindow::buildSections()
{
    if (m_sectionsBuilt)
        return;
    m_sectionsBuilt = true;
    ensurePage(true);
    ensurePage(false);
    m_paired->setPlaceholder(false);
    // The first frame has no bar to show (its page is short), so the sheet is parsed now.
    m_scroll->verticalScrollBar()->setStyleSheet(Style::scrollBar());

    m_bar = new WorkspaceSummaryBar(m_controller->summary());
    // The snapshot follows the bar: written when it appears and while it shows.
    m_bar->installEventFilter(this);
    auto* barSlot = new QWidget;
    auto* barRow = new QHBoxLayout(barSlot);
    barRow->setContentsMargins(20, 0, 20, 0);
    barRow->addWidget(m_bar);
    m_paired->setSection(PairedPage::SummaryBar, barSlot);
    connect(m_bar, &WorkspaceSummaryBar::runtimesRequested, this, &MainWindow::jumpToRuntimes);
    connect(m_bar, &WorkspaceSummaryBar::approvalsRequested, this, &MainWindow::openApprovals);
    connect(m_bar, &WorkspaceSummaryBar::failedTasksRequested, this, &MainWindow::openFailedTasks);
    connect(m_bar, &WorkspaceSummaryBar::recoveryRequested, this, &MainWindow::recover);
    // One runtime section on each page, over one model; the custom
    // connections' model rides with it to the section below the cards.
    WindowController* c = m_controller.get();
    m_firstRun->setSection(FirstRunPage::Runtime, new RuntimeSection(c->runtimeSection()));
    m_paired->setSection(PairedPage::Runtime, new RuntimeSection(c->runtimeSection()));
    m_team = new TeamSection(c);
    m_paired->setSection(PairedPage::Team, m_team);
    m_paired->setSection(PairedPage::Collaboration, new CollaborationSection(c->workforce()));
    m_paired->setSection(PairedPage::RelocationBanner, new RelocationBanner(c->relocation()));
    auto* phone = new PairingSection(c->catalog());
    connect(phone, &PairingSection::notice, c, [c](const QString& text, bool isError) { c->setNotice(text, isError); });
    m_paired->setSection(PairedPage::PhonePairing, phone);
    m_paired->setSection(PairedPage::Permissions, new PermSection(c->status(), c->inventory(), c->reloader()));
    if (m_contentWidth > 0)
        m_team->setContentWidth(m_contentWidth);
    showBusy();
}

void MainWindow::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    // The sections come right after the first frame is on screen.
    if (!m_sectionsBuilt && !m_sectionsQueued) {
        m_sectionsQueued = true;
        queueSections(0);
    }
}

bool MainWindow::focusNextPrevChild(bool next)
{
    // A control that turns busy or goes keeps the keyboard on its row and the
    // page still; Tab follows the page.
    return TabChain::focusNextPrevChild(this, next);
}

void MainWindow::queueSections(int delayMs)
{
    QTimer::singleShot(delayMs, this, [this] {
        if (m_sectionsBuilt)
            return;
        buildSections();
        refreshView();
        if (isVisible())
            m_controller->startLoops();
        emit sectionsReady();
    });
}

void MainWindow::scheduleRefresh()
{
    m_refresh->request();
}

void MainWindow::refreshView()
{
    m_refresh->cancel();
    const Status& status = *m_controller->status();
    const QList<WorkspaceRecord>& records = m_controller->catalog()->records();
    const std::optional<CLIConfig> selected = m_controller->selectedConfig();

    if (m_controller->catalog()->loaded())
        m_header->setWorkspaces(records, selected ? selected->workspace : QString());
    else
        m_header->setWorkspacesPending();
    m_header->setPresence(status.presence());
    showBusy();

    // Until the catalogue's first load, which waits for the companion tool,
    // the pairing files as they were at start say which page to open on.
    const bool paired = m_controller->catalog()->loaded() ? !records.isEmpty() : m_pairedAtStart;
    ensurePage(paired);
    QWidget* page = paired ? static_cast<QWidget*>(m_paired) : m_firstRun;
    QWidget* other = paired ? static_cast<QWidget*>(m_firstRun) : m_paired;
    if (other && !other->isHidden())
        other->hide();
    if (page->isHidden())
        page->show();
    if (m_firstRun) {
        m_firstRun->about()->setWorkspace(selected, status.endpointNote());
        m_firstRun->setToolMissing(m_controller->inventory()->toolMissing());
    }
    if (m_paired)
        m_paired->about()->setWorkspace(selected, status.endpointNote());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Move && std::any_of(m_anchors.cbegin(), m_anchors.cend(), [watched](const Anchor& a) {
            return a.widget == watched;
        }))
        m_hold->request();
    if (event->type() == QEvent::MouseMove && watched == windowHandle())
        m_repin->request();
    if (watched == m_bar && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        m_controller->summary()->setShown(m_bar->isVisible());
    if (watched == m_column && event->type() == QEvent::Resize) {
        const qreal width = qMax(0, m_column->width() - 2 * kPadding);
        if (width != m_contentWidth) {
            m_contentWidth = width;
            if (m_team)
                m_team->setContentWidth(width);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::showNotice()
{
    if (const std::optional<QString>& text = m_controller->notice()) {
        m_banner->setNotice(*text, m_controller->noticeIsError());
        m_banner->show();
    } else {
        m_banner->hide();
    }
}

namespace {
int topIn(const QWidget* widget, const QWidget* canvas)
{
    return widget->mapTo(canvas, QPoint(0, 0)).y();
}
} // namespace

void MainWindow::pinView()
{
    for (const Anchor& a : std::as_const(m_anchors))
        if (a.widget)
            a.widget->removeEventFilter(this);
    m_anchors.clear();
    // At the top of the page nothing is above what the user sees: a notice
    // or a section that grows pushes the page down.
    const int offset = m_scroll->verticalScrollBar()->value();
    if (offset <= kPadding)
        return;
    QWidget* canvas = m_scroll->widget();
    QWidget* viewport = m_scroll->viewport();
    const int bottom = offset + viewport->height();
    const SectionStack* page = m_paired && m_paired->isVisible() ? static_cast<SectionStack*>(m_paired) : m_firstRun;
    // What is drawn at a point of the view, when it is on the page.
    const auto onPage = [&](const QPoint& inView) -> QWidget* {
        QWidget* under = canvas->childAt(canvas->mapFrom(viewport, inView));
        return under && page && page->isVisible() && page->isAncestorOf(under) ? under : nullptr;
    };
    // What the pointer rests on; else the control the keyboard is on, when it
    // is in view (the row acted on); else what is at the top of the view.
    QWidget* anchor = nullptr;
    const QPoint pointer = viewport->mapFromGlobal(QCursor::pos());
    if (viewport->underMouse() && viewport->rect().contains(pointer))
        anchor = onPage(pointer);
    if (!anchor) {
        anchor = QApplication::focusWidget();
        if (anchor
            && !(canvas->isAncestorOf(anchor) && anchor->isVisible() && topIn(anchor, canvas) < bottom
                && topIn(anchor, canvas) + anchor->height() > offset))
            anchor = nullptr;
    }
    if (!anchor && m_column)
        anchor = onPage(QPoint(m_column->mapTo(canvas, m_column->rect().center()).x(), 0));
    if (!anchor && page && page->isVisible()) {
        for (QWidget* section : page->sections()) {
            if (section->isVisible() && topIn(section, canvas) + section->height() > offset) {
                anchor = section;
                break;
            }
        }
    }
    m_anchorOffset = offset;
    for (QWidget* w = anchor; w && w != canvas; w = w->parentWidget()) {
        w->installEventFilter(this);
        m_anchors.append({ w, topIn(w, canvas) });
    }
}

bool MainWindow::holdView()
{
    m_hold->cancel();
    QScrollBar* bar = m_scroll->verticalScrollBar();
    QWidget* canvas = m_scroll->widget();
    const auto held = std::find_if(m_anchors.cbegin(), m_anchors.cend(),
        [canvas](const Anchor& a) { return a.widget && a.widget->isVisible() && canvas->isAncestorOf(a.widget); });
    if (held == m_anchors.cend()) {
        pinView();
        return true;
    }
    // Always measured from where the anchors were pinned, never from a place
    // taken half-way: the page passes through several layouts before it
    // settles, and what is shown once it has settled is what counts. Set even
    // when unchanged: a shrunk range then clamps the offset here, and that is
    // not the user scrolling.
    const int target = m_anchorOffset + topIn(held->widget, canvas) - held->y;
    m_holding = true;
    bar->setValue(target);
    m_holding = false;
    // Short of it, the page has moved but not grown yet: its range change finishes this.
    return bar->value() == target;
}

void MainWindow::showBusy()
{
    m_header->setBusy(m_controller->busy());
    if (m_firstRun)
        m_firstRun->setBusy(m_controller->busy());
}

// --- loops -------------------------------------------------------------------

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The pointer's moves reach the window whichever widget is under it.
    if (QWindow* handle = windowHandle())
        handle->installEventFilter(this);
    ScreenFit::keepOnScreen(this);
    // The loops (the start-up load, the poll, the health checks) start with
    // the sections: after the first frame when those come after it.
    if (m_sectionsBuilt) {
        m_controller->startLoops();
        return;
    }
    // A window shown but not painted (started minimised, say) still gets its
    // sections and loops, a moment later.
    queueSections(500);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    m_controller->stopLoops();
    // An open sheet must not keep the application alive once its window is closed.
    for (QDialog* sheet : { static_cast<QDialog*>(m_approvals.data()), static_cast<QDialog*>(m_failedTasks.data()),
             static_cast<QDialog*>(m_recoverySheet.data()) })
        if (sheet)
            sheet->reject();
    QWidget::closeEvent(event);
}

// --- user actions --------------------------------------------------------------

QCoro::Task<> MainWindow::pickFolderAndPair()
{
    if (m_controller->busy())
        co_return;
    QPointer<WindowController> controller = m_controller.get();
    const std::optional<QString> folder
        = co_await Prompts::shared().pickFolder(this, QStringLiteral("配对"), QDir::homePath());
    // The window (and its controller) may have been closed while the picker was up.
    if (!controller || !folder)
        co_return;
    co_await controller->pair(*folder);
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
template <typename SheetT, typename Make> void present(QPointer<SheetT>& slot, Make make)
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
    present(m_approvals, [this] {
        return new ApprovalsSheet(
            m_controller->status(), m_controller->selectedConfig(), m_controller->reloader(), this);
    });
}

void MainWindow::openFailedTasks()
{
    present(m_failedTasks, [this] {
        return new FailedTasksSheet(
            m_controller->status(), m_controller->selectedConfig(), m_controller->reloader(), this);
    });
}

void MainWindow::recover()
{
    present(m_recoverySheet, [this] { return new RecoverySheet(m_controller->recovery(), this); });
    // A run already under way makes this one return at once; the reloads after it still happen.
    m_controller->startRecovery();
}

void MainWindow::jumpToRuntimes()
{
    QWidget* section = m_paired ? m_paired->section(PairedPage::Runtime) : nullptr;
    if (!section || m_paired->isHidden())
        return;
    ScrollIntoView::toTop(section);
}
