#include "core/gateway/CLI.h"
#include "core/platform/DisplayText.h"
#include "core/runtimes/AgentServiceHealth.h"
#include "core/runtimes/DaemonStatus.h"
#include "core/runtimes/RecoveryRunner.h"

#include "SimTool.h"
#include "TempHome.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

namespace {

using State = RecoveryRunner::State;

// `installed` runtimes, the first of them (by kind) needing a login or a key.
QByteArray report(int installed, const QStringList& needing)
{
    QJsonArray runtimes;
    auto add = [&](const QString& kind, const QString& usability, bool isInstalled) {
        runtimes.append(QJsonObject { { "kind", kind }, { "display", kind.toUpper() }, { "adapter", "cli" },
            { "health", QJsonObject { { "installed", isInstalled }, { "healthy", isInstalled } } },
            { "auth", QJsonObject { { "state", "x" }, { "source", "y" } } }, { "usability", usability },
            { "protocol", false }, { "cap_counts", QJsonObject {} } });
    };
    for (int i = 0; i < needing.size(); ++i)
        add(needing[i], i % 2 ? QStringLiteral("credentials_required") : QStringLiteral("login_required"),
            i < installed);
    for (int i = needing.size(); i < installed; ++i)
        add(QStringLiteral("ok%1").arg(i), QStringLiteral("ready"), true);
    return QJsonDocument(QJsonObject { { "runtimes", runtimes }, { "counts", QJsonObject {} } }).toJson();
}

CLIConfig workspace(const QString& path)
{
    CLIConfig c;
    c.api = QStringLiteral("http://127.0.0.1:1");
    c.workspace = QStringLiteral("ws-7");
    c.token = QStringLiteral("t");
    if (!path.isEmpty())
        c.path = path;
    return c;
}

} // namespace

class TestRecoveryRunner : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void noWorkspace();
    void allFine();
    void folderMissing_data();
    void folderMissing();
    void service_data();
    void service();
    void runtimes_data();
    void runtimes();
    void gatewayReading_data();
    void gatewayReading();
    void secondRunWhileRunning();
    void hungToolIsAFailure();
    void interpretDaemonStatus_data();
    void interpretDaemonStatus();
    void healthRefresh_data();
    void healthRefresh();

private:
    // Runs once; returns how many times each closure was called.
    QPair<int, int> runOnce(
        RecoveryRunner& runner, const std::optional<CLIConfig>& ws, const RecoveryRunner::Reading& read = {});
    static RecoveryRunner::Step step(const RecoveryRunner& runner, int index) { return runner.steps().at(index); }

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimTool> m_tool;
    QString m_folder;
};

void TestRecoveryRunner::init()
{
    m_home = std::make_unique<TempHome>();
    m_tool = std::make_unique<SimTool>(*m_home);
    m_folder = m_home->filePath(QStringLiteral("proj"));
    QDir().mkpath(m_folder);
    m_tool->answer(QStringLiteral("runtimes"), report(2, {}));
}

void TestRecoveryRunner::cleanup()
{
    m_tool.reset();
    m_home.reset();
}

QPair<int, int> TestRecoveryRunner::runOnce(
    RecoveryRunner& runner, const std::optional<CLIConfig>& ws, const RecoveryRunner::Reading& read)
{
    int inventory = 0;
    int status = 0;
    QCoro::waitFor(runner.run(
        ws, [&] { ++inventory; },
        [&]() -> QCoro::Task<RecoveryRunner::Reading> {
            ++status;
            co_return RecoveryRunner::Reading(read);
        }));
    return { inventory, status };
}

void TestRecoveryRunner::noWorkspace()
{
    RecoveryRunner runner;
    const auto calls = runOnce(runner, std::nullopt);
    QCOMPARE(calls, qMakePair(0, 0));
    QVERIFY(m_tool->argvs().isEmpty());
    QVERIFY(runner.finished() && !runner.running());
    QCOMPARE(step(runner, 0).state, State::NeedsYou);
    QCOMPARE(step(runner, 0).detail, QStringLiteral("这台电脑上还没有工作区"));
    QCOMPARE(step(runner, 0).action, QStringLiteral("在项目目录里跑一次 brenlow pair，或者用上面的 ＋ 号选一个目录"));
    QCOMPARE(step(runner, 5).detail, QStringLiteral("跳过 —— 还没有工作区"));
}

