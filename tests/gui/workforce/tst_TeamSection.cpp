// The team section over the demo team, the live task board, the collaboration
// section, and their screenshots.
#include "core/design/DS.h"
#include "core/gateway/Status.h"
#include "core/platform/ReduceMotion.h"
#include "core/shell/WindowController.h"
#include "core/tasks/EvidenceSnapshotFile.h"
#include "core/tasks/TaskEvidenceModel.h"
#include "core/workforce/SkillLoader.h"
#include "core/workforce/WorkforceModel.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/design/AdaptiveColumns.h"
#include "gui/design/AimGuard.h"
#include "gui/design/Card.h"
#include "gui/design/Chip.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/ElidedLine.h"
#include "gui/design/EmptyState.h"
#include "gui/design/ErrorBanner.h"
#include "gui/design/LazyRows.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/SkeletonCards.h"
#include "gui/design/StatusBadge.h"
#include "gui/tasks/TaskEvidenceView.h"
#include "gui/workforce/CollabNodeRow.h"
#include "gui/workforce/CollaborationSection.h"
#include "gui/workforce/CollaborationView.h"
#include "gui/workforce/EmployeeCard.h"
#include "gui/workforce/EmployeeDetailBody.h"
#include "gui/workforce/LiveTaskBoard.h"
#include "gui/workforce/LiveTaskCard.h"
#include "gui/workforce/NodeGlyph.h"
#include "gui/workforce/SkillDeliverySection.h"
#include "gui/workforce/TeamSection.h"

#include "PressTwice.h"
#include "SimGateway.h"
#include "SimTool.h"
#include "TempHome.h"

#include <QAbstractAnimation>
#include <QDir>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QtTest>
#include <algorithm>

#include <QCoroTask>

namespace {

const QString kDemo = QStringLiteral("ws-demo");

template <typename W = QWidget> W* child(QWidget* root, const QString& name)
{
    return root->findChild<W*>(name);
}

// Shown on screen as the window does: the page's colours behind it.
std::unique_ptr<QWidget> frame(QWidget* content, int width, int height)
{
    auto window = std::make_unique<QWidget>();
    window->setAutoFillBackground(true);
    QPalette p = window->palette();
    p.setColor(QPalette::Window, DS::bg());
    p.setColor(QPalette::WindowText, DS::ink());
    window->setPalette(p);
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(20, 20, 20, 20);
    layout->addWidget(content);
    layout->addStretch(1);
    window->resize(width, height);
    window->show();
    [&] { QVERIFY(QTest::qWaitForWindowExposed(window.get())); }();
    return window;
}

// Animation time that moves only when told, one 16 ms frame at a time (with
// the events that came meanwhile: a newly started animation joins the clock
// through one).
class FrameClock : public QAnimationDriver {
public:
    void frame()
    {
        QCoreApplication::processEvents();
        m_elapsed += 16;
        advance();
    }
    qint64 elapsed() const override { return m_elapsed; }

private:
    qint64 m_elapsed = 0;
};

void save(QWidget* widget, const QString& name)
{
    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    QTest::qWait(80);
    // Tall enough for everything in it, as the page's scroll area would give it.
    QWidget* window = widget->window();
    window->resize(window->width(), window->layout()->totalHeightForWidth(window->width()));
    QTest::qWait(80);
    QVERIFY(widget->grab().save(QDir(dir).filePath(name)));
}

// Gives employee `id` a template of another name: the role it maps to changes.
std::function<void(QJsonObject&)> templateNamed(const QString& id, const QString& name)
{
    return [id, name](QJsonObject& e) {
        if (e.value("id") != id)
            return;
        QJsonObject t = e.value("template").toObject();
        t.insert("name", name);
        e.insert("template", t);
    };
}

QJsonObject employee(const QString& id, const QString& name)
{
    return QJsonObject { { "id", id }, { "name", name }, { "status", "working" },
        { "template", QJsonObject { { "name", "AI Developer" }, { "role", "后端" } } } };
}

// Counts the layout requests each watched widget gets.
class LayoutRequests : public QObject {
public:
    explicit LayoutRequests(QHash<QObject*, int>& counts)
        : m_counts(counts)
    {
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            ++m_counts[watched];
        return false;
    }

private:
    QHash<QObject*, int>& m_counts;
};

QJsonObject command(const QString& id, const QString& status, const QString& employeeId = QString())
{
    QJsonObject c { { "id", id }, { "text", "任务 " + id }, { "status", status } };
    if (!employeeId.isEmpty())
        c.insert("employee_id", employeeId);
    return c;
}

} // namespace

class TestTeamSection : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void branches();
    void openAndClose();
    void openBringsTheDetailIntoView();
    void aPressReachesTheCardAimedAt_data();
    void aPressReachesTheCardAimedAt();
    void longSkillsAreElided();
    void skillStates();
    void cardsKeptAcrossReloads();
    void longListsMakeWhatIsInView_data();
    void longListsMakeWhatIsInView();
    void collaboration();
    void boardWhoRunsIt();
    void screenshots();

