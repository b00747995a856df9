#include "app/AppDelegate.h"
#include "core/agents/AdvancedConnectionStore.h"
#include "core/gateway/CLI.h"
#include "core/platform/JsonFile.h"
#include "core/platform/ReduceMotion.h"
#include "core/platform/SecretStore.h"
#include "core/platform/UuidText.h"
#include "core/providers/CredentialBroker.h"
#include "core/providers/ProviderProfileStore.h"
#include "core/providers/RuntimeBindingStore.h"
#include "core/runtimes/RecoveryRunner.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/runtimes/RuntimeSectionModel.h"
#include "core/shell/WorkspaceSummary.h"
#include "core/shell/WorkspaceSummaryModel.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/design/Disclosure.h"
#include "gui/design/ElidedLine.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/SecondaryButton.h"
#include "gui/platform/Prompts.h"
#include "gui/providers/ModelProviderSheet.h"
#include "gui/runtimes/RecoverySheet.h"
#include "gui/runtimes/RuntimeCard.h"
#include "gui/runtimes/RuntimeSection.h"
#include "gui/shell/AboutSection.h"
#include "gui/shell/FirstRunPage.h"
#include "gui/shell/MainWindow.h"
#include "gui/shell/NoticeBanner.h"
#include "gui/shell/PairedPage.h"
#include "gui/shell/WindowHeader.h"
#include "gui/shell/WorkspaceSummaryBar.h"
#include "gui/tasks/ApprovalsSheet.h"
#include "gui/tasks/DeskArtifactSheet.h"
#include "gui/tasks/FailedTasksSheet.h"
#include "gui/workforce/TeamSection.h"
#include "gui/workspaces/PairingSection.h"
#include "gui/workspaces/PairingSheet.h"
#include "gui/workspaces/RelocationBanner.h"

#include "BarContrast.h"
#include "BlockingSecretStore.h"
#include "SimGateway.h"
#include "SimTool.h"
#include "StallProbe.h"
#include "TempHome.h"
#include "WindowTestSetUp.h"

#include <QAccessible>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFileDialog>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSignalSpy>
#include <QThreadPool>
#include <QtTest>

#include <signal.h>
#include <sys/stat.h> // umask

using namespace std::chrono_literals;

namespace {

// Long enough that no loop pass happens during a test that does not ask for one.
const MainWindow::Intervals kQuiet { std::chrono::hours(1), std::chrono::hours(1) };
const QString kDemo = QStringLiteral("ws-demo");
const QString kKey = QStringLiteral("sk-audit-5d1e9c07b3a24f68e1");

int commandLoads(SimGateway& sim, const QString& workspace = kDemo)
{
    return int(
        matching(sim.requests(), QStringLiteral("GET"), QStringLiteral("/api/workspaces/%1/commands").arg(workspace))
            .size());
}

// Shows the window and waits for its start-up load, which never stalls the GUI thread.
void showLoaded(MainWindow& w)
{
    QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
    w.show();
    StallProbe::shared().reset();
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 30000);
    StallProbe::shared().verifyNoStall();
}

void save(QWidget* widget, const QString& name)
{
    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    QTest::qWait(100);
    QVERIFY(widget->grab().save(QDir(dir).filePath(name)));
}

// Clicks the visible widget of that name once it shows (a replaced one may linger hidden until it is deleted).
void clickWhenShown(QWidget& root, const QString& name)
{
    const auto shown = [&]() -> QWidget* {
        const QList<QWidget*> all = root.findChildren<QWidget*>(name);
        const auto it = std::find_if(all.begin(), all.end(), [](QWidget* w) { return w->isVisible(); });
        return it == all.end() ? nullptr : *it;
    };
    QTRY_VERIFY(shown());
    QTest::mouseClick(shown(), Qt::LeftButton);
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void reloadOnRealSelectionChangeOnly();
    void pairing_data();
    void pairing();
    void aboutSection();
    void sectionsKeepTheirOrder();
    void firstRunAndScreenshots();
    void firstRunWithoutTheTool();
    void longWorkspaceName();
    void sheetsFitTheScreen();
    void pairedPageWhileTheToolSyncs();
    void pickWhileTheToolSyncs();
    void oneDecisionWhileAPollOvertakes_data();
    void oneDecisionWhileAPollOvertakes();
    void recoveryReadsTheGateway_data();
    void recoveryReadsTheGateway();
    void closedMidFlow_data();
    void closedMidFlow();
    void viewsGoBeforeTheController();
    void realPrompts();
    void nothingLeaks();
    void keylessWorkGoesOnWhileTheKeyStoreHolds_data();
    void keylessWorkGoesOnWhileTheKeyStoreHolds();

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
    std::optional<WindowTestSetUp<>> m_setUp;
    ScriptedPrompts* m_prompts = nullptr;
};

void TestMainWindow::init()
{
    m_setUp.emplace();
    m_prompts = m_setUp->prompts();
    // A Secret Service slow to answer, which the window never waits on.
    m_setUp->keys()->setDelay(150ms);
    m_world = std::make_unique<SimWorld>();
    m_sim = m_world->sim.get();
    m_tool = &m_world->tool;
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
}

void TestMainWindow::cleanup()
{
    m_world.reset();
    m_setUp.reset();
}

void TestMainWindow::reloadOnRealSelectionChangeOnly()
{
    m_world->pair({ kDemo, QStringLiteral("ws-blog") });
    MainWindow w(kQuiet);
    QSignalSpy reloaded(w.controller(), &WindowController::selectionReloadFinished);
    showLoaded(w);
    // Neither the start-up load settling the selection nor setting the value it already has is a change.
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
    QTRY_COMPARE_WITH_TIMEOUT(reloaded.size(), 1, 30000);
    QCOMPARE(commandLoads(*m_sim, QStringLiteral("ws-blog")), 1);
}

