#include "core/agents/AdvancedConnectionStore.h"
#include "core/platform/JsonFile.h"
#include "core/platform/ReduceMotion.h"
#include "core/providers/CredentialBroker.h"
#include "core/runtimes/RecoveryRunner.h"
#include "core/runtimes/RuntimeCardActions.h"
#include "core/runtimes/RuntimeChildLedger.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeEnablementStore.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "gui/agents/AddConnectionSheet.h"
#include "gui/agents/AdvancedAccessSection.h"
#include "gui/design/AdaptiveColumns.h"
#include "gui/design/Disclosure.h"
#include "gui/design/FaceButton.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/SkeletonCards.h"
#include "gui/platform/Prompts.h"
#include "gui/providers/ModelProviderSheet.h"
#include "gui/runtimes/RecoverySheet.h"
#include "gui/runtimes/RecoveryStepRow.h"
#include "gui/runtimes/RuntimeCard.h"
#include "gui/runtimes/RuntimeSection.h"
#include "gui/shell/MainWindow.h"
#include "gui/shell/PairedPage.h"
#include "gui/shell/WorkspaceSummaryBar.h"

#include "SimGateway.h"
#include "SimTool.h"
#include "StallProbe.h"
#include "TempHome.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

namespace {

const MainWindow::Intervals kQuiet { std::chrono::hours(1), std::chrono::hours(1) };
const QString kDemo = QStringLiteral("ws-demo");

void save(QWidget* widget, const QString& name)
{
    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    QTest::qWait(100);
    QVERIFY(widget->grab().save(QDir(dir).filePath(name)));
}

// The longest the GUI thread was held up waiting since the last reset.
StallProbe& probe()
{
    static StallProbe p;
    return p;
}

void verifyNoStall()
{
    QVERIFY2(probe().worstMs() <= 100, qPrintable(QStringLiteral("stalled %1 ms").arg(probe().worstMs())));
}

QJsonObject actionTable()
{
    return JsonFile::read(RuntimeCardActions::filePath()).value_or(QJsonDocument()).object();
}

QJsonArray tableActions(const QString& kind)
{
    return actionTable().value(kind).toObject().value("actions").toArray();
}

// A runtime report with `ready` ready runtimes and one runtime per name in `login` that needs a login.
QByteArray report(int ready, const QStringList& login = {})
{
    QStringList rows;
    for (int i = 0; i < ready + login.size(); ++i) {
        const QString kind = i < ready ? QStringLiteral("rt%1").arg(i) : login[i - ready];
        rows.append(
            QStringLiteral(R"({"kind":"%1","display":"%2","adapter":"cli","usability":"%3","protocol":false,
            "health":{"installed":true,"healthy":true},"auth":{"state":"x","source":"y"},"cap_counts":{}})")
                .arg(kind, kind.toUpper(), i < ready ? QStringLiteral("ready") : QStringLiteral("login_required")));
    }
    return QStringLiteral(R"({"runtimes":[%1],"counts":{}})").arg(rows.join(',')).toUtf8();
}

QCoro::Task<> recover(RecoveryRunner& runner, std::optional<CLIConfig> ws)
{
    return runner.run(
        std::move(ws), [] {}, []() -> QCoro::Task<> { co_return; });
}

RecoveryStepRow* step(QWidget* sheet, const QString& id)
{
    return sheet->findChild<RecoveryStepRow*>("recovery.step." + id);
}

bool shown(QWidget* sheet, const char* name)
{
    return sheet->findChild<QWidget*>(name)->isVisible();
}

// Spinner, divider, all-good verdict, needs-you block.
QList<bool> verdictParts(QWidget* sheet)
{
    return { shown(sheet, "recovery.spinner"), shown(sheet, "recovery.divider"),
        shown(sheet, "recovery.verdict.allgood"), shown(sheet, "recovery.needsyou") };
}

QStringList needsYouLines(QWidget* sheet)
{
    QStringList out;
    auto* block = sheet->findChild<QWidget*>("recovery.needsyou");
    for (QLabel* label : block->findChildren<QLabel*>())
        if (label->isVisibleTo(block))
            out.append(label->text());
    return out;
}

void shoot(QDialog* d, const QString& name)
{
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d));
    save(d, name);
}

} // namespace

