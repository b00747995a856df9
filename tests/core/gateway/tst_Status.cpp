#include "core/gateway/Status.h"

#include "SimGateway.h"
#include "TempHome.h"

#include <QJsonDocument>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTcpServer>
#include <QThreadPool>
#include <QtTest>

#include <QCoroTask>

namespace {

const QString kDevice = QStringLiteral("dev-test");

QJsonObject obj(const char* text)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(text), &err);
    if (err.error != QJsonParseError::NoError)
        qFatal("bad JSON literal in test: %s", qPrintable(err.errorString()));
    return doc.object();
}

// A workspace the tests own entirely; written into the stand-in before each test.
QJsonObject workspaceState(const QString& id, const QString& token)
{
    QJsonObject ws = obj(R"({
      "name": "Test Shop",
      "commands": [
        {"id":"c1","text":"写首页","status":"done","claimed_by":"dev-test","verdict":"SUCCESS"},
        {"id":"c2","text":"迁移脚本","status":"failed","error":"ssh 超时","employee_id":"e2"},
        {"id":"c3","text":"加分页","status":"claimed","claimed_by":"dev-test","employee_id":"e1"},
        {"id":"c4","text":"写文档","status":"pending","employee_id":"e3"},
        {"id":"a/b?c#d","text":"奇怪的编号","status":"failed"}
      ],
      "runners": [{"device_id":"dev-other","seconds_ago":3},{"device_id":"dev-test","seconds_ago":7}],
      "runners_read": true,
      "progress": {"c3": [{"seq":1,"kind":"read","action":"a"},{"seq":2,"kind":"edit","action":"b"},{"seq":3,"action":"c"}]},
      "changes": {"c1": {"has_changes":true,"changes_state":"ready",
        "changes":{"files":[{"path":"index.html","added":10,"hash":"h-index"},{"path":"logo.png","binary":true}]}}},
      "blobs": {"h-index": "<h1>你好</h1>"},
      "employees": [
        {"id":"e1","name":"小林","status":"working","device_id":"dev-test","template":{"name":"AI Developer","role":"后端"}},
        {"id":"e2","name":"阿何","status":"idle","template":{"name":"AI SRE / DevOps","role":"运维"}},
        {"id":"e3","name":"小周","status":"idle","template":{"name":"AI Assistant","role":"文档"}}
      ],
      "agents": [{"device":"dev-test","runtime":"codex"},{"device":"dev-test","runtime":"codex"},
                 {"device":"dev-other","runtime":"claude"}],
      "feed": [
        {"id":"f1","task_id":"c4","category":"approval","title":"要不要上线","status":"pending"},
        {"id":"f2","task_id":"c2","category":"failed","title":"迁移失败"},
        {"id":"x/y","task_id":"c9","category":"conflict","title":"冲突"}
      ],
      "permissions": {"effective":{"read":true},"pending":[],"ceiling":["read","write","exec"]}
    })");
    // Two bytes that are not UTF-8, kept out of the literal above (moc reads "//" in it as a comment).
    QJsonObject blobs = ws.value(QStringLiteral("blobs")).toObject();
    blobs.insert(QStringLiteral("h-bad"),
        QJsonObject { { QStringLiteral("base64"), QString::fromLatin1(QByteArray("\xff\xfe").toBase64()) } });
    ws.insert(QStringLiteral("blobs"), blobs);
    ws.insert(QStringLiteral("workspace"), id);
    ws.insert(QStringLiteral("token"), token);
    return ws;
}

QStringList paths(const QJsonArray& log)
{
    QStringList out;
    for (const QJsonValue& v : log)
        out.append(v.toObject().value(QStringLiteral("method")).toString() + QLatin1Char(' ')
            + v.toObject().value(QStringLiteral("path")).toString());
    return out;
}

// A path of the test's own workspace's API.
QString route(const QString& rest)
{
    return QStringLiteral("/api/workspaces/ws-t/") + rest;
}

quint16 unusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

using QCoro::waitFor;

class TestStatus : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void reloadPublishesEverything();
    void commandsLoadedFirstAndAlone();
    void pairingFiles();
    void noConfiguration();
    void resolutionFallsBackAndCaches();
    void noGatewayAnswers();
    void loaderFailures();
    void aDrippingReplyEndsInTime();
    void presenceRules();
    void autoConfirmation();
    void autoConfirmationOncePerSpell();
    void overlappingReloadsOfTwoWorkspaces();
    void olderLoadsOfTheSameWorkspaceAreDropped();
    void switchingWorkspacesKeepsNothingOfTheOld();
    void aDecodingOvertakenByASwitchIsDropped();
    void destroyedMidRequest_data();
    void destroyedMidRequest();
    void actions();
    void actionsWithoutConfiguration();
    void actionErrorsCarryAdvice();
    void dotSegmentsAreRefused();
    void commandListReadOnlyWhenItChanges();

