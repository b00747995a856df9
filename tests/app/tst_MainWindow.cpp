#include "app/AboutSection.h"
#include "app/FirstRunPage.h"
#include "app/MainWindow.h"
#include "app/NoticeBanner.h"
#include "app/PairedPage.h"
#include "app/PresenceChip.h"
#include "app/WindowHeader.h"
#include "app/WorkspaceSummary.h"
#include "app/WorkspaceSummaryBar.h"
#include "design/DS.h"
#include "design/Disclosure.h"
#include "design/PrimaryButton.h"
#include "design/SecondaryButton.h"
#include "gateway/CLI.h"
#include "gateway/GatewayTime.h"
#include "gateway/Status.h"
#include "platform/JsonFile.h"
#include "platform/Prompts.h"
#include "platform/ReduceMotion.h"
#include "runtimes/RecoveryRunner.h"
#include "runtimes/RecoverySheet.h"
#include "runtimes/RuntimeInventoryStore.h"
#include "tasks/ApprovalsSheet.h"
#include "tasks/FailedTasksSheet.h"
#include "workspaces/WorkspaceCatalog.h"

#include "../runtimes/SimTool.h"
#include "SimGateway.h"
#include "TempHome.h"

#include <QComboBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QScrollArea>
#include <QSettings>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

// Long enough that no loop pass happens during a test that does not ask for one.
const MainWindow::Intervals kQuiet { std::chrono::hours(1), std::chrono::hours(1) };

int commandLoads(SimGateway& sim, const QString& workspace = QStringLiteral("ws-demo"))
{
    int n = 0;
    const QString path = QStringLiteral("/api/workspaces/%1/commands").arg(workspace);
    for (const QJsonValue& v : sim.requests()) {
        const QJsonObject r = v.toObject();
        if (r.value(QStringLiteral("method")).toString() == QLatin1String("GET")
            && r.value(QStringLiteral("path")).toString() == path)
            ++n;
    }
    return n;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void firstRunWithoutPairing();
    void loopsRunAndEndWithTheWindow();
    void reloadOnRealSelectionChangeOnly();
    void presenceTexts_data();
    void presenceTexts();
    void headerListsWorkspaces();
    void pairing_data();
    void pairing();
    void noticeBanner();
    void commitText_data();
    void commitText();
    void aboutFollowsSelectionAndNote();
    void sectionsKeepTheirOrder();
    void recoveryReloadsAfterItsRun();
    void approvingFromTheBar();
    void barOpensFailedTasksAndRecovery();
    void screenshots();

private:
    // Pairing files for scenario workspaces, each with an existing folder; the
    // first is the current configuration.
    void pair(const QStringList& workspaces);
    static void save(QWidget* widget, const QString& name);

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimTool> m_tool;
    std::unique_ptr<SimGateway> m_sim;
    ScriptedPrompts* m_prompts = nullptr;
};

void TestMainWindow::init()
{
    ReduceMotion::setOverride(true);
    m_home = std::make_unique<TempHome>();
    m_tool = std::make_unique<SimTool>(*m_home);
    m_sim = std::make_unique<SimGateway>();
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    qputenv("BRENLOW_SIM_GATEWAY", m_sim->origin().toUtf8());
    auto prompts = std::make_unique<ScriptedPrompts>();
    m_prompts = prompts.get();
    Prompts::setShared(std::move(prompts));
}

void TestMainWindow::cleanup()
{
    Prompts::setShared(nullptr);
    m_prompts = nullptr;
    qunsetenv("BRENLOW_SIM_GATEWAY");
    qunsetenv("BRENLOW_SIM_PAIR_WS");
    m_sim.reset();
    m_tool.reset();
    m_home.reset();
    ReduceMotion::setOverride(std::nullopt);
}

void TestMainWindow::pair(const QStringList& workspaces)
{
    for (const QString& ws : workspaces) {
        CLIConfig c = m_sim->config(ws);
        const QString folder = m_home->filePath(QStringLiteral("projects/") + ws);
        QVERIFY(QDir().mkpath(folder));
        c.path = folder;
        const QByteArray json = QJsonDocument(c.toJson()).toJson();
        m_home->writeFile(QStringLiteral(".tolvarine/workspaces/%1.json").arg(ws), json);
        if (ws == workspaces.first())
            m_home->writeFile(QStringLiteral(".tolvarine/config.json"), json);
    }
}

