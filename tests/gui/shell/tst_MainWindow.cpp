#include "core/gateway/Status.h"
#include "core/platform/JsonFile.h"
#include "core/platform/ReduceMotion.h"
#include "core/platform/SecretStore.h"
#include "core/runtimes/RecoveryRunner.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/shell/WorkspaceSummary.h"
#include "core/workforce/WorkforceModel.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/design/Disclosure.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/SecondaryButton.h"
#include "gui/platform/Prompts.h"
#include "gui/runtimes/RecoverySheet.h"
#include "gui/shell/AboutSection.h"
#include "gui/shell/FirstRunPage.h"
#include "gui/shell/MainWindow.h"
#include "gui/shell/NoticeBanner.h"
#include "gui/shell/PairedPage.h"
#include "gui/shell/WindowHeader.h"
#include "gui/shell/WorkspaceSummaryBar.h"
#include "gui/tasks/ApprovalsSheet.h"
#include "gui/tasks/FailedTasksSheet.h"
#include "gui/workforce/TeamSection.h"

#include "BlockingSecretStore.h"
#include "SimGateway.h"
#include "SimTool.h"
#include "StallProbe.h"
#include "TempHome.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QJsonDocument>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include <signal.h>

using namespace std::chrono_literals;

namespace {

// Long enough that no loop pass happens during a test that does not ask for one.
const MainWindow::Intervals kQuiet { std::chrono::hours(1), std::chrono::hours(1) };
const QString kDemo = QStringLiteral("ws-demo");
const QString kProbe = QStringLiteral("daemon status --json");

int requestsTo(SimGateway& sim, const QString& method, const QString& path)
{
    return int(matching(sim.requests(), method, path).size());
}

int commandLoads(SimGateway& sim, const QString& workspace = kDemo)
{
    return requestsTo(sim, QStringLiteral("GET"), QStringLiteral("/api/workspaces/%1/commands").arg(workspace));
}

// The window's own work (loads, loops, actions against the stand-ins) never stalls the GUI thread for long.
StallProbe& probe()
{
    return StallProbe::shared();
}

// Shows the window and waits for its start-up load.
void showLoaded(MainWindow& w)
{
    QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
    w.show();
    probe().reset();
    QTRY_COMPARE(loaded.size(), 1);
    probe().verifyNoStall();
}

void save(QWidget* widget, const QString& name)
{
    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    QTest::qWait(100);
    QVERIFY(widget->grab().save(QDir(dir).filePath(name)));
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void loopsRunAndEndWithTheWindow();
    void reloadOnRealSelectionChangeOnly();
    void pairing_data();
    void pairing();
    void aboutSection();
    void sectionsKeepTheirOrder();
    void approvingFromTheBar();
    void firstRunAndScreenshots();
    void pairedPageWhileTheToolSyncs();
    void closedMidFlow_data();
    void closedMidFlow();
    void promptAlert_data();
    void promptAlert();
    void promptFolderCancelled();

private:
    QString newFolder()
    {
        const QString folder = m_world->home.filePath(QStringLiteral("projects/new"));
        QDir().mkpath(folder);
        return folder;
    }

    std::unique_ptr<SimWorld> m_world;
    SimGateway* m_sim = nullptr;
    SimTool* m_tool = nullptr;
    ScriptedPrompts* m_prompts = nullptr;
};

void TestMainWindow::init()
{
    ReduceMotion::setOverride(true);
    m_world = std::make_unique<SimWorld>();
    m_sim = m_world->sim.get();
    m_tool = &m_world->tool;
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    auto prompts = std::make_unique<ScriptedPrompts>();
    m_prompts = prompts.get();
    Prompts::setShared(std::move(prompts));
    // A Secret Service slow to answer, which the window never waits on.
    auto keys = std::make_unique<BlockingSecretStore>();
    keys->open();
    keys->setDelay(150ms);
    SecretStore::setShared(std::move(keys));
}

void TestMainWindow::cleanup()
{
    SecretStore::setShared(nullptr);
    Prompts::setShared(nullptr);
    m_world.reset();
    ReduceMotion::setOverride(std::nullopt);
}

// The start-up load, the poll and the service check run on their intervals,
// and nothing of them runs once the window is closed.
void TestMainWindow::loopsRunAndEndWithTheWindow()
{
    m_world->pair();
    MainWindow w(MainWindow::Intervals { 150ms, 250ms });
    QSignalSpy polled(w.controller(), &WindowController::pollPassFinished);
    QSignalSpy checked(w.controller(), &WindowController::healthPassFinished);
    showLoaded(w);
    QCOMPARE(w.controller()->status()->config()->workspace, kDemo);
    QCOMPARE(w.controller()->catalog()->publishEndpoint(), w.controller()->status()->reachableEndpoint());
    QVERIFY(w.pairedPage()->isVisible());

    probe().reset();
    QTRY_VERIFY(polled.size() >= 2);
    QTRY_VERIFY(checked.size() >= 2);
    probe().verifyNoStall();
    QVERIFY(commandLoads(*m_sim) >= 3);
    QVERIFY(m_tool->argvs().count(kProbe) >= 2);

    w.close();
    QVERIFY(!w.controller()->loopsRunning());
    // Whatever was in flight settles; after that nothing starts again.
    const auto counts = [&] {
        return QList<qsizetype> { commandLoads(*m_sim), polled.size(), checked.size(), m_tool->argvs().count(kProbe) };
    };
    QTest::qWait(100);
    const QList<qsizetype> before = counts();
    QTest::qWait(800);
    QCOMPARE(counts(), before);
}

void TestMainWindow::reloadOnRealSelectionChangeOnly()
{
    m_world->pair({ kDemo, QStringLiteral("ws-blog") });
    MainWindow w(kQuiet);
    QSignalSpy reloaded(w.controller(), &WindowController::selectionReloadFinished);
    showLoaded(w);
    // Neither the start-up load settling the selection and refilling the
    // switcher nor setting the value it already has is a change.
    const int demoLoads = commandLoads(*m_sim);
    w.controller()->catalog()->setSelectedID(kDemo);
    QTest::qWait(200);
    QCOMPARE(reloaded.size(), 0);
    QCOMPARE(commandLoads(*m_sim), demoLoads);

    // Another workspace picked in the switcher: one reload, for it.
    QComboBox* switcher = w.header()->switcher();
    const int blog = switcher->findData(QStringLiteral("ws-blog"));
    switcher->setCurrentIndex(blog);
    emit switcher->activated(blog);
    QTRY_COMPARE(reloaded.size(), 1);
    QCOMPARE(w.controller()->status()->config()->workspace, QStringLiteral("ws-blog"));
    QCOMPARE(commandLoads(*m_sim, QStringLiteral("ws-blog")), 1);
    QTRY_COMPARE(
        QSettings().value(QLatin1String(WorkspaceCatalog::kSelectionKey)).toString(), QStringLiteral("ws-blog"));
}

void TestMainWindow::pairing_data()
{
    QTest::addColumn<bool>("picks");
    QTest::addColumn<QByteArray>("toolOutput"); // empty: the stand-in's own answer
    QTest::addColumn<QString>("notice"); // empty: none
    QTest::addColumn<QString>("selected"); // the selection afterwards; empty: still unpaired

    const QByteArray longOutput = QByteArray(150, 'a') + QByteArray("错").repeated(40) + QByteArray(110, 'z');
    const QString failed = QStringLiteral("配对失败：");
    QTest::newRow("cancelled") << false << QByteArray() << QString() << QString();
    QTest::newRow("paired") << true << QByteArray() << QStringLiteral("工作区已加入；现有工作区与 Runtime 没有停止")
                            << QStringLiteral("ws-new");
    QTest::newRow("tool fails") << true << longOutput << failed + QString::fromUtf8(longOutput).right(200) << QString();
    QTest::newRow("tool echoes a token") << true << QByteArray("refused: TOLVARINE_TOKEN=tok-123-secret")
                                         << failed + QStringLiteral("refused: TOLVARINE_TOKEN=****") << QString();
}

void TestMainWindow::pairing()
{
    QFETCH(bool, picks);
    QFETCH(QByteArray, toolOutput);
    QFETCH(QString, notice);
    QFETCH(QString, selected);

    if (!toolOutput.isEmpty())
        m_tool->answer(QStringLiteral("pair"), toolOutput, 1);
    // Slow enough to see the pairing running.
    m_tool->put(QStringLiteral("pair.delay_ms"), "300");
    qputenv("BRENLOW_SIM_PAIR_WS", "ws-new");
    const QString folder = newFolder();
    m_prompts->folderAnswers = { picks ? std::optional<QString>(folder) : std::nullopt };

    MainWindow w(kQuiet);
    QSignalSpy finished(w.controller(), &WindowController::pairingFinished);
    showLoaded(w);
    QTest::mouseClick(w.firstRunPage()->pairButton(), Qt::LeftButton);
    QCOMPARE(m_prompts->folderPrompts, QStringList { QStringLiteral("配对") });
    if (picks) {
        // The window stays usable and shows the pairing as running.
        QTRY_VERIFY(w.controller()->busy());
        QVERIFY(w.firstRunPage()->pairButton()->isBusy());
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(m_tool->argvs().contains(QStringLiteral("pair --path %1 --grant read").arg(folder)));
    } else {
        QTest::qWait(100);
        QCOMPARE(finished.size(), 0);
        QVERIFY(!m_tool->argvs().join(QLatin1Char('\n')).contains(QStringLiteral("pair")));
    }
    QVERIFY(!w.controller()->busy());
    QCOMPARE(w.noticeBanner()->isVisible() ? w.noticeBanner()->text() : QString(), notice);
    QCOMPARE(w.controller()->noticeIsError(), picks && selected.isEmpty());
    QCOMPARE(w.controller()->catalog()->selectedID(), selected);
    if (selected.isEmpty()) {
        QVERIFY(w.firstRunPage()->isVisible());
        return;
    }
    QCOMPARE(w.controller()->status()->config()->workspace, selected);
    QTRY_VERIFY(w.pairedPage()->isVisible());
    QVERIFY(w.header()->addButton()->isEnabled());
}

void TestMainWindow::aboutSection()
{
    // The note on the endpoint in use shows only while there is one.
    AboutSection about;
    about.show();
    about.setWorkspace(CLIConfig {}, QStringLiteral("配置的地址没应答，现在走 http://127.0.0.1:18091"));
    QVERIFY(about.findChild<QLabel*>(QStringLiteral("about.endpointNote"))->isVisible());
    about.setWorkspace(CLIConfig {}, std::nullopt);
    QVERIFY(!about.findChild<QLabel*>(QStringLiteral("about.endpointNote"))->isVisible());
    // A build without a stamped commit says so rather than showing the placeholder.
    for (const char* stamp : { " \n\t", " $(GIT_COMMIT)\n" })
        QCOMPARE(AboutSection::commitText(QLatin1String(stamp)), QStringLiteral("未注入（不是发布脚本出的包）"));
    QCOMPARE(AboutSection::commitText(QStringLiteral("  abc123\n")), QStringLiteral("abc123"));
}

// Sections arrive in any order and take their place in the page's order. Replacing a
// slot deletes what was there; a section deleted elsewhere leaves its slot.
void TestMainWindow::sectionsKeepTheirOrder()
{
    PairedPage page;
    auto* runtime = new QLabel;
    auto* banner = new QLabel;
    QPointer<QLabel> team = new QLabel;
    page.setSection(PairedPage::Runtime, runtime);
    page.setSection(PairedPage::RelocationBanner, banner);
    page.setSection(PairedPage::Team, team);
    QCOMPARE(page.sections(), (QList<QWidget*> { banner, team, runtime, page.about() }));
    auto* team2 = new QLabel;
    page.setSection(PairedPage::Team, team2);
    QVERIFY(!team);
    delete banner;
    QCOMPARE(page.sections(), (QList<QWidget*> { team2, runtime, page.about() }));
}

// The main road: the bar's approvals row opens the sheet, an approval reaches
// the gateway, and after the reload the bar and the snapshot count one less.
void TestMainWindow::approvingFromTheBar()
{
    m_world->pair();
    MainWindow w(kQuiet);
    showLoaded(w);
    WorkspaceSummaryBar* bar = w.summaryBar();
    QTRY_VERIFY(bar->summary().pendingApprovals > 0);
    const qint64 before = bar->summary().pendingApprovals;
    QCOMPARE(before, qint64(w.controller()->status()->waitingTaskIDs().size()));
    // The bar counts the employees from the facts the team section shows.
    const WorkforceSnapshot& team = w.controller()->workforce()->snapshot();
    QCOMPARE(bar->summary().employeesTotal, qint64(w.teamSection()->cards().size()));
    QCOMPARE(bar->summary().employeesWorking,
        qint64(std::count_if(team.workforceFacts.begin(), team.workforceFacts.end(),
            [](const WorkforceFacts& f) { return f.hasReading && !f.running.isEmpty(); })));

    QTest::mouseClick(bar->findChild<QAbstractButton*>(QStringLiteral("summary.attention.approvals")), Qt::LeftButton);
    ApprovalsSheet* sheet = w.approvalsSheet();
    QVERIFY(sheet && sheet->isVisible());
    QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    // A second press brings the same sheet forward.
    w.openApprovals();
    QCOMPARE(w.approvalsSheet(), sheet);

    const FeedApprovalItem item = w.controller()->status()->pendingApprovalItems().first();
    QSignalSpy finished(sheet, &FeedItemSheet::actionFinished);
    m_sim->clearRequests();
    probe().reset();
    sheet->respond(item, true);
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(
        requestsTo(*m_sim, QStringLiteral("POST"), QStringLiteral("/api/workspaces/ws-demo/feed/%1/act").arg(item.id)),
        1);
    QTRY_VERIFY(bar->summary().pendingApprovals < before);
    QTRY_COMPARE(
        JsonFile::read(WorkspaceSummary::snapshotPath()).value_or(QJsonDocument()).object(), bar->summary().toJson());
    probe().verifyNoStall();

    // Closing the window with a sheet open leaves no window visible, which
    // is what quits the application.
    w.close();
    QTRY_VERIFY(!w.approvalsSheet());
    for (QWidget* top : QApplication::topLevelWidgets())
        QVERIFY(!top->isVisible());
}

// Unpaired, then paired with two workspaces, with a picture of each.
// The start-up load waits for the tool's sync; meanwhile the window already
// shows the page its pairing files call for, also when the tool is slow.
void TestMainWindow::pairedPageWhileTheToolSyncs()
{
    m_world->pair();
    m_tool->put(QStringLiteral("workspaces.delay_ms"), "1500");
    // As the application starts: the first frame holds the page the pairing
    // files call for, and the sections come right after it.
    MainWindow w(kQuiet, MainWindow::Sections::AfterFirstFrame);
    QVERIFY(w.pairedPage() && !w.firstRunPage() && !w.teamSection() && !w.liveBoard());
    // The first frame: placeholders where the sections go, the about block
    // (which belongs at the bottom) held back, and nothing said of the
    // workspaces while the tool syncs, certainly not "还没配对".
    QVERIFY(w.pairedPage()->placeholderShown() && w.pairedPage()->about()->isHidden());
    QVERIFY(!w.header()->unpairedLabel() && !w.header()->switcher());
    QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
    QSignalSpy ready(&w, &MainWindow::sectionsReady);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const int headerHeight = w.header()->height();
    QTRY_VERIFY(w.sectionsBuilt());
    QCOMPARE(ready.size(), 1);
    QVERIFY(!w.controller()->catalog()->loaded());
    QVERIFY(w.pairedPage()->isVisible() && !w.firstRunPage()->isVisible());
    QVERIFY(!w.pairedPage()->placeholderShown());
    QCOMPARE(w.pairedPage()->sections().first(), w.pairedPage()->section(PairedPage::RelocationBanner));
    QCOMPARE(w.pairedPage()->sections().last(), w.pairedPage()->about());
    QVERIFY(w.pairedPage()->about()->isVisible());
    QCOMPARE(w.pairedPage()->section(PairedPage::Team), w.teamSection());
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 10000);
    QVERIFY(w.pairedPage()->isVisible());
    // The name comes in without moving the page.
    QTRY_VERIFY(w.header()->switcher() && w.header()->switcher()->isVisible());
    QVERIFY(!w.header()->unpairedLabel()->isVisible());
    QCOMPARE(w.header()->height(), headerHeight);
    QCOMPARE(w.controller()->status()->config()->workspace, kDemo);
}