private:
    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimGateway> m_sim;
    CLIConfig m_cfg;

    // Puts workspace "ws-<x>" (token "tok-<x>"): the usual state with `keys` over it.
    CLIConfig putWorkspace(const QString& x, const char* keys = "{}")
    {
        QJsonObject ws = workspaceState(QStringLiteral("ws-") + x, QStringLiteral("tok-") + x);
        const QJsonObject over = obj(keys);
        for (auto it = over.begin(); it != over.end(); ++it)
            ws.insert(it.key(), it.value());
        m_sim->control("PUT", QStringLiteral("/_sim/state/ws-") + x, ws);
        [&] { QCOMPARE(m_sim->lastStatus(), 200); }();
        return CLIConfig { m_sim->origin(), ws.value(QStringLiteral("workspace")).toString(),
            ws.value(QStringLiteral("token")).toString(), std::nullopt, kDevice };
    }
    void patch(const char* keys) { m_sim->control("PATCH", QStringLiteral("/_sim/state/ws-t"), obj(keys)); }
    // How many requests with `method` reached `path` since the log was last cleared.
    int hits(const char* method, const QString& path)
    {
        return int(matching(m_sim->requests(), QString::fromLatin1(method), path).size());
    }
};

void TestStatus::init()
{
    m_home = std::make_unique<TempHome>();
    m_sim = std::make_unique<SimGateway>();
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    m_cfg = putWorkspace(QStringLiteral("t"));
    m_sim->clearRequests();
}

void TestStatus::cleanup()
{
    m_sim.reset();
    m_home.reset();
}

void TestStatus::reloadPublishesEverything()
{
    Status status;
    QSignalSpy changed(&status, &Status::changed);
    QCOMPARE(status.presence(), AgentPresence::unknown(QStringLiteral("还没读过")));
    waitFor(status.reload(m_cfg));
    QVERIFY(changed.count() > 0);

    QCOMPARE(status.config(), std::optional<CLIConfig>(m_cfg));
    QCOMPARE(status.commands().size(), 5);
    QCOMPARE(status.presence(), AgentPresence::online(7));
    QVERIFY(!status.lastError());
    QCOMPARE(status.progressOf(), std::optional<QString>(QStringLiteral("c3")));
    QCOMPARE(status.progress().size(), 3);
    QCOMPARE(status.team().size(), 3);
    QCOMPARE(status.deviceRuntimes().value(QStringLiteral("dev-test")), QStringList { QStringLiteral("codex") });
    QCOMPARE(status.pendingApprovalItems().size(), 2);
    QCOMPARE(status.waitingTaskIDs(), (QSet<QString> { "c4", "c9" }));
    QVERIFY(status.runtimeState().byThisMachine);
    QCOMPARE(status.usage(QStringLiteral("write")), PermUse::used());

    // Every request carries the token and this device's id.
    const QJsonArray log = m_sim->requests();
    for (const QJsonValue& v : log) {
        const QJsonObject headers = v.toObject().value(QStringLiteral("headers")).toObject();
        if (v.toObject().value(QStringLiteral("path")).toString() == QLatin1String("/healthz"))
            continue;
        QCOMPARE(headers.value(QStringLiteral("authorization")).toString(), QStringLiteral("Bearer tok-t"));
        QCOMPARE(headers.value(QStringLiteral("x-device-id")).toString(), kDevice);
    }
    const QJsonArray progress = matching(log, "GET", route("commands/c3/progress"));
    QCOMPARE(progress.size(), 1);
    QCOMPARE(progress[0]["query"].toString(), QStringLiteral("limit=200"));
}

void TestStatus::commandsLoadedFirstAndAlone()
{
    // While the command list is slow, nothing else is asked for.
    m_sim->setFault("GET", route("commands"), 0, {}, 300, 1);
    Status status;
    waitFor(status.reload(m_cfg));
    QStringList order = paths(m_sim->requests());
    order.removeAll(QStringLiteral("GET /healthz"));
    QCOMPARE(order.first(), QStringLiteral("GET /api/workspaces/ws-t/commands"));
    QCOMPARE(order.size(), 6);
}

