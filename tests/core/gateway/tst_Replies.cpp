#include "core/gateway/Replies.h"

#include <QtTest>

using namespace replies;

class TestReplies : public QObject {
    Q_OBJECT
private slots:
    void commandsShape_data();
    void commandsShape();
    void commandFields();
    void progressShape_data();
    void progressShape();
    void progressLineDefaults();
    void permissions_data();
    void permissions();
    void employeesShape_data();
    void employeesShape();
    void employeeMapping();
    void templateTitles_data();
    void templateTitles();
    void agentsAndFeed_data();
    void agentsAndFeed();
    void gatewayErrorBody_data();
    void gatewayErrorBody();
};

void TestReplies::commandsShape_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("commands");
    QTest::addColumn<int>("runners");
    QTest::addColumn<bool>("runnersRead");
    QTest::newRow("empty object") << QByteArray("{}") << true << 0 << 0 << false;
    QTest::newRow("nulls") << QByteArray(R"({"commands":null,"runners":null,"runners_read":null})") << true << 0 << 0
                           << false;
    QTest::newRow("files_touched as string")
        << QByteArray(R"({"commands":[{"id":"a","text":"t","status":"done","files_touched":"true"}]})") << false << 0
        << 0 << false;
    QTest::newRow("missing text") << QByteArray(R"({"commands":[{"id":"a","status":"done"}]})") << false << 0 << 0
                                  << false;
    QTest::newRow("seconds_ago fractional")
        << QByteArray(R"({"runners":[{"device_id":"d","seconds_ago":2.5}]})") << false << 0 << 0 << false;
    QTest::newRow("html") << QByteArray("<html></html>") << false << 0 << 0 << false;
}

void TestReplies::commandsShape()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    const auto r = decodeCommands(body);
    QCOMPARE(r.ok(), ok);
    if (!ok) {
        QCOMPARE(r.failure().kind(), Failure::Kind::Decoding);
        QVERIFY(!r.failure().description().isEmpty());
        return;
    }
    QFETCH(int, commands);
    QFETCH(int, runners);
    QFETCH(bool, runnersRead);
    QCOMPARE(r->commands.size(), commands);
    QCOMPARE(r->runners.size(), runners);
    QCOMPARE(r->runnersRead, runnersRead);
}

void TestReplies::commandFields()
{
    const auto r = decodeCommands(R"({"commands":[
        {"id":"c1","text":"写首页","status":"done","claimed_by":"cli-box","summary":"好了","error":"",
         "issued_at":"2026-03-01T10:00:00Z","completed_at":"2026-03-01T10:05:00.250+08:00",
         "files_touched":false,"employee_id":"e1","depends_on":["c0"],"ran_runtime":"codex",
         "execution_id":"x1","claimed_at":"yesterday","verdict":"PARTIAL_SUCCESS","extra":[1,2]},
        {"id":"c2","text":"t","status":"pending","claimed_by":null}]})");
    QVERIFY(r.ok());
    QCOMPARE(r->commands.size(), 2);
    const CommandBrief& a = r->commands[0];
    QCOMPARE(a.claimedBy, QStringLiteral("cli-box"));
    QCOMPARE(a.issuedAt, QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC));
    QVERIFY(a.completedAt);
    QCOMPARE(a.completedAt->toUTC(), QDateTime(QDate(2026, 3, 1), QTime(2, 5, 0, 250), Qt::UTC));
    QCOMPARE(a.filesTouched, std::optional<bool>(false));
    QCOMPARE(a.dependsOn, QStringList { QStringLiteral("c0") });
    QCOMPARE(a.executionID, QStringLiteral("x1"));
    QVERIFY(!a.claimedAt); // not a gateway timestamp
    QCOMPARE(a.verdict, QStringLiteral("PARTIAL_SUCCESS"));
    const CommandBrief& b = r->commands[1];
    QCOMPARE(b.claimedBy, QString());
    QVERIFY(!b.filesTouched);
    QVERIFY(b.dependsOn.isEmpty());
    QVERIFY(!b.issuedAt);
}