void TestMainWindow::save(QWidget* widget, const QString& name)
{
    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    const QPixmap shot = widget->grab();
    QVERIFY(!shot.isNull());
    QVERIFY(shot.save(QDir(dir).filePath(name)));
}

void TestMainWindow::firstRunWithoutPairing()
{
    MainWindow w(kQuiet);
    QSignalSpy loaded(&w, &MainWindow::initialLoadFinished);
    w.show();
    QTRY_COMPARE(loaded.size(), 1);
    // The start-up load asked the tool to settle its pairing files first.
    QVERIFY(m_tool->argvs().contains(QStringLiteral("workspaces")));

    QVERIFY(w.firstRunPage()->isVisible());
    QVERIFY(!w.pairedPage()->isVisible());
    QVERIFY(w.header()->unpairedLabel()->isVisible());
    QCOMPARE(w.header()->unpairedLabel()->text(), QStringLiteral("还没配对"));
    QVERIFY(!w.header()->switcher()->isVisible());
    QVERIFY(!w.header()->addButton()->isVisible());

    FirstRunPage* page = w.firstRunPage();
    const QList<QWidget*> order = page->sections();
    QCOMPARE(order.size(), 5); // title, explanation, button, hint, about; no runtime section yet
    QCOMPARE(order.first()->objectName(), QStringLiteral("firstrun.title"));
    QCOMPARE(order.last()->objectName(), QStringLiteral("about.section"));
    QVERIFY(!page->commandHint()->isExpanded());
    QVERIFY(!page->hintText()->isVisible());
    page->commandHint()->setExpanded(true);
    QVERIFY(page->hintText()->isVisible());
    // The command shows in code style, without its back-quotes.
    QVERIFY(page->hintText()->text().contains(QStringLiteral("JetBrains Mono")));
    QVERIFY(page->hintText()->text().contains(QStringLiteral("brenlow pair")));
    QVERIFY(!page->hintText()->text().contains(QLatin1Char('`')));

    auto* api = page->findChild<QLabel*>(QStringLiteral("about.api"));
    QVERIFY(api);
    QCOMPARE(api->text(), QStringLiteral("（未配对）"));
    auto* bar = w.findChild<QWidget*>(QStringLiteral("workspace.summary"));
    QVERIFY(!bar || !bar->isVisible());
}

// The start-up load, the poll and the service check run on their intervals,
// and nothing of them runs once the window is closed.
void TestMainWindow::loopsRunAndEndWithTheWindow()
{
    pair({ QStringLiteral("ws-demo") });
    MainWindow w(MainWindow::Intervals { 150ms, 250ms });
    QSignalSpy loaded(&w, &MainWindow::initialLoadFinished);
    QSignalSpy polled(&w, &MainWindow::pollPassFinished);
    QSignalSpy checked(&w, &MainWindow::healthPassFinished);
    w.show();
    QTRY_COMPARE(loaded.size(), 1);
    QCOMPARE(w.status()->config()->workspace, QStringLiteral("ws-demo"));
    QCOMPARE(w.catalog()->publishEndpoint(), w.status()->reachableEndpoint());
    QVERIFY(w.pairedPage()->isVisible());

    QTRY_VERIFY(polled.size() >= 2);
    QTRY_VERIFY(checked.size() >= 2);
    QVERIFY(commandLoads(*m_sim) >= 3);
    QVERIFY(m_tool->argvs().count(QStringLiteral("daemon status --json")) >= 2);

    w.close();
    QVERIFY(!w.loopsRunning());
    // Whatever was in flight settles; after that nothing starts again.
    QTest::qWait(100);
    const int loads = commandLoads(*m_sim);
    const int polls = polled.size();
    const int checks = checked.size();
    const int probes = m_tool->argvs().count(QStringLiteral("daemon status --json"));
    QTest::qWait(800);
    QCOMPARE(commandLoads(*m_sim), loads);
    QCOMPARE(polled.size(), polls);
    QCOMPARE(checked.size(), checks);
    QCOMPARE(m_tool->argvs().count(QStringLiteral("daemon status --json")), probes);
}