void TestStatus::pairingFiles()
{
    CLIConfig plain = m_cfg;
    plain.device.reset();
    CLIConfig protectedCfg = m_cfg;
    protectedCfg.name = QStringLiteral("受保护");
    const auto writeProtected
        = [&](const QByteArray& text) { m_home->writeFile(QStringLiteral(".tolvarine-protected/config.json"), text); };
    Status status;

    // A protected file that is not JSON, or lacks a key, is passed over.
    m_home->writeFile(QStringLiteral(".tolvarine/config.json"), QJsonDocument(plain.toJson()).toJson());
    writeProtected("{not json");
    qputenv("TOLVARINE_HOME", QFile::encodeName(m_home->filePath(QStringLiteral("elsewhere"))));
    waitFor(status.reload());
    qunsetenv("TOLVARINE_HOME");
    QCOMPARE(status.config(), std::optional<CLIConfig>(plain));
    QCOMPARE(status.commands().size(), 5);

    QJsonObject noToken = protectedCfg.toJson();
    noToken.remove(QStringLiteral("token"));
    writeProtected(QJsonDocument(noToken).toJson());
    waitFor(status.reload());
    QCOMPARE(status.config(), std::optional<CLIConfig>(plain));

    // Both valid: the protected one wins.
    writeProtected(QJsonDocument(protectedCfg.toJson()).toJson());
    waitFor(status.reload());
    QCOMPARE(status.config(), std::optional<CLIConfig>(protectedCfg));

    // A configuration passed in is used as it is.
    CLIConfig other = m_cfg;
    other.workspace = QStringLiteral("ws-nowhere");
    waitFor(status.reload(other));
    QCOMPARE(status.config(), std::optional<CLIConfig>(other));
}

void TestStatus::noConfiguration()
{
    Status status;
    waitFor(status.reload(m_cfg));
    m_sim->clearRequests();

    const quint64 mark = status.loadsStarted();
    waitFor(status.reload());
    QVERIFY(!status.config());
    // Nothing more comes for lack of a workspace: whoever waits for a list read after this reload is let go.
    for (const Status::Load kind : { Status::Commands, Status::Progress, Status::Perms, Status::Team, Status::Agents })
        QVERIFY2(status.publishedSince(kind, mark), qPrintable(QString::number(kind)));
    QCOMPARE(status.presence(), AgentPresence::unknown(QStringLiteral("本机还没有配对过任何工作区")));
    // The roster, the feed and the rest keep what the last reload left.
    QCOMPARE(status.team().size(), 3);
    QCOMPARE(status.pendingApprovalItems().size(), 2);
    QCOMPARE(status.progressOf(), std::optional<QString>(QStringLiteral("c3")));
    QVERIFY(m_sim->requests().isEmpty());
}

void TestStatus::resolutionFallsBackAndCaches()
{
    // The recorded address does not answer; 127.0.0.1 on the same port does.
    CLIConfig cfg = m_cfg;
    cfg.api = QStringLiteral("http://127.0.0.2:") + QString::number(m_sim->port());
    Status status;
    status.client()->setHostNameForTesting(QStringLiteral("box"));
    QSignalSpy endpoint(&status, &Status::endpointChanged);
    waitFor(status.reload(cfg));
    QCOMPARE(status.commands().size(), 5);
    QVERIFY(!status.reachableEndpoint());
    const std::optional<QString> note(QStringLiteral("配置里记的是 ") + cfg.api
        + QStringLiteral("（配对当时的地址），现在够不着；已自动改用 ") + m_sim->origin()
        + QStringLiteral("。手机那边仍然用配置里那个地址。"));
    QCOMPARE(status.endpointNote(), note);
    QVERIFY(endpoint.count() >= 1);

    // The note always describes the address shown: none where nothing answers
    // or the configured address does, and the cached origin's once back.
    CLIConfig nowhere = m_cfg;
    nowhere.api = QStringLiteral("http://127.0.0.2:") + QString::number(unusedPort());
    waitFor(status.reload(nowhere));
    QVERIFY(!status.endpointNote());
    waitFor(status.reload(m_cfg));
    QVERIFY(!status.endpointNote());
    QVERIFY(!status.reachableEndpoint());
    waitFor(status.reload(cfg));
    QCOMPARE(status.endpointNote(), note);

    // Once cached, each request probes the cached origin once and nothing else.
    m_sim->clearRequests();
    QVERIFY(waitFor(status.client()->get(cfg, route("agents"), kDevice)).ok());
    QCOMPARE(paths(m_sim->requests()), (QStringList { "GET /healthz", "GET /api/workspaces/ws-t/agents" }));

    // A cached origin that is the configured address and does not answer is
    // not asked a second time in the same round.
    waitFor(status.reload(m_cfg));
    m_sim->setFault("GET", QStringLiteral("/healthz"), 503, {});
    m_sim->clearRequests();
    QVERIFY(!waitFor(status.client()->get(m_cfg, route("agents"), kDevice)).ok());
    QCOMPARE(paths(m_sim->requests()), (QStringList { "GET /healthz" }));
    m_sim->clearFaults();
}