// The runtime section in the main window, over the stand-in tool's inventory
// and real workers, with the demo workspace selected.
class TestRuntimeSection : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void cardsFollowTheInventory();
    void enableAndDisable();
    void startAndStop();
    void terminalCommandsAndDiagnostics();
    void providerSheet();
    void customConnection();
    void recoveryDuringAndAfterARun();
    void recoveryVerdicts_data();
    void recoveryVerdicts();

private:
    // Shows the window and waits for the inventory.
    void showLoaded(MainWindow& w);
    RuntimeSection* section(MainWindow& w) const;
    // The shown widget of that name (a replaced one may linger hidden until deleted).
    template <typename W = QWidget> W* find(MainWindow& w, const QString& name) const
    {
        for (W* each : section(w)->findChildren<W*>(name)) {
            if (each->isVisible())
                return each;
        }
        return nullptr;
    }
    static void click(QWidget* button);
    // A workspace whose gateway cannot be reached, as the recovery run is given it.
    CLIConfig recoveryWorkspace() const;

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimTool> m_tool;
    std::unique_ptr<SimGateway> m_sim;
    ScriptedPrompts* m_prompts = nullptr;
};

void TestRuntimeSection::init()
{
    ReduceMotion::setOverride(true);
    m_home = std::make_unique<TempHome>();
    m_tool = std::make_unique<SimTool>(*m_home);
    m_tool->put("run.interval_ms", "100");
    m_sim = std::make_unique<SimGateway>();
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    auto prompts = std::make_unique<ScriptedPrompts>();
    m_prompts = prompts.get();
    Prompts::setShared(std::move(prompts));

    CLIConfig c = m_sim->config(kDemo);
    c.path = m_home->filePath("projects/demo");
    QVERIFY(QDir().mkpath(*c.path));
    const QByteArray json = QJsonDocument(c.toJson()).toJson();
    m_home->writeFile(".tolvarine/workspaces/ws-demo.json", json);
    m_home->writeFile(".tolvarine/config.json", json);
}

void TestRuntimeSection::cleanup()
{
    RuntimeController::shared().stopAll();
    RuntimeController::shared().waitForStopped();
    Prompts::setShared(nullptr);
    m_prompts = nullptr;
    m_sim.reset();
    m_tool.reset();
    m_home.reset();
    ReduceMotion::setOverride(std::nullopt);
}

void TestRuntimeSection::showLoaded(MainWindow& w)
{
    QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
    w.show();
    QTRY_COMPARE(loaded.size(), 1);
    QTRY_VERIFY(!w.controller()->inventory()->rows().isEmpty());
    QTRY_VERIFY(section(w)->card("claude"));
}

RuntimeSection* TestRuntimeSection::section(MainWindow& w) const
{
    return qobject_cast<RuntimeSection*>(w.pairedPage()->section(PairedPage::Runtime));
}

CLIConfig TestRuntimeSection::recoveryWorkspace() const
{
    CLIConfig c;
    c.api = "http://127.0.0.1:1";
    c.workspace = "ws-7";
    c.token = "t";
    c.path = m_home->filePath("projects/demo");
    return c;
}

