#include "core/agents/AdvancedAccess.h"
#include "core/agents/AdvancedConnectionStore.h"
#include "core/platform/ReduceMotion.h"
#include "core/platform/UuidText.h"
#include "core/providers/CredentialBroker.h"
#include "core/runtimes/RecoveryRunner.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeEnablement.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/runtimes/RuntimeSectionModel.h"
#include "core/shell/WindowController.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/agents/AddConnectionSheet.h"
#include "gui/agents/AdvancedAccessSection.h"
#include "gui/agents/AdvancedConnectionRow.h"
#include "gui/design/AdaptiveColumns.h"
#include "gui/design/AimGuard.h"
#include "gui/design/Chip.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/ElidedLine.h"
#include "gui/design/LazyRows.h"
#include "gui/design/OutcomeLine.h"
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

#include "BarContrast.h"
#include "BlockingSecretStore.h"
#include "PressTwice.h"
#include "SimGateway.h"
#include "SimTool.h"
#include "StallProbe.h"
#include "TempHome.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

const MainWindow::Intervals kQuiet { std::chrono::hours(1), std::chrono::hours(1) };
// No alert is expected.
constexpr int kNoAlert = -3;

// The contrast ratio of two colours, as accessibility guidelines measure it (1 to 21).
double contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Shows a sheet first; a widget in the window is shown with it.
void save(QWidget* widget, const QString& name)
{
    if (widget->isWindow()) {
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget));
    }
    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    QTest::qWait(100);
    QVERIFY(widget->grab().save(QDir(dir).filePath(name)));
}

// A runtime report: one ready runtime, and one that needs a login per name in `login`.
// `named`: the ready one's name and version instead of its kind's.
QByteArray report(const QStringList& login, const QString& named = QString())
{
    QStringList rows;
    for (const QString& kind : QStringList { "rt0" } + login)
        rows.append(QStringLiteral(R"({"kind":"%1","display":"%2","adapter":"cli","usability":"%3","protocol":false,
            "health":{"installed":true,"healthy":true,"version":"%4"},"auth":{"state":"x","source":"y"},"cap_counts":{}})")
                        .arg(kind, kind == "rt0" && !named.isEmpty() ? named : kind.toUpper(),
                            kind == "rt0" ? "ready" : "login_required", kind == "rt0" ? named : QString()));
    return QStringLiteral(R"({"runtimes":[%1],"counts":{}})").arg(rows.join(',')).toUtf8();
}

QCoro::Task<> recover(RecoveryRunner& runner, std::optional<CLIConfig> ws)
{
    return runner.run(
        std::move(ws), [] {}, []() -> QCoro::Task<RecoveryRunner::Reading> { co_return RecoveryRunner::Reading {}; });
}

// A custom connection, as an earlier session stored it.
AdvancedConnection storedCustom(const QString& name, const QString& command)
{
    AdvancedConnection c;
    c.id = QUuid::createUuid();
    c.kind = AdvancedConnectionKind::generic;
    c.name = name;
    c.command = command;
    c.createdAt = QDateTime::currentDateTimeUtc();
    [&] { QVERIFY(AdvancedConnectionStore::upsert(c)); }();
    return c;
}

// The setup of a runtime whose model account can be one of these providers.
RuntimeSetupInfo codexSetup(const QStringList& providers = { QStringLiteral("openai") })
{
    RuntimeSetupInfo setup;
    setup.kind = QStringLiteral("codex");
    for (const QString& p : providers)
        setup.providerSlots.append(
            ProviderSlot { p, p.toUpper(), { p.toUpper() + QStringLiteral("_API_KEY") }, {}, {} });
    return setup;
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

} // namespace

// The runtime section in the main window, over the stand-in tool's inventory
// and real workers, with the demo workspace selected.
class TestRuntimeSection : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void cardsFollowTheInventory();
    void startStopDisableEnable();
    void aPressReachesTheActionAimedAt_data();
    void aPressReachesTheActionAimedAt();
    void uninstallAsksFirst();
    void cardSaysWhatItsActionCameTo_data();
    void cardSaysWhatItsActionCameTo();
    void providerSheet();
    void providerFieldErrorClears_data();
    void providerFieldErrorClears();
    void providerSheetAsksBeforeDropping_data();
    void providerSheetAsksBeforeDropping();
    void providerSheetClosesAfterItsSave_data();
    void providerSheetClosesAfterItsSave();
    void providerServiceListIsReadable();
    void providerRowHidesPassword();
    void providerRowsFitTheSheet();
    void providerRowsMadeInView();
    void customConnection();
    void customConnectionFollowsTheSelection();
    void recoveryDuringAndAfterARun();
    void recoveryNeedsYou();
    void recoveryLongDetailWraps();