void TestStatus::noGatewayAnswers()
{
    const quint16 port = unusedPort();
    CLIConfig cfg = m_cfg;
    cfg.api = QStringLiteral("http://127.0.0.2:") + QString::number(port);
    Status status;
    status.client()->setHostNameForTesting(QStringLiteral("box.local"));
    waitFor(status.reload(cfg));
    const QString expected = QStringLiteral("连不上网关。试过：") + cfg.api + QStringLiteral("、http://box.local:")
        + QString::number(port) + QStringLiteral("、http://127.0.0.1:") + QString::number(port)
        + QStringLiteral("。网关是否在跑：docker compose ps");
    QCOMPARE(status.commandsError(), std::optional<QString>(expected));
    QCOMPARE(status.lastError(), std::optional<QString>(expected));
    QCOMPARE(status.presence(), AgentPresence::unknown(expected));
    QCOMPARE(status.runtimeState().kind, RuntimeState::Kind::Unknown);
    QCOMPARE(status.permsError(), std::optional<QString>(expected));
    QVERIFY(!status.endpointNote());
}

// A reply that drips a byte at a time keeps restarting the transfer
// time-out; the request's deadline ends it, says so, and the next reload reads again.
void TestStatus::aDrippingReplyEndsInTime()
{
    Status status;
    status.client()->setDeadlineForTesting(1000);
    m_sim->setStream("GET", route("commands"), -2, false, 100, 1);
    waitFor(status.reload(m_cfg));
    QCOMPARE(status.commandsError(), std::optional<QString>(QStringLiteral("网关 1 秒内没有回复")));
    waitFor(status.reload(m_cfg));
    QCOMPARE(status.commandsError(), std::nullopt);
    QCOMPARE(status.commands().size(), 5);
}

void TestStatus::loaderFailures()
{
    Status status;
    waitFor(status.reload(m_cfg));
    QCOMPARE(status.deviceRuntimes().size(), 2);

    m_sim->setFault("GET", route("commands"), 500, "<html>oops</html>");
    m_sim->setFault("GET", route("employees"), 404, R"({"error":"no such route"})");
    m_sim->setFault("GET", route("agents"), 503, R"({"error":"忙"})");
    m_sim->setFault("GET", route("permissions"), 409, R"({"error":"","code":"permissions_not_loaded"})");
    patch(R"({"feed":[{"id":"f9","category":"approval","title":3}]})");
    QSignalSpy published(&status, &Status::feedChanged);
    QSignalSpy unreadable(&status, &Status::feedErrorChanged);
    waitFor(status.reload(m_cfg));

    QCOMPARE(status.commandsError(), std::optional<QString>(QStringLiteral("网关回了 500")));
    QVERIFY(status.commands().isEmpty() && status.runners().isEmpty());
    QCOMPARE(status.presence(), AgentPresence::unknown(QStringLiteral("网关回了 500")));
    QVERIFY(!status.progressOf()); // with no commands there is nothing to follow
    QVERIFY(status.team().isEmpty());
    QCOMPARE(
        status.teamError(), std::optional<QString>(QStringLiteral("这台网关还没有 AI 团队这条接口（升级后端即可）")));
    QCOMPARE(status.agentsError(), std::optional<QString>(QStringLiteral("忙")));
    QCOMPARE(status.deviceRuntimes().size(), 2);
    QVERIFY(status.perms().isEmpty());
    QCOMPARE(status.permsError(), std::optional<QString>(QStringLiteral("网关回了 409")));
    // An undecodable feed changes nothing and publishes nothing; only why it could not be read is kept.
    QCOMPARE(status.pendingApprovalItems().size(), 2);
    QCOMPARE(published.size(), 0);
    QCOMPARE(unreadable.size(), 1);
    QVERIFY(status.feedError());

    // The progress of a known command that cannot be read.
    m_sim->clearFaults();
    m_sim->setFault("GET", route("commands/c3/progress"), 200, R"({"total":3})");
    patch(R"({"employees":[{"id":"e1","name":"x","status":"s"}]})");
    waitFor(status.reload(m_cfg));
    QCOMPARE(status.progressOf(), std::optional<QString>(QStringLiteral("c3")));
    QVERIFY(status.progressError());
    QVERIFY(status.progress().isEmpty());
    QVERIFY(status.usage(QStringLiteral("read")).reason.startsWith(QStringLiteral("进度读不到（")));
    QVERIFY(status.team().isEmpty() && status.teamError());
    QVERIFY(!status.agentsError());
}

void TestStatus::presenceRules()
{
    Status status;
    waitFor(status.reload(m_cfg));
    // Heartbeats that could not be read keep the runners last seen.
    patch(R"({"runners_read":false,"runners":[{"device_id":"dev-test","seconds_ago":1}]})");
    waitFor(status.reload(m_cfg));
    QCOMPARE(status.presence(), AgentPresence::unknown(QStringLiteral("服务端说心跳读不到")));
    QCOMPARE(status.runners().size(), 2);
    patch(R"({"runners_read":true,"runners":[]})");
    waitFor(status.reload(m_cfg));
    QCOMPARE(status.presence(), AgentPresence::never());
}