private:
    // Reloads the status model for the demo workspace; the section sees it on the next turn.
    void reload();
    void patch(const QJsonObject& state);
    // A team of `size` copies of the demo's first employee, each under an id of its own, and no commands.
    void copiesOfTheFirstEmployee(int size);
    // A team section of the window's content width in `area`, `height` tall.
    static TeamSection* sectionIn(QScrollArea& area, WindowController* controller, int height);
    // Sends the demo's "employees" or "commands" with `edit` applied to each; an emptied one is dropped.
    void edit(const QString& key, const std::function<void(QJsonObject&)>& edit);
    // The rows of aPressReachesTheCardAimedAt on the live board.
    void pressOnTheBoard(const QString& aim, bool taken);
    // Workspace ws-b with these commands and team, read into `status`.
    CLIConfig loadBoard(Status& status, const QJsonArray& commands, const QJsonArray& team = {});

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimTool> m_tool;
    std::unique_ptr<SimGateway> m_sim;
    std::unique_ptr<WindowController> m_controller;
};

void TestTeamSection::init()
{
    ReduceMotion::setOverride(true);
    m_home = std::make_unique<TempHome>();
    m_tool = std::make_unique<SimTool>(*m_home);
    m_sim = std::make_unique<SimGateway>();
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    // This machine is the studio, where three of the demo team work.
    CLIConfig c = m_sim->config(kDemo);
    c.device = "dev-studio";
    c.path = m_home->filePath("projects/demo");
    QVERIFY(QDir().mkpath(*c.path));
    const QByteArray json = QJsonDocument(c.toJson()).toJson();
    m_home->writeFile(".tolvarine/workspaces/ws-demo.json", json);
    m_home->writeFile(".tolvarine/config.json", json);
    m_controller = std::make_unique<WindowController>();
    QCoro::waitFor(m_controller->catalog()->reload(false));
    QVERIFY(m_controller->selectedConfig());
    reload();
}

void TestTeamSection::cleanup()
{
    m_controller.reset();
    QTRY_VERIFY(EvidenceSnapshotFile::shared().idle());
    m_sim.reset();
    m_tool.reset();
    m_home.reset();
    ReduceMotion::setOverride(std::nullopt);
}

void TestTeamSection::reload()
{
    QCoro::waitFor(m_controller->status()->reload(m_controller->selectedConfig()));
    QTest::qWait(0);
    QCoreApplication::processEvents();
}

void TestTeamSection::patch(const QJsonObject& state)
{
    m_sim->control("PATCH", "/_sim/state/" + kDemo, state);
    QCOMPARE(m_sim->lastStatus(), 200);
    reload();
}

void TestTeamSection::copiesOfTheFirstEmployee(int size)
{
    const QJsonObject model
        = m_sim->control("GET", "/_sim/state/ws-demo").object().value("employees").toArray().first().toObject();
    QJsonArray team;
    for (int i = 0; i < size; ++i) {
        QJsonObject e = model;
        e["id"] = QStringLiteral("emp-%1").arg(i);
        e["name"] = QStringLiteral("同事 %1").arg(i);
        team.append(e);
    }
    patch(QJsonObject { { "employees", team }, { "commands", QJsonArray() } });
}

TeamSection* TestTeamSection::sectionIn(QScrollArea& area, WindowController* controller, int height)
{
    area.setWidgetResizable(true);
    auto* section = new TeamSection(controller);
    area.setWidget(section);
    area.resize(840, height);
    section->setContentWidth(800);
    return section;
}

void TestTeamSection::edit(const QString& key, const std::function<void(QJsonObject&)>& edit)
{
    QJsonArray items;
    for (const QJsonValue& v : m_sim->control("GET", "/_sim/state/ws-demo").object().value(key).toArray()) {
        QJsonObject e = v.toObject();
        edit(e);
        if (!e.isEmpty())
            items.append(e);
    }
    patch(QJsonObject { { key, items } });
}

CLIConfig TestTeamSection::loadBoard(Status& status, const QJsonArray& commands, const QJsonArray& team)
{
    m_sim->control("PUT", "/_sim/state/ws-b",
        QJsonObject { { "workspace", "ws-b" }, { "token", "tok-b" }, { "commands", commands }, { "employees", team } });
    const CLIConfig cfg = m_sim->config("ws-b");
    QCoro::waitFor(status.reload(cfg));
    [&] { QVERIFY(m_sim->lastStatus() == 200 && !status.commandsError()); }();
    return cfg;
}

void TestTeamSection::branches()
{
    {
        // Before the roster's first read the team is not known to be empty: placeholders stand in.
        WindowController fresh;
        TeamSection loading(&fresh);
        QVERIFY(!loading.skeleton()->isHidden());
        QVERIFY(loading.emptyState()->isHidden() && loading.grid()->isHidden() && loading.errorBanner()->isHidden());
        QCoro::waitFor(fresh.status()->reload(m_controller->selectedConfig()));
        QTRY_VERIFY(loading.skeleton()->isHidden() && !loading.grid()->isHidden());
    }
    TeamSection section(m_controller.get());
    QCOMPARE(section.cards().size(), 9);
    // The grid's columns follow the width the window measured, not its own.
    section.grid()->resize(1200, 400);
    for (const auto& [width, columns] : QList<std::pair<qreal, int>> { { 689, 1 }, { 690, 2 }, { 1040, 3 } }) {
        section.setContentWidth(width);
        QCOMPARE(section.grid()->columnCount(), columns);
    }
    // Each fault shows its own branch and the section returns when it clears. The command
    // list unreadable keeps the grid under a banner (its "idle" cards are not to be trusted).
    m_sim->setFault("GET", "/api/workspaces/ws-demo/commands", 500);
    reload();
    QTRY_VERIFY(section.liveBoard()->isHidden());
    QVERIFY(!section.grid()->isHidden() && !section.commandsErrorBanner()->isHidden());
    m_sim->clearFaults();
    reload();
    QTRY_VERIFY(section.commandsErrorBanner()->isHidden() && !section.liveBoard()->isHidden());
    // No employees endpoint: the banner alone.
    m_sim->setFault("GET", "/api/workspaces/ws-demo/employees", 404, R"({"error":"no such route"})");
    reload();
    QTRY_VERIFY(!section.errorBanner()->isHidden());
    QVERIFY(section.liveBoard()->isHidden() && section.grid()->isHidden() && section.emptyState()->isHidden());
    m_sim->clearFaults();
    // An empty roster: the placeholder alone.
    patch(QJsonObject { { "employees", QJsonArray {} } });
    QTRY_VERIFY(!section.emptyState()->isHidden());
    QVERIFY(section.errorBanner()->isHidden() && section.liveBoard()->isHidden() && section.grid()->isHidden());
    QVERIFY(section.skeleton()->isHidden());
}