void TestMainWindow::pairing_data()
{
    QTest::addColumn<QByteArray>("toolOutput"); // empty: the stand-in's own answer
    QTest::addColumn<QString>("toolGateway"); // the gateway the tool pairs with; empty: the stand-in
    QTest::addColumn<QString>("notice"); // empty: none (no folder picked); ending in "…": how it starts
    QTest::addColumn<bool>("isError");
    QTest::addColumn<QString>("selected"); // the selection afterwards; empty: still unpaired

    QTest::newRow("cancelled") << QByteArray() << QString() << QString() << false << QString();
    QTest::newRow("paired") << QByteArray() << QString()
                            << QStringLiteral("工作区已加入；现有工作区与 Runtime 没有停止") << false
                            << QStringLiteral("ws-new");
    // The tool pairs the folder on this machine only, exits 0 and warns: that is no success.
    QTest::newRow("gateway unreachable")
        << QByteArray() << QStringLiteral("http://127.0.0.1:1")
        << QStringLiteral("工作区已加入，但有一步没做成。brenlow 说：warning: 网关 http://127.0.0.1:1 没有回话（…")
        << true << QStringLiteral("ws-new");
    QTest::newRow("tool echoes a token") << QByteArray("refused: TOLVARINE_TOKEN=tok-123-secret") << QString()
                                         << QStringLiteral("配对失败：refused: TOLVARINE_TOKEN=****") << true
                                         << QString();
}

void TestMainWindow::pairing()
{
    QFETCH(QByteArray, toolOutput);
    QFETCH(QString, toolGateway);
    QFETCH(QString, notice);
    QFETCH(bool, isError);
    QFETCH(QString, selected);
    const bool picks = !notice.isEmpty(); // a folder picked always ends with a notice

    if (!toolOutput.isEmpty())
        m_tool->answer(QStringLiteral("pair"), toolOutput, 1);
    if (!toolGateway.isEmpty())
        qputenv("BRENLOW_SIM_GATEWAY", toolGateway.toUtf8());
    m_tool->put(QStringLiteral("pair.delay_ms"), "300"); // slow enough to see the pairing running
    qputenv("BRENLOW_SIM_PAIR_WS", "ws-new");
    const QString folder = newFolder();
    m_prompts->folderAnswers = { picks ? std::optional<QString>(folder) : std::nullopt };

    MainWindow w(kQuiet);
    QSignalSpy finished(w.controller(), &WindowController::pairingFinished);
    showLoaded(w);
    QTest::mouseClick(w.firstRunPage()->pairButton(), Qt::LeftButton);
    QCOMPARE(m_prompts->folderPrompts, QStringList { QStringLiteral("配对") });
    QCOMPARE(m_prompts->folderStartDirs, QStringList { QDir::homePath() });
    if (picks) {
        QTRY_VERIFY(w.firstRunPage()->pairButton()->isBusy());
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(m_tool->argvs().contains(QStringLiteral("pair --path %1 --grant read").arg(folder)));
    } else {
        QTest::qWait(100);
        QVERIFY(!m_tool->argvs().join(QLatin1Char('\n')).contains(QStringLiteral("pair")));
    }
    QVERIFY(!w.controller()->busy());
    const QString shown = w.noticeBanner()->isVisible() ? w.noticeBanner()->text() : QString();
    if (notice.endsWith(QChar(0x2026))) {
        QVERIFY2(shown.startsWith(notice.chopped(1)), qPrintable(shown));
        // The tool's own words, and what to do.
        QVERIFY2(shown.contains(QStringLiteral("先在本机记下了配对"))
                && shown.endsWith(QStringLiteral("照它说的补上这一步，或者再用上面的 ＋ 号选这个目录配对一次。")),
            qPrintable(shown));
    } else {
        QCOMPARE(shown, notice);
    }
    QCOMPARE(w.noticeBanner()->isError(), isError);
    QCOMPARE(w.controller()->catalog()->selectedID(), selected);
    if (!selected.isEmpty())
        QCOMPARE(w.controller()->status()->config()->workspace, selected);
    QTRY_VERIFY(selected.isEmpty() ? w.firstRunPage()->isVisible() : w.pairedPage()->isVisible());
}

// A build without a stamped commit says so rather than showing the placeholder.
void TestMainWindow::aboutSection()
{
    for (const char* stamp : { " \n\t", " $(GIT_COMMIT)\n" })
        QCOMPARE(AboutSection::commitText(QLatin1String(stamp)), QStringLiteral("未注入（不是发布脚本出的包）"));
    QCOMPARE(AboutSection::commitText(QStringLiteral("  abc123\n")), QStringLiteral("abc123"));
    // A password written into the gateway's address is not shown.
    AboutSection about;
    about.setWorkspace(CLIConfig { QStringLiteral("http://me:pw@10.0.0.5:18091"), "ws", "tok" }, std::nullopt);
    QCOMPARE(
        about.findChild<QLabel*>(QStringLiteral("about.api"))->text(), QStringLiteral("http://***@10.0.0.5:18091"));
}

