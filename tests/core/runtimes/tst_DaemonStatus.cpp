#include "core/runtimes/AgentServiceHealth.h"
#include "core/runtimes/DaemonStatus.h"

#include "SimTool.h"
#include "TempHome.h"

#include <QtTest>

class TestDaemonStatus : public QObject {
    Q_OBJECT
private slots:
    void interpret_data();
    void interpret();
    void healthRefresh_data();
    void healthRefresh();
};

void TestDaemonStatus::interpret_data()
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
}

void TestDaemonStatus::interpret()
{
    QFETCH(int, code);
    QFETCH(QString, output);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    const DaemonStatus::Result r = DaemonStatus::interpret(code, output);
    QCOMPARE(r.ok(), ok);
    QCOMPARE(ok ? r.report->display() : r.failure, text);
}

void TestDaemonStatus::healthRefresh_data()
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

void TestDaemonStatus::healthRefresh()
{
    QFETCH(QByteArray, output);
    QFETCH(int, code);
    QFETCH(int, running);
    QFETCH(QString, detail);
    TempHome home;
    SimTool tool(home);
    tool.answer(QStringLiteral("daemon-status"), output, code);
    AgentServiceHealth health;
    QVERIFY(!health.stamp());
    QCoro::waitFor(health.refresh());
    QCOMPARE(health.running().has_value() ? int(*health.running()) : -1, running);
    QCOMPARE(health.detail(), detail);
    QVERIFY(health.stamp());
    QCOMPARE(tool.argvs(), QStringList { QStringLiteral("daemon status --json") });
}

QTEST_GUILESS_MAIN(TestDaemonStatus)
#include "tst_DaemonStatus.moc"