// Opening and closing the detail, and what the detail and the cards show of where each one works.
void TestTeamSection::openAndClose()
{
    TeamSection section(m_controller.get());
    const auto open = [&](const char* id) { QTest::mouseClick(section.card(id)->openButton(), Qt::LeftButton); };
    // Another card moves the detail (and the emphasis); the same card again closes it.
    open("emp-lin");
    open("emp-zhou");
    QCOMPARE(section.detailCard()->objectName(), QStringLiteral("team.detail.emp-zhou"));
    QVERIFY(!section.card("emp-lin")->emphasized() && section.card("emp-zhou")->emphasized());
    open("emp-zhou");
    QVERIFY(!section.detail());
    QCOMPARE(m_controller->selectedEmployee(), std::nullopt);

    // The open employee leaves the roster and comes back: the detail follows without a click.
    open("emp-zhou");
    const QJsonArray team = m_sim->control("GET", "/_sim/state/ws-demo").object().value("employees").toArray();
    edit("employees", [](QJsonObject& e) {
        if (e.value("id") == "emp-zhou")
            e = {};
    });
    QTRY_VERIFY(!section.detail());
    patch(QJsonObject { { "employees", team } });
    QTRY_VERIFY(section.detail());
    QCOMPARE(section.detail()->objectName(), QStringLiteral("employee.detail.emp-zhou"));

    // The studio is this machine; a teammate elsewhere is not here.
    const auto here = [&](const char* id) {
        const QList<Chip*> chips = section.card(id)->findChildren<Chip*>();
        return std::ranges::any_of(chips, [](Chip* c) { return c->shownText() == "在这台机器上" && !c->isHidden(); });
    };
    QVERIFY(here("emp-lin") && !here("emp-wu") && !here("emp-gu"));

    // The runtime banners: 吴桐 lacks a runtime, 苏晚's machine is offline; 乔安's work
    // cannot start, which is neither.
    const auto banners = [&] {
        QStringList shown;
        for (ErrorBanner* b : section.detail()->findChildren<ErrorBanner*>())
            if (!b->isHidden())
                shown << b->textLabel()->text();
        return shown;
    };
    m_controller->setSelectedEmployee("emp-wu");
    QCOMPARE(banners(), QStringList { "他那台机器上没有能跑这件事的 CLI。装好或登录之后，这条会自己接着跑。" });
    m_controller->setSelectedEmployee("emp-su");
    QCOMPARE(banners(), QStringList { "他那台机器的心跳停了。执行体可能已经关掉了 —— 在那台机器上重新开一次。" });
    m_controller->setSelectedEmployee("emp-qiao");
    QVERIFY(banners().isEmpty());

    // A name without a break point wraps inside itself: the detail asks for no more width than a card.
    const QString unbroken = QStringLiteral("ops/") + QString(200, QLatin1Char('x'));
    edit("employees", [&](QJsonObject& e) {
        if (e.value("id") == "emp-qiao")
            e.insert("name", unbroken);
    });
    const auto named = [&]() -> QLabel* {
        const QList<QLabel*> labels = section.detail() ? section.detail()->findChildren<QLabel*>() : QList<QLabel*>();
        const auto it = std::ranges::find_if(labels, [&](QLabel* l) { return l->text() == unbroken; });
        return it == labels.end() ? nullptr : *it;
    };
    QTRY_VERIFY(named());
    QVERIFY2(
        named()->minimumSizeHint().width() <= 400, qPrintable(QString::number(named()->minimumSizeHint().width())));
}

void TestTeamSection::aPressReachesTheCardAimedAt_data()
{
    QTest::addColumn<QString>("list"); // "team": the grid's 查看; "board": a running command's 重试
    QTest::addColumn<QString>("aim"); // "still", "moved 0.3 s", "moved 0.5 s"
    QTest::addColumn<bool>("taken");
    QTest::newRow("still") << "team"
                           << "still" << false;
    QTest::newRow("moved 0.3 s") << "team"
                                 << "moved 0.3 s" << false;
    QTest::newRow("moved 0.5 s") << "team"
                                 << "moved 0.5 s" << true;
    QTest::newRow("board, still") << "board"
                                  << "still" << false;
    QTest::newRow("board, moved 0.3 s") << "board"
                                        << "moved 0.3 s" << false;
    QTest::newRow("board, moved 0.5 s") << "board"
                                        << "moved 0.5 s" << true;
}