void TestRuntimeSection::click(QWidget* button)
{
    QVERIFY(button);
    QVERIFY(button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
}

void TestRuntimeSection::cardsFollowTheInventory()
{
    m_tool->put("runtimes.delay_ms", "800");
    MainWindow w(kQuiet);
    w.show();
    // The section loads the inventory itself, with placeholders until it comes.
    QTRY_VERIFY(section(w)->skeleton() && section(w)->skeleton()->isVisible());
    QVERIFY(!section(w)->grid()->isVisible());
    QTRY_VERIFY(!w.controller()->inventory()->loading());
    QTRY_VERIFY(!section(w)->skeleton());
    QCOMPARE(m_tool->argvs().count(QStringLiteral("runtimes --json")), 1);

    // A card per runtime except the connection kinds, in inventory order.
    QStringList kinds;
    for (QWidget* cell : section(w)->grid()->cells())
        kinds << cell->objectName();
    QCOMPARE(kinds,
        (QStringList { "runtime.row.claude", "runtime.row.codex", "runtime.row.gemini", "runtime.row.qwen",
            "runtime.row.aider", "runtime.row.cursor", "runtime.row.agy", "runtime.row.kimi",
            "runtime.row.opencode" }));
    QCOMPARE(find<QLabel>(w, QStringLiteral("runtime.counts"))->text(),
        QStringLiteral("已注册 10 家 · 已安装 8 家 · 可用 2 家 · 待登录 1 家 · 待配凭据 1 家"));
    QCOMPARE(section(w)->card(QStringLiteral("codex"))->accessibleName(), QStringLiteral("Codex login_required"));
    // The demo's commands ran on Claude Code.
    QVERIFY(find(w, "runtime.claude.serving")->isVisible());

    // The action table lists what the cards offer, for every row.
    QTRY_COMPARE(actionTable().size(), 10);
    QCOMPARE(
        tableActions(QStringLiteral("claude")), QJsonArray({ "uninstall", "reinstall", "model", "disable", "start" }));
    for (const QJsonValue& name : tableActions("claude"))
        QVERIFY(find<FaceButton>(w, "runtime.claude." + name.toString()));
    QCOMPARE(tableActions(QStringLiteral("aider")), QJsonArray());
    QVERIFY(!find(w, "runtime.aider.install"));

    // The summary's "needs a login" row scrolls the section to the top.
    auto* jump = w.summaryBar()->findChild<QAbstractButton*>("summary.attention.runtimes");
    QVERIFY(jump && jump->isVisible());
    jump->click();
    QScrollBar* bar = w.scrollArea()->verticalScrollBar();
    QTRY_COMPARE(bar->value(), qMin(section(w)->mapTo(w.scrollArea()->widget(), QPoint(0, 0)).y(), bar->maximum()));
    QVERIFY(bar->value() > 0);

    // Re-detect runs the tool again.
    click(find(w, "runtime.refresh"));
    QTRY_COMPARE(m_tool->argvs().count(QStringLiteral("runtimes --json")), 2);
}

void TestRuntimeSection::enableAndDisable()
{
    MainWindow w(kQuiet);
    showLoaded(w);
    RuntimeCard* claude = section(w)->card("claude");

    click(find(w, "runtime.claude.disable"));
    QCOMPARE(w.controller()->notice().value_or(QString()),
        QStringLiteral("Claude Code 已停用 —— 不再派活给它。没有卸载、没有退出登录、凭据也还在"));
    QVERIFY(!w.controller()->noticeIsError());
    QCOMPARE(RuntimeEnablementStore::load(), (QMap<QString, bool> { { "claude", false } }));
    QTRY_VERIFY(find(w, "runtime.claude.enable"));
    QVERIFY(!find(w, "runtime.claude.start"));
    QVERIFY(!claude->state().enabled);
    QTRY_COMPARE(tableActions(QStringLiteral("claude")).last().toString(), QStringLiteral("enable"));

    // A flag that cannot be written says why and changes nothing.
    QVERIFY(QFile::remove(RuntimeEnablementStore::filePath()));
    QVERIFY(QDir().mkpath(RuntimeEnablementStore::filePath()));
    click(find(w, "runtime.claude.enable"));
    QVERIFY(w.controller()->notice()->startsWith("改不了启用状态："));
    QVERIFY(!claude->state().enabled);

    QVERIFY(QDir(RuntimeEnablementStore::filePath()).removeRecursively());
    click(find(w, "runtime.claude.enable"));
    QCOMPARE(w.controller()->notice().value_or(QString()),
        QStringLiteral("Claude Code 已启用 —— Tolvarine 可以把活派给它了"));
    QTRY_VERIFY(find(w, "runtime.claude.start"));
}

void TestRuntimeSection::startAndStop()
{
    // One runtime switched off, so that the picture has every kind of card.
    m_home->writeFile(".tolvarine/runtime_enabled.json", R"({"cursor": false})");
    MainWindow w(kQuiet);
    w.resize(840, 900);
    showLoaded(w);
    RuntimeController& runtimes = w.controller()->runtimes();
    QPlainTextEdit* log = section(w)->log();
    QVERIFY(!log->isVisible());

    probe().reset();
    click(find(w, "runtime.claude.start"));
    QVERIFY(runtimes.isRunning(kDemo, "claude"));
    QTRY_VERIFY(log->isVisible());
    QTRY_VERIFY(
        log->toPlainText().contains("[Claude Code] brenlow run: kind=claude runtime=/usr/local/bin/claude ws=ws-demo"));
    QTRY_VERIFY(log->toPlainText().contains("heartbeat 2"));
    QCOMPARE(RuntimeChildLedger::load().size(), 1);
    QCOMPARE(RuntimeChildLedger::load().first().kind, QStringLiteral("claude"));
    QTRY_VERIFY(find(w, "runtime.claude.stop"));
    QVERIFY(section(w)->card("claude")->findChild<QWidget*>("status.Running"));
    QTRY_COMPARE(tableActions(QStringLiteral("claude")).last().toString(), QStringLiteral("stop"));
    save(section(w), "runtime-section.png");

    click(find(w, "runtime.claude.stop"));
    QVERIFY(!runtimes.isRunning(kDemo, "claude"));
    QTRY_VERIFY(RuntimeChildLedger::load().isEmpty());
    QTRY_VERIFY(find(w, "runtime.claude.start"));
    // The log stays after the worker has gone, and shows at most 40 lines.
    QTRY_VERIFY(log->toPlainText().contains("[Claude Code] brenlow run: stopped"));
    QVERIFY(log->isVisible());
    QVERIFY(log->blockCount() <= 40);
    verifyNoStall();
}

void TestRuntimeSection::terminalCommandsAndDiagnostics()
{
    // A stand-in terminal that writes down the line it was asked to run.
    const QString out = m_home->filePath("terminal.out");
    const QString term
        = m_home->writeScript("term.sh", "[ \"$1\" = -e ] && shift\nprintf '%s\\n' \"$*\" >> '" + out.toUtf8() + "'\n");
    qputenv("TOLVARINE_TERMINAL", QFile::encodeName(term));
    MainWindow w(kQuiet);
    showLoaded(w);
    auto terminalSaw = [&](const QString& words) {
        QFile f(out);
        return f.open(QIODevice::ReadOnly) && QString::fromUtf8(f.readAll()).contains(words);
    };

    click(find(w, "runtime.qwen.install"));
    QCOMPARE(*w.controller()->notice(), QStringLiteral("安装命令已送到终端：npm install -g @brenlow-sim/qwen"));
    QTRY_VERIFY(terminalSaw("npm' 'install' '-g' '@brenlow-sim/qwen"));

    // Uninstalling asks first; "取消" sends nothing.
    m_prompts->alertAnswers = { 1, 0 };
    click(find(w, "runtime.claude.uninstall"));
    QTRY_COMPARE(m_prompts->alertsShown.size(), 1);
    QCOMPARE(m_prompts->alertsShown.first().message, QStringLiteral("卸载 Claude Code？"));
    QCOMPARE(m_prompts->alertsShown.first().buttons, (QStringList { "把命令送到终端", "取消" }));
    QCOMPARE(*w.controller()->notice(), QStringLiteral("安装命令已送到终端：npm install -g @brenlow-sim/qwen"));
    click(find(w, "runtime.claude.uninstall"));
    QTRY_COMPARE(*w.controller()->notice(), QStringLiteral("卸载命令已送到终端：npm uninstall -g @brenlow-sim/claude"));
    QTRY_VERIFY(terminalSaw("npm' 'uninstall' '-g' '@brenlow-sim/claude"));
    qunsetenv("TOLVARINE_TERMINAL");

    RuntimeCard* codex = section(w)->card("codex");
    codex->diagnostics()->setExpanded(true);
    click(find(w, "runtime.codex.copyDiag"));
    QVERIFY(QGuiApplication::clipboard()->text().startsWith("Codex（codex）\n版本：0.46.0"));
    QCOMPARE(*w.controller()->notice(), QStringLiteral("Codex 的诊断信息已复制（凭据已隐去）"));
}

void TestRuntimeSection::providerSheet()
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
        && !qEnvironmentVariableIsSet("TOLVARINE_REQUIRE_KEYRING"))
        QSKIP("no D-Bus session");
    // The provider refuses every key.
    m_sim->setFault("GET", "/v1/models", 401, R"({"error":{"message":"invalid key"}})");
    MainWindow w(kQuiet);
    showLoaded(w);
    RuntimeCard* codex = section(w)->card("codex");
    QCOMPARE(codex->findChild<FaceButton*>(QStringLiteral("runtime.codex.model"))->accessibleName(),
        QStringLiteral("配置模型"));

    probe().reset();
    click(find(w, "runtime.codex.model"));
    ModelProviderSheet* sheet = codex->providerSheet();
    QVERIFY(sheet && sheet->isVisible());
    const auto field
        = [&](const char* name) { return sheet->findChild<QLineEdit*>(QStringLiteral("providers.new.") + name); };
    field("name")->setText("公司账号");
    field("baseurl")->setText(m_sim->origin() + "/v1");
    field("model")->setText("gpt-5-codex");
    field("key")->setText("sk-sheet-test-0123456789");
    click(sheet->findChild<QWidget*>("providers.new.save"));
    QTRY_COMPARE(sheet->model()->profiles().size(), 1);
    const QUuid id = sheet->model()->profiles().first().id;
    const QString idText = ModelProviderSheet::idText(id);
    // The field is emptied once the key is stored.
    QVERIFY(field("key")->text().isEmpty());
    click(sheet->findChild<QWidget*>("providers." + idText + ".bind"));
    click(sheet->findChild<QWidget*>("providers." + idText + ".verify"));
    QTRY_COMPARE(sheet->model()->profiles().first().lastVerifyOK, false);
    verifyNoStall();
    save(sheet, "runtime-provider-sheet.png");

    click(sheet->findChild<QWidget*>("providers.close"));
    QTRY_VERIFY(!codex->providerSheet());
    QVERIFY(w.controller()->notice()->startsWith("「公司账号」验证没过：HTTP 401：Key 被拒"));
    // The card shows the account it launches with, and the refusal.
    QTRY_VERIFY(codex->state().boundProfile && codex->state().boundProfileHasKey == true);
    QCOMPARE(codex->state().modelWarning(), QStringLiteral("上次验证被拒"));
    QCOMPARE(codex->findChild<FaceButton*>(QStringLiteral("runtime.codex.model"))->accessibleName(),
        QStringLiteral("更换模型配置"));
    CredentialBroker::deleteKey(id);
}