private:
    static RuntimeSection* section(MainWindow& w)
    {
        return qobject_cast<RuntimeSection*>(w.pairedPage()->section(PairedPage::Runtime));
    }
    // The shown widget of that name (a replaced one may linger hidden until deleted).
    template <typename W = QWidget> static W* find(MainWindow& w, const QString& name)
    {
        for (W* each : section(w)->findChildren<W*>(name))
            if (each->isVisible())
                return each;
        return nullptr;
    }
    static void click(QWidget* button)
    {
        QVERIFY(button && button->isVisible());
        QTest::mouseClick(button, Qt::LeftButton);
    }
    // Shows the window and waits for the inventory.
    static void showLoaded(MainWindow& w)
    {
        QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
        w.show();
        QTRY_COMPARE(loaded.size(), 1);
        QTRY_VERIFY(section(w)->card("claude"));
    }
    // A workspace whose gateway cannot be reached, as the recovery run is given it.
    CLIConfig unreachable() const
    {
        return {
            .api = "http://127.0.0.1:1", .workspace = "ws-7", .token = "t", .path = m_home->filePath("projects/ws-demo")
        };
    }

    void verifyNoStall() { m_probe.verifyNoStall(); }
    // The user pauses before the next press, longer than a press is held to
    // what was under a still pointer when a card changed.
    void pause() { m_paused += 2000; }

    QElapsedTimer m_clock;
    qint64 m_paused = 0;

    StallProbe m_probe; // how long the GUI thread was held up since the last reset
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
    m_sim->pair(*m_home);
    auto prompts = std::make_unique<ScriptedPrompts>();
    m_prompts = prompts.get();
    Prompts::setShared(std::move(prompts));
    m_paused = 0;
    m_clock.start();
    AimGuard::setClock([this] { return m_clock.elapsed() + m_paused; });
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
    AimGuard::setClock({});
}

void TestRuntimeSection::cardsFollowTheInventory()
{
    m_tool->put("runtimes.delay_ms", "800");
    MainWindow w(kQuiet);
    w.show();
    // The section loads the inventory itself, with placeholders until it comes.
    QTRY_VERIFY(section(w)->skeleton() && section(w)->skeleton()->isVisible());
    QVERIFY(!section(w)->grid()->isVisible());
    QTRY_VERIFY(!section(w)->skeleton());
    QCOMPARE(m_tool->argvs().count(QStringLiteral("runtimes --json")), 1);

    // A card per runtime except the connection kinds, in inventory order.
    QCOMPARE(section(w)->grid()->cells().size(), 9);
    QCOMPARE(section(w)->grid()->cells().at(1)->objectName(), QStringLiteral("runtime.row.codex"));
    QVERIFY(find(w, "runtime.claude.serving"));
    // A runtime serving many running tasks lists a few and counts the rest.
    QList<RuntimeServing> many;
    for (int i = 0; i < 1000; ++i)
        many.append(RuntimeServing { QStringLiteral("同事 %1").arg(i), QStringLiteral("任务 %1").arg(i), true });
    w.controller()->runtimeSection()->setRuntimeServing({ { QStringLiteral("claude"), many } });
    QTRY_VERIFY(find<QLabel>(w, "runtime.claude.serving.more"));
    QCOMPARE(find<QLabel>(w, "runtime.claude.serving.more")->text(), QStringLiteral("还有 995 条没有列出"));
    QCOMPARE(find(w, "runtime.claude.serving")->findChildren<ElidedLabel*>().size(), 5);

    // The summary's "needs a login" row scrolls the section to the top.
    auto* jump = w.summaryBar()->findChild<QAbstractButton*>("summary.attention.runtimes");
    QVERIFY(jump && jump->isVisible());
    jump->click();
    QScrollBar* bar = w.scrollArea()->verticalScrollBar();
    QTRY_COMPARE(bar->value(), qMin(section(w)->mapTo(w.scrollArea()->widget(), QPoint(0, 0)).y(), bar->maximum()));
    QVERIFY(bar->value() > 0);

    click(find(w, "runtime.refresh"));
    QTRY_COMPARE(m_tool->argvs().count(QStringLiteral("runtimes --json")), 2);

    // A name and a version without a break point are cut on their line: the card is no wider for them.
    m_tool->answer("runtimes", report({}, QStringLiteral("2.1.4-") + QString(400, QLatin1Char('x'))));
    QTRY_VERIFY(find(w, "runtime.refresh"));
    click(find(w, "runtime.refresh"));
    QTRY_VERIFY(find(w, "runtime.row.rt0"));
    QWidget* card = find(w, "runtime.row.rt0");
    QVERIFY2(card->minimumSizeHint().width() <= 400, qPrintable(QString::number(card->minimumSizeHint().width())));
}

void TestRuntimeSection::startStopDisableEnable()
{
    // One runtime switched off, so that the picture has every kind of card.
    m_home->writeFile(".tolvarine/runtime_enabled.json", R"({"cursor": false})");
    MainWindow w(kQuiet);
    w.resize(840, 900);
    showLoaded(w);
    QPlainTextEdit* log = section(w)->log();
    QVERIFY(!log->isVisible());

    m_probe.reset();
    click(find(w, "runtime.claude.start"));
    QTRY_VERIFY(log->isVisible() && log->toPlainText().contains("heartbeat 2"));
    QTRY_VERIFY(find(w, "runtime.claude.stop"));
    QVERIFY(section(w)->card("claude")->findChild<QWidget*>("status.Running"));
    save(section(w), "runtime-section.png");

    pause();
    click(find(w, "runtime.claude.stop"));
    QVERIFY(!w.controller()->runtimes().isRunning("ws-demo", "claude"));
    QTRY_VERIFY(find(w, "runtime.claude.start"));
    // The log stays after the worker has gone, and shows at most 40 lines.
    QTRY_VERIFY(log->toPlainText().contains("[Claude Code] brenlow run: stopped"));
    QVERIFY(log->isVisible() && log->blockCount() <= 40);
    // Lines come and go for as long as a worker prints: nothing of them is
    // kept to be undone.
    QCOMPARE(log->document()->availableUndoSteps(), 0);
    verifyNoStall();

    // A double click switches it off once: the second press finds the switch being written.
    QSignalSpy switched(w.controller()->enablement(), &RuntimeEnablement::notice);
    QWidget* disable = find(w, "runtime.claude.disable");
    click(disable);
    click(disable);
    QTRY_VERIFY(find(w, "runtime.claude.enable"));
    QVERIFY(!find(w, "runtime.claude.start"));
    pause();
    click(find(w, "runtime.claude.enable"));
    QTRY_VERIFY(find(w, "runtime.claude.start"));
    QCOMPARE(switched.size(), 2);
}