// Sections arrive in any order and take their place in the page's order. Replacing a
// slot deletes what was there; a section deleted elsewhere leaves its slot.
void TestMainWindow::sectionsKeepTheirOrder()
{
    PairedPage page;
    auto *runtime = new QLabel, *banner = new QLabel;
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

// Without the companion tool the first-run page says so beside its button, with how to install it; once a
// run finds the tool, neither that nor the pairing's notice that it was missing stays.
void TestMainWindow::firstRunWithoutTheTool()
{
    QVERIFY(QFile::remove(m_tool->exe()));
    m_prompts->folderAnswers = { newFolder() };
    MainWindow w(kQuiet);
    QSignalSpy refreshed(w.controller()->inventory(), &RuntimeInventoryStore::refreshed);
    QSignalSpy paired(w.controller(), &WindowController::pairingFinished);
    showLoaded(w);
    QLabel* note = w.firstRunPage()->toolMissingNote();
    QTRY_VERIFY(note->isVisible());
    QCOMPARE(note->text(), CLI::NotFound::description());
    save(&w, QStringLiteral("main-firstrun-notool.png"));
    QTest::mouseClick(w.firstRunPage()->pairButton(), Qt::LeftButton);
    QTRY_COMPARE(paired.size(), 1);
    QCOMPARE(w.noticeBanner()->text(), CLI::NotFound::description());

    m_world->home.installTool(Sim::companion());
    const qsizetype before = refreshed.size();
    clickWhenShown(w, QStringLiteral("runtime.refresh"));
    QTRY_COMPARE(refreshed.size(), before + 1);
    QVERIFY(!note->isVisible() && !w.noticeBanner()->isVisible());
}

// A long name is cut with "…" between two characters, in the header and in the phone sheet's list; the tool tip
// holds the whole name.
void TestMainWindow::longWorkspaceName()
{
    const QString name = QStringLiteral("Tolvarine 桌面客户端 · Onboarding 体验改进 Long Mixed 工作区名字");
    m_world->pair();
    for (const char* file : { ".tolvarine/workspaces/ws-demo.json", ".tolvarine/config.json" }) {
        QJsonObject o = JsonFile::read(m_world->home.filePath(QLatin1String(file)))->object();
        o[QStringLiteral("name")] = name;
        m_world->home.writeFile(QLatin1String(file), QJsonDocument(o).toJson());
    }
    const auto elided = [&name](const QString& shown) {
        return shown.size() > 1 && shown.endsWith(QChar(0x2026)) && name.startsWith(shown.chopped(1));
    };
    MainWindow w(kQuiet);
    showLoaded(w);
    ElidedComboBox* switcher = w.header()->switcher();
    QTRY_VERIFY(switcher && switcher->isVisible());
    QVERIFY2(elided(switcher->shownText()), qPrintable(switcher->shownText()));
    QCOMPARE(switcher->toolTip(), name);
    save(&w, QStringLiteral("main-long-name.png"));

    auto* phone = w.findChild<PairingSection*>();
    phone->setQrExpanded(true);
    QTRY_COMPARE_WITH_TIMEOUT(phone->sheet()->content(), PairingSheet::Content::Link, 15000);
    auto* listed = phone->sheet()->findChild<ElidedLine*>(QStringLiteral("name"));
    QVERIFY2(listed && elided(listed->shownText()), qPrintable(listed ? listed->shownText() : QString()));
    QCOMPARE(listed->toolTip(), name);
    save(phone->sheet(), QStringLiteral("main-sheet-pairing-long-name.png"));
}

// Every sheet fits the screen the window is on, its list scrolling, with its closing button in view. Also run on
// a 960×540 screen: a 1080-pixel one at scale 2 (CMakeLists.txt).
void TestMainWindow::sheetsFitTheScreen()
{
    m_world->pair();
    MainWindow w(kQuiet);
    showLoaded(w);
    const QRect screen = w.screen()->availableGeometry();
    QVERIFY2(screen.contains(w.frameGeometry()),
        qPrintable(QStringLiteral("%1×%2 at %3")
                       .arg(w.frameGeometry().width())
                       .arg(w.frameGeometry().height())
                       .arg(w.frameGeometry().y())));
    // The page's scroll bar stands out from the page.
    QScrollBar* pageBar = w.scrollArea()->verticalScrollBar();
    QVERIFY2(!pageBar->isVisible() || barContrast(pageBar) >= 3, qPrintable(QString::number(barContrast(pageBar))));
    DeskFileChange file;
    file.path = QStringLiteral("src/checkout/CouponStack.php");
    const auto openArtifact = [&] {
        auto* artifact = new DeskArtifactSheet(file, std::nullopt, nullptr, QStringLiteral("重写购物车结算接口"), &w);
        artifact->setAttribute(Qt::WA_DeleteOnClose);
        artifact->open();
    };
    // Each sheet by the control that opens it and the button that closes it.
    const QList<std::pair<QString, std::function<void()>>> sheets { { "approvals.close", [&] { w.openApprovals(); } },
        { "failedtasks.close", [&] { w.openFailedTasks(); } }, { "recovery.close", [&] { w.recover(); } },
        { "qr.collapse", [&] { w.findChild<PairingSection*>()->setQrExpanded(true); } },
        { "providers.close", [&] { clickWhenShown(w, QStringLiteral("runtime.codex.model")); } },
        { "advanced.add.cancel", [&] { clickWhenShown(w, QStringLiteral("advanced.add")); } },
        { "deskartifact.close", openArtifact } };
    for (const auto& [close, open] : sheets) {
        open();
        QPointer<QAbstractButton> button;
        QTRY_VERIFY(QApplication::activeModalWidget()
            && (button = QApplication::activeModalWidget()->findChild<QAbstractButton*>(close)));
        QDialog* sheet = qobject_cast<QDialog*>(button->window());
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
        if (auto* qr = qobject_cast<PairingSheet*>(sheet))
            QTRY_COMPARE_WITH_TIMEOUT(qr->content(), PairingSheet::Content::Link, 15000);
        QTest::qWait(200);
        QVERIFY2(sheet->frameGeometry().height() <= screen.height(), qPrintable(close));
        // Placed on the screen once it has its size, also when it grew after it opened.
        QVERIFY2(screen.contains(sheet->frameGeometry()), qPrintable(close));
        QVERIFY2(button->visibleRegion().boundingRect() == button->rect(), qPrintable(close));
        save(sheet, QStringLiteral("sheet-%1-%2x%3.png").arg(close).arg(screen.width()).arg(screen.height()));
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(!button || !sheet->isVisible());
    }
}

// The start-up load waits for the tool's sync; meanwhile the window already
// shows the page its pairing files call for, also when the tool is slow.
void TestMainWindow::pairedPageWhileTheToolSyncs()
{
    m_world->pair();
    m_tool->put(QStringLiteral("workspaces.delay_ms"), "1500");
    MainWindow w(kQuiet, MainWindow::Sections::AfterFirstFrame);
    QVERIFY(w.pairedPage() && !w.firstRunPage() && !w.teamSection());
    // The first frame: placeholders where the sections go, the about block (which belongs at
    // the bottom) held back, and nothing said of the workspaces, certainly not "还没配对".
    QVERIFY(w.pairedPage()->placeholderShown() && w.pairedPage()->about()->isHidden());
    QVERIFY(!w.header()->unpairedLabel() && !w.header()->switcher());
    QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const int headerHeight = w.header()->height();
    QTRY_VERIFY(w.sectionsBuilt());
    QVERIFY(!w.controller()->catalog()->loaded());
    QVERIFY(w.pairedPage()->isVisible() && !w.firstRunPage()->isVisible());
    QVERIFY(!w.pairedPage()->placeholderShown() && w.pairedPage()->about()->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 10000);
    // The name comes in without moving the page.
    QTRY_VERIFY(w.header()->switcher() && w.header()->switcher()->isVisible());
    QVERIFY(!w.header()->unpairedLabel()->isVisible());
    QCOMPARE(w.header()->height(), headerHeight);
}

void TestMainWindow::pickWhileTheToolSyncs()
{
    m_world->pair({ kDemo, QStringLiteral("ws-blog") });
    // The start-up load waits on the tool's "workspaces" for longer than this test runs.
    m_tool->put(QStringLiteral("workspaces.delay_ms"), "8000");
    MainWindow w(kQuiet);
    QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
    QSignalSpy reloaded(w.controller(), &WindowController::selectionReloadFinished);
    w.show();
    // A poll pass re-reads the files meanwhile; its settling of the selection is no pick.
    QCoro::waitFor(w.controller()->catalog()->reload(false));
    QTRY_VERIFY(w.header()->switcher() && w.header()->switcher()->isVisible());
    QTest::qWait(100);
    QCOMPARE(reloaded.size(), 0);

    // The user's pick reloads at once, for the workspace picked.
    QComboBox* switcher = w.header()->switcher();
    const int blog = switcher->findData(QStringLiteral("ws-blog"));
    switcher->setCurrentIndex(blog);
    emit switcher->activated(blog);
    QTRY_COMPARE_WITH_TIMEOUT(reloaded.size(), 1, 30000);
    QCOMPARE(w.controller()->status()->config()->workspace, QStringLiteral("ws-blog"));
    QCOMPARE(commandLoads(*m_sim, QStringLiteral("ws-blog")), 1);
    QVERIFY(loaded.isEmpty());
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
        // The command-line hint opened: the sections below it keep their size, also after a resize.
        QWidget* runtime = w.firstRunPage()->section(FirstRunPage::Runtime);
        QTest::mouseClick(
            w.firstRunPage()->findChild<Disclosure*>(QStringLiteral("firstrun.commandHint"))->header(), Qt::LeftButton);
        for (const QSize size : { QSize(840, 720), QSize(960, 540) }) {
            w.resize(size);
            QTest::qWait(100);
            QCOMPARE(runtime->height(), runtime->heightForWidth(runtime->width()));
        }
        w.scrollArea()->ensureWidgetVisible(w.firstRunPage()->findChild<QWidget*>(QStringLiteral("advanced.add")));
        save(&w, QStringLiteral("main-firstrun-hint.png"));
        w.resize(840, 720);
        // A dismissed notice is gone; the next one brings its own kind.
        w.controller()->setNotice(QStringLiteral("配对失败：x"), true);
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
    // A screen reader gets the explanations as they read, not their bold marks.
    for (QWidget* widget : w.findChildren<QWidget*>()) {
        const QString name = QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
        QVERIFY2(!name.contains(QLatin1String("**")), qPrintable(name));
    }
    w.resize(840, 1400); // the whole page, below the fold too
    save(&w, QStringLiteral("main-paired-full.png"));
    w.resize(840, 720);

    // Each sheet the bar opens, over the demo workspace; a second press brings the same sheet forward.
    WorkspaceSummaryBar* bar = w.summaryBar();
    const qint64 pending = bar->summary().pendingApprovals;
    QVERIFY(pending > 0);
    QTest::mouseClick(bar->findChild<QAbstractButton*>(QStringLiteral("summary.attention.approvals")), Qt::LeftButton);
    ApprovalsSheet* approvals = w.approvalsSheet();
    QVERIFY(approvals && approvals->isVisible());
    save(approvals, QStringLiteral("main-sheet-approvals.png"));
    w.openApprovals();
    QCOMPARE(w.approvalsSheet(), approvals);
    // An approval reloads the bar, and its snapshot follows.
    QSignalSpy acted(approvals, &FeedItemSheet::actionFinished);
    StallProbe::shared().reset();
    approvals->respond(w.controller()->status()->pendingApprovalItems().first(), true);
    QTRY_COMPARE(acted.size(), 1);
    QTRY_VERIFY(bar->summary().pendingApprovals < pending);
    QTRY_COMPARE(
        JsonFile::read(WorkspaceSummary::snapshotPath()).value_or(QJsonDocument()).object(), bar->summary().toJson());
    StallProbe::shared().verifyNoStall();
    approvals->reject();
    QTRY_VERIFY(bar->summary().failedTasks > 0);
    emit bar->failedTasksRequested();
    QVERIFY(w.failedTasksSheet() && w.failedTasksSheet()->isVisible());
    save(w.failedTasksSheet(), QStringLiteral("main-sheet-failedtasks.png"));
    w.failedTasksSheet()->reject();

    const int loads = commandLoads(*m_sim);
    const int syncs = m_tool->argvs().count(QStringLiteral("workspaces"));
    QSignalSpy recovered(w.controller(), &WindowController::recoveryFinished);
    emit bar->recoveryRequested();
    // Closing the sheet leaves the run going; pressing again shows the same run.
    w.recoverySheet()->reject();
    QTRY_VERIFY(!w.recoverySheet());
    emit bar->recoveryRequested();
    QVERIFY(w.recoverySheet());
    // The second start returned at once and reloaded; the first reloads when its run ends.
    QTRY_VERIFY_WITH_TIMEOUT(recovered.size() == 2, 20000);
    save(w.recoverySheet(), QStringLiteral("main-sheet-recovery.png"));
    // The run reloaded the status model, then the catalogue synchronised.
    QVERIFY(commandLoads(*m_sim) > loads && m_tool->argvs().count(QStringLiteral("workspaces")) > syncs);

    // Closing the window with a sheet open leaves no window visible, which is what quits the application.
    w.close();
    QTRY_VERIFY(!w.recoverySheet());
    for (QWidget* top : QApplication::topLevelWidgets())
        QVERIFY(!top->isVisible());
}

// A poll that overtakes an approval's reload, with the feed answering late: the
// row stays unpressable until the list read after the approval is on show, so
// the item gets one decision however often it is pressed, also in the sheet
// closed and opened again meanwhile.
void TestMainWindow::oneDecisionWhileAPollOvertakes_data()
{
    QTest::addColumn<bool>("reopened");
    QTest::newRow("sheet open") << false;
    QTest::newRow("sheet closed and opened again") << true;
}

void TestMainWindow::oneDecisionWhileAPollOvertakes()
{
    QFETCH(bool, reopened);
    m_world->pair();
    MainWindow w(kQuiet);
    showLoaded(w);
    w.openApprovals();
    ApprovalsSheet* approvals = w.approvalsSheet();
    QVERIFY(approvals && !w.controller()->status()->pendingApprovalItems().isEmpty());
    const QString id = w.controller()->status()->pendingApprovalItems().first().id;
    const QString approve = QStringLiteral("approvals.approve.") + id;
    // The approval's reload waits on its command list; the poll's feed comes late.
    m_sim->setFault("GET", QStringLiteral("/api/workspaces/%1/commands").arg(kDemo), 0, {}, 800, 1);
    m_sim->setFault("GET", QStringLiteral("/api/workspaces/%1/feed").arg(kDemo), 0, {}, 2000, 1);
    const int loads = commandLoads(*m_sim);
    QTest::mouseClick(approvals->findChild<QAbstractButton*>(approve), Qt::LeftButton);
    QTRY_COMPARE(commandLoads(*m_sim), loads + 1);
    auto poll = w.controller()->reloadSelected();
    if (reopened) {
        approvals->reject();
        QTRY_VERIFY(!w.approvalsSheet());
        w.openApprovals();
        approvals = w.approvalsSheet();
    }
    QSignalSpy actedHere(approvals, &FeedItemSheet::actionFinished);
    while (!poll.isReady()) {
        auto* button = approvals->findChild<QAbstractButton*>(approve);
        if (button && button->isVisible())
            QTest::mouseClick(button, Qt::LeftButton);
        QTest::qWait(50);
    }
    QCoro::waitFor(std::move(poll));
    QTRY_COMPARE(actedHere.size(), 1);
    QTRY_VERIFY(!approvals->findChild<QAbstractButton*>(approve));
    const QString act = QStringLiteral("/api/workspaces/%1/feed/%2/act").arg(kDemo, id);
    QCOMPARE(matching(m_sim->requests(), QStringLiteral("POST"), act).size(), 1);
}

// Recovery's last two steps say what its reload read: a list the gateway did
// not give is not ticked, and the step says why in the load's own words.
void TestMainWindow::recoveryReadsTheGateway_data()
{
    QTest::addColumn<QString>("route"); // the route that fails from the start of the run; "" none
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reconnect"); // step 5's text
    QTest::addColumn<QString>("refresh"); // step 6's text
    QTest::addColumn<bool>("overtaken"); // a poll overtakes the recovery's reload
    const QString oldGateway = QStringLiteral("这台网关还没有 AI 团队这条接口（升级后端即可）");
    QTest::newRow("answers") << QString() << 0 << QByteArray() << "已经重问过一遍网关"
                             << "屏幕上的数字已经是这一刻的" << false;
    QTest::newRow("no such workspace") << "commands" << 404
                                       << QByteArray(R"({"error":"没有这个工作区","code":"workspace_not_found"})")
                                       << "没有这个工作区"
                                       << "没有这个工作区" << false;
    QTest::newRow("roster unread") << "employees" << 404 << QByteArray() << "已经重问过一遍网关" << oldGateway << false;
    // The overtaken reload reads nothing: the steps say what the poll read.
    QTest::newRow("roster unread by the poll that overtakes")
        << "employees" << 404 << QByteArray() << "已经重问过一遍网关" << oldGateway << true;
}

void TestMainWindow::recoveryReadsTheGateway()
{
    QFETCH(QString, route);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, reconnect);
    QFETCH(QString, refresh);
    QFETCH(bool, overtaken);
    m_world->pair();
    MainWindow w(kQuiet);
    showLoaded(w);
    // Overtaken, the poll's answer comes after the recovery's reload has returned.
    if (!route.isEmpty())
        m_sim->setFault(
            "GET", QStringLiteral("/api/workspaces/%1/%2").arg(kDemo, route), status, body, overtaken ? 2000 : 0);
    if (overtaken)
        m_sim->setFault("GET", QStringLiteral("/api/workspaces/%1/commands").arg(kDemo), 0, {}, 800, 1);
    const int loads = commandLoads(*m_sim);
    QSignalSpy recovered(w.controller(), &WindowController::recoveryFinished);
    w.recover();
    if (overtaken) {
        // The poll starts while the recovery's reload waits on its command list.
        QTRY_COMPARE_WITH_TIMEOUT(commandLoads(*m_sim), loads + 1, 20000);
        QCoro::waitFor(w.controller()->reloadSelected());
    }
    QTRY_COMPARE_WITH_TIMEOUT(recovered.size(), 1, 20000);
    const QList<RecoveryRunner::Step> steps = w.controller()->recovery()->steps();
    using State = RecoveryRunner::State;
    QCOMPARE(steps.at(4).detail, reconnect);
    QCOMPARE(steps.at(4).state, reconnect == QStringLiteral("已经重问过一遍网关") ? State::Ok : State::Failed);
    QCOMPARE(steps.at(5).detail, refresh);
    QCOMPARE(steps.at(5).state, refresh == QStringLiteral("屏幕上的数字已经是这一刻的") ? State::Ok : State::Failed);
}