void TestReplies::progressShape_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("required");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("truncated");
    const QByteArray missing("{}");
    const QByteArray two(R"({"progress":[{"seq":1,"action":"a"},{"seq":2,"action":"b"}],"total":9,"truncated":true})");
    QTest::newRow("missing, loader") << missing << true << false << 0 << false;
    QTest::newRow("two, fetcher ignores truncated") << two << false << true << 2 << false;
    QTest::newRow("seq string") << QByteArray(R"({"progress":[{"seq":"1","action":"a"}]})") << true << false << 0
                                << false;
    QTest::newRow("no action") << QByteArray(R"({"progress":[{"seq":1}]})") << false << false << 0 << false;
}

void TestReplies::progressShape()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, required);
    QFETCH(bool, ok);
    const auto r = decodeProgress(body, required);
    QCOMPARE(r.ok(), ok);
    if (!ok)
        return;
    QFETCH(int, lines);
    QFETCH(bool, truncated);
    QCOMPARE(r->lines.size(), lines);
    QCOMPARE(r->truncated, truncated);
}

void TestReplies::progressLineDefaults()
{
    const auto r = decodeProgress(R"({"progress":[
        {"seq":1,"action":"读了 a.ts"},
        {"seq":2,"kind":null,"action":"b","detail":null,"at":""},
        {"seq":3,"kind":"edit","action":"c","detail":"d","at":"2026-03-01T10:00:00.5Z"},
        {"seq":4,"kind":"test","action":"e","at":"2026-03-01T10:00:00+00:00"}]})",
        true);
    QVERIFY(r.ok());
    QCOMPARE(r->lines[0], (ProgressLine { 1, QStringLiteral("other"), QStringLiteral("读了 a.ts"), QString(), {} }));
    QCOMPARE(r->lines[1].kind, QStringLiteral("other"));
    QVERIFY(!r->lines[1].at);
    QCOMPARE(r->lines[2].kind, QStringLiteral("edit"));
    QCOMPARE(r->lines[2].detail, QStringLiteral("d"));
    QVERIFY(r->lines[2].at);
    QVERIFY(r->lines[3].at);
}

void TestReplies::permissions_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("pending");
    QTest::newRow("effective and pending") << QByteArray(R"({"effective":{"read":true,"write":false},
                                                             "pending":["write","danger","teleport"]})")
                                           << true << QStringList { "write", "danger", "teleport" };
    QTest::newRow("no pending") << QByteArray(R"({"effective":{}})") << true << QStringList {};
    QTest::newRow("no effective") << QByteArray(R"({"pending":["write"]})") << false << QStringList {};
    QTest::newRow("effective value string") << QByteArray(R"({"effective":{"read":"yes"}})") << false << QStringList {};
    QTest::newRow("pending number") << QByteArray(R"({"effective":{},"pending":[1]})") << false << QStringList {};
}

void TestReplies::permissions()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(QStringList, pending);
    const auto r = decodePermissions(body);
    QCOMPARE(r.ok(), ok);
    if (ok)
        QCOMPARE(r->pending, pending);
}

void TestReplies::employeesShape_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("count");
    QTest::newRow("empty object") << QByteArray("{}") << true << 0;
    QTest::newRow("no template") << QByteArray(R"({"employees":[{"id":"e","name":"n","status":"s"}]})") << false << 0;
    QTest::newRow("skill without label") << QByteArray(
        R"({"employees":[{"id":"e","name":"n","status":"s","template":{"name":"x","role":"r",
                          "skills":[{"id":"k"}]}}]})")
                                         << false << 0;
}

void TestReplies::employeesShape()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(int, count);
    const auto r = decodeEmployees(body);
    QCOMPARE(r.ok(), ok);
    if (ok)
        QCOMPARE(r->size(), count);
}