void TestRuntimeSection::aPressReachesTheActionAimedAt_data()
{
    QTest::addColumn<QString>("aim"); // "still", "moved 0.3 s", "moved 0.5 s"
    QTest::addColumn<bool>("taken");
    QTest::newRow("double click") << "still" << false;
    QTest::newRow("moved 0.3 s") << "moved 0.3 s" << false;
    QTest::newRow("moved 0.5 s") << "moved 0.5 s" << true;
}

// 启动 is redrawn as 停止 in its place: the second press of a double click
// on it, or one moved within a reaction time, is held and says so; a press
// aimed later stops the runtime.
void TestRuntimeSection::aPressReachesTheActionAimedAt()
{
    QFETCH(QString, aim);
    QFETCH(bool, taken);
    MainWindow w(kQuiet);
    w.resize(840, 900);
    showLoaded(w);
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // A clock moved by hand from now on, well past what the cards did while they loaded.
    qint64 clock = m_clock.elapsed() + 10000;
    AimGuard::setClock([&clock] { return clock; });
    QWidget* start = find(w, "runtime.claude.start");
    QVERIFY(start);
    w.scrollArea()->ensureWidgetVisible(start);
    const QPoint at = start->mapTo(&w, start->rect().center());
    QTest::mouseClick(start, Qt::LeftButton);
    QTRY_VERIFY(buttonAt(&w, at) && buttonAt(&w, at)->objectName() == QStringLiteral("runtime.claude.stop"));
    QVERIFY(w.controller()->runtimes().isRunning("ws-demo", "claude"));
    QPoint press = at;
    if (aim != QLatin1String("still")) {
        clock += aim.endsWith(QLatin1String("0.3 s")) ? 300 : 500;
        press = moveAwayAndBack(&w, at);
    }
    QAbstractButton* under = buttonAt(&w, press);
    QVERIFY(under);
    QCOMPARE(under->objectName(), QStringLiteral("runtime.claude.stop"));
    QTest::mouseClick(under, Qt::LeftButton, {}, under->mapFrom(&w, press));
    if (taken) {
        QTRY_VERIFY(!w.controller()->runtimes().isRunning("ws-demo", "claude"));
        return;
    }
    QTest::qWait(200);
    QVERIFY(w.controller()->runtimes().isRunning("ws-demo", "claude"));
    auto* note = w.findChild<QLabel*>(QStringLiteral("aim.held"));
    QVERIFY(note && note->isVisible());
    QCOMPARE(note->text(), AimGuard::heldText());
}

void TestRuntimeSection::uninstallAsksFirst()
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

    // Uninstalling asks first; "取消", which Return presses, sends nothing.
    m_prompts->alertAnswers = { 1, ScriptedPrompts::pressReturn, 0 };
    click(find(w, "runtime.claude.uninstall"));
    click(find(w, "runtime.claude.uninstall"));
    QTRY_COMPARE(m_prompts->alertsShown.size(), 2);
    QVERIFY(!w.controller()->notice()->startsWith("卸载"));
    // The key is named where it lives on this platform.
    QVERIFY(m_prompts->alertsShown.first().informative.endsWith(
        "它只卸这个程序本身；你配的账号与系统密码库里那把 Key 都不动。"));
    // Confirmed, the terminal still waits for the user's Enter before it runs the command.
    click(find(w, "runtime.claude.uninstall"));
    QTRY_VERIFY(terminalSaw("&& read -r _ && cd '"));
    QVERIFY(terminalSaw("'uninstall' '-g' '@brenlow-sim/claude"));
    qunsetenv("TOLVARINE_TERMINAL");
}

void TestRuntimeSection::cardSaysWhatItsActionCameTo_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("terminal"); // a terminal can be started
    QTest::addColumn<bool>("writable"); // what the action writes (the enabled flags, the ledger) can be stored
    QTest::addColumn<QByteArray>("runOut"); // when set, the worker prints this and exits with status 3
    QTest::addColumn<QString>("said");
    QTest::addColumn<bool>("toolGone"); // the companion tool is removed once the cards show
    const QByteArray none;
    QTest::newRow("reinstall") << "reinstall" << true << true << none << "✅ 重装命令已送到终端（先卸再装，一条命令）"
                               << false;
    QTest::newRow("reinstall, no terminal")
        << "reinstall" << false << true << none << "❌ 打不开终端，请自己运行：" << false;
    QTest::newRow("disable") << "disable" << true << true << none
                             << "✅ Claude Code 已停用 —— 不再派活给它。没有卸载、没有退出登录、凭据也还在" << false;
    QTest::newRow("disable, not stored") << "disable" << true << false << none << "❌ 改不了启用状态：" << false;
    QTest::newRow("start, ends at once")
        << "start" << true << true << QByteArray("fatal: runtime refused to start: no API key\n")
        << "❌ Claude Code 刚启动就自己退出了（退出码 3），最后一行输出是「fatal: runtime refused to start: no API "
           "key」。完整输出在本区最下面的日志里。"
        << false;
    QTest::newRow("start, ledger not stored")
        << "start" << true << false << none << "❌ 它在运行，但没能记进 ~/.tolvarine/desktop_children.json（" << false;
    QTest::newRow("start, tool missing") << "start" << true << true << none
                                         << "❌ Claude Code 启动失败：没找到 Brenlow CLI。" << true;
}