// Closing the window mid-flow ends the tool runs it started, and no coroutine stays
// suspended (the leak check at exit would find its frame), whatever was in flight.
void TestMainWindow::closedMidFlow_data()
{
    QTest::addColumn<QString>("toolRun"); // the run in flight when the window goes; empty: a reload
    QTest::newRow("reload") << QString();
    QTest::newRow("pairing") << QStringLiteral("pair");
    QTest::newRow("recovery") << QStringLiteral("daemon status");
}

void TestMainWindow::closedMidFlow()
{
    QFETCH(QString, toolRun);
    m_world->pair();
    m_tool->put(QStringLiteral("pair.delay_ms"), "30000");
    m_tool->put(QStringLiteral("daemon-status.delay_ms"), "30000");
    m_prompts->folderAnswers = { newFolder() };

    auto* w = new MainWindow(kQuiet);
    qint64 pid = 0;
    if (toolRun.isEmpty()) {
        // The command list never arrives while the window is open.
        m_sim->setFault("GET", QStringLiteral("/api/workspaces/%1/commands").arg(kDemo), 0, {}, 30000);
        w->show();
        QTRY_COMPARE(commandLoads(*m_sim), 1);
    } else {
        showLoaded(*w);
        if (toolRun == QLatin1String("pair"))
            w->pickFolderAndPair();
        else
            w->recover();
        QTRY_VERIFY(m_tool->argvs().join(QLatin1Char('\n')).contains(toolRun));
        const QStringList argvs = m_tool->argvs();
        for (qsizetype i = 0; i < argvs.size(); ++i)
            pid = argvs.at(i).startsWith(toolRun) ? m_tool->calls().at(i).value(QStringLiteral("pid")).toInteger()
                                                  : pid;
        QVERIFY(pid > 0);
    }
    w->close();
    delete w;
    if (pid > 0)
        QTRY_VERIFY(::kill(pid_t(pid), 0) != 0);
    QTest::qWait(200); // whatever was still on its way arrives to nobody
}