void TestStatus::autoConfirmation()
{
    patch(R"({"permissions":{"effective":{"read":true},"pending":["write","danger","teleport"],
                                "ceiling":["read","write","danger"]}})");
    Status status;
    waitFor(status.reload(m_cfg));
    const QJsonArray writes = matching(m_sim->requests(), "POST", route("permissions/write/confirm"));
    QCOMPARE(writes.size(), 1);
    QCOMPARE(QJsonDocument::fromJson(writes[0].toObject().value("body").toString().toUtf8()).object(),
        (QJsonObject { { "approve", true }, { "by", kDevice } }));
    QCOMPARE(
        hits("POST", route("permissions/danger/confirm")) + hits("POST", route("permissions/teleport/confirm")), 0);
    // One success: the permissions are read once more, without confirming again.
    QCOMPARE(hits("GET", route("permissions")), 2);
    QVERIFY(status.autoConfirmed().contains(QStringLiteral("write")));
    QCOMPARE(status.pendingPerms(), QStringList { QStringLiteral("danger") });
    QCOMPARE(status.perms()[1].state, PermState::Granted);
    QCOMPARE(status.perms()[5].state, PermState::Pending);
    QCOMPARE(status.runtimeState().kind, RuntimeState::Kind::Running); // the claimed command wins over the grant
}

void TestStatus::autoConfirmationOncePerSpell()
{
    // "exec" is beyond what this machine declared: the confirmation fails.
    patch(R"({"commands":[],"permissions":{"effective":{},"pending":["exec"],"ceiling":["read"]}})");
    Status status;
    waitFor(status.reload(m_cfg));
    const QString confirm = route("permissions/exec/confirm");
    QCOMPARE(hits("POST", confirm), 1);
    QVERIFY(status.autoFailed().contains(QStringLiteral("exec")));
    QVERIFY(status.autoConfirmed().isEmpty());
    // Every confirmation failed: no second permission read.
    QCOMPARE(hits("GET", route("permissions")), 1);
    QCOMPARE(status.runtimeState().kind, RuntimeState::Kind::AwaitingGrant);
    QCOMPARE(status.runtimeState().grants, QStringList { QStringLiteral("exec") });

    // Still pending: not tried again.
    waitFor(status.reload(m_cfg));
    QCOMPARE(hits("POST", confirm), 1);

    // Gone and back: a new spell, tried once more.
    patch(R"({"permissions":{"effective":{},"pending":[],"ceiling":["read"]}})");
    waitFor(status.reload(m_cfg));
    patch(R"({"permissions":{"effective":{},"pending":["exec"],"ceiling":["read","exec"]}})");
    waitFor(status.reload(m_cfg));
    QCOMPARE(hits("POST", confirm), 2);
    QVERIFY(status.autoConfirmed().contains(QStringLiteral("exec")));
    QVERIFY(!status.autoFailed().contains(QStringLiteral("exec")));
}

void TestStatus::overlappingReloadsOfTwoWorkspaces()
{
    // Workspace A has a tier pending and answers slowly; the window switches to B meanwhile.
    const CLIConfig cfgA = putWorkspace(
        QStringLiteral("a"), R"({"permissions":{"effective":{},"pending":["write"],"ceiling":["write"]}})");
    const CLIConfig cfgB = putWorkspace(QStringLiteral("b"),
        R"({"commands":[{"id":"b1","text":"B 的任务","status":"pending"}],"employees":[],"feed":[]})");
    m_sim->setFault("*", QStringLiteral("/api/workspaces/ws-a/*"), 0, {}, 400);
    m_sim->clearRequests();

    Status status;
    auto slow = status.reload(cfgA);
    waitFor(status.reload(cfgB));
    waitFor(slow);

    QCOMPARE(status.config(), std::optional<CLIConfig>(cfgB));
    QCOMPARE(status.commands().size(), 1);
    QCOMPARE(status.commands()[0].id, QStringLiteral("b1"));
    QVERIFY(status.team().isEmpty());
    QVERIFY(status.pendingApprovalItems().isEmpty());
    QVERIFY(status.perms()[1].state != PermState::Pending);
    QVERIFY(!status.progressOf());
    // A's tier was never confirmed in B, nor with B's token.
    QCOMPARE(hits("POST", QStringLiteral("/api/workspaces/ws-b/permissions/write/confirm")), 0);
    for (const QJsonValue& v : m_sim->requests()) {
        const QJsonObject r = v.toObject();
        if (r.value("path").toString().startsWith(QLatin1String("/api/workspaces/ws-a/")))
            QCOMPARE(r.value("headers").toObject().value("authorization").toString(), QStringLiteral("Bearer tok-a"));
    }
}