void TestRecoveryRunner::allFine()
{
    RecoveryRunner runner;
    QSignalSpy changes(&runner, &RecoveryRunner::changed);
    const auto calls = runOnce(runner, workspace(m_folder));
    QCOMPARE(calls, qMakePair(1, 1));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(step(runner, i).state, State::Ok);
    QCOMPARE(step(runner, 0).detail, m_folder);
    QCOMPARE(step(runner, 1).detail, QStringLiteral("不用找 —— 目录就在原地"));
    QCOMPARE(step(runner, 2).detail, QStringLiteral("正在跑 · pid 4242"));
    QCOMPARE(step(runner, 3).detail, QStringLiteral("2 家已装，都不缺登录"));
    QVERIFY(runner.needsYou().isEmpty() && runner.failures().isEmpty());
    QVERIFY(changes.size() > 6);
    QCOMPARE(m_tool->argvs(), (QStringList { "daemon status --json", "runtimes --json" }));
}

void TestRecoveryRunner::folderMissing_data()
{
    QTest::addColumn<QStringList>("moved"); // folders named like the workspace's, made under $HOME
    QTest::addColumn<QByteArray>("answer"); // what the search prints instead of its own answer; "" for its own
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("action");
    QTest::newRow("one match")
        << QStringList { "a/proj-gone" } << QByteArray() << "找到一个匹配的目录：%1/a/proj-gone"
        << "回到上面那张横幅点「就是它，恢复」——绑错目录会让 AI 员工去改另一个项目的代码，这一下不能替你按";
    // Whether it searched in vain or could not search, the tool says.
    QTest::newRow("nothing") << QStringList {} << QByteArray()
                             << "自己没找着 · brenlow 说：在 %1 下面没找到叫 proj-gone 的目录"
                             << QStringLiteral("点「重新定位工作区」手动指一次");
    QTest::newRow("older tool") << QStringList {} << QByteArray("usage: brenlow <command>\n")
                                << "自己没找着 · brenlow 说：usage: brenlow <command>"
                                << QStringLiteral("点「重新定位工作区」手动指一次");
}

void TestRecoveryRunner::folderMissing()
{
    QFETCH(QStringList, moved);
    QFETCH(QByteArray, answer);
    QFETCH(QString, detail);
    QFETCH(QString, action);
    // The workspace's pairing file names a folder that is gone.
    const QString gone = m_home->filePath(QStringLiteral("old/proj-gone"));
    CLIConfig ws = workspace(gone);
    m_home->writeFile(QStringLiteral(".tolvarine/workspaces/ws-7.json"), QJsonDocument(ws.toJson()).toJson());
    m_home->writeFile(QStringLiteral(".tolvarine/config.json"), QJsonDocument(ws.toJson()).toJson());
    for (const QString& m : moved)
        QDir().mkpath(m_home->filePath(m));
    m_tool->put(QStringLiteral("daemon.state"), "not_installed");
    if (!answer.isEmpty())
        m_tool->answer(QStringLiteral("workspace-relocate"), answer, 2);

    RecoveryRunner runner;
    const auto calls = runOnce(runner, ws);
    QCOMPARE(step(runner, 0).state, State::NeedsYou);
    QCOMPARE(step(runner, 0).detail, QStringLiteral("原来的位置不在了：") + gone);
    QCOMPARE(step(runner, 1).state, State::NeedsYou);
    QCOMPARE(step(runner, 1).detail, detail.contains(QStringLiteral("%1")) ? detail.arg(m_home->path()) : detail);
    QCOMPARE(step(runner, 1).action, action);
    // Without a folder the service is not installed; the later steps still run.
    QCOMPARE(step(runner, 2).state, State::NeedsYou);
    QCOMPARE(step(runner, 2).detail, QStringLiteral("没在跑，而且现在装不了"));
    QCOMPARE(step(runner, 2).action, QStringLiteral("先把工作区目录找回来，这一步才有地方落脚"));
    QVERIFY(!m_tool->argvs().contains(QStringLiteral("daemon install")));
    // Looked for, nothing re-bound.
    QCOMPARE(m_tool->argvs().filter(QStringLiteral("relocate")),
        QStringList { QStringLiteral("workspace relocate --ws ws-7 --json --dry-run") });
    QCOMPARE(calls, qMakePair(1, 1));
}