// The controller owns the models the views hold by plain pointer, so it goes last: when it is destroyed no view or
// sheet is left, even with sheets open and a reload in flight.
void TestMainWindow::viewsGoBeforeTheController()
{
    m_world->pair();
    auto* w = new MainWindow(kQuiet);
    showLoaded(*w);
    WindowController* c = w->controller();
    auto* runtime = qobject_cast<RuntimeSection*>(w->pairedPage()->section(PairedPage::Runtime));
    auto* banner = qobject_cast<RelocationBanner*>(w->pairedPage()->section(PairedPage::RelocationBanner));
    QVERIFY(runtime && banner);
    QCOMPARE(c->runtimeSection()->parent(), static_cast<QObject*>(c));
    QTRY_VERIFY(runtime->card(QStringLiteral("codex")));
    QCOMPARE(banner->state(), c->relocation());
    QTRY_VERIFY(w->summaryBar()->summary() == c->summary()->summary());
    w->openApprovals();
    w->openFailedTasks();
    const QList<QPointer<QWidget>> views { runtime, banner, w->teamSection(), w->summaryBar(), w->approvalsSheet(),
        w->failedTasksSheet(), runtime->card(QStringLiteral("codex")) };
    for (const QPointer<QWidget>& view : views)
        QVERIFY(view);
    qsizetype left = -1;
    connect(c, &QObject::destroyed, this, [&] {
        left = std::count_if(views.begin(), views.end(), [](const QPointer<QWidget>& v) { return !v.isNull(); });
    });

    m_sim->setFault("GET", QStringLiteral("/api/workspaces/%1/commands").arg(kDemo), 0, {}, 30000);
    const int loads = commandLoads(*m_sim);
    c->reloadSelected();
    QTRY_COMPARE(commandLoads(*m_sim), loads + 1);
    w->close();
    delete w;
    QCOMPARE(left, 0);
    QTest::qWait(200); // whatever was still on its way arrives to nobody
}