// The window's notice is at the top of the page; a card acted on far below it
// says under its own buttons what the action came to, also when it failed.
void TestRuntimeSection::cardSaysWhatItsActionCameTo()
{
    QFETCH(QString, action);
    QFETCH(bool, terminal);
    QFETCH(bool, writable);
    QFETCH(QByteArray, runOut);
    QFETCH(QString, said);
    QFETCH(bool, toolGone);
    const QString term = terminal ? m_home->writeScript("term.sh", "exit 0\n") : m_home->filePath("no-terminal");
    qputenv("TOLVARINE_TERMINAL", QFile::encodeName(term));
    if (!writable)
        QVERIFY(QDir().mkpath(m_home->filePath(
            action == "start" ? ".tolvarine/desktop_children.json" : ".tolvarine/runtime_enabled.json")));
    if (!runOut.isEmpty()) {
        m_tool->put("run.out", runOut);
        m_tool->put("run.code", "3");
    }
    MainWindow w(kQuiet);
    showLoaded(w);
    OutcomeLine* outcome = section(w)->card("claude")->outcome();
    QVERIFY(!outcome->isVisible());
    if (toolGone)
        QVERIFY(QFile::remove(m_tool->exe()));

    click(find(w, "runtime.claude." + action));
    QTRY_VERIFY(outcome->isVisible());
    QVERIFY2(outcome->text().startsWith(said), qPrintable(outcome->text()));
    QCOMPARE(outcome->kind() == OutcomeLine::Kind::Failed, said.startsWith("❌"));
    // The notice says what an action came to too; what its worker did is the card's.
    if (action != "start" || toolGone)
        QVERIFY(w.controller()->notice() && w.controller()->notice()->startsWith(said.mid(2)));
    if (!writable || !runOut.isEmpty() || toolGone)
        save(section(w)->card("claude"),
            toolGone                ? "runtime-card-start-failed.png"
                : !runOut.isEmpty() ? "runtime-card-ended-at-once.png"
                : action == "start" ? "runtime-card-unrecorded.png"
                                    : "runtime-card-outcome-failed.png");
    // The next action pressed takes the line away: it spoke of the one before.
    if (QWidget* start = find(w, "runtime.claude.start"); start && runOut.isEmpty() && !toolGone) {
        click(start);
        QTRY_VERIFY(!outcome->isVisible());
    }
    qunsetenv("TOLVARINE_TERMINAL");
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

    m_probe.reset();
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
    const QString idText = UuidText::plain(id);
    // The field is emptied once the key is stored.
    QVERIFY(field("key")->text().isEmpty());
    click(sheet->findChild<QWidget*>("providers." + idText + ".bind"));
    click(sheet->findChild<QWidget*>("providers." + idText + ".verify"));
    QTRY_COMPARE(sheet->model()->profiles().first().lastVerifyOK, false);
    verifyNoStall();
    save(sheet, "runtime-provider-sheet.png");
    // Closed, the sheet's last word is the refusal: the card says it as a failure.
    click(sheet->findChild<QWidget*>("providers.close"));
    OutcomeLine* outcome = codex->outcome();
    QTRY_VERIFY(outcome->isVisible());
    QVERIFY2(outcome->text().contains(QStringLiteral("「公司账号」验证没过：HTTP 401")), qPrintable(outcome->text()));
    QCOMPARE(outcome->kind(), OutcomeLine::Kind::Failed);
    // The key gone from under its record (a crash between the two): the sheet says so.
    CredentialBroker::deleteKey(id);
    QTRY_VERIFY(!codex->providerSheet() && codex->state().boundProfile && find(w, "runtime.codex.model"));
    click(find(w, "runtime.codex.model"));
    QTRY_VERIFY(codex->providerSheet()->findChild<Chip*>("providers." + idText + ".nokey"));
    codex->providerSheet()->reject();
}

void TestRuntimeSection::providerFieldErrorClears_data()
{
    QTest::addColumn<QStringList>("form"); // name, base URL, key
    QTest::addColumn<QString>("field"); // the one in error
    QTest::addColumn<QString>("other"); // another one, whose edit leaves the error up
    QTest::addColumn<QString>("typed"); // what puts it right
    QTest::newRow("name") << QStringList { "", "", "sk-1" } << "name"
                          << "key"
                          << "Work";
    QTest::newRow("key") << QStringList { "公司账号", "", "" } << "key"
                         << "name"
                         << "sk-1";
    QTest::newRow("base URL") << QStringList { "公司账号", "proxy.example/v1", "sk-1" } << "baseurl"
                              << "model"
                              << "https://proxy.example/v1";
}

void TestRuntimeSection::providerFieldErrorClears()
{
    QFETCH(QStringList, form);
    QFETCH(QString, field);
    QFETCH(QString, other);
    QFETCH(QString, typed);
    const RuntimeSetupInfo setup = codexSetup();
    ModelProviderSheet sheet("codex", "Codex", setup, {}, std::nullopt, [](const std::optional<QString>&, bool) {});
    sheet.open();
    const auto edit = [&](const QString& name) { return sheet.findChild<QLineEdit*>("providers.new." + name); };
    edit("name")->setText(form.at(0));
    edit("baseurl")->setText(form.at(1));
    edit("key")->setText(form.at(2));
    auto* feedback = sheet.findChild<QLabel*>("providers.new.feedback");
    click(sheet.findChild<QWidget*>("providers.new.save"));
    QTRY_VERIFY(feedback->isVisible());
    const QString problem = feedback->text();
    QVERIFY(!problem.isEmpty());
    QVERIFY(sheet.model()->profiles().isEmpty());

    // Typing elsewhere leaves it up; putting the field right takes it down.
    QTest::keyClicks(edit(other), "x");
    QCOMPARE(feedback->text(), problem);
    QVERIFY(feedback->isVisible());
    edit(field)->clear();
    QTest::keyClicks(edit(field), typed);
    QVERIFY(!feedback->isVisible());
}

