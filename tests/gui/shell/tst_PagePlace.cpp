#include "core/agents/AdvancedConnectionStore.h"
#include "core/gateway/Status.h"
#include "core/platform/ReduceMotion.h"
#include "core/platform/SecretStore.h"
#include "core/platform/UuidText.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/design/SecondaryButton.h"
#include "gui/platform/Prompts.h"
#include "gui/runtimes/RuntimeCard.h"
#include "gui/runtimes/RuntimeSection.h"
#include "gui/shell/AboutSection.h"
#include "gui/shell/MainWindow.h"
#include "gui/shell/NoticeBanner.h"
#include "gui/shell/PairedPage.h"
#include "gui/shell/WindowHeader.h"
#include "gui/tasks/ApprovalsSheet.h"
#include "gui/tasks/FailedTasksSheet.h"
#include "gui/tasks/PermTierRow.h"
#include "gui/workforce/EmployeeCard.h"
#include "gui/workforce/TeamSection.h"
#include "gui/workspaces/RelocationBanner.h"

#include "BlockingSecretStore.h"
#include "PressTwice.h"
#include "SimGateway.h"
#include "SimTool.h"
#include "TempHome.h"
#include "WindowTestSetUp.h"

#include <QComboBox>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include <QCoroTask>

// The page keeps the user's place: it is as long as its content, acting on a
// control leaves the page and the keyboard where they were, and a notice
// coming or going above the visible part does not move what is shown.
namespace {

const MainWindow::Intervals kQuiet { std::chrono::hours(1), std::chrono::hours(1) };
const QString kDemo = QStringLiteral("ws-demo");

void showLoaded(MainWindow& w, QSize size)
{
    QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
    // The runtime cards come with the first inventory, which may start after the load.
    QSignalSpy runtimes(w.controller()->inventory(), &RuntimeInventoryStore::refreshed);
    w.resize(size);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!runtimes.isEmpty(), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!w.controller()->inventory()->loading(), 15000);
}

// How far the page scrolls beyond its last section, the about block.
int tail(MainWindow& w)
{
    QWidget* canvas = w.scrollArea()->widget();
    AboutSection* about = w.pairedPage()->about();
    const int contentBottom = about->mapTo(canvas, QPoint(0, about->height())).y() + 20;
    const int viewport = w.scrollArea()->viewport()->height();
    return w.scrollArea()->verticalScrollBar()->maximum() + viewport - qMax(viewport, contentBottom);
}

// Where a widget is drawn in the scroll area's viewport.
int shownAt(MainWindow& w, QWidget* widget)
{
    return widget->mapTo(w.scrollArea()->viewport(), QPoint(0, 0)).y();
}

// Scrolls so that `widget` is in the middle of the viewport, and again until
// it stays there: while the page is still growing under it, the page holds
// the section at the top of the view, not the widget.
void centre(MainWindow& w, QWidget* widget)
{
    QScrollBar* bar = w.scrollArea()->verticalScrollBar();
    const int middle = w.scrollArea()->viewport()->height() / 2;
    const auto centred = [&] {
        if (shownAt(w, widget) == middle)
            return true;
        bar->setValue(widget->mapTo(w.scrollArea()->widget(), QPoint(0, 0)).y() - middle);
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(centred(), 15000);
}

// Waits until the page has settled: everything the window loads has come
// (the team, its work and the permissions arrive apart, after the load is
// reported finished), and its sections and the view no longer move from one
// turn of the event loop to the next. A loaded machine gets there late and in steps.
void settle(MainWindow& w)
{
    const Status* status = w.controller()->status();
    QTRY_VERIFY_WITH_TIMEOUT(status->teamLoadFinished(), 15000);
    for (int kind = 0; kind < Status::LoadKinds; ++kind)
        QTRY_VERIFY_WITH_TIMEOUT(status->publishedSince(Status::Load(kind), 0), 15000);
    QScrollBar* bar = w.scrollArea()->verticalScrollBar();
    QList<int> last;
    int still = 0;
    // Unchanged for half a second: a load landing late moves it again.
    const auto settled = [&] {
        QList<int> now { bar->value(), bar->maximum(), w.pairedPage()->y() };
        for (QWidget* section : w.pairedPage()->sections())
            now << section->y() << section->height() << int(section->isVisible());
        still = std::exchange(last, now) == now ? still + 1 : 0;
        return still >= 10;
    };
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 30000);
}

