// Decoding of what the gateway and the pairing files hold: JSON readers, gateway times, replies, configurations.
#include "core/gateway/CLIConfig.h"
#include "core/gateway/GatewayTime.h"
#include "core/gateway/Json.h"
#include "core/gateway/Replies.h"
#include "core/gateway/TaskEvidence.h"
#include "core/platform/DisplayText.h"

#include <QCoroTask>
#include <QJsonDocument>
#include <QThreadPool>
#include <QtTest>

using namespace replies;

namespace {

// How a decoder took a body: accepted, or the kind of its failure.
template <typename T> std::optional<Failure::Kind> refusal(const Result<T>& r)
{
    return r.ok() ? std::nullopt : std::optional<Failure::Kind>(r.failure().kind());
}

} // namespace

class TestReplies : public QObject {
    Q_OBJECT
private slots:
    void shapes_data();
    void shapes();
    void commandFields();
    void commandsInParts_data();
    void commandsInParts();
    void commandsReused_data();
    void commandsReused();
    void listInReply_data();
    void listInReply();
    void replyMemo();
    void progressAndPermissionFields();
    void employeeMapping();
    void shownTexts_data();
    void shownTexts();
    void failureNamesAKeyCut();
    void gatewayErrorBody_data();
    void gatewayErrorBody();
    void jsonStrictTypes_data();
    void jsonStrictTypes();
    void jsonLenient();
    void timeAgo_data();
    void timeAgo();
    void timeParse_data();
    void timeParse();
    void configDecoding_data();
    void configDecoding();
    void configDeviceAndRoundTrip();
};

// Which bodies each reply's strict decoder accepts; every refusal is a decoding failure.
void TestReplies::shapes_data()
{
    QTest::addColumn<QString>("decoder");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    const auto row = [](const char* name, const char* decoder, const char* body, bool ok) {
        QTest::newRow(name) << QString::fromLatin1(decoder) << QByteArray(body) << ok;
    };
    row("commands: empty object", "commands", "{}", true);
    row("commands: nulls", "commands", R"({"commands":null,"runners":null,"runners_read":null})", true);
    row("commands: files_touched as string", "commands",
        R"({"commands":[{"id":"a","text":"t","status":"done","files_touched":"true"}]})", false);
    row("commands: missing text", "commands", R"({"commands":[{"id":"a","status":"done"}]})", false);
    row("commands: seconds_ago fractional", "commands", R"({"runners":[{"device_id":"d","seconds_ago":2.5}]})", false);
    row("commands: html", "commands", "<html></html>", false);
    row("progress: missing, loader", "progress", "{}", false);
    row("progress: seq string", "progress", R"({"progress":[{"seq":"1","action":"a"}]})", false);
    row("progress: no action, fetcher", "progress fetcher", R"({"progress":[{"seq":1}]})", false);
    row("permissions: no pending", "permissions", R"({"effective":{}})", true);
    row("permissions: no effective", "permissions", R"({"pending":["write"]})", false);
    row("permissions: effective value string", "permissions", R"({"effective":{"read":"yes"}})", false);
    row("permissions: pending number", "permissions", R"({"effective":{},"pending":[1]})", false);
    row("employees: empty object", "employees", "{}", true);
    row("employees: no template", "employees", R"({"employees":[{"id":"e","name":"n","status":"s"}]})", false);
    row("employees: skill without label", "employees",
        R"({"employees":[{"id":"e","name":"n","status":"s","template":{"name":"x","role":"r","skills":[{"id":"k"}]}}]})",
        false);
    row("agents: empty object", "agents", "{}", true);
    row("agents: runtime number", "agents", R"({"agents":[{"device":"d","runtime":1}]})", false);
    row("agents: not an array", "agents", R"({"agents":{}})", false);
    row("feed: empty object", "feed", "{}", true);
    row("feed: title number", "feed", R"({"items":[{"id":"f","title":3}]})", false);
    row("feed: not an array", "feed", R"({"items":"x"})", false);
}