// The real dialogs behind the window's prompts: Escape picks the last (cancelling) button, Return the default one,
// the detail line is shown as written, markup and all, and a cancelled folder pick gives nothing.
void TestMainWindow::realPrompts()
{
    QWidget parent;
    parent.show();
    QtPrompts prompts;
    QTimer::singleShot(0, [&] {
        auto* box = parent.findChild<QMessageBox*>();
        QVERIFY(box);
        const QList<QLabel*> labels = box->findChildren<QLabel*>();
        QCOMPARE(int(std::count_if(labels.begin(), labels.end(),
                     [](QLabel* l) { return l->text().contains('<') && l->textFormat() == Qt::PlainText; })),
            1);
        QTest::keyClick(box, Qt::Key_Escape);
    });
    QCOMPARE(QCoro::waitFor(prompts.alert(&parent,
                 { QStringLiteral("确定要删除这条失败的任务？"), QStringLiteral("<a href=\"x\">x</a>"),
                     { "删除", "算了" } })),
        1);
    // Return presses the default button, which need not be the confirming one.
    for (const int defaultButton : { 0, 1 }) {
        QTimer::singleShot(0, [&] {
            for (QMessageBox* box : parent.findChildren<QMessageBox*>()) {
                if (box->isVisible())
                    QTest::keyClick(box, Qt::Key_Return);
            }
        });
        Prompts::Alert alert { QStringLiteral("卸载？"), QString(), { "卸载", "取消" } };
        alert.defaultButton = defaultButton;
        QCOMPARE(QCoro::waitFor(prompts.alert(&parent, alert)), defaultButton);
    }
    QTimer::singleShot(0, [&] {
        auto* dialog = parent.findChild<QFileDialog*>();
        QVERIFY(dialog);
        dialog->reject();
    });
    QCOMPARE(QCoro::waitFor(prompts.pickFolder(&parent, QStringLiteral("配对"), QString())), std::nullopt);
}

