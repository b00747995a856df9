#include "core/gateway/PermCatalog.h"
#include "core/gateway/StatusRules.h"

#include "core/design/TolvarineStatus.h"

#include <QtTest>

using K = RuntimeState::Kind;

namespace {

CommandBrief cmd(const QString& id, const QString& status, const QString& claimedBy = {}, const QString& employee = {})
{
    CommandBrief c;
    c.id = id;
    c.text = id;
    c.status = status;
    c.claimedBy = claimedBy;
    c.employeeID = employee;
    return c;
}

TeammateBrief mate(const QString& device)
{
    TeammateBrief t;
    t.id = QStringLiteral("e1");
    t.name = QStringLiteral("小林");
    t.device = device;
    return t;
}

const QString kHost = QStringLiteral("cli-") + CLIConfig::hostname();

} // namespace

Q_DECLARE_METATYPE(AgentPresence)
Q_DECLARE_METATYPE(RuntimeState)
Q_DECLARE_METATYPE(rules::RuntimeInputs)
Q_DECLARE_METATYPE(PermUse)

class TestStatusRules : public QObject {
    Q_OBJECT
private slots:
    void presence_data();
    void presence();
    void focal_data();
    void focal();
    void runtimeState_data();
    void runtimeState();
    void feedMatrix_data();
    void feedMatrix();
    void feedEmptiesEverything();
    void grantArgs_data();
    void grantArgs();
    void usage_data();
    void usage();
    void commandStatus_data();
    void commandStatus();
};

void TestStatusRules::presence_data()
{
    QTest::addColumn<QList<RunnerInfo>>("runners");
    QTest::addColumn<AgentPresence>("expected");
    QTest::newRow("exactly 25") << QList<RunnerInfo> { { "me", 25 } } << AgentPresence::online(25);
    QTest::newRow("others only") << QList<RunnerInfo> { { "x", 1 } }
                                 << AgentPresence::unknown(QStringLiteral("这个工作区里有执行体，但都不是本机"), true);
}

void TestStatusRules::presence()
{
    QFETCH(QList<RunnerInfo>, runners);
    QFETCH(AgentPresence, expected);
    QCOMPARE(rules::presence(runners, QStringLiteral("me")), expected);
}

void TestStatusRules::focal_data()
{
    QTest::addColumn<QList<CommandBrief>>("commands");
    QTest::addColumn<QString>("focal");
    QTest::newRow("last claimed wins") << QList<CommandBrief> { cmd("A", "claimed"), cmd("B", "done"),
        cmd("C", "claimed") } << "C";
    QTest::newRow("last finished") << QList<CommandBrief> { cmd("A", "done"), cmd("B", "failed"), cmd("C", "pending") }
                                   << "B";
    QTest::newRow("unsupported counts") << QList<CommandBrief> { cmd("A", "done"), cmd("B", "unsupported") } << "B";
    QTest::newRow("empty") << QList<CommandBrief> {} << "";
}

void TestStatusRules::focal()
{
    QFETCH(QList<CommandBrief>, commands);
    QFETCH(QString, focal);
    const auto c = rules::focalCommand(commands);
    QCOMPARE(c ? c->id : QString(), focal);
}