void TestMainWindow::reloadOnRealSelectionChangeOnly()
{
    pair({ QStringLiteral("ws-demo"), QStringLiteral("ws-blog") });
    MainWindow w(kQuiet);
    QSignalSpy loaded(&w, &MainWindow::initialLoadFinished);
    QSignalSpy reloaded(&w, &MainWindow::selectionReloadFinished);
    w.show();
    QTRY_COMPARE(loaded.size(), 1);
    QCOMPARE(w.catalog()->selectedID(), QStringLiteral("ws-demo"));
    // The start-up load settling the selection is not a change by the user.
    QTest::qWait(100);
    QCOMPARE(reloaded.size(), 0);
    const int demoLoads = commandLoads(*m_sim);

    // The value it already has: no reload.
    w.catalog()->setSelectedID(QStringLiteral("ws-demo"));
    QTest::qWait(200);
    QCOMPARE(reloaded.size(), 0);
    QCOMPARE(commandLoads(*m_sim), demoLoads);

    // Another workspace picked in the switcher: one reload, for it.
    QComboBox* switcher = w.header()->switcher();
    const int blog = switcher->findData(QStringLiteral("ws-blog"));
    QVERIFY(blog >= 0);
    switcher->setCurrentIndex(blog);
    emit switcher->activated(blog);
    QTRY_COMPARE(reloaded.size(), 1);
    QCOMPARE(w.status()->config()->workspace, QStringLiteral("ws-blog"));
    QCOMPARE(commandLoads(*m_sim, QStringLiteral("ws-blog")), 1);
    QCOMPARE(QSettings().value(QLatin1String(WorkspaceCatalog::kSelectionKey)).toString(), QStringLiteral("ws-blog"));
}

void TestMainWindow::presenceTexts_data()
{
    QTest::addColumn<AgentPresence>("presence");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("online") << AgentPresence::online(12)
                            << QStringLiteral("Runtime 在线 · 心跳 ") + GatewayTime::agoSecs(12) << DS::mint();
    QTest::newRow("stale") << AgentPresence::stale(90) << QStringLiteral("最后一次心跳 ") + GatewayTime::agoSecs(90)
                           << DS::amber();
    QTest::newRow("unknown") << AgentPresence::unknown(QStringLiteral("HTTP 502"))
                             << QStringLiteral("读不到状态（HTTP 502）") << DS::amber();
    QTest::newRow("never") << AgentPresence::never() << QStringLiteral("还没有执行体来找过活") << DS::muted(0.45);
}

void TestMainWindow::presenceTexts()
{
    QFETCH(AgentPresence, presence);
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    PresenceChip chip;
    chip.setPresence(presence);
    QCOMPARE(chip.text(), text);
    QCOMPARE(chip.colour(), colour);
    QCOMPARE(chip.toolTip(), text);
    QCOMPARE(chip.accessibleName(), text);
    QCOMPARE(chip.objectName(), QStringLiteral("presence.text"));
    // A long reason is cut in the chip; the full text stays in the tooltip.
    chip.setPresence(AgentPresence::unknown(QString(200, QLatin1Char('x'))));
    QVERIFY(chip.sizeHint().width() < 300);
    QVERIFY(chip.toolTip().endsWith(QStringLiteral("x）")));
}