void TestRuntimeSection::customConnection()
{
    MainWindow w(kQuiet);
    showLoaded(w);
    AdvancedAccessSection* advanced = section(w)->advanced();
    click(find(w, "advanced.add"));
    AddConnectionSheet* add = advanced->addSheet();
    QVERIFY(add && add->isVisible());
    add->findChild<QLineEdit*>("advanced.add.name")->setText("评审 Agent");
    add->findChild<QLineEdit*>("advanced.add.command")->setText("review-agent --stdio --root \"my folder\"");
    click(add->findChild<QWidget*>("advanced.add.save"));
    QTRY_VERIFY(!advanced->addSheet());
    QCOMPARE(AdvancedConnectionStore::load().size(), 1);
    const QString id = AdvancedConnectionRow::idText(AdvancedConnectionStore::load().first().id);
    QTRY_VERIFY(find(w, "advanced.row." + id));

    click(find(w, "advanced." + id + ".start"));
    QVERIFY(w.controller()->runtimes().isRunning(kDemo, "generic"));
    QTRY_VERIFY(find(w, "advanced." + id + ".running")->isVisible());
    QTRY_VERIFY(section(w)->log()->toPlainText().contains(
        "[评审 Agent] brenlow run: kind=generic runtime=review-agent ws=ws-demo"));
    save(advanced, "runtime-advanced.png");

    click(find(w, "advanced." + id + ".stop"));
    QVERIFY(!w.controller()->runtimes().isRunning(kDemo, "generic"));
    QTRY_VERIFY(find(w, "advanced." + id + ".start"));

    m_prompts->alertAnswers = { 0 };
    click(find(w, "advanced." + id + ".remove"));
    QTRY_VERIFY(AdvancedConnectionStore::load().isEmpty());
    QTRY_VERIFY(!find(w, "advanced.row." + id));
}