// Calls `then` when a widget it watches is hidden.
class OnHide : public QObject {
public:
    explicit OnHide(std::function<void()> then)
        : m_then(std::move(then))
    {
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Hide)
            m_then();
        return false;
    }

private:
    std::function<void()> m_then;
};

// Whether the keyboard rests on a control, or on anything in a list's row.
bool onAControl(QWidget* widget)
{
    if (!widget)
        return false;
    if (widget->focusPolicy() & Qt::TabFocus)
        return true;
    for (; widget; widget = widget->parentWidget())
        if (widget->objectName().contains(QLatin1String(".row.")))
            return true;
    return false;
}

// The actions a Space press could start: gateway writes and the tool's grants and relocations.
QStringList actions(SimWorld& world)
{
    QStringList out;
    for (const QJsonValue& r : world.sim->requests())
        if (r[QStringLiteral("method")].toString() != QLatin1String("GET"))
            out << r[QStringLiteral("path")].toString();
    for (const QString& argv : world.tool.argvs())
        if (argv.startsWith(QLatin1String("grant")) || argv.startsWith(QLatin1String("workspace relocate")))
            out << argv;
    return out;
}

} // namespace

class TestPagePlace : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void pageEndsWithItsContent_data();
    void pageEndsWithItsContent();
    void actingKeepsPlaceAndFocus_data();
    void actingKeepsPlaceAndFocus();
    void rowKeepsPlaceWhenItsControlGoes();
    void sheetRowKeepsFocus_data();
    void sheetRowKeepsFocus();
    void removedRowLeavesFocusWithList_data();
    void removedRowLeavesFocusWithList();
    void noticeKeepsTheView_data();
    void noticeKeepsTheView();

private:
    std::unique_ptr<SimWorld> m_world;
    std::optional<WindowTestSetUp<>> m_setUp;
    ScriptedPrompts* m_prompts = nullptr;
};

void TestPagePlace::init()
{
    m_setUp.emplace();
    m_prompts = m_setUp->prompts();
    m_world = std::make_unique<SimWorld>();
    QVERIFY2(m_world->sim->ok(), m_world->sim->output().constData());
}

void TestPagePlace::cleanup()
{
    m_world.reset();
    m_setUp.reset();
}

void TestPagePlace::pageEndsWithItsContent_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("action");
    for (const QSize size : { QSize(640, 520), QSize(840, 720), QSize(1400, 1000) }) {
        const QByteArray at = QByteArray::number(size.width()) + "x" + QByteArray::number(size.height());
        for (const char* action : { "loaded", "detail", "sheet", "switch", "resized" })
            QTest::newRow(at + " " + action) << size << QString::fromLatin1(action);
    }
}