void TestReplies::shapes()
{
    QFETCH(QString, decoder);
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    std::optional<Failure::Kind> r;
    if (decoder == QLatin1String("commands")) {
        const auto c = decodeCommands(body);
        QVERIFY(!c.ok() || (c->commands.isEmpty() && c->runners.isEmpty() && !c->runnersRead));
        r = refusal(c);
    } else if (decoder.startsWith(QLatin1String("progress"))) {
        r = refusal(decodeProgress(body, decoder == QLatin1String("progress")));
    } else if (decoder == QLatin1String("permissions")) {
        r = refusal(decodePermissions(body));
    } else if (decoder == QLatin1String("employees")) {
        r = refusal(decodeEmployees(body));
    } else if (decoder == QLatin1String("agents")) {
        r = refusal(decodeAgents(body));
    } else {
        r = refusal(decodeFeed(body));
    }
    QCOMPARE(!r, ok);
    if (r)
        QCOMPARE(*r, Failure::Kind::Decoding);
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
    QCOMPARE(a.issuedAt, QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC));
    QVERIFY(a.completedAt);
    QCOMPARE(a.completedAt->toUTC(), QDateTime(QDate(2026, 3, 1), QTime(2, 5, 0, 250), Qt::UTC));
    QCOMPARE(a.filesTouched, std::optional<bool>(false));
    QCOMPARE(a.dependsOn, QStringList { QStringLiteral("c0") });
    QVERIFY(!a.claimedAt); // not a gateway timestamp
    const CommandBrief& b = r->commands[1];
    QCOMPARE(b.claimedBy, QString());
    QVERIFY(!b.filesTouched);
    QVERIFY(b.dependsOn.isEmpty());
    QVERIFY(!b.issuedAt);
}

// Read in parts side by side, a long list reads as in one pass, and a bad
// record fails it with the same (first) place named; a record that is not
// JSON (-index) makes the whole reply not JSON, wherever it is.
void TestReplies::commandsInParts_data()
{
    QTest::addColumn<QList<int>>("bad");
    QTest::addColumn<QByteArray>("separator");
    QTest::newRow("all good") << QList<int> {} << QByteArray(",");
    QTest::newRow("spaced, brackets in texts") << QList<int> {} << QByteArray(" ,\n\t");
    QTest::newRow("bad in two parts") << QList<int> { 1000, 300 } << QByteArray(",");
    QTest::newRow("last record bad") << QList<int> { 1099 } << QByteArray(",");
    QTest::newRow("not JSON after a bad record") << QList<int> { 100, -900 } << QByteArray(",");
    QTest::newRow("not JSON, first") << QList<int> { -1 } << QByteArray(",");
}

void TestReplies::commandsInParts()
{
    QFETCH(QList<int>, bad);
    QFETCH(QByteArray, separator);
    QByteArray body = R"({"runners_read":true,"runners":[{"device_id":"d","seconds_ago":2}],"commands":[)";
    for (int i = 0; i < 1100; ++i) {
        body += (i ? separator : QByteArray())
            + QStringLiteral(R"({"id":"c%1","status":"done","issued_at":"2026-03-01T10:00:%2Z")")
                  .arg(i)
                  .arg(i % 60, 2, 10, QLatin1Char('0'))
                  .toUtf8();
        body += bad.contains(i) ? "}" : bad.contains(-i - 1) ? ",}" : R"(,"text":"t ],[{\"\\"})";
    }
    body += "]}";
    const Result<Commands> once = decodeCommands(body);
    const Result<CommandsReading> parts = QCoro::waitFor(decodeCommandsOn(QThreadPool::globalInstance(), body));
    QCOMPARE(parts.ok(), bad.isEmpty());
    if (bad.isEmpty()) {
        QCOMPARE(parts->commands.commands.size(), 1100);
        QCOMPARE(parts->commands.commands, once->commands);
        QCOMPARE(parts->commands.runners, once->runners);
        QVERIFY(parts->commands.runnersRead);
    } else {
        QCOMPARE(parts.failure().description(), once.failure().description());
        const int first = *std::min_element(bad.cbegin(), bad.cend());
        QVERIFY(parts.failure().description().contains(
            first < 0 ? QStringLiteral("不是 JSON 对象") : QStringLiteral("commands[%1]").arg(first)));
    }
}