void TestRuntimeSection::recoveryDuringAndAfterARun()
{
    m_tool->answer("runtimes", report(2));
    m_tool->put("daemon-status.delay_ms", "1500");
    RecoveryRunner runner;
    auto sheet = std::make_unique<RecoverySheet>(&runner);
    sheet->open();
    QVERIFY(!shown(sheet.get(), "recovery.verdict.allgood")); // before any run

    auto running = recover(runner, recoveryWorkspace());
    QTRY_VERIFY(
        step(sheet.get(), "service") && step(sheet.get(), "service")->accessibleName() == "Agent Service running");
    RecoveryStepRow* serviceRow = step(sheet.get(), "service");
    // While it runs: a spinner, no verdict, and the close button says the run goes on.
    QCOMPARE(verdictParts(sheet.get()), (QList<bool> { true, false, false, false }));
    const auto closeTitle = [&] { return sheet->findChild<SecondaryButton*>("recovery.close")->titleLabel()->text(); };
    QCOMPARE(closeTitle(), QStringLiteral("在后台跑着，先关掉"));
    shoot(sheet.get(), "sheet-recovery-running.png");

    QCoro::waitFor(std::move(running));
    // Rows are updated in place.
    QCOMPARE(step(sheet.get(), "service"), serviceRow);
    QCOMPARE(serviceRow->accessibleName(), QStringLiteral("Agent Service ok"));
    QCOMPARE(verdictParts(sheet.get()), (QList<bool> { false, true, true, false }));
    QCOMPARE(closeTitle(), QStringLiteral("关闭"));
    shoot(sheet.get(), "sheet-recovery-allgood.png");

    // A new run hides the verdict; closing the sheet, and its going away, leave the run going.
    m_tool->drop("daemon-status.delay_ms");
    auto again = recover(runner, recoveryWorkspace());
    QVERIFY(!shown(sheet.get(), "recovery.verdict.allgood"));
    QSignalSpy finished(sheet.get(), &QDialog::finished);
    QTest::mouseClick(sheet->findChild<SecondaryButton*>("recovery.close"), Qt::LeftButton);
    QCOMPARE(finished.count(), 1);
    sheet.reset();
    QVERIFY(runner.running());
    QCoro::waitFor(std::move(again));
    QCOMPARE(runner.steps().at(5).state, RecoveryRunner::State::Ok);
}