// A poll takes away the employee whose 查看 the pointer rests on, and the
// next card slides into its place: a press there from a still pointer, or
// one moved within a reaction time, is held and says so; a press aimed later
// opens the card under it.
// On the live board, a command that ends slides the next card's 重试 into
// the place of its own, the same way.
void TestTeamSection::aPressReachesTheCardAimedAt()
{
    QFETCH(QString, list);
    QFETCH(QString, aim);
    QFETCH(bool, taken);
    if (list == QLatin1String("board"))
        return pressOnTheBoard(aim, taken);
    // Cards of one height and no work on the board above them: the next card
    // comes exactly where the one taken away was.
    copiesOfTheFirstEmployee(6);
    QScrollArea area;
    TeamSection* section = sectionIn(area, m_controller.get(), 600);
    qint64 clock = 0;
    AimGuard::setClock([&clock] { return clock; });
    const auto realClock = qScopeGuard([] { AimGuard::setClock({}); });
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));
    QTRY_VERIFY(section->cards().size() >= 4);
    EmployeeCard* gone = section->cards().at(1);
    const QString goneID = gone->objectName().section('.', -1);
    area.ensureWidgetVisible(gone->openButton(), 0, 0);
    const QPoint at = gone->openButton()->mapTo(&area, gone->openButton()->rect().center());
    QTest::mouseMove(&area, at);
    const QPointer<QAbstractButton> goneButton = gone->openButton();
    edit("employees", [&](QJsonObject& e) {
        if (e.value("id") == goneID)
            e = {};
    });
    QAbstractButton* next = nullptr;
    QTRY_VERIFY((next = buttonAt(&area, at)) && next != goneButton.data() && !section->card(goneID));
    QPoint press = at;
    if (aim != QLatin1String("still")) {
        clock = aim.endsWith(QLatin1String("0.3 s")) ? 300 : 500;
        press = moveAwayAndBack(&area, at);
    }
    QAbstractButton* under = buttonAt(&area, press);
    QVERIFY(under);
    QTest::mouseClick(under, Qt::LeftButton, {}, under->mapFrom(&area, press));
    if (taken) {
        QTRY_VERIFY(section->detailCard());
        QVERIFY(section->detailCard()->objectName() != QStringLiteral("team.detail.") + goneID);
        return;
    }
    QTest::qWait(200);
    QCOMPARE(m_controller->selectedEmployee(), std::nullopt);
    auto* note = area.findChild<QLabel*>(QStringLiteral("aim.held"));
    QVERIFY(note && note->isVisible());
}

void TestTeamSection::pressOnTheBoard(const QString& aim, bool taken)
{
    // Running commands of one height whose changes cannot be read: each card offers 重试.
    QJsonArray commands;
    for (int i = 0; i < 4; ++i) {
        const QString id = QStringLiteral("c-%1").arg(i);
        commands.append(command(id, "claimed", "emp-lin"));
        m_sim->setFault("GET", "/api/workspaces/ws-demo/commands/" + id + "/changes", 503,
            R"({"error":"改动服务暂时不可用","code":"unavailable"})");
    }
    patch(QJsonObject { { "commands", commands } });
    QScrollArea area;
    TeamSection* section = sectionIn(area, m_controller.get(), 900);
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));
    LiveTaskBoard* board = section->liveBoard();
    const auto retry = [board](const QString& id) -> QAbstractButton* {
        LiveTaskCard* card = board->card(id);
        return card ? card->findChild<QAbstractButton*>(QStringLiteral("evidence.retry.") + id) : nullptr;
    };
    // Every card offers it, so the cards have come to their height.
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(commands.cbegin(), commands.cend(),
                                 [&](const QJsonValue& c) {
                                     QAbstractButton* r = retry(c.toObject().value("id").toString());
                                     return r && r->isVisible();
                                 })
            && std::all_of(board->cards().cbegin(), board->cards().cend(),
                [&](LiveTaskCard* c) { return c->height() == board->cards().constFirst()->height(); }),
        15000);
    QTest::qWait(300);
    // A clock moved by hand from now on, far past what the board did while it loaded.
    qint64 clock = qint64(1) << 40;
    AimGuard::setClock([&clock] { return clock; });
    const auto realClock = qScopeGuard([] { AimGuard::setClock({}); });
    area.ensureWidgetVisible(retry("c-1"), 0, 0);
    const QPoint at = retry("c-1")->mapTo(&area, retry("c-1")->rect().center());
    QTest::mouseMove(&area, at);
    const QPointer<QAbstractButton> gone = retry("c-1");
    edit("commands", [](QJsonObject& c) {
        if (c.value("id") == "c-1")
            c = {};
    });
    // Another card's 重试 comes where it was.
    QAbstractButton* slid = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(!board->card("c-1") && (slid = buttonAt(&area, at)) && slid != gone.data()
            && slid->objectName().startsWith(QLatin1String("evidence.retry.")),
        15000);
    TaskEvidenceModel* next = board->evidence(slid->objectName().section(QLatin1Char('.'), 2));
    QVERIFY(next);
    bool retried = false;
    connect(next, &TaskEvidenceModel::changed, &area, [&] { retried |= next->retrying(); });
    QPoint press = at;
    if (aim != QLatin1String("still")) {
        clock += aim.endsWith(QLatin1String("0.3 s")) ? 300 : 500;
        press = moveAwayAndBack(&area, at);
    }
    QAbstractButton* under = buttonAt(&area, press);
    QCOMPARE(under, slid);
    QTest::mouseClick(under, Qt::LeftButton, {}, under->mapFrom(&area, press));
    if (taken) {
        QTRY_VERIFY(retried);
        return;
    }
    QTest::qWait(200);
    QVERIFY(!retried);
    auto* note = area.findChild<QLabel*>(QStringLiteral("aim.held"));
    QVERIFY(note && note->isVisible());
}