void TestRuntimeSection::providerSheetAsksBeforeDropping_data()
{
    QTest::addColumn<bool>("escape"); // else "完成"
    QTest::addColumn<bool>("typed");
    QTest::addColumn<int>("answer"); // the alert's answer; kNoAlert when none is asked
    QTest::addColumn<bool>("closed");
    QTest::newRow("完成, nothing typed") << false << false << kNoAlert << true;
    QTest::newRow("完成, kept") << false << true << 1 << false;
    QTest::newRow("完成, dropped") << false << true << 0 << true;
    QTest::newRow("Escape, Return keeps") << true << true << int(ScriptedPrompts::pressReturn) << false;
    QTest::newRow("Escape, dropped") << true << true << 0 << true;
}

// A new account typed in and not saved (its key included) is not dropped
// without a word: closing asks, and keeping it leaves the form as it was.
void TestRuntimeSection::providerSheetAsksBeforeDropping()
{
    QFETCH(bool, escape);
    QFETCH(bool, typed);
    QFETCH(int, answer);
    QFETCH(bool, closed);
    const RuntimeSetupInfo setup = codexSetup();
    int dones = 0;
    ModelProviderSheet sheet(
        "codex", "Codex", setup, {}, std::nullopt, [&](const std::optional<QString>&, bool) { ++dones; });
    sheet.open();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    const auto edit = [&](const QString& name) { return sheet.findChild<QLineEdit*>("providers.new." + name); };
    if (typed) {
        edit("name")->setText("公司账号");
        edit("key")->setText("sk-typed-0123456789");
    }
    if (answer != kNoAlert)
        m_prompts->alertAnswers = { answer };
    if (escape)
        QTest::keyClick(&sheet, Qt::Key_Escape);
    else
        click(sheet.findChild<QWidget*>("providers.close"));
    QTRY_COMPARE(m_prompts->alertsShown.size(), answer == kNoAlert ? 0 : 1);
    QTRY_COMPARE(sheet.isVisible(), !closed);
    QCOMPARE(dones, closed ? 1 : 0);
    if (!closed)
        QCOMPARE(edit("key")->text(), QStringLiteral("sk-typed-0123456789"));
}

// "完成" while the new account is being saved (its key waits on the key
// store) neither warns that the account is lost nor drops the save's word:
// the sheet closes once the save has kept it, and says so. A key store that
// does not answer holds the sheet only for a while; the word comes later.
void TestRuntimeSection::providerSheetClosesAfterItsSave_data()
{
    QTest::addColumn<bool>("stalls");
    QTest::newRow("the key store answers") << false;
    QTest::newRow("the key store does not answer") << true;
}

void TestRuntimeSection::providerSheetClosesAfterItsSave()
{
    QFETCH(bool, stalls);
    auto store = std::make_unique<BlockingSecretStore>();
    BlockingSecretStore* keys = store.get();
    keys->setPatience(std::chrono::seconds(60));
    SecretStore::setShared(std::move(store));
    const RuntimeSetupInfo setup = codexSetup();
    std::optional<QString> said;
    int dones = 0;
    ModelProviderSheet sheet(
        "codex", "Codex", setup, {}, std::nullopt, [&](const std::optional<QString>& message, bool) {
            ++dones;
            said = message;
        });
    sheet.open();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    const auto edit = [&](const QString& name) { return sheet.findChild<QLineEdit*>("providers.new." + name); };
    edit("name")->setText("公司账号");
    edit("baseurl")->setText(m_sim->origin() + "/v1");
    edit("key")->setText("sk-typed-0123456789");
    click(sheet.findChild<QWidget*>("providers.new.save"));
    QTRY_VERIFY(keys->waiting());
    click(sheet.findChild<QWidget*>("providers.close"));
    QTest::qWait(50);
    QVERIFY(m_prompts->alertsShown.isEmpty());
    QVERIFY(sheet.isVisible());
    if (stalls) {
        QTRY_VERIFY(!sheet.isVisible());
        QVERIFY(keys->waiting());
        QCOMPARE(dones, 0);
    }
    keys->open();
    QTRY_VERIFY(!sheet.isVisible());
    QTRY_COMPARE(dones, 1);
    QVERIFY(m_prompts->alertsShown.isEmpty());
    if (!stalls)
        QCOMPARE(sheet.model()->profiles().size(), 1);
    QVERIFY2(said && said->contains(QStringLiteral("公司账号")), qPrintable(said.value_or("(none)")));
    SecretStore::setShared(nullptr);
}

// A Base URL stored with a password in it is shown without it.
void TestRuntimeSection::providerRowHidesPassword()
{
    const ProviderProfile p { QUuid::createUuid(), "openai", "Proxy",
        QStringLiteral("https://me:pw@proxy.example/v1") };
    ModelProviderSheet sheet(
        "codex", "Codex", codexSetup(), { p }, std::nullopt, [](const std::optional<QString>&, bool) {});
    auto* detail = sheet.findChild<QLabel*>("providers." + UuidText::plain(p.id) + ".detail");
    QVERIFY2(detail->text().startsWith(QStringLiteral("https://***@proxy.example/v1 · ")), qPrintable(detail->text()));
}