void TestReplies::employeeMapping()
{
    const auto r = decodeEmployees(R"({"employees":[
        {"id":"e1","name":"小林","status":"working","template":{"name":"AI Developer","role":"后端"}},
        {"id":"e2","name":"阿周","status":"idle","device_id":"cli-box","device_current_task":"写测试",
         "device_current_task_id":"c9","device_alive":false,"device_seconds_ago":12,"device_runtime":"codex",
         "runtime_fit":"good","device_tier":"pro","done_today_on_device":4,
         "template":{"name":"ai developer","role":"前端","skills":[{"id":"s1","label":"React"},{"id":"s2","label":"CSS"}]}}]})");
    QVERIFY(r.ok());
    const TeammateBrief& a = r->at(0);
    QCOMPARE(a.role, QStringLiteral("AI 全栈工程师 · 后端"));
    QCOMPARE(a.templateName, QStringLiteral("AI 全栈工程师"));
    QVERIFY(a.skills.isEmpty());
    QCOMPARE(a.doneTodayOnDevice, 0);
    QVERIFY(!a.deviceAlive);
    QVERIFY(!a.deviceSecondsAgo);
    const TeammateBrief& b = r->at(1);
    QCOMPARE(b.templateName, QStringLiteral("ai developer"));
    QCOMPARE(b.role, QStringLiteral("ai developer · 前端"));
    QCOMPARE(b.skills, (QStringList { "React", "CSS" }));
    QCOMPARE(b.device, QStringLiteral("cli-box"));
    QCOMPARE(b.deviceAlive, std::optional<bool>(false));
    QCOMPARE(b.deviceSecondsAgo, std::optional<qint64>(12));
    QCOMPARE(b.doneTodayOnDevice, 4);
}

void TestReplies::templateTitles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::newRow("engineer") << "AI Full-Stack Engineer"
                              << "AI 全栈工程师";
    QTest::newRow("trailing blank") << "AI Sales "
                                    << "AI Sales ";
    QTest::newRow("empty") << ""
                           << "";
}

void TestReplies::templateTitles()
{
    QFETCH(QString, name);
    QFETCH(QString, title);
    QCOMPARE(templateNameZH(name), title);
}

void TestReplies::agentsAndFeed_data()
{
    QTest::addColumn<QByteArray>("agents");
    QTest::addColumn<QByteArray>("feed");
    QTest::addColumn<bool>("ok");
    QTest::newRow("empty objects") << QByteArray("{}") << QByteArray("{}") << true;
    QTest::newRow("numbers") << QByteArray(R"({"agents":[{"device":"d","runtime":1}]})")
                             << QByteArray(R"({"items":[{"id":"f","title":3}]})") << false;
    QTest::newRow("lists not arrays") << QByteArray(R"({"agents":{}})") << QByteArray(R"({"items":"x"})") << false;
}

void TestReplies::agentsAndFeed()
{
    QFETCH(QByteArray, agents);
    QFETCH(QByteArray, feed);
    QFETCH(bool, ok);
    QCOMPARE(decodeAgents(agents).ok(), ok);
    QCOMPARE(decodeFeed(feed).ok(), ok);
}

void TestReplies::gatewayErrorBody_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("description");
    QTest::addColumn<bool>("hasAdvice");
    QTest::newRow("404 with both") << 404 << QByteArray(R"({"error":"没有这个任务","code":"not_found"})") << "not_found"
                                   << "没有这个任务"
                                   << "没有这个任务" << false;
    QTest::newRow("500 html") << 500 << QByteArray("<html>oops</html>") << ""
                              << "网关回了 500"
                              << "网关回了 500" << false;
    QTest::newRow("403 grant") << 403 << QByteArray(R"({"error":"不行","code":"grant_exceeds_source"})")
                               << "grant_exceeds_source"
                               << "不行"
                               << "不行" << true;
    QTest::newRow("nulls") << 401 << QByteArray(R"({"error":null,"code":null})") << ""
                           << "网关回了 401"
                           << "网关回了 401" << false;
    QTest::newRow("not loaded") << 409 << QByteArray(R"({"code":"permissions_not_loaded"})") << "permissions_not_loaded"
                                << "网关回了 409"
                                << "网关回了 409" << true;
}

void TestReplies::gatewayErrorBody()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, code);
    QFETCH(QString, message);
    QFETCH(QString, description);
    QFETCH(bool, hasAdvice);
    const GatewayError e = GatewayError::fromReply(status, body);
    QCOMPARE(e.status, status);
    QCOMPARE(e.code, code);
    QCOMPARE(e.message, message);
    QCOMPARE(e.errorDescription(), description);
    QCOMPARE(e.advice().has_value(), hasAdvice);
    const Failure f = Failure::gateway(e);
    QCOMPARE(f.description(), description);
    QCOMPARE(f.code(), status);
}

QTEST_GUILESS_MAIN(TestReplies)
#include "tst_Replies.moc"