// With a real-size team the detail opens many screens below the card that
// opened it: the page brings it into view.
void TestTeamSection::openBringsTheDetailIntoView()
{
    // Sixty of the demo's first employee, each under an id of its own.
    copiesOfTheFirstEmployee(60);
    QScrollArea area;
    TeamSection* section = sectionIn(area, m_controller.get(), 600);
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));
    QTRY_COMPARE(section->grid()->keys().size(), 60);
    QScrollBar* bar = area.verticalScrollBar();
    const auto detailInView = [&] {
        Card* detail = section->detailCard();
        if (!detail)
            return false;
        const int top = detail->mapTo(section, QPoint(0, 0)).y();
        return top >= bar->value() && top < bar->value() + area.viewport()->height();
    };

    QTest::mouseClick(section->card("emp-0")->openButton(), Qt::LeftButton);
    QTRY_VERIFY(detailInView());
    QVERIFY(bar->value() > 0);
    // Another card from the top of the page: its detail is brought into view again.
    bar->setValue(0);
    QTest::mouseClick(section->card("emp-1")->openButton(), Qt::LeftButton);
    QTRY_VERIFY(detailInView());
    QCOMPARE(section->detailCard()->objectName(), QStringLiteral("team.detail.emp-1"));
    // A reload leaves the page where the user has put it.
    bar->setValue(0);
    reload();
    QTest::qWait(50);
    QCOMPARE(bar->value(), 0);
}

// Three long skill labels share the card's row: each is cut with an
// ellipsis, never in the middle of a character, its whole text in its tooltip.
void TestTeamSection::longSkillsAreElided()
{
    const QString label = QStringLiteral("跨服务的数据库迁移与回滚演练（含灰度发布）");
    edit("employees", [&](QJsonObject& e) {
        if (e.value("id") != "emp-lin")
            return;
        QJsonObject t = e.value("template").toObject();
        t["skills"] = QJsonArray { QJsonObject { { "id", "a" }, { "label", label + "甲" } },
            QJsonObject { { "id", "b" }, { "label", label + "乙" } },
            QJsonObject { { "id", "c" }, { "label", label + "丙" } } };
        e["template"] = t;
    });
    auto* section = new TeamSection(m_controller.get());
    auto window = frame(section, 420, 1400);
    section->setContentWidth(380);
    EmployeeCard* card = section->card("emp-lin");
    QVERIFY(card && card->isVisible());
    QList<Chip*> skills;
    for (Chip* chip : card->findChildren<Chip*>())
        if (chip->shownText().startsWith(label))
            skills.append(chip);
    QCOMPARE(skills.size(), 3);
    for (Chip* chip : skills) {
        QVERIFY2(chip->drawnText().endsWith(QStringLiteral("…")), qPrintable(chip->drawnText()));
        QCOMPARE(chip->toolTip(), chip->shownText());
        QVERIFY(chip->mapTo(card, QPoint(chip->width(), 0)).x() <= card->width());
    }
}