void TestRecoveryRunner::service_data()
{
    QTest::addColumn<QByteArray>("state"); // daemon.state; "" for a steered answer
    QTest::addColumn<QByteArray>("statusOutput"); // daemon-status answer when state is ""
    QTest::addColumn<QByteArray>("installOutput");
    QTest::addColumn<int>("installCode");
    QTest::addColumn<State>("expected");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("action"); // how the action starts
    QTest::addColumn<bool>("installed");
    QTest::newRow("not installed, install works") << QByteArray("not_installed") << QByteArray() << QByteArray() << 0
                                                  << State::Ok << "刚刚起起来了" << QString() << true;
    // Installed, not started: the tool's warning is the step's, not a tick.
    QTest::newRow("install works with a warning")
        << QByteArray("not_installed") << QByteArray()
        << QByteArray("常驻服务装好了\nwarning: 没能启动它：端口 7070 被占用\n") << 0 << State::NeedsYou
        << "装上了，但 brenlow 说：warning: 没能启动它：端口 7070 被占用"
        << "照它说的补上这一步" << true;
    QTest::newRow("install fails with two lines")
        << QByteArray("installed_not_loaded") << QByteArray() << QByteArray("launchctl: nope\nsecond\n") << 1
        << State::Failed << "launchctl: nope" << QString() << true;
    QTest::newRow("state unknown") << QByteArray("installed_state_unknown") << QByteArray() << QByteArray() << 0
                                   << State::NeedsYou << "已安装，但这台机器答不出它在不在跑"
                                   << "这台机器答不出常驻在不在跑，自己去看一眼日志：" << false;
    QTest::newRow("older tool")
        << QByteArray() << QByteArray("usage: brenlow <command>\n") << QByteArray() << 0 << State::Failed
        << "usage: brenlow <command>"
        << "这台机器上的 brenlow 太旧或答不上话：跑一次 `brenlow daemon status --json` 看它说什么" << false;
    // Nothing to ask: the way out is to install the tool, not to run it.
    QTest::newRow("tool missing") << QByteArray("missing") << QByteArray() << QByteArray() << 0 << State::Failed
                                  << "找不到 brenlow：" + CLI::NotFound::description()
                                  << "这台机器上没有 brenlow：在终端里跑一次 " + CLI::NotFound::installCommand()
                                  << false;
}

void TestRecoveryRunner::service()
{
    QFETCH(QByteArray, state);
    QFETCH(QByteArray, statusOutput);
    QFETCH(QByteArray, installOutput);
    QFETCH(int, installCode);
    QFETCH(State, expected);
    QFETCH(QString, detail);
    QFETCH(QString, action);
    QFETCH(bool, installed);
    if (state == "missing")
        QVERIFY(QFile::remove(m_tool->exe()));
    else if (state.isEmpty())
        m_tool->answer(QStringLiteral("daemon-status"), statusOutput, 2);
    else
        m_tool->put(QStringLiteral("daemon.state"), state);
    if (installCode != 0 || !installOutput.isEmpty())
        m_tool->answer(QStringLiteral("daemon-install"), installOutput, installCode);
    RecoveryRunner runner;
    runOnce(runner, workspace(m_folder));
    QCOMPARE(step(runner, 2).state, expected);
    QCOMPARE(step(runner, 2).detail, detail);
    QVERIFY2(step(runner, 2).action.startsWith(action), qPrintable(step(runner, 2).action));
    QCOMPARE(m_tool->argvs().contains(QStringLiteral("daemon install")), installed);
    // The later steps ran all the same.
    QCOMPARE(step(runner, 5).state, State::Ok);
}

void TestRecoveryRunner::runtimes_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("code");
    QTest::addColumn<State>("expected");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("reloads");
    const QStringList six { "a", "b", "c", "d", "e", "f" };
    QTest::newRow("six of nine need a login")
        << report(9, six) << 0 << State::NeedsYou << "9 家已装，其中 6 家要你登录或配一把 Key"
        << "A、B、C、D 等 —— 在 Runtime 那一屏各自有入口" << 1;
    QTest::newRow("warning first") << "warning: x\n" + report(1, {}) << 0 << State::Failed << "warning: x" << QString()
                                   << 0;
    QTest::newRow("valid report, exit 1") << report(1, {}) << 1 << State::Failed << "{" << QString() << 0;
}