// The page scrolls as far as its last section and its margin, no further, at every
// width and after what makes sections grow and shrink.
void TestPagePlace::pageEndsWithItsContent()
{
    QFETCH(QSize, size);
    QFETCH(QString, action);
    m_world->pair({ kDemo, QStringLiteral("ws-blog") });
    MainWindow w(kQuiet);
    showLoaded(w, size);
    QTRY_COMPARE(tail(w), 0);

    if (action == QLatin1String("loaded")) {
        // For people to look at: the top of the page and its end.
        const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
        QVERIFY(QDir().mkpath(dir));
        const QString name = QStringLiteral("page-%1x%2-%3.png").arg(size.width()).arg(size.height());
        QVERIFY(w.grab().save(QDir(dir).filePath(name.arg(QStringLiteral("top")))));
        w.scrollArea()->verticalScrollBar()->setValue(w.scrollArea()->verticalScrollBar()->maximum());
        QVERIFY(w.grab().save(QDir(dir).filePath(name.arg(QStringLiteral("end")))));
    } else if (action == QLatin1String("detail")) {
        TeamSection* team = w.teamSection();
        QTRY_VERIFY(!team->cards().isEmpty());
        EmployeeCard* card = team->cards().first();
        QTest::mouseClick(card->openButton(), Qt::LeftButton);
        QTRY_VERIFY(team->detail());
        QTRY_COMPARE(tail(w), 0);
        QTest::mouseClick(card->openButton(), Qt::LeftButton);
        QTRY_VERIFY(!team->detail());
    } else if (action == QLatin1String("sheet")) {
        w.openApprovals();
        QTRY_VERIFY(w.approvalsSheet() && w.approvalsSheet()->isVisible());
        w.approvalsSheet()->reject();
        QTRY_VERIFY(!w.approvalsSheet());
    } else if (action == QLatin1String("switch")) {
        QSignalSpy reloaded(w.controller(), &WindowController::selectionReloadFinished);
        for (const QString& ws : { QStringLiteral("ws-blog"), kDemo }) {
            QComboBox* switcher = w.header()->switcher();
            const int index = switcher->findData(ws);
            switcher->setCurrentIndex(index);
            emit switcher->activated(index);
            QTRY_COMPARE_WITH_TIMEOUT(reloaded.size(), ws == kDemo ? 2 : 1, 15000);
            QTRY_COMPARE(tail(w), 0);
        }
    } else if (action == QLatin1String("resized")) {
        w.resize(size.width() + 500, size.height());
        QTRY_COMPARE(tail(w), 0);
        w.resize(size);
    }
    QTRY_COMPARE(tail(w), 0);
}

void TestPagePlace::actingKeepsPlaceAndFocus_data()
{
    QTest::addColumn<bool>("moved"); // the workspace's folder has moved (the relocation banner shows)
    QTest::addColumn<QString>("row"); // identifier of the row acted on
    QTest::addColumn<QString>("button"); // its button's identifier, or its title
    QTest::addColumn<QString>("done"); // what the action sends (a gateway path or the tool's argv start)
    // A control in the row pressed with Space before, which the action shows again; "" none.
    QTest::addColumn<QString>("earlier");

    QTest::newRow("grant web") << false << "perm.row.web"
                               << "授权"
                               << "/api/workspaces/ws-demo/permissions/web/" << QString();
    QTest::newRow("grant push") << false << "perm.row.push"
                                << "授权"
                                << "/api/workspaces/ws-demo/permissions/push/" << QString();
    QTest::newRow("reject danger") << false << "perm.row.danger"
                                   << "拒绝"
                                   << "/api/workspaces/ws-demo/permissions/danger/" << QString();
    QTest::newRow("disable a runtime") << false << "runtime.row.codex"
                                       << "runtime.codex.disable" << QString() << QString();
    QTest::newRow("search again") << true << "workspace.moved"
                                  << "workspace.relocate.auto"
                                  << "workspace relocate" << QString();
    QTest::newRow("confirm the match") << true << "workspace.moved"
                                       << "workspace.relocate.confirm"
                                       << "workspace relocate" << QString();
    // The focus parked for the search goes back to the search, not to the
    // "不是" the search shows again.
    QTest::newRow("search again after a no") << true << "workspace.moved"
                                             << "workspace.relocate.auto"
                                             << "workspace relocate"
                                             << "workspace.relocate.reject";
}