// Given the previous reading, a list compared equal in every part takes the
// records as they were; one changed record anywhere (either side of a part's
// edge, the last) makes the whole list read again.
void TestReplies::commandsReused_data()
{
    QTest::addColumn<int>("changed"); // -1: none
    QTest::newRow("unchanged") << -1;
    QTest::newRow("first") << 0;
    QTest::newRow("before a part's edge") << 274;
    QTest::newRow("after a part's edge") << 275;
    QTest::newRow("last") << 1099;
}

void TestReplies::commandsReused()
{
    QFETCH(int, changed);
    const auto list = [](int altered) {
        QByteArray body = R"({"runners_read":true,"runners":[],"commands":[)";
        for (int i = 0; i < 1100; ++i)
            body += QStringLiteral(R"(%1{"id":"c%2","status":"done","text":"%3"})")
                        .arg(i ? QStringLiteral(",") : QString())
                        .arg(i)
                        .arg(i == altered ? QStringLiteral("new") : QStringLiteral("old"))
                        .toUtf8();
        return body + "]}";
    };
    QThreadPool* pool = QThreadPool::globalInstance();
    const Result<CommandsReading> first = QCoro::waitFor(decodeCommandsOn(pool, list(-1)));
    QVERIFY(first.ok());
    const Result<CommandsReading> again = QCoro::waitFor(decodeCommandsOn(pool, list(changed), *first));
    QVERIFY(again.ok());
    QCOMPARE(again->commands.commands, decodeCommands(list(changed))->commands);
    // Unchanged, the records are the ones read before, not read again.
    QCOMPARE(again->commands.commands.at(500).id.constData() == first->commands.commands.at(500).id.constData(),
        changed < 0);
}

// Where the command list lies in a reply: only a top-level key spelt plainly,
// once; everything inside strings, objects and arrays is skipped.
void TestReplies::listInReply_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QByteArray>("value"); // empty: none found
    QTest::newRow("plain") << QByteArray(R"({"commands":[{"id":"a"}]})") << QByteArray(R"([{"id":"a"}])");
    QTest::newRow("spaced, last") << QByteArray(
        " {\n \"runners\" : [1, {\"commands\":2}] ,\t\"commands\" :\r\n[ ] \n}\n")
                                  << QByteArray("[ ]");
    QTest::newRow("after strings with quotes and brackets")
        << QByteArray(R"({"a":"x\"]}{","b":{"commands":"no"},"n":-1.5e3,"t":true,"commands":[],"z":null})")
        << QByteArray("[]");
    QTest::newRow("a scalar") << QByteArray(R"({"commands":12,"x":1})") << QByteArray("12");
    QTest::newRow("only nested") << QByteArray(R"({"x":{"commands":[]}})") << QByteArray();
    QTest::newRow("twice") << QByteArray(R"({"commands":[],"commands":[1]})") << QByteArray();
    QTest::newRow("escaped key") << QByteArray(R"({"comm\u0061nds":[1],"commands":[]})") << QByteArray();
    QTest::newRow("not an object") << QByteArray(R"([{"commands":[]}])") << QByteArray();
}

void TestReplies::listInReply()
{
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, value);
    const auto found = topLevelValue(json, "commands");
    QCOMPARE(found.has_value(), !value.isEmpty());
    if (found)
        QCOMPARE(json.mid(found->first, found->second), value);
}