void TestStatus::olderLoadsOfTheSameWorkspaceAreDropped()
{
    // The first reload's feed answers slowly; meanwhile the user approves an
    // item and a second reload shows it gone. The first answer, read before
    // the approval, arrives last and must not bring the item back.
    m_sim->setFault("GET", route("feed"), 0, {}, 1000, 1);
    Status status;
    auto first = status.reload(m_cfg);
    QTRY_COMPARE(hits("GET", route("feed")), 1);
    QVERIFY(waitFor(status.act(QStringLiteral("f1"), QStringLiteral("continue"), QString(), m_cfg)).ok());
    waitFor(status.reload(m_cfg));
    QCOMPARE(status.pendingApprovalItems().size(), 1);
    waitFor(first);
    QCOMPARE(status.pendingApprovalItems().size(), 1);

    // Automatic confirmation reads the permissions once more after confirming;
    // when a reload starts after that read, its answer is the one that stays.
    patch(R"({"permissions":{"effective":{"read":true},"pending":["write"],"ceiling":["read","write","exec"]}})");
    m_sim->clearRequests();
    m_sim->setFault("POST", route("permissions/write/confirm"), 0, {}, 300, 1);
    auto confirming = status.reload(m_cfg);
    QTRY_COMPARE(hits("POST", route("permissions/write/confirm")), 1);
    m_sim->setFault("GET", route("permissions"), 0, {}, 1000, 1);
    QTRY_COMPARE(hits("GET", route("permissions")), 2);
    patch(R"({"permissions":{"effective":{"read":true,"write":true,"exec":true},"pending":[],
                                "ceiling":["read","write","exec"]}})");
    waitFor(status.reload(m_cfg));
    waitFor(confirming);
    QCOMPARE(status.perms()[2].key, QStringLiteral("exec"));
    QCOMPARE(status.perms()[2].state, PermState::Granted);
}

void TestStatus::switchingWorkspacesKeepsNothingOfTheOld()
{
    // Both workspaces have "write" pending; A has approvals and a tier it may
    // not confirm, B's feed cannot be read.
    const CLIConfig cfgA = putWorkspace(
        QStringLiteral("a"), R"({"permissions":{"effective":{},"pending":["write","exec"],"ceiling":["write"]}})");
    const CLIConfig cfgB = putWorkspace(
        QStringLiteral("b"), R"({"permissions":{"effective":{},"pending":["write"],"ceiling":["write"]}})");
    Status status;
    waitFor(status.reload(cfgA));
    QVERIFY(!status.pendingApprovalItems().isEmpty());
    QCOMPARE(status.feedConfig(), std::optional<CLIConfig>(cfgA));
    QVERIFY(status.autoFailed().contains(QStringLiteral("exec")));

    m_sim->setFault("GET", QStringLiteral("/api/workspaces/ws-b/feed"), 500);
    m_sim->clearRequests();
    waitFor(status.reload(cfgB));
    // A's approvals are not offered as B's, and B's own "write" is confirmed too.
    QVERIFY(status.pendingApprovalItems().isEmpty() && status.failedFeedItems().isEmpty());
    QVERIFY(!status.feedConfig());
    QCOMPARE(hits("POST", QStringLiteral("/api/workspaces/ws-b/permissions/write/confirm")), 1);
    // A's failed confirmation does not colour B; back in A it is A's again, not tried anew.
    QVERIFY(status.autoFailed().isEmpty());
    QCOMPARE(status.autoConfirmed().keys(), QStringList { QStringLiteral("write") });
    waitFor(status.reload(cfgA));
    QVERIFY(status.autoFailed().contains(QStringLiteral("exec")));
    QCOMPARE(hits("POST", QStringLiteral("/api/workspaces/ws-a/permissions/exec/confirm")), 0);

    // A reload without any configuration keeps A's lists; the next workspace shown still does not inherit them.
    QVERIFY(!status.pendingApprovalItems().isEmpty());
    waitFor(status.reload(std::nullopt));
    QVERIFY(!status.config() && !status.pendingApprovalItems().isEmpty());
    QCOMPARE(status.feedConfig(), std::optional<CLIConfig>(cfgA));
    waitFor(status.reload(cfgB));
    QVERIFY(status.pendingApprovalItems().isEmpty() && !status.feedConfig());

    // The same workspace paired again with a new token: its lists act with the new one, even before its feed reads.
    waitFor(status.reload(cfgA));
    CLIConfig renewed = cfgA;
    renewed.token = QStringLiteral("tok-a2");
    m_sim->setFault("GET", QStringLiteral("/api/workspaces/ws-a/feed"), 500);
    waitFor(status.reload(renewed));
    QVERIFY(!status.pendingApprovalItems().isEmpty());
    QCOMPARE(status.feedConfig(), std::optional<CLIConfig>(renewed));
}