// Space on a control: the page does not move, the keyboard stays with the row
// acted on (or the page, when the row has gone), and Space again acts on no other item.
void TestPagePlace::actingKeepsPlaceAndFocus()
{
    QFETCH(bool, moved);
    QFETCH(QString, row);
    QFETCH(QString, button);
    QFETCH(QString, done);
    QFETCH(QString, earlier);
    if (moved)
        QVERIFY(QDir().mkpath(m_world->home.filePath(QStringLiteral("archive/ws-demo"))));
    m_world->pair({ kDemo }, !moved);
    MainWindow w(kQuiet);
    showLoaded(w, QSize(840, 520));

    const auto findRow = [&]() -> QWidget* {
        for (QWidget* candidate : w.findChildren<QWidget*>(row))
            if (candidate->isVisible())
                return candidate;
        return nullptr;
    };
    const auto findButton = [&]() -> QAbstractButton* {
        QWidget* r = findRow();
        if (!r)
            return nullptr;
        for (QAbstractButton* b : r->findChildren<QAbstractButton*>())
            if (b->isVisible() && b->isEnabled() && (b->objectName() == button || b->text() == button))
                return b;
        return nullptr;
    };
    QTRY_VERIFY_WITH_TIMEOUT(findButton(), 20000);
    if (!earlier.isEmpty()) {
        auto* first = w.findChild<QAbstractButton*>(earlier);
        first->setFocus(Qt::TabFocusReason);
        QTest::keyClick(first, Qt::Key_Space);
        QTRY_VERIFY(!first->isVisible());
    }
    // The starting place is taken once the sections above have stopped growing.
    settle(w);
    QPointer<QWidget> acted = findRow();
    QAbstractButton* control = findButton();
    QVERIFY(acted && control);
    if (!moved)
        centre(w, acted);
    control->setFocus(Qt::TabFocusReason);
    QScrollBar* bar = w.scrollArea()->verticalScrollBar();
    const int before = bar->value();
    const int rowAt = shownAt(w, acted);
    // The page can scroll further both ways: nothing here pins it to an end.
    QVERIFY(before < bar->maximum() || moved);
    // What is acted on is in view: the row's top and its control.
    const int controlAt = shownAt(w, control);
    QVERIFY2(rowAt >= 0 && controlAt + control->height() <= w.scrollArea()->viewport()->height(),
        qPrintable(QStringLiteral("row at %1, control at %2").arg(rowAt).arg(controlAt)));
    const QStringList sent = actions(*m_world);

    QTest::keyClick(control, Qt::Key_Space);
    if (!done.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(actions(*m_world).size() > sent.size(), 15000);
    QTest::qWait(1500); // the action's reload, and the row's rebuild with it
    const QStringList sentNow = actions(*m_world).mid(sent.size());
    if (!done.isEmpty())
        QVERIFY2(std::any_of(sentNow.begin(), sentNow.end(), [&](const QString& a) { return a.startsWith(done); }),
            qPrintable(sentNow.join(QLatin1Char('\n'))));

    // The row acted on is where it was on screen (a notice above it moves the offset with it),
    // once the page has settled: on a busy machine the reload may still be landing.
    if (acted && acted->isVisible())
        QTRY_COMPARE_WITH_TIMEOUT(shownAt(w, acted), rowAt, 15000);
    else
        QTRY_COMPARE_WITH_TIMEOUT(bar->value(), before, 15000);
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus);
    // The row, something in it, or (once the row has gone) what held it; never another item's control.
    const bool onRow = acted && (focus == acted || acted->isAncestorOf(focus) || focus->isAncestorOf(acted));
    QVERIFY2(onRow, qPrintable(focus->objectName() + QLatin1Char(' ') + focus->metaObject()->className()));
    if (!earlier.isEmpty())
        QTRY_COMPARE(QApplication::focusWidget(), control);

    const QStringList afterAction = actions(*m_world);
    QTest::keyClick(focus, Qt::Key_Space);
    QTest::qWait(500);
    // At most the same action again; the reload's automatic confirmation of the pending write tier aside.
    for (const QString& a : actions(*m_world).mid(afterAction.size()))
        QVERIFY2(sentNow.contains(a) || a.endsWith(QLatin1String("/permissions/write/confirm")), qPrintable(a));
}