// The same bytes from the same place are decoded once (off the calling
// thread); another place, other bytes or a failed decoding decode again.
void TestReplies::replyMemo()
{
    int decoded = 0;
    const auto decode = [&decoded](const QByteArray& body) -> Result<int> {
        ++decoded;
        if (body == "bad")
            return Failure::transport(QStringLiteral("bad"));
        return int(body.size());
    };
    ReplyMemo<int> memo;
    const auto read = [&](const QString& source, const QByteArray& body) {
        return QCoro::waitFor(memo.readOn(decodePool(), source, body, decode));
    };
    QCOMPARE(read(QStringLiteral("a"), "xy").value(), 2);
    QCOMPARE(read(QStringLiteral("a"), "xy").value(), 2);
    QCOMPARE(decoded, 1);
    QCOMPARE(read(QStringLiteral("b"), "xy").value(), 2);
    QCOMPARE(read(QStringLiteral("b"), "xyz").value(), 3);
    QCOMPARE(decoded, 3);
    QVERIFY(!read(QStringLiteral("b"), "bad").ok());
    QVERIFY(!read(QStringLiteral("b"), "bad").ok());
    QCOMPARE(read(QStringLiteral("b"), "xyz").value(), 3);
    QCOMPARE(decoded, 6);
    // What a memo keeps outlives it: a decoding it started still ends.
    auto memoGone = std::make_unique<ReplyMemo<int>>();
    auto reading = memoGone->readOn(decodePool(), QStringLiteral("c"), "abcd", decode);
    memoGone.reset();
    QCOMPARE(QCoro::waitFor(std::move(reading)).value(), 4);
}

void TestReplies::progressAndPermissionFields()
{
    const auto r = decodeProgress(R"({"progress":[
        {"seq":1,"action":"读了 a.ts"},
        {"seq":2,"kind":null,"action":"b","detail":null,"at":""},
        {"seq":3,"kind":"edit","action":"c","detail":"d","at":"2026-03-01T10:00:00.5Z"},
        {"seq":4,"kind":"test","action":"e","at":"2026-03-01T10:00:00+00:00"}],"total":9,"truncated":true})",
        true);
    QVERIFY(r.ok());
    QVERIFY(r->truncated);
    QCOMPARE(r->lines[0], (ProgressLine { 1, QStringLiteral("other"), QStringLiteral("读了 a.ts"), QString(), {} }));
    QCOMPARE(r->lines[1].kind, QStringLiteral("other"));
    QVERIFY(!r->lines[1].at);
    QCOMPARE(r->lines[2].kind, QStringLiteral("edit"));
    QCOMPARE(r->lines[2].detail, QStringLiteral("d"));
    QVERIFY(r->lines[2].at && r->lines[3].at);
    // The fetcher (progress not required) ignores "truncated".
    const auto fetched = decodeProgress(R"({"progress":[{"seq":1,"action":"a"}],"truncated":true})", false);
    QVERIFY(fetched.ok() && !fetched->truncated);

    const auto perms
        = decodePermissions(R"({"effective":{"read":true,"write":false},"pending":["write","danger","teleport"]})");
    QCOMPARE(perms.ok() ? perms->pending : QStringList(), (QStringList { "write", "danger", "teleport" }));
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
    QCOMPARE(b.deviceAlive, std::optional<bool>(false));
    QCOMPARE(b.deviceSecondsAgo, std::optional<qint64>(12));
    QCOMPARE(b.doneTodayOnDevice, 4);
}