void TestRecoveryRunner::runtimes()
{
    QFETCH(QByteArray, output);
    QFETCH(int, code);
    QFETCH(State, expected);
    QFETCH(QString, detail);
    QFETCH(QString, action);
    QFETCH(int, reloads);
    m_tool->answer(QStringLiteral("runtimes"), output, code);
    RecoveryRunner runner;
    const auto calls = runOnce(runner, workspace(m_folder));
    QCOMPARE(step(runner, 3).state, expected);
    QCOMPARE(step(runner, 3).detail, detail);
    QCOMPARE(step(runner, 3).action, action);
    QCOMPARE(calls.first, reloads);
    QCOMPARE(calls.second, 1);
}

// The last two steps are done only when the window's lists were read; a load
// that failed is the step's failure, in the load's own words.
void TestRecoveryRunner::gatewayReading_data()
{
    QTest::addColumn<std::optional<QString>>("commands");
    QTest::addColumn<std::optional<QString>>("team");
    QTest::addColumn<bool>("elsewhere"); // the window shows another workspace by then
    QTest::addColumn<State>("reconnect");
    QTest::addColumn<QString>("reconnectDetail");
    QTest::addColumn<State>("refresh");
    QTest::addColumn<QString>("refreshDetail");
    const QString unreachable = QStringLiteral("连不上网关。试过：http://127.0.0.1:1。网关是否在跑：docker compose ps");
    const QString oldGateway = QStringLiteral("这台网关还没有 AI 团队这条接口（升级后端即可）");
    QTest::newRow("unreachable") << std::optional(unreachable) << std::optional(unreachable) << false << State::Failed
                                 << unreachable << State::Failed << unreachable;
    QTest::newRow("no such workspace") << std::optional<QString>(QStringLiteral("没有这个工作区"))
                                       << std::optional<QString>() << false << State::Failed << "没有这个工作区"
                                       << State::Failed << "没有这个工作区";
    QTest::newRow("roster unread") << std::optional<QString>() << std::optional(oldGateway) << false << State::Ok
                                   << "已经重问过一遍网关" << State::Failed << oldGateway;
    // The other workspace's lists read well, and say nothing of this one's.
    QTest::newRow("another workspace shown")
        << std::optional<QString>() << std::optional<QString>() << true << State::NeedsYou
        << "窗口已经换到了另一个工作区，没读到这个工作区的网关" << State::NeedsYou
        << "窗口已经换到了另一个工作区，屏幕上的员工与任务不是这个工作区的";
}

void TestRecoveryRunner::gatewayReading()
{
    QFETCH(std::optional<QString>, commands);
    QFETCH(std::optional<QString>, team);
    QFETCH(bool, elsewhere);
    QFETCH(State, reconnect);
    QFETCH(QString, reconnectDetail);
    QFETCH(State, refresh);
    QFETCH(QString, refreshDetail);
    RecoveryRunner runner;
    runOnce(runner, workspace(m_folder), { commands, team, elsewhere });
    QCOMPARE(step(runner, 4).state, reconnect);
    QCOMPARE(step(runner, 4).detail, reconnectDetail);
    QCOMPARE(step(runner, 5).state, refresh);
    QCOMPARE(step(runner, 5).detail, refreshDetail);
    // Not all good: the sheet lists what failed, or what to do.
    QCOMPARE(runner.failures().size(), int(reconnect == State::Failed) + int(refresh == State::Failed));
    if (elsewhere)
        QCOMPARE(step(runner, 5).action, QStringLiteral("切回「proj」，再点一次「检查并恢复」"));
    QVERIFY(runner.finished());
}

void TestRecoveryRunner::secondRunWhileRunning()
{
    m_tool->put(QStringLiteral("daemon-status.delay_ms"), "500");
    RecoveryRunner runner;
    int reloads = 0;
    auto first = runner.run(
        workspace(m_folder), [&] { ++reloads; },
        []() -> QCoro::Task<RecoveryRunner::Reading> { co_return RecoveryRunner::Reading {}; });
    QVERIFY(runner.running());
    const QList<RecoveryRunner::Step> during = runner.steps();
    QCoro::waitFor(runner.run(
        std::nullopt, [&] { ++reloads; },
        []() -> QCoro::Task<RecoveryRunner::Reading> { co_return RecoveryRunner::Reading {}; }));
    QCOMPARE(runner.steps(), during);
    QVERIFY(runner.running());
    QCoro::waitFor(std::move(first));
    QVERIFY(runner.finished());
    QCOMPARE(reloads, 1);
    QCOMPARE(m_tool->argvs().count(QStringLiteral("daemon status --json")), 1);
}