// The keyboard on a row's control; the row's text above the control grows (the
// control is held where it was), then the control goes and the keyboard parks
// on the row: the row is back where it was, whichever came first on the way.
void TestPagePlace::rowKeepsPlaceWhenItsControlGoes()
{
    m_world->pair({ kDemo });
    MainWindow w(kQuiet);
    showLoaded(w, QSize(840, 520));
    QWidget* row = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((row = w.findChild<QWidget*>(QStringLiteral("perm.row.web"))) && row->isVisible(), 20000);
    QAbstractButton* control = nullptr;
    for (QAbstractButton* b : row->findChildren<QAbstractButton*>())
        if (b->isVisible() && b->isEnabled())
            control = b;
    QVERIFY(control);
    QLabel* text = nullptr;
    for (QLabel* l : row->findChildren<QLabel*>())
        if (l->isVisible() && l->wordWrap() && l->y() < control->y())
            text = l;
    QVERIFY(text);
    centre(w, row);
    control->setFocus(Qt::TabFocusReason);
    const int rowAt = shownAt(w, row);
    const int controlAt = shownAt(w, control);

    text->setText(text->text() + QString(400, QChar(u'长')));
    QTRY_VERIFY(shownAt(w, row) < rowAt && shownAt(w, control) == controlAt);

    control->hide();
    QCOMPARE(QApplication::focusWidget(), row);
    QTRY_COMPARE(shownAt(w, row), rowAt);
}

void TestPagePlace::sheetRowKeepsFocus_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("button"); // identifier prefix of the row's button
    QTest::addColumn<bool>("mouse"); // clicked with the mouse, not pressed with Space
    QTest::addColumn<bool>("away"); // the main window is active while the row leaves
    for (const auto& [mouse, away] : { std::pair(false, false), std::pair(true, false), std::pair(true, true) }) {
        const QByteArray how = QByteArray(mouse ? " click" : " space") + (away ? " away" : "");
        QTest::newRow("approve" + how) << "approvals"
                                       << "approvals.approve." << mouse << away;
        QTest::newRow("reject" + how) << "approvals"
                                      << "approvals.reject." << mouse << away;
        QTest::newRow("retry" + how) << "failedtasks"
                                     << "failedtasks.retry." << mouse << away;
        QTest::newRow("delete" + how) << "failedtasks"
                                      << "failedtasks.delete." << mouse << away;
    }
}

// In a sheet, acting on a row's button leaves the keyboard with that row while
// it is busy, and with the list once the row has gone: never on another row's
// button, which slides up into the place of the one that left.
void TestPagePlace::sheetRowKeepsFocus()
{
    QFETCH(QString, sheet);
    QFETCH(QString, button);
    QFETCH(bool, mouse);
    QFETCH(bool, away);
    m_world->pair();
    MainWindow w(kQuiet);
    showLoaded(w, QSize(840, 720));
    QDialog* open = nullptr;
    if (sheet == QLatin1String("approvals")) {
        w.openApprovals();
        open = w.approvalsSheet();
    } else {
        w.openFailedTasks();
        open = w.failedTasksSheet();
    }
    QVERIFY(QTest::qWaitForWindowExposed(open));
    const auto buttons = [&] {
        QList<QAbstractButton*> out;
        for (QAbstractButton* b : open->findChildren<QAbstractButton*>())
            if (b->objectName().startsWith(button) && b->isVisible())
                out << b;
        return out;
    };
    QTRY_VERIFY(buttons().size() >= 2);
    QAbstractButton* first = buttons().first();
    QPointer<QWidget> row = first->parentWidget();
    while (row && !row->objectName().contains(QLatin1String(".row.")))
        row = row->parentWidget();
    QVERIFY(row);
    m_prompts->alertAnswers = { 0 }; // "删除" confirms
    open->activateWindow();
    QTRY_VERIFY(open->isActiveWindow());
    // The answer comes late enough for the row to be seen busy.
    for (const QByteArray method : { QByteArray("POST"), QByteArray("DELETE") })
        m_world->sim->setFault(method, QStringLiteral("/*"), 0, {}, 1000);
    const QStringList sent = actions(*m_world);
    if (mouse) {
        QTest::mouseClick(first, Qt::LeftButton);
    } else {
        first->setFocus(Qt::TabFocusReason);
        QTest::keyClick(first, Qt::Key_Space);
    }
    QTRY_VERIFY_WITH_TIMEOUT(actions(*m_world).size() > sent.size(), 15000);
    QWidget* focus = open->focusWidget();
    QVERIFY(row && focus);
    const bool onRow = focus == row || row->isAncestorOf(focus) || focus->isAncestorOf(row);
    QVERIFY2(onRow, qPrintable(focus->objectName()));

    // The user turns to the main window while the action runs, and the sheet
    // is active again as its row leaves, before the row is deleted.
    OnHide back([open] {
        QMetaObject::invokeMethod(
            open, [open] { QApplication::setActiveWindow(open); }, Qt::QueuedConnection);
    });
    if (away) {
        w.activateWindow();
        QTRY_VERIFY(w.isActiveWindow());
        QVERIFY(row);
        row->installEventFilter(&back);
    }

    // The reload drops the item, its row leaves and the next one moves up.
    QTRY_VERIFY_WITH_TIMEOUT(!row, 15000);
    if (away)
        QTRY_VERIFY(open->isActiveWindow());
    QCoreApplication::processEvents();
    // Neither a control (another row's, or the sheet's own) nor anything in a row.
    for (QWidget* holder : { open->focusWidget(), QApplication::focusWidget() })
        QVERIFY2(!onAControl(holder), qPrintable(holder->objectName()));
}