// A known workspace token and a known provider key go through every view that handles them, with
// both loops running; afterwards neither is in any file the application wrote, in what it showed, copied or logged.
void TestMainWindow::nothingLeaks()
{
    // The stand-in gateway with a workspace token nothing else could contain.
    const QString token = QStringLiteral("tok-audit-9f2c41e7b08d5a36c1");
    QTemporaryDir scenarios;
    QFile demo(Sim::scenario(QStringLiteral("demo.json"))), scenario(scenarios.filePath(QStringLiteral("demo.json")));
    QVERIFY(demo.open(QIODevice::ReadOnly) && scenario.open(QIODevice::WriteOnly));
    scenario.write(demo.readAll().replace("\"demo-token\"", "\"" + token.toUtf8() + "\""));
    scenario.close();
    m_world.reset();
    m_world = std::make_unique<SimWorld>(scenario.fileName());
    QVERIFY2(m_world->sim->ok(), m_world->sim->output().constData());
    // The pairing files are the tool's, in its protected folder; the application's folder does not exist yet.
    m_world->pair({ kDemo }, true, QStringLiteral(".tolvarine-protected"));
    QVERIFY(!QFileInfo::exists(m_world->home.filePath(QStringLiteral(".tolvarine"))));
    // A desktop session's usual mask, which leaves new folders readable by all.
    const mode_t oldMask = ::umask(022);
    const auto restoreMask = qScopeGuard([oldMask] { ::umask(oldMask); });
    // The worker says both back.
    m_world->tool.put(QStringLiteral("run.interval_ms"), "100");
    m_world->tool.put(QStringLiteral("log_env"), "OPENAI_API_KEY");
    m_world->tool.answer(
        QStringLiteral("run"), QStringLiteral("using key %1 with token %2\n").arg(kKey, token).toUtf8(), 0);

    QStringList shown; // notices and clipboard texts, as they came
    auto* w = new MainWindow(MainWindow::Intervals { 300ms, 300ms });
    w->resize(840, 1400);
    connect(w->controller(), &WindowController::noticeChanged, w,
        [&] { shown.append(w->controller()->notice().value_or(QString())); });
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, w,
        [&] { shown.append(QGuiApplication::clipboard()->text()); });
    showLoaded(*w);
    auto* section = qobject_cast<RuntimeSection*>(w->pairedPage()->section(PairedPage::Runtime));
    QTRY_VERIFY(section->card(QStringLiteral("codex")));
    RuntimeCard* codex = section->card(QStringLiteral("codex"));

    // The provider sheet: a new account with the key, bound and checked.
    clickWhenShown(*w, QStringLiteral("runtime.codex.model"));
    ModelProviderSheet* sheet = codex->providerSheet();
    sheet->findChild<QLineEdit*>(QStringLiteral("providers.new.name"))->setText(QStringLiteral("审计账号"));
    sheet->findChild<QLineEdit*>(QStringLiteral("providers.new.baseurl"))->setText(m_world->sim->origin() + "/v1");
    sheet->findChild<QLineEdit*>(QStringLiteral("providers.new.model"))->setText(QStringLiteral("gpt-5-codex"));
    sheet->findChild<QLineEdit*>(QStringLiteral("providers.new.key"))->setText(kKey);
    clickWhenShown(*sheet, QStringLiteral("providers.new.save"));
    QTRY_COMPARE(sheet->model()->profiles().size(), 1);
    const QString idText = UuidText::plain(sheet->model()->profiles().first().id);
    clickWhenShown(*sheet, QStringLiteral("providers.") + idText + QStringLiteral(".bind"));
    clickWhenShown(*sheet, QStringLiteral("providers.") + idText + QStringLiteral(".verify"));
    QTRY_VERIFY(sheet->model()->profiles().first().lastVerifyOK.has_value());
    clickWhenShown(*sheet, QStringLiteral("providers.close"));
    QTRY_VERIFY(codex->state().boundProfile && codex->state().boundProfileHasKey == true);

    // The account store's folder is the user's alone (created by the application: the tool wrote nothing there yet).
    const QFileInfo folder(QFileInfo(ProviderProfileStore::filePath()).absolutePath());
    QVERIFY(folder.isDir() && !(folder.permissions() & QFileDevice::Permissions(0x0077)));

    // The runtime starts with the key in its environment.
    clickWhenShown(*w, QStringLiteral("runtime.codex.start"));
    QTRY_VERIFY(section->log()->toPlainText().contains(QStringLiteral("using key ")));
    const QList<QJsonObject> calls = m_world->tool.calls();
    QVERIFY(std::any_of(calls.begin(), calls.end(), [](const QJsonObject& call) {
        return call[QStringLiteral("env")][QStringLiteral("OPENAI_API_KEY")].toString() == kKey;
    }));

    // Diagnostics copied, the recovery run, the phone pairing link copied, a folder paired.
    codex->diagnostics()->setExpanded(true);
    clickWhenShown(*w, QStringLiteral("runtime.codex.copyDiag"));
    QSignalSpy recovered(w->controller(), &WindowController::recoveryFinished);
    w->recover();
    QTRY_COMPARE_WITH_TIMEOUT(recovered.size(), 1, 20000);
    auto* phone = w->findChild<PairingSection*>();
    QSignalSpy copied(phone, &PairingSection::copyFinished);
    QTest::mouseClick(phone->entryCopyButton(), Qt::LeftButton);
    QTRY_COMPARE(copied.size(), 1);
    phone->setQrExpanded(true);
    QTest::qWait(300);
    m_prompts->folderAnswers = { newFolder() };
    qputenv("BRENLOW_SIM_PAIR_WS", "ws-new");
    QSignalSpy paired(w->controller(), &WindowController::pairingFinished);
    w->pickFolderAndPair();
    QTRY_COMPARE_WITH_TIMEOUT(paired.size(), 1, 10000);
    // A few passes of both loops, on their intervals, write their snapshots.
    QSignalSpy polled(w->controller(), &WindowController::pollPassFinished);
    QSignalSpy checked(w->controller(), &WindowController::healthPassFinished);
    StallProbe::shared().reset();
    QTRY_VERIFY_WITH_TIMEOUT(polled.size() >= 2 && checked.size() >= 2, 10000);
    StallProbe::shared().verifyNoStall();
    QCOMPARE(w->controller()->catalog()->publishEndpoint(), w->controller()->status()->reachableEndpoint());

    shown.append(section->log()->toPlainText());
    shown += w->controller()->runtimes().lines(kDemo);
    w->controller()->runtimes().stopAll();
    // Closing the window ends the loops: whatever was in flight settles, after that nothing starts again.
    w->close();
    QVERIFY(!w->controller()->loopsRunning());
    const auto counts = [&] {
        return QList<qsizetype> { commandLoads(*m_world->sim), polled.size(), checked.size(),
            m_world->tool.argvs().count(QStringLiteral("daemon status --json")) };
    };
    QTest::qWait(100);
    const QList<qsizetype> before = counts();
    QTest::qWait(800);
    QCOMPARE(counts(), before);
    delete w;
    QTest::qWait(500);
    shown.append(TempHome::crumbs());
    QVERIFY(!TempHome::crumbs().isEmpty());
    const auto clean = [&](const QString& text) { return !text.contains(token) && !text.contains(kKey); };
    for (const QString& text : std::as_const(shown))
        QVERIFY2(clean(text), qPrintable(text.left(300)));

    // Every file under the home but the stand-in tool's own: its steering folder, its pairing files and itself.
    const QStringList toolWritten { QStringLiteral("/brenlow-sim/"), QStringLiteral("/.tolvarine-protected/"),
        QStringLiteral("/.tolvarine/workspaces/"), QStringLiteral("/.tolvarine/config.json"),
        QStringLiteral("/.local/bin/") };
    int searched = 0;
    QDirIterator it(m_world->home.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(m_world->home.path().size());
        if (std::any_of(toolWritten.begin(), toolWritten.end(),
                [&](const QString& prefix) { return relative.startsWith(prefix); }))
            continue;
        QFile f(path);
        QVERIFY2(f.open(QIODevice::ReadOnly) && clean(QString::fromLatin1(f.readAll())), qPrintable(relative));
        ++searched;
    }
    QVERIFY(searched >= 5);
}