void TestMainWindow::headerListsWorkspaces()
{
    WindowHeader header;
    QList<WorkspaceRecord> records;
    for (const auto& [id, name] : { std::pair { "ws-a", "Alpha" }, { "ws-b", "Beta" }, { "ws-c", "Gamma" } }) {
        WorkspaceRecord r;
        r.config.api = QStringLiteral("http://127.0.0.1:1");
        r.config.workspace = QString::fromLatin1(id);
        r.config.token = QStringLiteral("t");
        r.config.name = QString::fromLatin1(name);
        records.append(r);
    }
    header.setWorkspaces(records, QStringLiteral("ws-b"));
    QComboBox* switcher = header.switcher();
    QCOMPARE(switcher->count(), 3);
    QCOMPARE(switcher->itemText(0), QStringLiteral("Alpha"));
    QCOMPARE(switcher->itemText(2), QStringLiteral("Gamma"));
    QCOMPARE(switcher->currentText(), QStringLiteral("Beta"));

    QSignalSpy chosen(&header, &WindowHeader::workspaceChosen);
    // Refilling (every model change) is not a choice of the user.
    header.setWorkspaces(records, QStringLiteral("ws-c"));
    QCOMPARE(switcher->currentText(), QStringLiteral("Gamma"));
    QCOMPARE(chosen.size(), 0);
    emit switcher->activated(0);
    QCOMPARE(chosen.size(), 1);
    QCOMPARE(chosen.first().first().toString(), QStringLiteral("ws-a"));

    QSignalSpy add(&header, &WindowHeader::addRequested);
    header.setBusy(true);
    QVERIFY(!header.addButton()->isEnabled());
    header.setBusy(false);
    header.show();
    QTest::mouseClick(header.addButton(), Qt::LeftButton);
    QCOMPARE(add.size(), 1);
    QCOMPARE(header.addButton()->toolTip(), QStringLiteral("增加工作区"));
}

void TestMainWindow::pairing_data()
{
    QTest::addColumn<bool>("picks");
    QTest::addColumn<bool>("toolThere");
    QTest::addColumn<QByteArray>("toolOutput"); // empty: the stand-in's own answer
    QTest::addColumn<QString>("notice"); // empty: none
    QTest::addColumn<bool>("isError");
    QTest::addColumn<QString>("selected"); // the selection afterwards
    QTest::addColumn<int>("delayMs"); // how long the tool takes

    const QByteArray longOutput = QByteArray(150, 'a') + QByteArray("错").repeated(40) + QByteArray(110, 'z');
    const QString tail = QString::fromUtf8(longOutput).right(200);
    QTest::newRow("cancelled") << false << true << QByteArray() << QString() << false << QString() << 300;
    QTest::newRow("paired") << true << true << QByteArray()
                            << QStringLiteral("工作区已加入；现有工作区与 Runtime 没有停止") << false
                            << QStringLiteral("ws-new") << 300;
    QTest::newRow("tool fails") << true << true << longOutput << QStringLiteral("配对失败：") + tail << true
                                << QString() << 300;
    QTest::newRow("tool missing") << true << false << QByteArray() << CLI::NotFound::description() << true << QString()
                                  << 300;
    // A tool that never answers is stopped at the pairing's time limit (1 s here).
    const QStringList args { QStringLiteral("pair") };
    QTest::newRow("tool hangs") << true << true << QByteArray()
                                << QStringLiteral("配对失败：") + CLI::timedOutText(args, std::chrono::seconds(1))
                                << true << QString() << 30000;
}