void TestPagePlace::removedRowLeavesFocusWithList_data()
{
    QTest::addColumn<bool>("away"); // another window (the confirmation, say) is active while the row leaves
    QTest::newRow("active") << false;
    QTest::newRow("away") << true;
}

// A connection removed with "删除" takes its row away; the keyboard stays with
// the list, not on the next connection's buttons or another control, also
// when the window was not the active one as the row went.
void TestPagePlace::removedRowLeavesFocusWithList()
{
    QFETCH(bool, away);
    QList<QUuid> ids;
    for (const QString& name : { QStringLiteral("评审 Agent"), QStringLiteral("部署 Agent") }) {
        AdvancedConnection c;
        c.id = QUuid::createUuid();
        c.kind = AdvancedConnectionKind::generic;
        c.name = name;
        c.command = QStringLiteral("review-agent");
        c.createdAt = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
        QVERIFY(AdvancedConnectionStore::upsert(c));
        ids << c.id;
    }
    m_world->pair();
    MainWindow w(kQuiet);
    showLoaded(w, QSize(840, 720));
    const QString first = UuidText::plain(ids.first());
    QPointer<QWidget> row = w.findChild<QWidget*>(QStringLiteral("advanced.row.") + first);
    QVERIFY(row);
    auto* remove = w.findChild<QAbstractButton*>(QStringLiteral("advanced.") + first + QStringLiteral(".remove"));
    QVERIFY(remove);
    centre(w, row);

    QWidget other;
    if (away) {
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
    }
    remove->setFocus(Qt::TabFocusReason);
    QCOMPARE(w.focusWidget(), remove);
    m_prompts->alertAnswers = { 0 };
    QTest::keyClick(remove, Qt::Key_Space);
    QTRY_VERIFY(!row);
    if (away) {
        w.activateWindow();
        QTRY_VERIFY(w.isActiveWindow());
    }
    QCoreApplication::processEvents();
    QVERIFY2(!onAControl(w.focusWidget()), qPrintable(w.focusWidget()->objectName()));
}

void TestPagePlace::noticeKeepsTheView_data()
{
    QTest::addColumn<bool>("scrolled"); // the page is scrolled below the notice's place
    QTest::addColumn<QString>("change"); // "show", "longer", "hide"; "board": the live board above the team grid grows
    for (const bool scrolled : { true, false })
        for (const char* change : { "show", "longer", "hide" })
            QTest::newRow(QByteArray(scrolled ? "scrolled " : "at the top ") + change)
                << scrolled << QString::fromLatin1(change);
    QTest::newRow("pointer on a team card, board grows") << true << QStringLiteral("board");
}