void TestReplies::gatewayErrorBody_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message"); // also the description
    QTest::addColumn<bool>("hasAdvice");
    QTest::addColumn<QString>("token"); // the token the request carried
    const auto row = [](const char* name, int status, const char* body, const char* code, const char* message,
                         bool advice, const char* token = "") {
        QTest::newRow(name) << status << QByteArray(body) << QString::fromUtf8(code) << QString::fromUtf8(message)
                            << advice << QString::fromUtf8(token);
    };
    row("404 with both", 404, R"({"error":"没有这个任务","code":"not_found"})", "not_found", "没有这个任务", false);
    row("500 html", 500, "<html>oops</html>", "", "网关回了 500", false);
    row("403 grant", 403, R"({"error":"不行","code":"grant_exceeds_source"})", "grant_exceeds_source", "不行", true);
    row("nulls", 401, R"({"error":null,"code":null})", "", "网关回了 401", false);
    row("not loaded", 409, R"({"code":"permissions_not_loaded"})", "permissions_not_loaded", "网关回了 409", true);
    // What the gateway echoes of the request is shown without its credentials.
    row("echoed header", 401, R"({"error":"rejected Authorization: Bearer zq81-ab, expired"})", "",
        "rejected Authorization: Bearer ****, expired", false, "zq81-ab");
    row("own token bare", 403, R"({"error":"workspace key zq81-ab is not known here"})", "",
        "workspace key **** is not known here", false, "zq81-ab");
    row("other credentials", 400, R"({"error":"upstream said: api_key=sk-ant-0123456789abcdef"})", "",
        "upstream said: api_key=****", false, "zq81-ab");
    const QByteArray longMessage = QByteArray(R"({"error":")") + QByteArray(20000, 'm') + QByteArray(R"("})");
    QTest::newRow("longer than shown") << 500 << longMessage << QString()
                                       << QString(DisplayText::kTextLength, QLatin1Char('m')) + QStringLiteral("…")
                                       << false << QString();
}

void TestReplies::gatewayErrorBody()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, code);
    QFETCH(QString, message);
    QFETCH(bool, hasAdvice);
    QFETCH(QString, token);
    const GatewayError e = GatewayError::fromReply(status, body, { token });
    QCOMPARE(e.status, status);
    QCOMPARE(e.code, code);
    QCOMPARE(e.message, message);
    QCOMPARE(e.errorDescription(), message);
    QCOMPARE(e.advice().has_value(), hasAdvice);
    const Failure f = Failure::gateway(e);
    QCOMPARE(f.description(), message);
    QCOMPARE(f.code(), status);
}

// Texts reach the views cut to a display length, names with their direction
// controls written out; ids stay whole, the requests need them.
void TestReplies::shownTexts_data()
{
    QTest::addColumn<QString>("reply"); // which decoder
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("shown");

    const QString longText(20000, QChar(u'长'));
    const QString cut = longText.left(DisplayText::kTextLength) + QStringLiteral("…");
    const QString longName(2000, QLatin1Char('n'));
    const QString nameCut = longName.left(DisplayText::kNameLength) + QStringLiteral("…");
    const auto row = [](const char* name, const char* reply, const char* key, const QString& value,
                         const QString& shown) { QTest::newRow(name) << reply << key << value << shown; };
    row("task text", "commands", "text", longText, cut);
    row("task error", "commands", "error", longText, cut);
    row("task summary", "commands", "summary", longText, cut);
    row("claimant", "commands", "claimed_by", longName, nameCut);
    row("override in a claimant", "commands", "claimed_by", QStringLiteral("cli-\u202Egnp.exe"),
        QStringLiteral("cli-[U+202E]gnp.exe"));
    row("task id", "commands", "id", longText, longText);
    row("employee name", "employees", "name", QStringLiteral("\u2067王\u2069二"),
        QStringLiteral("[U+2067]王[U+2069]二"));
    row("employee current task", "employees", "device_current_task", longText, cut);
    row("progress action", "progress", "action", longText, cut);
    row("feed title", "feed", "title", longText, cut);
    row("feed origin", "feed", "origin_device", QStringLiteral("\u200Fbox"), QStringLiteral("[U+200F]box"));
    row("changed file", "changes", "path", QStringLiteral("out/\u202Egnp.exe"), QStringLiteral("out/[U+202E]gnp.exe"));
    // A diff is cut where it is shown, with the task's other diffs.
    row("diff", "changes", "hunk", longText, longText);
}