// However long an account's name or its last check's detail (a reply with no
// place to break a line), its buttons and the form's stay inside the sheet.
void TestRuntimeSection::providerRowsFitTheSheet()
{
    ProviderProfile p { QUuid::createUuid(), "openai",
        QStringLiteral("公司账号 Production Key for the whole team 很长的名字") };
    p.defaultModel = QStringLiteral("gpt-5-codex-with-a-very-long-deployment-name-for-the-whole-team");
    p.lastVerifiedAt = QDateTime::currentDateTimeUtc();
    p.lastVerifyOK = false;
    p.lastVerifyDetail = QStringLiteral("HTTP 200 · 回复不是模型列表：") + QString(200, QLatin1Char('['));
    // A short name beside a very long model: the model's chip gives way first.
    ProviderProfile shortName { QUuid::createUuid(), "openai", QStringLiteral("账号 B") };
    shortName.defaultModel = QStringLiteral("deployment-").repeated(30);
    ModelProviderSheet sheet(
        "codex", "Codex", codexSetup(), { p, shortName }, std::nullopt, [](const std::optional<QString>&, bool) {});
    save(&sheet, "sheet-providers-long.png");
    auto* shortRow = sheet.findChild<QWidget*>("providers.row." + UuidText::plain(shortName.id));
    QTRY_COMPARE(shortRow->findChild<ElidedLine*>("name")->shownText(), shortName.name);
    auto* model = shortRow->findChild<Chip*>("model");
    QVERIFY(model->width() < model->sizeHint().width());
    QVERIFY(model->geometry().right() < shortRow->width());
    const QString id = "providers." + UuidText::plain(p.id);
    for (const QString& name : { id + ".verify", id + ".delete", QStringLiteral("providers.new.save") }) {
        auto* w = sheet.findChild<QWidget*>(name);
        const QRect at(w->mapTo(&sheet, QPoint(0, 0)), w->size());
        QVERIFY2(at.left() >= 0 && at.right() < sheet.width(), qPrintable(name));
    }
    auto* nameLine
        = sheet.findChild<QWidget*>("providers.row." + UuidText::plain(p.id))->findChild<ElidedLine*>("name");
    QCOMPARE(nameLine->toolTip(), p.name);
    QCOMPARE(nameLine->accessibleName(), p.name);
}

// A thousand accounts: the rows in view are made, the others as scrolling or
// the keyboard reaches them.
void TestRuntimeSection::providerRowsMadeInView()
{
    QList<ProviderProfile> many;
    for (int i = 0; i < 1000; ++i)
        many.append(ProviderProfile { QUuid::createUuid(), "openai", QStringLiteral("账号 %1").arg(i) });
    ModelProviderSheet sheet(
        "codex", "Codex", codexSetup(), many, std::nullopt, [](const std::optional<QString>&, bool) {});
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    LazyRows* rows = sheet.rows();
    QCOMPARE(rows->keys().size(), 1000);
    QVERIFY2(rows->madeCount() < 40, qPrintable(QString::number(rows->madeCount())));

    // Tab from the last row made in view goes on to the next account.
    int last = 0;
    while (rows->row(rows->keys().at(last + 1)))
        ++last;
    sheet.activateWindow();
    QTRY_VERIFY(sheet.isActiveWindow());
    sheet.findChild<QWidget*>("providers." + rows->keys().at(last) + ".delete")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY2(QApplication::focusWidget()->objectName().startsWith("providers." + rows->keys().at(last + 1) + "."),
        qPrintable(QApplication::focusWidget()->objectName()));

    const QString nearEnd = rows->keys().at(990);
    QVERIFY(!rows->row(nearEnd));
    QScrollBar* bar = sheet.findChild<QScrollArea*>()->verticalScrollBar();
    bar->setValue(bar->maximum());
    QTRY_VERIFY(rows->row(nearEnd));
    QVERIFY2(rows->madeCount() < 80, qPrintable(QString::number(rows->madeCount())));
    // Its handle stands out from the sheet.
    QVERIFY2(barContrast(bar) >= 3, qPrintable(QString::number(barContrast(bar))));
}