void TestTeamSection::skillStates()
{
    auto* shown = new TeamSection(m_controller.get());
    TeamSection& section = *shown;
    auto window = frame(shown, 900, 900);

    // Loading, then loaded (the loaded pane is in skill-loaded.png).
    m_tool->put("employee-evidence.delay_ms", "600");
    m_controller->setSelectedEmployee("emp-he");
    EmployeeDetailBody* he = section.detail();
    QTRY_VERIFY(child<QLabel>(he, "skill.loading") && child<QLabel>(he, "skill.loading")->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(child(he, "skill.status.ai_security_officer"), 10000);
    QVERIFY(!child<QLabel>(he, "skill.loading")->isVisible());

    // The role changes while the old role's load runs: only the new role's contract is applied.
    QList<QString> applied;
    m_tool->put("employee-evidence.delay_ms", "1500");
    m_controller->setSelectedEmployee(std::nullopt);
    m_controller->setSelectedEmployee("emp-he");
    he = section.detail();
    connect(he->skillLoader(), &SkillLoader::changed, he, [&] {
        applied << (he->skillLoader()->skill() ? he->skillLoader()->skill()->employeeRole : QStringLiteral("error"));
    });
    QTest::qWait(100);
    edit("employees", templateNamed("emp-he", "AI Lawyer"));
    QTRY_VERIFY_WITH_TIMEOUT(child(he, "skill.status.ai_lawyer"), 10000);
    QTest::qWait(300);
    QCOMPARE(applied, QList<QString> { "ai_lawyer" });

    // A pane closed while its load runs takes the run with it and applies nothing.
    m_tool->put("employee-evidence.delay_ms", "400");
    m_controller->setSelectedEmployee("emp-lin");
    QPointer<EmployeeDetailBody> lin = section.detail();
    QVERIFY(lin && child<QLabel>(lin, "skill.loading")->isVisible());
    m_controller->setSelectedEmployee(std::nullopt);
    QTRY_VERIFY(!lin);
    QTest::qWait(600);

    // A template no skill is known for: the no-role text, and the tool is not asked.
    // (A failing tool's text is in skill-failed.png; its wording is a core rule.)
    m_tool->drop("employee-evidence.delay_ms");
    const int runs = int(m_tool->argvs().size());
    edit("employees", templateNamed("emp-shen", "Product Manager"));
    m_controller->setSelectedEmployee("emp-shen");
    QVERIFY(child<QLabel>(section.detail(), "skill.unmapped:Product Manager|沈一")->isVisible());
    QTest::qWait(200);
    QCOMPARE(int(m_tool->argvs().size()), runs);
}

void TestTeamSection::cardsKeptAcrossReloads()
{
    TeamSection section(m_controller.get());
    m_controller->setSelectedEmployee("emp-lin");
    const QList<EmployeeCard*> cards = section.cards();
    const QList<QWidget*> before = section.findChildren<QWidget*>();

    // Nothing new: not one widget made or lost.
    reload();
    QTest::qWait(20);
    const QList<QWidget*> after = section.findChildren<QWidget*>();
    QCOMPARE(QSet<QWidget*>(after.begin(), after.end()), QSet<QWidget*>(before.begin(), before.end()));

    // One employee goes offline: every card is the one it was, and that card
    // says so; the open detail and its evidence stay.
    QWidget* evidence = section.detail()->runningRow("c-105");
    QVERIFY(evidence);
    edit("employees", [](QJsonObject& e) {
        if (e.value("id") == "emp-shen")
            e.insert("device_alive", false);
    });
    QTRY_COMPARE(section.card("emp-shen")->badge()->look().stable, QStringLiteral("Offline"));
    QCOMPARE(section.cards(), cards);
    QCOMPARE(section.detail()->runningRow("c-105"), evidence);

    // A running command's text changes: the board keeps its card and shows the new text.
    LiveTaskCard* running = section.liveBoard()->card("c-105");
    edit("commands", [](QJsonObject& c) {
        if (c.value("id") == "c-105")
            c.insert("text", "改过的任务");
    });
    QTRY_COMPARE(running->findChild<ElidedLabel*>()->text(), QStringLiteral("改过的任务"));
    QCOMPARE(section.liveBoard()->card("c-105"), running);
}

// A long list makes the cards in view of the page and the ones the keyboard
// needs, not all of them: scrolling makes the others, and a poll that
// changes one item touches that item's card alone.
void TestTeamSection::longListsMakeWhatIsInView_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("size");
    QTest::newRow("live board") << "commands" << 250;
    QTest::newRow("team") << "employees" << 500;
}

void TestTeamSection::longListsMakeWhatIsInView()
{
    QFETCH(QString, list);
    QFETCH(int, size);
    const bool board = list == "commands";
    const auto item = [board](int i, const QString& name) {
        return board ? command(QStringLiteral("c-%1").arg(i), "claimed", "emp-lin")
                     : employee(QStringLiteral("emp-%1").arg(i), name);
    };
    QJsonArray items;
    for (int i = 0; i < size; ++i)
        items.append(item(i, QStringLiteral("同事 %1").arg(i)));
    patch(QJsonObject { { list, items } });

    QScrollArea area;
    TeamSection* section = sectionIn(area, m_controller.get(), 540);
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));
    LazyRows* rows = board ? section->liveBoard()->rows() : section->grid()->lazyRows();
    QTRY_COMPARE(rows->keys().size(), size);
    QVERIFY2(rows->madeCount() < 30, qPrintable(QString::number(rows->madeCount())));
    if (board) {
        // Every running command's evidence is fetched, its card made or not.
        QTRY_VERIFY_WITH_TIMEOUT(
            section->liveBoard()->evidence("c-200") && section->liveBoard()->evidence("c-200")->polls() >= 1, 20000);
        QVERIFY(!rows->row("c-200"));
    }

    // Scrolled to the end, the cards there are made.
    // (One not made yet: the last card that holds a control is always made,
    // and which one that is depends on the evidence read so far.)
    QString nearEnd;
    for (qsizetype i = size - 3; i > size - 30 && nearEnd.isEmpty(); --i) {
        if (!rows->row(rows->keys().at(i)))
            nearEnd = rows->keys().at(i);
    }
    QVERIFY(!nearEnd.isEmpty());
    // (Again while the cards made on the way change the page's height.)
    const QString changed = rows->keys().at(size - 2);
    QTRY_VERIFY_WITH_TIMEOUT(
        (area.ensureWidgetVisible(rows->row(rows->keys().last())), rows->row(nearEnd) && rows->row(changed)), 15000);
    QVERIFY2(rows->madeCount() < 60, qPrintable(QString::number(rows->madeCount())));

    // A poll changes one item: its card alone lays out again, no card is made or lost.
    for (const QString& id : section->liveBoard()->rows()->keys())
        if (section->liveBoard()->card(id))
            QTRY_VERIFY(section->liveBoard()->evidence(id)->polls() >= 1);
    QTest::qWait(100);
    const QList<QWidget*> made = rows->madeRows();
    QHash<QObject*, int> relaid;
    LayoutRequests counter(relaid);
    for (QWidget* card : made)
        card->installEventFilter(&counter);
    const QString text = board ? QStringLiteral("改过的任务") : QStringLiteral("改了名字的同事");
    QJsonObject edited = item(size - 2, text);
    if (board)
        edited.insert("text", text);
    items.replace(size - 2, edited);
    patch(QJsonObject { { list, items } });
    QWidget* card = rows->row(changed);
    QTRY_VERIFY(std::ranges::any_of(card->findChildren<ElidedLabel*>(), [&](ElidedLabel* l) {
        return l->text() == text;
    }) || std::ranges::any_of(card->findChildren<ElidedLine*>(), [&](ElidedLine* l) { return l->text() == text; }));
    QCOMPARE(rows->madeRows(), made);
    for (QWidget* other : made)
        QVERIFY2(other == card || !relaid.contains(other), qPrintable(other->objectName()));

    // A poll that brings the same lists back fills in no card again.
    QSignalSpy filled(rows, &LazyRows::filledIn);
    reload();
    reload();
    QCOMPARE(filled.count(), 0);

    // Paged through, the cards that left the view are let go.
    QScrollBar* bar = area.verticalScrollBar();
    for (int value = bar->maximum(); value > 0; value -= area.viewport()->height()) {
        bar->setValue(value);
        QVERIFY2(rows->madeCount() < 80, qPrintable(QString::number(rows->madeCount())));
    }
}