void TestReplies::shownTexts()
{
    QFETCH(QString, reply);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, shown);
    const auto body = [&key, &value](QJsonObject record, const QString& list, const QString& top) {
        record.insert(key, value);
        QJsonObject outer { { list, QJsonArray { record } } };
        if (!top.isEmpty())
            outer = QJsonObject { { top, outer } };
        return QJsonDocument(outer).toJson(QJsonDocument::Compact);
    };
    QString got;
    if (reply == QLatin1String("commands")) {
        const auto r = decodeCommands(
            body({ { "id", "c1" }, { "text", "t" }, { "status", "done" } }, QStringLiteral("commands"), QString()));
        QVERIFY(r.ok());
        const CommandBrief& c = r->commands.at(0);
        got = key == QLatin1String("id")      ? c.id
            : key == QLatin1String("text")    ? c.text
            : key == QLatin1String("error")   ? c.error
            : key == QLatin1String("summary") ? c.summary
                                              : c.claimedBy;
    } else if (reply == QLatin1String("employees")) {
        const auto r = decodeEmployees(body({ { "id", "e1" }, { "name", "n" }, { "status", "idle" },
                                                { "template", QJsonObject { { "name", "x" }, { "role", "y" } } } },
            QStringLiteral("employees"), QString()));
        QVERIFY(r.ok());
        got = key == QLatin1String("name") ? r->at(0).name : r->at(0).deviceTask;
    } else if (reply == QLatin1String("progress")) {
        const auto r
            = decodeProgress(body({ { "seq", 1 }, { "action", "a" } }, QStringLiteral("progress"), QString()), true);
        QVERIFY(r.ok());
        got = r->lines.at(0).action;
    } else if (reply == QLatin1String("feed")) {
        const auto r = decodeFeed(body({ { "id", "f1" } }, QStringLiteral("items"), QString()));
        QVERIFY(r.ok());
        got = (key == QLatin1String("title") ? r->at(0).title : r->at(0).originDevice).value_or(QString());
    } else {
        const auto r = DeskChangesResponse::fromJson(
            body({ { "path", "p" }, { "hash", "h1" } }, QStringLiteral("files"), QStringLiteral("changes")));
        QVERIFY(r && r->changes);
        const DeskFileChange& f = r->changes->files.at(0);
        got = key == QLatin1String("path") ? f.path : f.hunk;
    }
    QCOMPARE(got, shown);
}

// A reply refused for a key the gateway chose names that key as it may be shown.
void TestReplies::failureNamesAKeyCut()
{
    const QString key = QStringLiteral("\u202E") + QString(3000, QLatin1Char('k'));
    const QJsonObject body { { "effective", QJsonObject { { key, "yes" } } } };
    const auto r = decodePermissions(QJsonDocument(body).toJson(QJsonDocument::Compact));
    QVERIFY(!r.ok());
    QCOMPARE(r.failure().description(),
        QStringLiteral("网关的回复格式不对（effective.[U+202E]")
            + QString(DisplayText::kNameLength - QStringLiteral("effective.\u202E").size(), QLatin1Char('k'))
            + QStringLiteral("…）"));
}

void TestReplies::jsonStrictTypes_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("ok");
    QTest::newRow("all present") << QByteArray(R"({"s":"x","n":3,"b":true,"l":["a"]})") << true;
    QTest::newRow("optionals null") << QByteArray(R"({"s":"x","n":null,"b":null,"l":null})") << true;
    QTest::newRow("required null") << QByteArray(R"({"s":null})") << false;
    QTest::newRow("string as number") << QByteArray(R"({"s":"x","n":"3"})") << false;
    QTest::newRow("fractional int") << QByteArray(R"({"s":"x","n":3.5})") << false;
    QTest::newRow("integral double") << QByteArray(R"({"s":"x","n":4.0})") << true;
    QTest::newRow("mixed list") << QByteArray(R"({"s":"x","l":["a",1]})") << false;
}