void TestMainWindow::pairing()
{
    QFETCH(bool, picks);
    QFETCH(bool, toolThere);
    QFETCH(QByteArray, toolOutput);
    QFETCH(QString, notice);
    QFETCH(bool, isError);
    QFETCH(QString, selected);
    QFETCH(int, delayMs);

    if (!toolThere)
        QVERIFY(QFile::remove(m_tool->exe()));
    if (!toolOutput.isEmpty())
        m_tool->answer(QStringLiteral("pair"), toolOutput, 1);
    m_tool->put(QStringLiteral("pair.delay_ms"), QByteArray::number(delayMs));
    qputenv("BRENLOW_SIM_PAIR_WS", "ws-new");
    const QString folder = m_home->filePath(QStringLiteral("projects/new"));
    QVERIFY(QDir().mkpath(folder));
    m_prompts->folderAnswers = { picks ? std::optional<QString>(folder) : std::nullopt };

    MainWindow w(kQuiet);
    w.setPairTimeLimit(std::chrono::seconds(1));
    QSignalSpy loaded(&w, &MainWindow::initialLoadFinished);
    QSignalSpy finished(&w, &MainWindow::pairingFinished);
    w.show();
    QTRY_COMPARE(loaded.size(), 1);
    QTest::mouseClick(w.firstRunPage()->pairButton(), Qt::LeftButton);
    QCOMPARE(m_prompts->folderPrompts, QStringList { QStringLiteral("配对") });
    if (!picks) {
        QTest::qWait(100);
        QVERIFY(!w.busy());
        QVERIFY(!w.notice());
        QCOMPARE(finished.size(), 0);
        QVERIFY(!m_tool->argvs().join(QLatin1Char('\n')).contains(QStringLiteral("pair")));
        return;
    }
    if (toolThere) {
        // The window stays usable and shows the pairing as running.
        QTRY_VERIFY(w.busy());
        QVERIFY(w.firstRunPage()->pairButton()->isBusy());
    }
    QTRY_COMPARE(finished.size(), 1);
    QVERIFY(!w.busy());
    QCOMPARE(w.notice().value_or(QString()), notice);
    QCOMPARE(w.noticeIsError(), isError);
    QVERIFY(w.noticeBanner()->isVisible());
    QCOMPARE(w.noticeBanner()->text(), notice);
    QCOMPARE(w.catalog()->selectedID(), selected);
    if (toolThere)
        QVERIFY(m_tool->argvs().contains(QStringLiteral("pair --path %1 --grant read").arg(folder)));
    if (!selected.isEmpty()) {
        QCOMPARE(w.status()->config()->workspace, selected);
        QTRY_VERIFY(w.pairedPage()->isVisible());
        QVERIFY(w.header()->addButton()->isEnabled());
    } else {
        QVERIFY(w.firstRunPage()->isVisible());
    }
}

void TestMainWindow::noticeBanner()
{
    MainWindow w(kQuiet);
    w.show();
    w.setNotice(QStringLiteral("配对失败：x"), true);
    NoticeBanner* banner = w.noticeBanner();
    QVERIFY(banner->isVisible());
    QVERIFY(banner->isError());
    QTest::mouseClick(banner->dismissButton(), Qt::LeftButton);
    QVERIFY(!banner->isVisible());
    QVERIFY(!w.notice());
    // The kind of the last notice is kept; the next one brings its own.
    QVERIFY(w.noticeIsError());
    w.setNotice(QStringLiteral("好了"), false);
    QVERIFY(banner->isVisible());
    QVERIFY(!banner->isError());
    QCOMPARE(banner->text(), QStringLiteral("好了"));
}

void TestMainWindow::commitText_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("shown");
    const QString missing = QStringLiteral("未注入（不是发布脚本出的包）");
    QTest::newRow("empty") << QString() << missing;
    QTest::newRow("blank") << QStringLiteral(" \n\t") << missing;
    QTest::newRow("unexpanded") << QStringLiteral(" $(GIT_COMMIT)\n") << missing;
    QTest::newRow("hash with spaces") << QStringLiteral("  abc123\n") << QStringLiteral("abc123");
}

void TestMainWindow::commitText()
{
    QFETCH(QString, raw);
    QFETCH(QString, shown);
    QCOMPARE(AboutSection::commitText(raw), shown);
    QCOMPARE(AboutSection::orQuestionMark(QString()), QStringLiteral("?"));
    QCOMPARE(AboutSection::orQuestionMark(QStringLiteral("1.2")), QStringLiteral("1.2"));
}

void TestMainWindow::aboutFollowsSelectionAndNote()
{
    AboutSection about;
    auto* api = about.findChild<QLabel*>(QStringLiteral("about.api"));
    auto* note = about.findChild<QLabel*>(QStringLiteral("about.endpointNote"));
    QVERIFY(api && note);
    about.show();
    QCOMPARE(api->text(), QStringLiteral("（未配对）"));
    QVERIFY(!note->isVisible());
    CLIConfig c;
    c.api = QStringLiteral("http://studio.local:18091");
    about.setWorkspace(c, QStringLiteral("配置的地址没应答，现在走 http://127.0.0.1:18091"));
    QCOMPARE(api->text(), c.api);
    QCOMPARE(api->accessibleName(), c.api);
    QVERIFY(note->isVisible());
    about.setWorkspace(c, std::nullopt);
    QVERIFY(!note->isVisible());
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("about.commit"))->text(), AboutSection::gitCommit());
}