void TestMainWindow::firstRunAndScreenshots()
{
    const auto settle = [](MainWindow& w) {
        QSignalSpy checked(w.controller(), &WindowController::healthPassFinished);
        showLoaded(w);
        QTRY_COMPARE(checked.size(), 1);
        QTRY_VERIFY(!w.controller()->inventory()->loading());
    };
    {
        MainWindow w(kQuiet);
        settle(w);
        save(&w, QStringLiteral("main-firstrun.png"));
        // The start-up load asked the tool to settle its pairing files first.
        QVERIFY(m_tool->argvs().contains(QStringLiteral("workspaces")));
        QVERIFY(w.firstRunPage()->isVisible() && !w.pairedPage()->isVisible());
        QVERIFY(!w.header()->switcher()->isVisible());
        QVERIFY(!w.summaryBar() || !w.summaryBar()->isVisible());
        // The command shows in code style, without its back-quotes.
        w.firstRunPage()->commandHint()->setExpanded(true);
        QVERIFY(w.firstRunPage()->hintText()->isVisible());
        const QString hint = w.firstRunPage()->hintText()->text();
        QVERIFY(hint.contains(QStringLiteral("JetBrains Mono")) && hint.contains(QStringLiteral("brenlow pair")));
        QVERIFY(!hint.contains(QLatin1Char('`')));
        // A dismissed notice is gone; the next one brings its own kind.
        w.controller()->setNotice(QStringLiteral("配对失败：x"), true);
        QVERIFY(w.noticeBanner()->isVisible() && w.noticeBanner()->isError());
        QTest::mouseClick(w.noticeBanner()->dismissButton(), Qt::LeftButton);
        QVERIFY(!w.noticeBanner()->isVisible() && !w.controller()->notice());
        w.controller()->setNotice(QStringLiteral("好了"), false);
        QVERIFY(w.noticeBanner()->isVisible() && !w.noticeBanner()->isError());
    }
    m_world->pair({ kDemo, QStringLiteral("ws-blog") });
    MainWindow w(kQuiet);
    settle(w);
    w.controller()->setNotice(QStringLiteral("工作区已加入；现有工作区与 Runtime 没有停止"), false);
    save(&w, QStringLiteral("main-paired.png"));
    // The whole page, below the fold too.
    w.resize(840, 1400);
    save(&w, QStringLiteral("main-paired-full.png"));
    w.resize(840, 720);

    // Each sheet the bar opens, over the demo workspace.
    WorkspaceSummaryBar* bar = w.summaryBar();
    w.openApprovals();
    QVERIFY(w.approvalsSheet());
    save(w.approvalsSheet(), QStringLiteral("main-sheet-approvals.png"));
    w.approvalsSheet()->reject();
    QTRY_VERIFY(bar->summary().failedTasks > 0);
    emit bar->failedTasksRequested();
    QVERIFY(w.failedTasksSheet() && w.failedTasksSheet()->isVisible());
    save(w.failedTasksSheet(), QStringLiteral("main-sheet-failedtasks.png"));
    w.failedTasksSheet()->reject();
    QTRY_VERIFY(!w.failedTasksSheet());

    const int loads = commandLoads(*m_sim);
    const int syncs = m_tool->argvs().count(QStringLiteral("workspaces"));
    QSignalSpy recovered(w.controller(), &WindowController::recoveryFinished);
    emit bar->recoveryRequested();
    QVERIFY(w.recoverySheet() && w.recoverySheet()->isVisible());
    // Closing the sheet leaves the run going; pressing again shows the same run.
    w.recoverySheet()->reject();
    QTRY_VERIFY(!w.recoverySheet());
    QVERIFY(w.controller()->recovery()->running());
    emit bar->recoveryRequested();
    QVERIFY(w.recoverySheet());
    // The second start returned at once and reloaded; the first reloads when its run ends.
    QTRY_VERIFY_WITH_TIMEOUT(recovered.size() == 2, 20000);
    QVERIFY(w.controller()->recovery()->finished());
    save(w.recoverySheet(), QStringLiteral("main-sheet-recovery.png"));
    // The run reloaded the status model, then the catalogue synchronised.
    QVERIFY(commandLoads(*m_sim) > loads);
    QVERIFY(m_tool->argvs().count(QStringLiteral("workspaces")) > syncs);
}