void TestTeamSection::collaboration()
{
    auto* shown = new CollaborationSection(m_controller->workforce());
    CollaborationSection& section = *shown;
    CollaborationView* view = section.view();

    // The running dot stays still with reduced motion and breathes without it.
    auto window = frame(shown, 760, 400);
    NodeGlyph* running = view->nodeRow("emp-lin")->glyph();
    QVERIFY(!running->breathing() && running->dotOpacity() == 1.0);
    ReduceMotion::setOverride(false);
    CollabNodeRow fresh(view->nodeRow("emp-lin")->node().value(), window.get());
    fresh.show();
    QVERIFY(fresh.glyph()->breathing());
    QTRY_VERIFY(fresh.glyph()->dotOpacity() < 0.9);
    fresh.hide();

    // Frame by frame, well after its first fade, the dot fades out to 0.45 and
    // back in smoothly, again and again: no frame jumps between the two.
    FrameClock clock;
    clock.install();
    CollabNodeRow stepped(view->nodeRow("emp-lin")->node().value(), window.get());
    stepped.show();
    for (int i = 0; i < 64; ++i)
        clock.frame();
    qreal lowest = 1.0, highest = 0.0, previous = stepped.glyph()->dotOpacity();
    for (int i = 0; i < 300; ++i) {
        clock.frame();
        const qreal now = stepped.glyph()->dotOpacity();
        QVERIFY2(
            qAbs(now - previous) < 0.05, qPrintable(QStringLiteral("frame %1: %2 → %3").arg(i).arg(previous).arg(now)));
        lowest = std::min(lowest, now);
        highest = std::max(highest, now);
        previous = now;
    }
    clock.uninstall();
    QVERIFY2(lowest < 0.46 && highest > 0.99, qPrintable(QStringLiteral("%1 … %2").arg(lowest).arg(highest)));
    ReduceMotion::setOverride(true);

    // No dependency between employees: the section takes no space.
    const QJsonArray commands = m_sim->control("GET", "/_sim/state/ws-demo").object().value("commands").toArray();
    edit("commands", [](QJsonObject& c) { c.remove("depends_on"); });
    QTRY_VERIFY(section.isHidden());
    patch(QJsonObject { { "commands", commands } });
    QTRY_VERIFY(!section.isHidden());
}

void TestTeamSection::boardWhoRunsIt()
{
    QJsonObject timed = command("c-timed", "claimed", "emp-1");
    timed.insert("claimed_at", "@now-75");
    Status status;
    const CLIConfig cfg = loadBoard(status,
        QJsonArray { command("c-named", "claimed", "emp-1"), command("c-nameless", "claimed", "emp-2"),
            command("c-stranger", "claimed", "emp-9"), command("c-machine", "claimed"),
            command("c-shout", "Claimed", "emp-1"), command("c-done", "done", "emp-1"), timed },
        QJsonArray { employee("emp-1", "林小满"), employee("emp-2", ""), employee("emp-1", "另一个林") });

    // Who runs each: a duplicated id takes the first name; "Claimed" in capitals and done work are not running.
    LiveTaskBoard board(&status);
    QVERIFY(child<QLabel>(&board, "liveboard.count.5") && child<QLabel>(&board, "liveboard.empty")->isHidden());
    const QList<std::pair<QString, QString>> expected { { "c-named", "林小满" }, { "c-nameless", "" },
        { "c-stranger", "指派给了一位这里查不到的同事" }, { "c-machine", "无主 · 机器领的" }, { "c-timed", "林小满" } };
    const QList<LiveTaskCard*> cards = board.cards();
    QCOMPARE(cards.size(), expected.size());
    for (int i = 0; i < cards.size(); ++i) {
        QCOMPARE(cards[i]->objectName(), "liveboard.card." + expected[i].first);
        QCOMPARE(cards[i]->findChild<ElidedLine*>()->text(), expected[i].second);
    }
    const auto elapsed = [](LiveTaskCard* card) {
        for (QLabel* l : card->findChildren<QLabel*>())
            if (l->text().startsWith("已跑 "))
                return l->isHidden() ? QString() : l->text();
        return QString();
    };
    QCOMPARE(elapsed(board.card("c-timed")), QStringLiteral("已跑 1 分钟前"));
    QCOMPARE(elapsed(board.card("c-named")), QString());

    // A command list that cannot be read leaves the cards and their evidence as
    // they were, and the next good read keeps the same evidence.
    TaskEvidenceModel* evidence = board.evidence("c-named");
    QVERIFY(evidence);
    m_sim->setFault("GET", "/api/workspaces/ws-b/commands", 500, R"({"error":"库忙"})", 0, 1);
    for (int read = 0; read < 2; ++read) {
        QCoro::waitFor(status.reload(cfg));
        QCOMPARE(status.commandsError().has_value(), read == 0);
        board.refresh();
        QCOMPARE(board.cards().size(), expected.size());
        QCOMPARE(board.evidence("c-named"), evidence);
    }

    // Nothing running: the count 0 and the empty text, no card.
    loadBoard(status, QJsonArray { command("c-done", "done") });
    board.refresh();
    QVERIFY(child<QLabel>(&board, "liveboard.count.0") && !child<QLabel>(&board, "liveboard.empty")->isHidden());
    QVERIFY(board.cards().isEmpty());
}