// Sections arrive in any order and take their place in the page's order.
void TestMainWindow::sectionsKeepTheirOrder()
{
    PairedPage page;
    auto* runtime = new QLabel(QStringLiteral("runtime"));
    auto* banner = new QLabel(QStringLiteral("banner"));
    auto* team = new QLabel(QStringLiteral("team"));
    page.setSection(PairedPage::Runtime, runtime);
    page.setSection(PairedPage::RelocationBanner, banner);
    page.setSection(PairedPage::Team, team);
    QCOMPARE(page.sections(), (QList<QWidget*> { banner, team, runtime, page.about() }));
    // Replacing a slot deletes what was there; a section deleted elsewhere leaves its slot.
    QPointer<QLabel> old(team);
    auto* team2 = new QLabel(QStringLiteral("team2"));
    page.setSection(PairedPage::Team, team2);
    QVERIFY(!old);
    delete banner;
    QCOMPARE(page.sections(), (QList<QWidget*> { team2, runtime, page.about() }));
}

void TestMainWindow::recoveryReloadsAfterItsRun()
{
    pair({ QStringLiteral("ws-demo") });
    MainWindow w(kQuiet);
    QSignalSpy loaded(&w, &MainWindow::initialLoadFinished);
    w.show();
    QTRY_COMPARE(loaded.size(), 1);
    const int loads = commandLoads(*m_sim);
    const int syncs = m_tool->argvs().count(QStringLiteral("workspaces"));
    QSignalSpy done(&w, &MainWindow::recoveryFinished);
    w.startRecovery();
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 20000);
    QVERIFY(w.recovery()->finished());
    // The run reloaded the status model, then the catalogue synchronised.
    QVERIFY(commandLoads(*m_sim) > loads);
    QVERIFY(m_tool->argvs().count(QStringLiteral("workspaces")) > syncs);
}

// The main road: the bar's approvals row opens the sheet, an approval reaches
// the gateway, and after the reload the bar and the snapshot count one less.
void TestMainWindow::approvingFromTheBar()
{
    pair({ QStringLiteral("ws-demo") });
    MainWindow w(kQuiet);
    QSignalSpy loaded(&w, &MainWindow::initialLoadFinished);
    w.show();
    QTRY_COMPARE(loaded.size(), 1);
    WorkspaceSummaryBar* bar = w.summaryBar();
    QTRY_VERIFY(bar->summary().pendingApprovals > 0);
    const qint64 before = bar->summary().pendingApprovals;
    QCOMPARE(before, qint64(w.status()->waitingTaskIDs().size()));

    auto* row = bar->findChild<QAbstractButton*>(QStringLiteral("summary.attention.approvals"));
    QVERIFY(row);
    QTest::mouseClick(row, Qt::LeftButton);
    ApprovalsSheet* sheet = w.approvalsSheet();
    QVERIFY(sheet);
    QVERIFY(sheet->isVisible());
    QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    QCOMPARE(sheet->config()->workspace, QStringLiteral("ws-demo"));
    // A second press brings the same sheet forward.
    w.openApprovals();
    QCOMPARE(w.approvalsSheet(), sheet);

    const FeedApprovalItem item = w.status()->pendingApprovalItems().first();
    QSignalSpy finished(sheet, &FeedItemSheet::actionFinished);
    m_sim->clearRequests();
    sheet->respond(item, true);
    QTRY_COMPARE(finished.size(), 1);
    bool acted = false;
    for (const QJsonValue& v : m_sim->requests())
        acted = acted
            || v.toObject()
                   .value(QStringLiteral("path"))
                   .toString()
                   .endsWith(QStringLiteral("/feed/%1/act").arg(item.id));
    QVERIFY(acted);
    QTRY_VERIFY(bar->summary().pendingApprovals < before);
    // The snapshot holds what the bar shows.
    QTRY_COMPARE(
        JsonFile::read(WorkspaceSummary::snapshotPath()).value_or(QJsonDocument()).object(), bar->summary().toJson());

    sheet->reject();
    QTRY_VERIFY(!w.approvalsSheet());

    // Closing the window with a sheet open ends the application all the same.
    w.openApprovals();
    QVERIFY(w.approvalsSheet()->isVisible());
    w.close();
    QTRY_VERIFY(!w.approvalsSheet());
    // No window is left visible, which is what quits the application.
    for (QWidget* top : QApplication::topLevelWidgets())
        QVERIFY(!top->isVisible());
}