void TestReplies::jsonStrictTypes()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, ok);
    const auto o = json::parseObject(json);
    QVERIFY(o);
    json::StrictReader r(*o);
    r.requiredString("s");
    r.optionalInt("n");
    r.optionalBool("b");
    r.optionalStringList("l");
    QCOMPARE(r.ok(), ok);
}

void TestReplies::jsonLenient()
{
    const auto o = json::parseObject(R"({"s":3,"n":"7","m":7,"b":"yes","l":["a",2,"c"],"a":{}})");
    QVERIFY(o);
    json::LenientReader r(*o);
    QCOMPARE(r.string("s"), QString());
    QCOMPARE(r.integer("n", -1), qint64(-1));
    QCOMPARE(r.integer("m"), qint64(7));
    QCOMPARE(r.boolean("b", true), true);
    QCOMPARE(r.stringList("l"), QStringList({ "a", "c" }));
    QVERIFY(r.array("a").isEmpty());
    QVERIFY(!json::parseObject("[1]"));
    QVERIFY(json::parseArray("[1]"));
}

void TestReplies::timeAgo_data()
{
    QTest::addColumn<qint64>("secs");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << qint64(0) << "0 秒前";
    QTest::newRow("60") << qint64(60) << "1 分钟前";
    QTest::newRow("3600") << qint64(3600) << "1 小时前";
    QTest::newRow("big, no grouping") << qint64(86400) * 12345 << "12345 天前";
    QTest::newRow("negative") << qint64(-5) << "-5 秒前";
}

void TestReplies::timeAgo()
{
    QFETCH(qint64, secs);
    QFETCH(QString, text);
    QCOMPARE(GatewayTime::agoSecs(secs), text);
}

void TestReplies::timeParse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint64>("msecsUtc");
    const qint64 base = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC).toMSecsSinceEpoch();
    QTest::newRow("plain Z") << "2026-03-04T05:06:07Z" << true << base;
    QTest::newRow("fraction") << "2026-03-04T05:06:07.250Z" << true << base + 250;
    QTest::newRow("micro fraction") << "2026-03-04T05:06:07.250000Z" << true << base + 250;
    QTest::newRow("offset") << "2026-03-04T13:06:07+08:00" << true << base;
    QTest::newRow("no zone") << "2026-03-04T05:06:07" << false << qint64(0);
    QTest::newRow("no seconds") << "2026-03-04T05:06Z" << false << qint64(0);
    QTest::newRow("compact offset") << "2026-03-04T13:06:07+0800" << false << qint64(0);
    // Times whose UTC form leaves the four-digit years: they could not be written back.
    QTest::newRow("past 9999 in UTC") << "9999-12-31T23:59:59-14:00" << false << qint64(0);
    QTest::newRow("fraction rounds past 9999") << "9999-12-31T23:59:59.9999Z" << false << qint64(0);
    QTest::newRow("before year 1 in UTC") << "0001-01-01T00:00:00+01:00" << false << qint64(0);
    QTest::newRow("last second") << "9999-12-31T23:59:59Z" << true
                                 << QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC).toMSecsSinceEpoch();
    // The common shapes take a quicker road; fields out of range are refused there as on the general one.
    QTest::newRow("milliseconds") << "2026-03-04T05:06:07.009Z" << true << base + 9;
    QTest::newRow("leap day") << "2024-02-29T00:00:00Z" << true
                              << QDateTime(QDate(2024, 2, 29), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    QTest::newRow("no leap day") << "2026-02-29T00:00:00Z" << false << qint64(0);
    QTest::newRow("month 13") << "2026-13-04T05:06:07Z" << false << qint64(0);
    QTest::newRow("end of day") << "2026-03-04T24:00:00Z" << true
                                << QDateTime(QDate(2026, 3, 5), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    QTest::newRow("leap second") << "2026-03-04T05:06:60Z" << false << qint64(0);
    QTest::newRow("year 0") << "0000-03-04T05:06:07Z" << false << qint64(0);
    QTest::newRow("sign in a field") << "2026-03-+4T05:06:07Z" << false << qint64(0);
    QTest::newRow("lower-case zone") << "2026-03-04T05:06:07z" << false << qint64(0);
}

void TestReplies::timeParse()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(qint64, msecsUtc);
    const auto dt = GatewayTime::parse(text);
    QCOMPARE(dt.has_value(), valid);
    if (valid)
        QCOMPARE(dt->toMSecsSinceEpoch(), msecsUtc);
}