void TestTeamSection::screenshots()
{
    // The team with 林小满's detail open: his running work with its live evidence.
    {
        auto* section = new TeamSection(m_controller.get());
        auto window = frame(section, 860, 1200);
        section->setContentWidth(820);
        m_controller->setSelectedEmployee("emp-lin");
        QVERIFY(section->detail());
        auto* evidence = section->detail()->runningRow("c-105")->findChild<TaskEvidenceView*>();
        QVERIFY(evidence && evidence->showDiff());
        QTRY_VERIFY(evidence->model()->polls() >= 1);
        QTRY_VERIFY_WITH_TIMEOUT(child(section->detail(), "skill.status.ai_developer"), 10000);
        save(window.get(), "team-section.png");
    }
    // The diagram, and the plain list for a larger graph.
    {
        auto* collab = new CollaborationSection(m_controller->workforce());
        auto window = frame(collab, 760, 360);
        save(window.get(), "collab-diagram.png");
        CollabGraph big = m_controller->workforce()->snapshot().collabGraph;
        for (const CollabNode& n : m_controller->workforce()->snapshot().collabGraph.nodes)
            big.nodes.append({ n.id + "-2", n.name + "（二组）", n.status, n.hasReading, n.subtitle });
        collab->view()->setGraph(big);
        QVERIFY(!collab->view()->group("emp-zhou") && collab->view()->nodeRow("emp-zhou-2"));
        save(window.get(), "collab-list.png");
    }
    // The skill section loaded (a blocked role with its blockers) and failed.
    {
        m_controller->setSelectedEmployee("emp-he");
        auto* section = new TeamSection(m_controller.get());
        auto window = frame(section, 860, 2200);
        QTRY_VERIFY_WITH_TIMEOUT(child(section->detail(), "skill.status.ai_security_officer"), 10000);
        save(section->detail()->skillSection(), "skill-loaded.png");
        m_tool->answer("employee-evidence", "employee evidence: 这台机器还没有登录，先运行 brenlow login\n", 1);
        m_controller->setSelectedEmployee("emp-qiao");
        QTRY_VERIFY_WITH_TIMEOUT(section->detail()->findChild<QLabel*>(
                                     "skill.error:employee evidence: 这台机器还没有登录，先运行 brenlow login"),
            10000);
        save(section->detail()->skillSection(), "skill-failed.png");
        // The same pane whole: work that cannot start because a colleague's failed.
        save(section->detailCard(), "team-detail-blocked.png");
        // A failure without a break point wraps inside the pane.
        const QString unbroken = QStringLiteral("/srv/") + QString(300, QLatin1Char('x'));
        m_tool->answer("employee-evidence", "employee evidence: " + unbroken.toUtf8() + "\n", 1);
        m_controller->setSelectedEmployee("emp-lin");
        const auto said = [&]() -> QLabel* {
            for (QLabel* l : section->detail() ? section->detail()->findChildren<QLabel*>() : QList<QLabel*>())
                if (l->isVisibleTo(section) && l->text().contains(unbroken))
                    return l;
            return nullptr;
        };
        QTRY_VERIFY_WITH_TIMEOUT(said(), 10000);
        QVERIFY2(
            said()->minimumSizeHint().width() <= 400, qPrintable(QString::number(said()->minimumSizeHint().width())));
    }
    // The live board: the demo's running command and a second one whose progress cannot be read.
    {
        m_sim->setFault("GET", "/api/workspaces/ws-demo/commands/c-109/progress", 503,
            R"({"error":"进度服务暂时不可用","code":"unavailable"})");
        edit("commands", [](QJsonObject& c) {
            if (c.value("id") == "c-109")
                for (const auto& [k, v] :
                    { std::pair { "status", "claimed" }, { "claimed_by", "dev-laptop" }, { "claimed_at", "@now-130" } })
                    c.insert(k, v);
        });
        auto* board = new LiveTaskBoard(m_controller->status());
        auto window = frame(board, 760, 1100);
        TaskEvidenceView* running = board->card("c-105")->evidence();
        TaskEvidenceView* failing = board->card("c-109")->evidence();
        QTRY_VERIFY(running->model()->polls() >= 1 && failing->model()->polls() >= 1);
        QVERIFY(failing->model()->progressError().has_value());
        save(window.get(), "live-board.png");
    }
}

QTEST_MAIN(TestTeamSection)
#include "tst_TeamSection.moc"