// Closing the window in the middle of a flow ends the flow with it: the tool
// runs it started are ended, and no coroutine stays suspended (the leak check
// at exit would find its frame), whatever was in flight.
void TestMainWindow::closedMidFlow_data()
{
    QTest::addColumn<QString>("flow");
    QTest::addColumn<QString>("toolRun"); // the run in flight when the window goes; empty: none
    QTest::newRow("reload") << QStringLiteral("reload") << QString();
    QTest::newRow("pairing") << QStringLiteral("pairing") << QStringLiteral("pair");
    QTest::newRow("recovery") << QStringLiteral("recovery") << QStringLiteral("daemon status");
}

void TestMainWindow::closedMidFlow()
{
    QFETCH(QString, flow);
    QFETCH(QString, toolRun);
    m_world->pair();
    m_tool->put(QStringLiteral("pair.delay_ms"), "30000");
    m_tool->put(QStringLiteral("daemon-status.delay_ms"), "30000");
    m_prompts->folderAnswers = { newFolder() };

    auto* w = new MainWindow(kQuiet);
    if (flow == QLatin1String("reload")) {
        // The command list never arrives while the window is open.
        m_sim->setFault("GET", QStringLiteral("/api/workspaces/%1/commands").arg(kDemo), 0, {}, 30000);
        w->show();
        QTRY_COMPARE(commandLoads(*m_sim), 1);
    } else {
        showLoaded(*w);
        if (flow == QLatin1String("pairing"))
            w->pickFolderAndPair();
        else
            w->recover();
    }
    qint64 pid = 0;
    if (!toolRun.isEmpty()) {
        QTRY_VERIFY(m_tool->argvs().join(QLatin1Char('\n')).contains(toolRun));
        const QStringList argvs = m_tool->argvs();
        const QList<QJsonObject> calls = m_tool->calls();
        for (qsizetype i = 0; i < calls.size(); ++i)
            pid = argvs.at(i).startsWith(toolRun) ? calls.at(i).value(QStringLiteral("pid")).toInteger() : pid;
        QVERIFY(pid > 0);
    }
    w->close();
    delete w;
    if (pid > 0)
        QTRY_VERIFY(::kill(pid_t(pid), 0) != 0);
    // Whatever was still on its way arrives to nobody.
    QTest::qWait(200);
}