void TestMainWindow::barOpensFailedTasksAndRecovery()
{
    pair({ QStringLiteral("ws-demo") });
    MainWindow w(kQuiet);
    QSignalSpy loaded(&w, &MainWindow::initialLoadFinished);
    w.show();
    QTRY_COMPARE(loaded.size(), 1);
    WorkspaceSummaryBar* bar = w.summaryBar();
    QTRY_VERIFY(bar->summary().failedTasks > 0);

    emit bar->failedTasksRequested();
    QVERIFY(w.failedTasksSheet());
    QVERIFY(w.failedTasksSheet()->isVisible());
    w.failedTasksSheet()->reject();
    QTRY_VERIFY(!w.failedTasksSheet());

    QSignalSpy recovered(&w, &MainWindow::recoveryFinished);
    emit bar->recoveryRequested();
    RecoverySheet* sheet = w.recoverySheet();
    QVERIFY(sheet);
    QVERIFY(sheet->isVisible());
    QVERIFY(w.recovery()->running());
    // Closing the sheet leaves the run going; pressing again shows the same run.
    sheet->reject();
    QTRY_VERIFY(!w.recoverySheet());
    QVERIFY(w.recovery()->running());
    emit bar->recoveryRequested();
    QVERIFY(w.recoverySheet());
    // The second start returned at once and reloaded; the first reloads when its run ends.
    QTRY_VERIFY_WITH_TIMEOUT(recovered.size() == 2, 20000);
    QVERIFY(w.recovery()->finished());
}

void TestMainWindow::screenshots()
{
    {
        MainWindow w(kQuiet);
        QSignalSpy loaded(&w, &MainWindow::initialLoadFinished);
        QSignalSpy checked(&w, &MainWindow::healthPassFinished);
        w.show();
        QTRY_COMPARE(loaded.size(), 1);
        QTRY_COMPARE(checked.size(), 1);
        QTRY_VERIFY(!w.inventory()->loading());
        QTest::qWait(50);
        save(&w, QStringLiteral("main-firstrun.png"));
    }
    pair({ QStringLiteral("ws-demo"), QStringLiteral("ws-blog") });
    MainWindow w(kQuiet);
    QSignalSpy loaded(&w, &MainWindow::initialLoadFinished);
    QSignalSpy checked(&w, &MainWindow::healthPassFinished);
    w.show();
    QTRY_COMPARE(loaded.size(), 1);
    QTRY_COMPARE(checked.size(), 1);
    QTRY_VERIFY(!w.inventory()->loading());
    w.setNotice(QStringLiteral("工作区已加入；现有工作区与 Runtime 没有停止"), false);
    QTest::qWait(50);
    save(&w, QStringLiteral("main-paired.png"));
    // The whole page, below the fold too.
    w.resize(840, 1400);
    QTest::qWait(50);
    save(&w, QStringLiteral("main-paired-full.png"));
    w.resize(840, 720);

    // Each sheet the bar opens, over the demo workspace.
    w.openApprovals();
    QVERIFY(w.approvalsSheet());
    QTest::qWait(100);
    save(w.approvalsSheet(), QStringLiteral("main-sheet-approvals.png"));
    w.approvalsSheet()->reject();
    w.openFailedTasks();
    QVERIFY(w.failedTasksSheet());
    QTest::qWait(100);
    save(w.failedTasksSheet(), QStringLiteral("main-sheet-failedtasks.png"));
    w.failedTasksSheet()->reject();
    QSignalSpy recovered(&w, &MainWindow::recoveryFinished);
    w.recover();
    QTRY_COMPARE_WITH_TIMEOUT(recovered.size(), 1, 20000);
    QTest::qWait(100);
    save(w.recoverySheet(), QStringLiteral("main-sheet-recovery.png"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