// The "服务" list drops down readable: its text stands out from its background.
void TestRuntimeSection::providerServiceListIsReadable()
{
    const RuntimeSetupInfo setup = codexSetup({ QStringLiteral("openai"), QStringLiteral("deepseek") });
    MainWindow w(kQuiet);
    ModelProviderSheet* sheet = new ModelProviderSheet(
        "codex", "Codex", setup, {}, std::nullopt, [](const std::optional<QString>&, bool) {}, &w);
    w.show();
    sheet->open();
    QVERIFY(QTest::qWaitForWindowExposed(sheet));
    // With no accounts, the new one's form follows its own login without a gap.
    QWidget* own = nullptr;
    QWidget* form = nullptr;
    for (QLabel* l : sheet->findChildren<QLabel*>()) {
        own = l->text() == QStringLiteral("用它自己登录的那个") ? l->parentWidget() : own;
        form = l->text() == QStringLiteral("新建一个账号") ? l : form;
    }
    QVERIFY2(form->geometry().top() - own->geometry().bottom() <= 16,
        qPrintable(QString::number(form->geometry().top() - own->geometry().bottom())));
    auto* services = sheet->findChild<QComboBox*>("providers.new.provider");
    services->showPopup();
    QTRY_VERIFY(services->view()->isVisible());
    QTest::qWait(100);
    const QImage list = services->view()->viewport()->grab().toImage();
    services->hidePopup();
    // The commonest colour is the background; the text is the colour farthest from it.
    QHash<QRgb, int> counts;
    for (int y = 0; y < list.height(); ++y)
        for (int x = 0; x < list.width(); ++x)
            ++counts[list.pixel(x, y)];
    const QColor background
        = QColor::fromRgb(std::max_element(counts.cbegin(), counts.cend(), [](int a, int b) { return a < b; }).key());
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, contrast(QColor::fromRgb(it.key()), background));
    QVERIFY2(best >= 4.5, qPrintable(QStringLiteral("contrast %1 on %2").arg(best).arg(background.name())));
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
    // Its worker would start the program alone: a command line with arguments is refused, with the reason.
    add->findChild<QLineEdit*>("advanced.add.command")->setText("review-agent --stdio --root \"my folder\"");
    click(add->findChild<QWidget*>("advanced.add.save"));
    auto* problem = add->findChild<QLabel*>("advanced.add.problem");
    QVERIFY(add->isVisible() && problem->isVisible());
    QVERIFY(problem->text().startsWith("只能填要启动的程序，不能带参数：「--stdio --root my folder」"));
    QVERIFY(AdvancedConnectionStore::load().isEmpty());
    save(add, "sheet-add-connection-refused.png");
    add->findChild<QLineEdit*>("advanced.add.command")->setText("\"" + m_home->filePath("bin/review agent") + "\"");
    click(add->findChild<QWidget*>("advanced.add.save"));
    QTRY_VERIFY(!advanced->addSheet());
    QCOMPARE(AdvancedConnectionStore::load().size(), 1);
    const QString id = UuidText::plain(AdvancedConnectionStore::load().first().id);

    click(find(w, "advanced." + id + ".start"));
    QTRY_VERIFY(find(w, "advanced." + id + ".running"));
    QTRY_VERIFY(section(w)->log()->toPlainText().contains("[评审 Agent] brenlow run:"));

    // A second one says before its start that the running one would stop.
    const AdvancedConnection second = storedCustom(QStringLiteral("测试 Agent"), QStringLiteral("test-agent"));
    w.controller()->advanced()->reload();
    const QString secondID = UuidText::plain(second.id);
    QTRY_VERIFY(find(w, "advanced." + secondID + ".replaces"));
    QCOMPARE(find<QLabel>(w, "advanced." + secondID + ".replaces")->text(),
        AdvancedConnectionRow::replaceText(QStringLiteral("评审 Agent")));
    QVERIFY(!find(w, "advanced." + id + ".replaces"));
    save(advanced, "runtime-advanced.png");

    m_prompts->alertAnswers = { 0 };
    click(find(w, "advanced." + id + ".remove"));
    QTRY_VERIFY(!find(w, "advanced.row." + id));
}

void TestRuntimeSection::customConnectionFollowsTheSelection()
{
    // A connection stored in an earlier session; the section is built with the window, before the
    // catalogue's first load has found the two paired workspaces.
    m_sim->pair(*m_home, { "ws-demo", "ws-blog" });
    const AdvancedConnection stored = storedCustom(QStringLiteral("评审 Agent"), QStringLiteral("review-agent"));
    const QString prefix = "advanced." + UuidText::plain(stored.id) + ".";
    MainWindow w(kQuiet);
    showLoaded(w);
    WorkspaceCatalog* catalog = w.controller()->catalog();
    QCOMPARE(catalog->selectedID(), QStringLiteral("ws-demo"));
    const auto startEnabled = [&] {
        QWidget* start = find(w, prefix + "start");
        return start && start->isEnabled();
    };
    QVERIFY(startEnabled());

    click(find(w, prefix + "start"));
    QTRY_VERIFY(find(w, prefix + "running"));
    // Its worker runs in the workspace it was started in: elsewhere it can start, and back there it runs.
    catalog->setSelectedID(QStringLiteral("ws-blog"));
    QVERIFY(!find(w, prefix + "running"));
    // Buttons put in a shown row show once control returns to the event loop.
    QTRY_VERIFY(startEnabled());
    catalog->setSelectedID(QStringLiteral("ws-demo"));
    QVERIFY(find(w, prefix + "running"));
    QTRY_VERIFY(find(w, prefix + "stop"));
}

void TestRuntimeSection::recoveryDuringAndAfterARun()
{
    m_tool->answer("runtimes", report({}));
    m_tool->put("daemon-status.delay_ms", "1500");
    RecoveryRunner runner;
    auto sheet = std::make_unique<RecoverySheet>(&runner);
    sheet->open();

    auto running = recover(runner, unreachable());
    QTRY_VERIFY(
        step(sheet.get(), "service") && step(sheet.get(), "service")->accessibleName() == "Agent Service running");
    RecoveryStepRow* serviceRow = step(sheet.get(), "service");
    // While it runs: a spinner, no verdict, and the close button says the run goes on.
    QCOMPARE(verdictParts(sheet.get()), (QList<bool> { true, false, false, false }));
    const auto closeTitle = [&] { return sheet->findChild<SecondaryButton*>("recovery.close")->titleLabel()->text(); };
    QCOMPARE(closeTitle(), QStringLiteral("在后台跑着，先关掉"));
    save(sheet.get(), "sheet-recovery-running.png");

    QCoro::waitFor(std::move(running));
    // Rows are updated in place.
    QCOMPARE(step(sheet.get(), "service"), serviceRow);
    QCOMPARE(serviceRow->accessibleName(), QStringLiteral("Agent Service ok"));
    QCOMPARE(verdictParts(sheet.get()), (QList<bool> { false, true, true, false }));
    QCOMPARE(closeTitle(), QStringLiteral("关闭"));
    save(sheet.get(), "sheet-recovery-allgood.png");

    // A new run hides the verdict; closing the sheet, and its going away, leave the run going.
    m_tool->drop("daemon-status.delay_ms");
    auto again = recover(runner, unreachable());
    QVERIFY(!shown(sheet.get(), "recovery.verdict.allgood"));
    QTest::mouseClick(sheet->findChild<SecondaryButton*>("recovery.close"), Qt::LeftButton);
    QVERIFY(!sheet->isVisible());
    sheet.reset();
    QVERIFY(runner.running());
    QCoro::waitFor(std::move(again));
    QCOMPARE(runner.steps().at(5).state, RecoveryRunner::State::Ok);
}