// Replies are decoded off the GUI thread: a reply of the workspace left that
// was still being decoded when another was shown is dropped once decoded.
void TestStatus::aDecodingOvertakenByASwitchIsDropped()
{
    const CLIConfig cfgA = putWorkspace(QStringLiteral("a"));
    const CLIConfig cfgB = putWorkspace(QStringLiteral("b"));
    // A's roster fails late: by then its feed has come and waits to be decoded.
    m_sim->setFault("GET", QStringLiteral("/api/workspaces/ws-a/employees"), 500, {}, 1000, 1);
    // B's feed cannot be read, so nothing of B would replace A's lists.
    m_sim->setFault("GET", QStringLiteral("/api/workspaces/ws-b/feed"), 500);

    // Once A's command list is shown, decoding waits until the pool's threads are let go.
    QThreadPool* pool = QThreadPool::globalInstance();
    const auto gate = std::make_shared<QSemaphore>();
    const auto letGo = qScopeGuard([&] { gate->release(pool->maxThreadCount()); });
    bool held = false;
    const auto hold = [&] {
        if (std::exchange(held, true))
            return;
        for (int i = 0; i < pool->maxThreadCount(); ++i)
            pool->start([gate] { gate->acquire(); });
    };
    Status status;
    QList<std::optional<CLIConfig>> feeds;
    connect(&status, &Status::commandsChanged, &status, hold);
    connect(&status, &Status::feedChanged, &status, [&] { feeds.append(status.feedConfig()); });
    auto first = status.reload(cfgA);
    QTRY_VERIFY_WITH_TIMEOUT(status.teamError(), 10000);
    QVERIFY(held);
    auto second = status.reload(cfgB);
    gate->release(pool->maxThreadCount());
    waitFor(second);
    waitFor(first);
    QCOMPARE(status.config(), std::optional<CLIConfig>(cfgB));
    QVERIFY(status.pendingApprovalItems().isEmpty() && status.failedFeedItems().isEmpty());
    QVERIFY(!feeds.contains(std::optional<CLIConfig>(cfgA)));
    QVERIFY(status.feedError());
}

void TestStatus::destroyedMidRequest_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::newRow("resolving the address") << QByteArray("GET") << QStringLiteral("/healthz");
    QTest::newRow("command list") << QByteArray("GET") << route("commands");
    QTest::newRow("feed, among the parallel loads") << QByteArray("GET") << route("feed");
    QTest::newRow("automatic confirmation") << QByteArray("POST") << route("permissions/write/confirm");
}

void TestStatus::destroyedMidRequest()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    patch(R"({"permissions":{"effective":{},"pending":["write"],"ceiling":["write"]}})");
    m_sim->setFault(method, path, 0, {}, 5000, 1);
    auto* status = new Status;
    auto reload = status->reload(m_cfg);
    QTRY_VERIFY_WITH_TIMEOUT(hits(method.constData(), path) > 0, 15000);
    delete status;
    // The whole chain resumes and ends (a frame left suspended is a leak
    // LeakSanitizer reports); a load whose reply is being decoded on the pool
    // meanwhile ends once its decode is done.
    QTRY_VERIFY_WITH_TIMEOUT(reload.isReady(), 15000);
}

void TestStatus::actions()
{
    Status status;
    waitFor(status.reload(m_cfg));
    m_sim->clearRequests();

    // Ids are percent-encoded into the path.
    QVERIFY(waitFor(status.act(QStringLiteral("x/y"), QStringLiteral("continue"), QString(), m_cfg)).ok());
    QVERIFY(waitFor(status.retryCommand(QStringLiteral("a/b?c#d"), m_cfg)).ok());
    QVERIFY(waitFor(status.deleteCommand(QStringLiteral("c1"), m_cfg)).ok());
    QVERIFY(waitFor(status.confirmPermission(QStringLiteral("exec"), true, status.config())).ok());

    const QJsonArray log = m_sim->requests();
    const auto bodyOf = [&](const QString& path) {
        const QJsonArray posted = matching(log, "POST", path);
        return posted.size() == 1 ? posted[0].toObject().value("body").toString() : QStringLiteral("<missing>");
    };
    QCOMPARE(QJsonDocument::fromJson(bodyOf(route("feed/x%2Fy/act")).toUtf8()).object(),
        (QJsonObject { { "action", "continue" }, { "note", "" }, { "by", kDevice } }));
    QCOMPARE(bodyOf(route("commands/a%2Fb%3Fc%23d/retry")), QStringLiteral("{}"));
    QCOMPARE(bodyOf(route("commands/c1/delete")), QStringLiteral("{}"));
    QCOMPARE(QJsonDocument::fromJson(bodyOf(route("permissions/exec/confirm")).toUtf8()).object(),
        (QJsonObject { { "approve", true }, { "by", kDevice } }));

    // Actions publish nothing; the next reload shows their effect.
    QCOMPARE(status.commands().size(), 5);
    waitFor(status.reload(m_cfg));
    QStringList ids;
    for (const CommandBrief& c : status.commands())
        ids.append(c.id + QLatin1Char('=') + c.status);
    QVERIFY(!ids.contains(QStringLiteral("c1=done")));
    QVERIFY(ids.contains(QStringLiteral("a/b?c#d=pending")));
    QCOMPARE(status.pendingApprovalItems().size(), 1);
    QCOMPARE(status.perms()[2].state, PermState::Granted);
}