void TestStatusRules::runtimeState_data()
{
    QTest::addColumn<rules::RuntimeInputs>("in");
    QTest::addColumn<RuntimeState>("expected");

    // A workspace without a device id of its own, no runner seen.
    const auto base = [] {
        rules::RuntimeInputs in;
        in.config = CLIConfig { QStringLiteral("http://127.0.0.1:18091"), QStringLiteral("ws"), QStringLiteral("t") };
        in.presence = AgentPresence::never();
        return in;
    };
    const auto state = [](K kind) {
        RuntimeState s;
        s.kind = kind;
        return s;
    };

    {
        auto in = base();
        in.commandsError = QStringLiteral("网关回了 500");
        in.commands = { cmd("A", "claimed") };
        auto s = state(K::Unknown);
        s.reason = QStringLiteral("网关回了 500");
        QTest::newRow("1 error beats a stale claimed command") << in << s;
    }
    {
        auto in = base();
        in.commands = { cmd("A", "claimed", kHost), cmd("B", "claimed", "cli-other") };
        in.pendingPerms = { QStringLiteral("danger") };
        auto s = state(K::Running);
        s.command = in.commands[1];
        QTest::newRow("2 later claimed, other machine, beats grants") << in << s;
    }
    {
        auto in = base();
        in.commands = { cmd("A", "claimed", kHost) };
        auto s = state(K::Running);
        s.command = in.commands[0];
        s.byThisMachine = true;
        QTest::newRow("2 claimed by host name with empty device") << in << s;
    }
    {
        auto in = base();
        in.pendingPerms = { QStringLiteral("write"), QStringLiteral("danger") };
        in.commands = { cmd("A", "pending") };
        auto s = state(K::AwaitingGrant);
        s.grants = { QStringLiteral("danger") };
        QTest::newRow("3 only danger waits") << in << s;
    }
    {
        auto in = base();
        in.pendingPerms = { QStringLiteral("write") };
        in.commands = { cmd("A", "pending", {}, "e1"), cmd("B", "done") };
        in.team = { mate(QString()) };
        in.presence = AgentPresence::stale(40);
        auto s = state(K::Queued);
        s.command = in.commands[0];
        s.blockedByAssignee = QStringLiteral("小林");
        QTest::newRow("4 assignee without device, stale runner") << in << s;
        in.team = { mate(QStringLiteral("cli-box")) };
        in.presence = AgentPresence::online(3);
        s.blockedByAssignee.reset();
        s.hasRunner = true;
        QTest::newRow("4 assignee with device, online") << in << s;
        in.team = {};
        s.blockedByAssignee = QStringLiteral("已经不在团队里的同事");
        QTest::newRow("4 assignee gone") << in << s;
    }
    {
        auto in = base();
        in.commands = { cmd("A", "done"), cmd("B", "failed"), cmd("C", "blocked"), cmd("D", "waiting_approval") };
        auto s = state(K::LastFailed);
        s.command = in.commands[1];
        QTest::newRow("5 done then failed") << in << s;
    }
    {
        auto in = base();
        in.commands = { cmd("C", "blocked") };
        in.presence = AgentPresence::online(3);
        auto s = state(K::Idle);
        s.seconds = 3;
        QTest::newRow("6 idle") << in << s;
        in.presence = AgentPresence::never();
        s = state(K::NoRunner);
        s.presence = AgentPresence::never();
        QTest::newRow("7 never") << in << s;
    }
}

void TestStatusRules::runtimeState()
{
    QFETCH(rules::RuntimeInputs, in);
    QFETCH(RuntimeState, expected);
    QCOMPARE(rules::runtimeState(in), expected);
}

void TestStatusRules::feedMatrix_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<bool>("waiting");
    QTest::addColumn<bool>("failed");
    QTest::newRow("approval, no status, no outcome")
        << QByteArray(R"({"id":"f","task_id":"t","category":"approval"})") << true << false;
    QTest::newRow("approval pending, outcome failed")
        << QByteArray(R"({"id":"f","task_id":"t","category":"approval","status":"pending","outcome":"failed"})")
        << false << true;
    QTest::newRow("permission answered") << QByteArray(
        R"({"id":"f","task_id":"t","category":"permission","status":"ok"})")
                                         << false << false;
    QTest::newRow("permission pending, outcome failed")
        << QByteArray(R"({"id":"f","task_id":"t","category":"permission","outcome":"failed"})") << true << false;
    QTest::newRow("conflict pending") << QByteArray(
        R"({"id":"f","task_id":"t","category":"conflict","status":"pending"})")
                                      << true << false;
    QTest::newRow("conflict without id") << QByteArray(R"({"task_id":"t","category":"conflict"})") << false << false;
    QTest::newRow("failed, any status") << QByteArray(R"({"id":"f","task_id":"t","category":"failed","status":"x"})")
                                        << false << true;
    QTest::newRow("Approval capitalised")
        << QByteArray(R"({"id":"f","task_id":"t","category":"Approval"})") << false << false;
}

void TestStatusRules::feedMatrix()
{
    QFETCH(QByteArray, item);
    QFETCH(bool, waiting);
    QFETCH(bool, failed);
    const Result<rules::FeedView> read = rules::readFeed("{\"items\":[" + item + "]}");
    QVERIFY(read.ok());
    const rules::FeedView& v = *read;
    QCOMPARE(v.pendingApprovalItems.size(), waiting ? 1 : 0);
    QCOMPARE(v.failedFeedItems.size(), failed ? 1 : 0);
    QCOMPARE(v.waitingTaskIDs.contains(QStringLiteral("t")), waiting);
}