// A notice shown, replaced or taken away while the user looks further down keeps
// what is on screen in place; at the top of the page it pushes the page down.
// So does the live board growing above the team grid, holding the card under
// a still pointer: a press there reaches that card.
void TestPagePlace::noticeKeepsTheView()
{
    QFETCH(bool, scrolled);
    QFETCH(QString, change);
    m_world->pair();
    MainWindow w(kQuiet);
    showLoaded(w, QSize(840, 720));
    WindowController* c = w.controller();
    if (change == QLatin1String("longer") || change == QLatin1String("hide")) {
        c->setNotice(QStringLiteral("工作区已加入；现有工作区与 Runtime 没有停止"), false);
        QTRY_VERIFY(w.noticeBanner()->isVisible());
    }
    QWidget* runtime = w.pairedPage()->section(PairedPage::Runtime);
    // Measured from the settled page: a section still growing from the load
    // would move the runtime section after the notice has been followed.
    settle(w);
    if (change == QLatin1String("board")) {
        TeamSection* team = w.teamSection();
        QTRY_VERIFY(!team->cards().isEmpty());
        // The last card made, well below the board.
        runtime = team->cards().last();
    }
    if (scrolled) {
        centre(w, runtime);
        settle(w);
    }
    const int at = shownAt(w, runtime);
    const int pageAt = w.pairedPage()->y();

    if (change == QLatin1String("board")) {
        auto* card = static_cast<EmployeeCard*>(runtime);
        QWidget* open = card->openButton();
        const QPoint pointer = open->mapTo(&w, open->rect().center());
        QTest::mouseMove(&w, pointer);
        QWidget* board = w.teamSection()->findChild<QWidget*>(QStringLiteral("liveboard"));
        QVERIFY(board && board->isVisible());
        const int boardHeight = board->height();
        // A blocked task starts running: the board above the grid gets its card.
        QJsonArray commands;
        for (const QJsonValue& v : m_world->sim->control("GET", "/_sim/state/" + kDemo)["commands"].toArray()) {
            QJsonObject command = v.toObject();
            if (command["id"] == "c-106") {
                command["status"] = "claimed";
                command["claimed_by"] = "dev-studio";
            }
            commands.append(command);
        }
        m_world->sim->control("PATCH", "/_sim/state/" + kDemo, QJsonObject { { "commands", commands } });
        QCOMPARE(m_world->sim->lastStatus(), 200);
        QCoro::waitFor(c->status()->reload(c->selectedConfig()));
        QTRY_VERIFY_WITH_TIMEOUT(board->height() > boardHeight, 15000);
        settle(w);
        QCOMPARE(shownAt(w, card), at);
        // The press where the pointer rests opens the employee it rested on.
        QCOMPARE(buttonAt(&w, pointer), open);
        QTest::mouseClick(open, Qt::LeftButton);
        QTRY_VERIFY(w.teamSection()->detailCard());
        QCOMPARE(w.teamSection()->detailCard()->objectName(), card->objectName().replace("card", "detail"));
        return;
    }

    if (change == QLatin1String("hide"))
        c->setNotice(std::nullopt, false);
    else
        c->setNotice(change == QLatin1String("show") ? QStringLiteral("配对失败：refused")
                                                     : QStringLiteral("配对失败：") + QString(160, QChar(u'长'))
                    + QStringLiteral("，再试一次之前看看终端里说了什么。"),
            true);
    // The notice above the page changed its height, and with it the page's place in the column.
    // Once the view has followed, which a loaded machine may take a while to get to.
    QTRY_VERIFY(w.pairedPage()->y() != pageAt);
    QTRY_COMPARE_WITH_TIMEOUT(shownAt(w, runtime), scrolled ? at : at + w.pairedPage()->y() - pageAt, 15000);
}

QTEST_MAIN(TestPagePlace)
#include "tst_PagePlace.moc"