void TestRuntimeSection::recoveryNeedsYou()
{
    m_tool->put("daemon.state", "not_installed");
    m_tool->answer("daemon-install", "launchctl: 服务没装上（权限不够）\nsecond line\n", 1);
    m_tool->answer("runtimes", report({ "claude", "codex" }));
    RecoveryRunner runner;
    QCoro::waitFor(recover(runner, unreachable()));
    // Opened after the run: it shows the runner's state as it is. The failed service install
    // (no action: its first line) comes after the runtimes that need a login, though it ran first.
    RecoverySheet sheet(&runner);
    sheet.open();
    QCOMPARE(verdictParts(&sheet), (QList<bool> { false, true, false, true }));
    QCOMPARE(needsYouLines(&sheet),
        (QStringList { "需要你处理", "·", "Runtime 探测与健康", "CLAUDE、CODEX —— 在 Runtime 那一屏各自有入口", "·",
            "Agent Service", "launchctl: 服务没装上（权限不够）" }));
    save(&sheet, "sheet-recovery-needsyou.png");
}

void TestRuntimeSection::recoveryLongDetailWraps()
{
    // A runtime that needs a login, so that the run ends with a needs-you list.
    m_tool->answer("runtimes", report({ "claude" }));
    // A folder whose path takes several lines in the detail column.
    CLIConfig ws = unreachable();
    ws.path = m_home->filePath("projects/客户项目 2026/a-rather-long-folder-name-for-the-storefront-rewrite/"
                               "packages/checkout-service-with-a-long-name");
    QVERIFY(QDir().mkpath(*ws.path));
    // Open while the run goes, as the window opens it: its rows and verdict change on screen.
    RecoveryRunner runner;
    RecoverySheet sheet(&runner);
    sheet.open();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    QCoro::waitFor(recover(runner, ws));
    // Again with the path lengthened until it takes one more line at the width
    // a scroll bar leaves: a bar shown for a moment while the rows change must
    // not stay and push the last rows under the button.
    {
        auto* scrolling = sheet.findChild<QScrollArea*>();
        QLabel* shown
            = sheet.findChild<RecoveryStepRow*>(runner.steps().first().id)->findChild<QLabel*>("recovery.detail");
        QLabel probe;
        probe.setFont(shown->font());
        probe.setWordWrap(true);
        const int full = shown->width();
        const int narrowed = full - scrolling->verticalScrollBar()->sizeHint().width();
        QString longer = *ws.path;
        for (probe.setText(longer); probe.heightForWidth(full) == probe.heightForWidth(narrowed); probe.setText(longer))
            longer += QLatin1Char('x');
        ws.path = longer;
        QVERIFY(QDir().mkpath(*ws.path));
        QCoro::waitFor(recover(runner, ws));
        QVERIFY(!scrolling->verticalScrollBar()->isVisible());
    }
    save(&sheet, "sheet-recovery-long-path.png");

    const auto inSheet = [&](QWidget* w) { return QRect(w->mapTo(&sheet, QPoint(0, 0)), w->size()); };
    QList<QWidget*> blocks;
    for (const RecoveryRunner::Step& each : runner.steps())
        blocks.append(sheet.findChild<RecoveryStepRow*>(each.id));
    QCOMPARE(blocks.size(), 6);
    for (QWidget* row : std::as_const(blocks)) {
        // Each detail has the height of its wrapped text, inside its row.
        auto* detail = row->findChild<QLabel*>("recovery.detail");
        QVERIFY2(detail->height() >= detail->heightForWidth(detail->width()), qPrintable(row->objectName()));
        QVERIFY(inSheet(row).contains(inSheet(detail)));
    }
    auto* path = blocks.first()->findChild<QLabel*>("recovery.detail");
    QCOMPARE(path->text(), *ws.path);
    QVERIFY(path->height() > 2 * QFontMetrics(path->font()).height());
    // Rows, the needs-you list and the close button follow one another, all inside the sheet.
    blocks << sheet.findChild<QWidget*>("recovery.needsyou") << sheet.findChild<QWidget*>("recovery.close");
    for (qsizetype i = 0; i + 1 < blocks.size(); ++i)
        QVERIFY2(inSheet(blocks[i]).bottom() < inSheet(blocks[i + 1]).top(), qPrintable(blocks[i]->objectName()));
    QVERIFY(sheet.rect().contains(inSheet(blocks.last())));
}

QTEST_MAIN(TestRuntimeSection)
#include "tst_RuntimeSection.moc"