void TestStatusRules::feedEmptiesEverything()
{
    const Result<rules::FeedView> read = rules::readFeed(R"({"items":[
        {"id":"a","task_id":"","category":"approval","title":"批准上线","subtitle":"s","command":"c","origin_device":"d"},
        {"id":"b","task_id":"t2","category":"approval"}]})");
    QVERIFY(read.ok());
    const rules::FeedView& v = *read;
    QCOMPARE(v.pendingApprovalItems.size(), 2);
    QCOMPARE(v.pendingApprovalItems[0], (FeedApprovalItem { "a", "", "approval", "批准上线", "s", "c", "d", "" }));
    QCOMPARE(v.waitingTaskIDs, QSet<QString> { QStringLiteral("t2") });
    const rules::FeedView empty = *rules::readFeed("{}");
    QVERIFY(empty.pendingApprovalItems.isEmpty() && empty.failedFeedItems.isEmpty() && empty.waitingTaskIDs.isEmpty());
}

void TestStatusRules::grantArgs_data()
{
    QTest::addColumn<QStringList>("granted");
    QTest::addColumn<QStringList>("pending");
    QTest::addColumn<QString>("adding");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("adds danger last") << QStringList { "exec", "read" } << QStringList {} << "danger"
                                      << QStringList { "read", "exec", "danger" };
    // A tier only waiting for its confirmation is not this machine's to declare.
    QTest::newRow("leaves out a waiting tier") << QStringList { "read", "exec" } << QStringList { "write" } << "danger"
                                               << QStringList { "read", "exec", "danger" };
    QTest::newRow("unknown key") << QStringList {} << QStringList {} << "teleport" << QStringList {};
}

void TestStatusRules::grantArgs()
{
    QFETCH(QStringList, granted);
    QFETCH(QStringList, pending);
    QFETCH(QString, adding);
    QFETCH(QStringList, args);
    QMap<QString, bool> effective;
    for (const QString& k : granted)
        effective.insert(k, true);
    const auto rows = granted.isEmpty() ? QList<PermRow> {} : perm::rows(effective, pending);
    QCOMPARE(perm::grantArgs(rows, adding), args);
}

void TestStatusRules::usage_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("focal");
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<PermUse>("expected");
    QTest::newRow("read, no focal") << "read" << false << QStringList { "read" }
                                    << PermUse::unknown(QStringLiteral("还没有可观察的命令"));
    QTest::newRow("no lines") << "exec" << true << QStringList {}
                              << PermUse::unknown(QStringLiteral("这一趟还没有进度记录"));
    QTest::newRow("exec used by test_fail") << "exec" << true << QStringList { "read", "test_fail" } << PermUse::used();
    QTest::newRow("write not seen") << "write" << true << QStringList { "read", "other" } << PermUse::notSeen();
}

void TestStatusRules::usage()
{
    QFETCH(QString, key);
    QFETCH(bool, focal);
    QFETCH(QStringList, kinds);
    QFETCH(PermUse, expected);
    QList<ProgressLine> lines;
    for (const QString& k : kinds)
        lines.append({ lines.size() + 1, k, QStringLiteral("a"), {}, {} });
    QCOMPARE(perm::usage(key, focal, std::nullopt, lines), expected);
}

void TestStatusRules::commandStatus_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QString>("word"); // the status's English word, empty for none
    const auto row = [](const char* name, const char* status, const char* verdict, const char* word) {
        QTest::newRow(name) << QString(status) << QString(verdict) << QString(word);
    };
    row("claimed", "claimed", "", "Running");
    row("done partial", "done", "PARTIAL_SUCCESS", "Partially Done");
    row("verdict is read exactly", "done", "partial_success", "Completed");
    row("unsupported", "unsupported", "", "Failed");
    row("case matters", "Done", "", "");
}

void TestStatusRules::commandStatus()
{
    QFETCH(QString, status);
    QFETCH(QString, verdict);
    QFETCH(QString, word);
    CommandBrief c;
    c.status = status;
    c.verdict = verdict;
    const auto s = c.tolvarineStatus();
    QCOMPARE(s ? TolvarineStatuses::rawValue(*s) : QString(), word);
}

QTEST_GUILESS_MAIN(TestStatusRules)
#include "tst_StatusRules.moc"