void TestRuntimeSection::recoveryVerdicts_data()
{
    QTest::addColumn<bool>("paired");
    QTest::addColumn<QByteArray>("installOutput"); // "" = the service runs
    QTest::addColumn<QStringList>("lines"); // the needs-you block, top to bottom
    QTest::addColumn<QString>("serviceDetail");

    // Without a workspace every later step is skipped.
    QTest::newRow("no workspace") << false << QByteArray()
                                  << QStringList { "需要你处理", "·", "工作区目录",
                                         "在项目目录里跑一次 brenlow pair，或者用上面的 ＋ 号选一个目录" }
                                  << QStringLiteral("跳过 —— 还没有工作区");
    // The failed service install (no action: its first line) comes after the
    // runtimes that need a login (an action), though it ran first.
    QTest::newRow("failed after needs you")
        << true << QByteArray("launchctl: 服务没装上（权限不够）\nsecond line\n")
        << QStringList { "需要你处理", "·", "Runtime 探测与健康", "CLAUDE、CODEX —— 在 Runtime 那一屏各自有入口", "·",
               "Agent Service", "launchctl: 服务没装上（权限不够）" }
        << QStringLiteral("launchctl: 服务没装上（权限不够）");
}

void TestRuntimeSection::recoveryVerdicts()
{
    QFETCH(bool, paired);
    QFETCH(QByteArray, installOutput);
    QFETCH(QStringList, lines);
    QFETCH(QString, serviceDetail);
    if (!installOutput.isEmpty()) {
        m_tool->put("daemon.state", "not_installed");
        m_tool->answer("daemon-install", installOutput, 1);
    }
    m_tool->answer("runtimes", report(3, paired ? QStringList { "claude", "codex" } : QStringList {}));

    RecoveryRunner runner;
    QCoro::waitFor(recover(runner, paired ? std::optional<CLIConfig>(recoveryWorkspace()) : std::nullopt));
    // Opened after the run: it shows the runner's state as it is.
    RecoverySheet sheet(&runner);
    sheet.open();
    QCOMPARE(verdictParts(&sheet), (QList<bool> { false, true, false, true }));
    QCOMPARE(needsYouLines(&sheet), lines);
    QCOMPARE(step(&sheet, "service")->detailLabel()->text(), serviceDetail);
    if (!paired) // every later step was skipped alike
        QCOMPARE(step(&sheet, "refresh")->detailLabel()->text(), serviceDetail);
    else
        shoot(&sheet, "sheet-recovery-needsyou.png");
}

QTEST_MAIN(TestRuntimeSection)
#include "tst_RuntimeSection.moc"