void TestReplies::configDecoding_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("name"); // "<absent>" for none
    QTest::addColumn<QString>("shown"); // the display name

    const QByteArray base = R"("api":"http://h:1","workspace":"abcdefghijkl","token":"t")";
    const auto row = [&](const char* tag, const QByteArray& extra, bool ok, const QString& name, const QString& shown) {
        QTest::newRow(tag) << ("{" + base + extra + "}") << ok << name << shown;
    };
    row("required only: first eight of the id", "", true, "<absent>", "abcdefgh");
    row("null name is absent", R"(,"name":null)", true, "<absent>", "abcdefgh");
    row("empty name falls to the folder", R"(,"name":"","path":"/Users/x/code/shop")", true, "", "shop");
    row("unknown key ignored, name wins", R"(,"extra":[1,{"x":2}],"name":"N","path":"/x/y")", true, "N", "N");
    row("trailing slash", R"(,"path":"/home/a/proj/")", true, "<absent>", "proj");
    row("number path fails", R"(,"path":42)", false, "", "");
    row("name turned around", R"(,"name":"\u202egnp.exe")", true, QStringLiteral("\u202egnp.exe"), "[U+202E]gnp.exe");
    const QString endless(200000, QLatin1Char('n'));
    const QString cut = QString(DisplayText::kNameLength, QLatin1Char('n')) + QStringLiteral("…");
    row("endless name", ",\"name\":\"" + endless.toUtf8() + "\"", true, endless, cut);
    row("endless folder", ",\"path\":\"/x/" + endless.toUtf8() + "\"", true, "<absent>", cut);
    QTest::newRow("missing token") << QByteArray(R"({"api":"a","workspace":"w"})") << false << ""
                                   << "";
    // Eight characters as the user sees them: a letter keeps its accent.
    const QString accented = QStringLiteral("e\u0301");
    QTest::newRow("first eight of id, marks kept")
        << (R"({"api":"a","workspace":")" + accented.repeated(9) + R"(","token":"t"})").toUtf8() << true << "<absent>"
        << accented.repeated(8);
}

void TestReplies::configDecoding()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, ok);
    QFETCH(QString, name);
    QFETCH(QString, shown);
    const auto c = CLIConfig::fromJson(json);
    QCOMPARE(c.has_value(), ok);
    if (!ok)
        return;
    QCOMPARE(c->name, name == QLatin1String("<absent>") ? std::nullopt : std::optional<QString>(name));
    QCOMPARE(c->displayName(), shown);
}

void TestReplies::configDeviceAndRoundTrip()
{
    CLIConfig c { "http://127.0.0.1:18091", "ws", "tok" };
    c.device = QString(); // an empty device id is none
    QCOMPARE(c.deviceId(), QStringLiteral("cli-") + CLIConfig::hostname());
    c.device = QStringLiteral("desktop-mini");
    QCOMPARE(c.deviceId(), QStringLiteral("desktop-mini"));

    c.runtimeKind = QStringLiteral("codex");
    c.name = QString();
    const QJsonObject o = c.toJson();
    QVERIFY(!o.contains(QStringLiteral("path")));
    QCOMPARE(o.value(QStringLiteral("runtime_kind")).toString(), QStringLiteral("codex"));
    QCOMPARE(CLIConfig::fromJson(o), std::optional<CLIConfig>(c));
    // An absent name and an empty one are different configurations.
    CLIConfig d = c;
    d.name.reset();
    QVERIFY(!(c == d));
}

QTEST_GUILESS_MAIN(TestReplies)
#include "tst_Replies.moc"