void TestRecoveryRunner::hungToolIsAFailure()
{
    m_tool->put(QStringLiteral("daemon-status.delay_ms"), "30000");
    m_tool->put(QStringLiteral("runtimes.delay_ms"), "30000");
    RecoveryRunner runner;
    runner.setTimeLimit(std::chrono::milliseconds(500));
    const auto calls = runOnce(runner, workspace(m_folder));
    for (const auto& [index, command] : { std::pair(2, "daemon"), std::pair(3, "runtimes") }) {
        QCOMPARE(step(runner, index).state, State::Failed);
        QCOMPARE(step(runner, index).detail, CLI::timedOutText({ command }, std::chrono::milliseconds(500)));
    }
    QCOMPARE(calls, qMakePair(0, 1));
    QVERIFY(runner.finished());
}

void TestRecoveryRunner::interpretDaemonStatus_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text"); // display text when ok, failure text otherwise

    QTest::newRow("running with pid") << 0 << R"({"schema":1,"state":"running","running":true,"pid":"4242"})" << true
                                      << "正在跑 · pid 4242";
    QTest::newRow("not running, last exit 78")
        << 0 << R"({"schema":1,"state":"installed_not_running","last_exit_code":"78"})" << true
        << "已安装，但当前没有进程在跑，上次退出码 78";
    QTest::newRow("unrecognised state") << 0 << R"({"schema":1,"state":"Running"})" << true
                                        << "认不出来的状态码：Running";
    QTest::newRow("schema 2") << 3 << R"({"schema":2,"state":"running"})" << false
                              << "daemon status 的回包版本是 2，这一版只认 1";
    QTest::newRow("non-zero exit") << 3 << R"({"schema":1,"state":"not_installed"})" << false
                                   << "daemon status --json 退出码 3（回包 state=not_installed）";
    QTest::newRow("pid as number") << 0 << R"({"schema":1,"state":"running","pid":4242})" << false
                                   << R"({"schema":1,"state":"running","pid":4242})";
    QTest::newRow("warning before report")
        << 0 << "  warning: old config\t\n{\n \"schema\": 1,\n \"state\": \"running\"\n}" << false
        << "warning: old config";
    QTest::newRow("secret in the error") << 1 << "auth failed: Bearer abc.def\n" << false << "auth failed: Bearer ****";
    // What the tool says is shown in a step's line, however much it wrote.
    const QString endless(200000, QLatin1Char('x'));
    QTest::newRow("endless line") << 1 << endless << false << QString(DisplayText::kTextLength, QLatin1Char('x')) + "…";
    QTest::newRow("endless state") << 0 << R"({"schema":1,"state":")" + endless + R"("})" << true
                                   << "认不出来的状态码：" + QString(DisplayText::kNameLength, QLatin1Char('x')) + "…";
}

void TestRecoveryRunner::interpretDaemonStatus()
{
    QFETCH(int, code);
    QFETCH(QString, output);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    const DaemonStatus::Result r = DaemonStatus::interpret(code, output);
    QCOMPARE(r.ok(), ok);
    QCOMPARE(ok ? r.report->display() : r.failure, text);
}

void TestRecoveryRunner::healthRefresh_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("running"); // -1 none, 0 false, 1 true
    QTest::addColumn<QString>("detail");
    QTest::newRow("running") << QByteArray(R"({"schema":1,"state":"running","running":true,"pid":"7"})") << 0 << 1
                             << "正在跑 · pid 7";
    QTest::newRow("stopped") << QByteArray(R"({"schema":1,"state":"installed_not_running","running":false})") << 0 << 0
                             << "已安装，但当前没有进程在跑";
    QTest::newRow("older tool") << QByteArray("usage: brenlow <command>\n") << 2 << -1 << "usage: brenlow <command>";
}

void TestRecoveryRunner::healthRefresh()
{
    QFETCH(QByteArray, output);
    QFETCH(int, code);
    QFETCH(int, running);
    QFETCH(QString, detail);
    m_tool->answer(QStringLiteral("daemon-status"), output, code);
    AgentServiceHealth health;
    QVERIFY(!health.stamp());
    QCoro::waitFor(health.refresh());
    QCOMPARE(health.running().has_value() ? int(*health.running()) : -1, running);
    QCOMPARE(health.detail(), detail);
    QVERIFY(health.stamp());
    QCOMPARE(m_tool->argvs(), QStringList { QStringLiteral("daemon status --json") });
}

QTEST_GUILESS_MAIN(TestRecoveryRunner)
#include "tst_RecoveryRunner.moc"