// The real dialogs behind the window's prompts.
void TestMainWindow::promptAlert_data()
{
    QTest::addColumn<QString>("click"); // empty: close with Escape
    QTest::addColumn<int>("expected");
    QTest::newRow("confirm") << QStringLiteral("删除") << 0;
    QTest::newRow("escape") << QString() << 1; // the last button cancels
}

void TestMainWindow::promptAlert()
{
    QFETCH(QString, click);
    QFETCH(int, expected);
    QWidget parent;
    parent.show();
    QtPrompts prompts;
    QTimer::singleShot(0, [&] {
        auto* box = parent.findChild<QMessageBox*>();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("确定要删除这条失败的任务？"));
        // Both lines are shown as written, markup and all.
        const QList<QLabel*> labels = box->findChildren<QLabel*>();
        QCOMPARE(int(std::count_if(labels.begin(), labels.end(),
                     [](QLabel* l) { return l->text().contains('<') && l->textFormat() == Qt::PlainText; })),
            1);
        if (click.isEmpty())
            return QTest::keyClick(box, Qt::Key_Escape);
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == click)
                b->click();
        }
    });
    const int answer = QCoro::waitFor(prompts.alert(&parent,
        { QStringLiteral("确定要删除这条失败的任务？"), QStringLiteral("<a href=\"x\">x</a>"), { "删除", "算了" } }));
    QCOMPARE(answer, expected);
}

void TestMainWindow::promptFolderCancelled()
{
    QWidget parent;
    parent.show();
    QtPrompts prompts;
    QTimer::singleShot(0, [&] {
        auto* dialog = parent.findChild<QFileDialog*>();
        QVERIFY(dialog);
        QCOMPARE(dialog->labelText(QFileDialog::Accept), QStringLiteral("配对"));
        dialog->reject();
    });
    QCOMPARE(QCoro::waitFor(prompts.pickFolder(&parent, QStringLiteral("配对"), QString())), std::nullopt);
}

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