void TestMainWindow::keylessWorkGoesOnWhileTheKeyStoreHolds_data()
{
    QTest::addColumn<QString>("road");
    for (const char* road :
        { "start-up", "refresh", "custom connection", "runtime without a key", "binding in the sheet", "quit" })
        QTest::newRow(road) << QString::fromLatin1(road);
}

// The key store holds its calls from before the window starts (an unlock
// prompt nobody answers). Everything that needs no key goes on meanwhile; a
// start that reads a key waits for it and then starts with it; quitting does
// not wait for the store.
void TestMainWindow::keylessWorkGoesOnWhileTheKeyStoreHolds()
{
    QFETCH(QString, road);
    const QDateTime created = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    const ProviderProfile work { QUuid::createUuid(), QStringLiteral("anthropic"), QStringLiteral("工作"), {}, {},
        created, {}, {}, {} };
    const ProviderProfile home { QUuid::createUuid(), QStringLiteral("anthropic"), QStringLiteral("家里"), {}, {},
        created, {}, {}, {} };
    QVERIFY(ProviderProfileStore::upsert(work) && ProviderProfileStore::upsert(home));
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("claude"), work.id));
    AdvancedConnection custom;
    custom.id = QUuid::createUuid();
    custom.kind = AdvancedConnectionKind::generic;
    custom.name = QStringLiteral("评审 Agent");
    custom.command = QStringLiteral("review-agent");
    custom.createdAt = created;
    QVERIFY(AdvancedConnectionStore::upsert(custom));
    auto blocking = std::make_unique<BlockingSecretStore>();
    BlockingSecretStore* keys = blocking.get();
    // Longer than any wait below: a road that waited for the store would time out first.
    keys->setPatience(20s);
    QVERIFY(keys->inner().write(CredentialBroker::service(), CredentialBroker::profileAccount(work.id),
        "sk-ant-work-1234", QStringLiteral("key")));
    SecretStore::setShared(std::move(blocking));
    m_world->pair();
    m_tool->put(QStringLiteral("log_env"), "ANTHROPIC_API_KEY");
    // The key each worker of a kind was started with.
    const auto started = [this](const QString& kind) {
        QStringList given;
        for (const QJsonObject& call : m_tool->calls()) {
            const QJsonObject env = call.value(QStringLiteral("env")).toObject();
            if (call.value(QStringLiteral("argv")).toArray().first().toString() == QStringLiteral("run")
                && env.value(QStringLiteral("TOLVARINE_RUNTIME_KIND")).toString() == kind)
                given.append(env.value(QStringLiteral("ANTHROPIC_API_KEY")).toString());
        }
        return given;
    };

    // Whatever the outcome, the store answers at the end and nothing is left running.
    QPointer<MainWindow> w = new MainWindow(kQuiet);
    const auto settle = qScopeGuard([&] {
        keys->open();
        RuntimeController::shared().stopAll();
        RuntimeController::shared().waitForStopped();
        delete w;
    });
    showLoaded(*w);
    auto* section = qobject_cast<RuntimeSection*>(w->pairedPage()->section(PairedPage::Runtime));
    QTRY_VERIFY(section->card(QStringLiteral("claude")) && section->card(QStringLiteral("cursor")));
    QVERIFY(keys->waiting());
    // The rows, the profiles and the bindings are in without the store.
    RuntimeCard* claude = section->card(QStringLiteral("claude"));
    QTRY_VERIFY(claude->state().boundProfile && claude->state().boundProfile->id == work.id);
    // This start reads its key: it waits.
    clickWhenShown(*w, QStringLiteral("runtime.claude.start"));

    if (road == QLatin1String("refresh")) {
        const qsizetype asked = m_tool->argvs().count(QStringLiteral("runtimes --json"));
        clickWhenShown(*w, QStringLiteral("runtime.refresh"));
        QTRY_COMPARE(m_tool->argvs().count(QStringLiteral("runtimes --json")), asked + 1);
        QTRY_VERIFY(!w->controller()->inventory()->loading());
    } else if (road == QLatin1String("custom connection")) {
        clickWhenShown(*w, QStringLiteral("advanced.") + UuidText::plain(custom.id) + QStringLiteral(".start"));
        QTRY_COMPARE(started(QStringLiteral("generic")).size(), 1);
    } else if (road == QLatin1String("runtime without a key")) {
        clickWhenShown(*w, QStringLiteral("runtime.cursor.start"));
        QTRY_COMPARE(started(QStringLiteral("cursor")).size(), 1);
    } else if (road == QLatin1String("binding in the sheet")) {
        clickWhenShown(*w, QStringLiteral("runtime.claude.model"));
        ModelProviderSheet* sheet = claude->providerSheet();
        QVERIFY(sheet);
        clickWhenShown(*sheet, QStringLiteral("providers.") + UuidText::plain(home.id) + QStringLiteral(".bind"));
        QTRY_COMPARE(RuntimeBindingStore::load().value(QStringLiteral("claude")), home.id);
        clickWhenShown(*sheet, QStringLiteral("providers.close"));
        QTRY_VERIFY(claude->state().boundProfile && claude->state().boundProfile->id == home.id);
    } else if (road == QLatin1String("quit")) {
        // As the application quits: the window closes, the delegate ends
        // what runs, the window goes, then the application's thread pool.
        AppDelegate delegate;
        w->close();
        delegate.applicationWillTerminate();
        delete w;
        QThreadPool::globalInstance()->waitForDone();
        QVERIFY(keys->waiting());
        QVERIFY(!keys->gaveUp());
        return;
    }
    QVERIFY(started(QStringLiteral("claude")).isEmpty());
    QVERIFY(keys->waiting());
    QVERIFY(!keys->gaveUp());

    keys->open();
    QTRY_COMPARE(started(QStringLiteral("claude")), QStringList { QStringLiteral("sk-ant-work-1234") });
}

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