void TestStatus::actionsWithoutConfiguration()
{
    Status status;
    const QString noWorkspace = QStringLiteral("这台电脑上还没有工作区");
    const Result<> act = waitFor(status.act(QStringLiteral("f1"), QStringLiteral("ignore"), QString(), std::nullopt));
    const Result<> retry = waitFor(status.retryCommand(QStringLiteral("c2"), std::nullopt));
    for (const Result<>& r : { act, retry }) {
        QCOMPARE(r.ok() ? 0 : r.failure().code(), -1);
        QCOMPARE(r.failure().description(), noWorkspace);
    }
    const Result<> confirm = waitFor(status.confirmPermission(QStringLiteral("write"), true, status.config()));
    QCOMPARE(confirm.ok() ? QString() : confirm.failure().description(), QStringLiteral("本机还没有配对过任何工作区"));
    QVERIFY(m_sim->requests().isEmpty());
}

void TestStatus::actionErrorsCarryAdvice()
{
    Status status;
    waitFor(status.reload(m_cfg));
    // "danger" is not in this machine's declaration.
    const Result<> over = waitFor(status.confirmPermission(QStringLiteral("danger"), true, status.config()));
    QVERIFY(!over.ok());
    QCOMPARE(over.failure().kind(), Failure::Kind::Gateway);
    QCOMPARE(over.failure().gatewayError()->status, 403);
    QCOMPARE(over.failure().advice(),
        std::optional<QString>(
            QStringLiteral("这一档不能远程开——它要求本机先声明允许，而只有 `brenlow grant` 会写那份声明。")));
    // Acting twice on one item: the gateway's own message, no advice.
    QVERIFY(waitFor(status.act(QStringLiteral("f1"), QStringLiteral("ignore"), QString(), m_cfg)).ok());
    const Result<> again = waitFor(status.act(QStringLiteral("f1"), QStringLiteral("ignore"), QString(), m_cfg));
    QCOMPARE(again.failure().gatewayError()->status, 409);
    QVERIFY(!again.failure().advice());
    QVERIFY(!again.failure().description().isEmpty());
}

// A dot segment would address the collection itself: refused without a
// request, with a text naming the id (workspace or item) that cannot be one.
void TestStatus::dotSegmentsAreRefused()
{
    Status status;
    const QList<QPair<QString, QString>> bad { { "ws-t", ".." }, { "..", "c1" } };
    for (const auto& [workspace, id] : bad) {
        CLIConfig cfg = m_cfg;
        cfg.workspace = workspace;
        const Result<> r = waitFor(status.deleteCommand(id, cfg));
        QCOMPARE(r.ok() ? 0 : r.failure().code(), -1);
        QCOMPARE(r.failure().description(),
            QStringLiteral("编号“") + (id == QLatin1String("c1") ? workspace : id)
                + QStringLiteral("”放不进网关请求的路径"));
    }
    QVERIFY(m_sim->requests().isEmpty());
}

// A poll that brings the same command list back takes its records as they
// were read, but the runners' heartbeat ages are read anew; any change in the
// list is read anew, and a reply that fails after one that read well is a
// failure, never the old list.
void TestStatus::commandListReadOnlyWhenItChanges()
{
    Status status;
    waitFor(status.reload(m_cfg));
    const QList<CommandBrief> first = status.commands();
    QVERIFY(!first.isEmpty());
    patch(R"({"runners_read":true,"runners":[{"device_id":"dev-test","seconds_ago":400}]})");
    waitFor(status.reload(m_cfg));
    QCOMPARE(status.commands(), first);
    QCOMPARE(status.runners().first().secondsAgo, 400);
    patch(R"({"commands":[{"id":"c9","text":"新","status":"pending"}]})");
    waitFor(status.reload(m_cfg));
    QCOMPARE(status.commands().size(), 1);
    QCOMPARE(status.commands().first().id, QStringLiteral("c9"));
    patch(R"({"commands":[{"id":"c9","status":"pending"}]})");
    waitFor(status.reload(m_cfg));
    QVERIFY(status.commands().isEmpty() && status.commandsError());
}

QTEST_GUILESS_MAIN(TestStatus)
#include "tst_Status.moc"
