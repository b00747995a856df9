// The reads of a task's evidence against the stand-in gateway: the change
// summary, the progress tail and an artifact's text, without a workspace,
// without a gateway, and with the client destroyed mid-request.
#include "core/gateway/GatewayClient.h"
#include "core/tasks/EvidenceClient.h"

#include "SimGateway.h"
#include "TempHome.h"

#include <QJsonDocument>
#include <QTcpServer>
#include <QtTest>

#include <QCoroTask>

namespace {

QJsonObject workspaceState()
{
    QJsonObject ws = QJsonDocument::fromJson(R"({
      "commands": [
        {"id":"c1","text":"写首页","status":"done","claimed_by":"dev-test","verdict":"SUCCESS"},
        {"id":"c3","text":"加分页","status":"claimed","claimed_by":"dev-test","employee_id":"e1"}
      ],
      "progress": {"c3": [{"seq":1,"kind":"read","action":"a"},{"seq":2,"kind":"edit","action":"b"},{"seq":3,"action":"c"}]},
      "changes": {"c1": {"has_changes":true,"changes_state":"ready",
        "changes":{"files":[{"path":"index.html","added":10,"hash":"h-index"},{"path":"logo.png","binary":true}]}}},
      "blobs": {"h-index": "<h1>你好</h1>"}
    })")
                         .object();
    // Two bytes that are not UTF-8, kept out of the literal above (moc reads "//" in it as a comment).
    QJsonObject blobs = ws.value(QStringLiteral("blobs")).toObject();
    blobs.insert(QStringLiteral("h-bad"),
        QJsonObject { { QStringLiteral("base64"), QString::fromLatin1(QByteArray("\xff\xfe").toBase64()) } });
    ws.insert(QStringLiteral("blobs"), blobs);
    ws.insert(QStringLiteral("workspace"), QStringLiteral("ws-t"));
    ws.insert(QStringLiteral("token"), QStringLiteral("tok-t"));
    return ws;
}

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

class TestEvidenceClient : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void fetchers();
    void artifactBounds_data();
    void artifactBounds();
    void withoutConfiguration();
    void noGatewayAnswers();
    void destroyedMidRequest_data();
    void destroyedMidRequest();

private:
    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimGateway> m_sim;
    CLIConfig m_cfg;
};

void TestEvidenceClient::init()
{
    m_home = std::make_unique<TempHome>();
    m_sim = std::make_unique<SimGateway>();
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    m_sim->control("PUT", QStringLiteral("/_sim/state/ws-t"), workspaceState());
    QCOMPARE(m_sim->lastStatus(), 200);
    m_cfg = m_sim->config(QStringLiteral("ws-t"));
    m_cfg.device = QStringLiteral("dev-test");
    m_sim->clearRequests();
}

void TestEvidenceClient::cleanup()
{
    m_sim.reset();
    m_home.reset();
}

void TestEvidenceClient::fetchers()
{
    EvidenceClient evidence;
    const TaskEvidenceSnapshot snap = waitFor(evidence.evidenceSnapshot(QStringLiteral("c1"), m_cfg));
    QCOMPARE(snap.state.kind, TaskEvidenceState::Kind::Artifacts);
    QCOMPARE(snap.state.viewable.size(), 1);
    QCOMPARE(snap.changesState, QStringLiteral("ready"));
    const TaskEvidenceSnapshot missing = waitFor(evidence.evidenceSnapshot(QStringLiteral("c-unknown"), m_cfg));
    QCOMPARE(missing.state.kind, TaskEvidenceState::Kind::Failed);

    m_sim->clearRequests();
    const auto lines = waitFor(evidence.progressLines(QStringLiteral("c3"), m_cfg, 2));
    QCOMPARE(lines.ok() ? lines->size() : -1, 2);
    QCOMPARE(matching(m_sim->requests(), "GET", route("commands/c3/progress")).at(0)["query"].toString(),
        QStringLiteral("limit=2"));

    const auto text = waitFor(evidence.artifact(QStringLiteral("h-index"), m_cfg));
    QCOMPARE(text.ok() ? *text : QString(), QStringLiteral("<h1>你好</h1>"));
    const auto bad = waitFor(evidence.artifact(QStringLiteral("h-bad"), m_cfg));
    QVERIFY(!bad.ok() && bad.failure().kind() == Failure::Kind::Decoding);
    QCOMPARE(bad.failure().description(), QStringLiteral("这份文件不是 UTF-8 文本，这里渲染不了"));
}

void TestEvidenceClient::artifactBounds_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("error"); // empty: read whole
    QTest::newRow("past a reply's cap, within a file's") << GatewayClient::kReplyBounds.maxBytes + 1024 << QString();
    QTest::newRow("past a file's cap") << GatewayClient::kBlobBounds.maxBytes + 1024
                                       << QStringLiteral("网关的回复太大（超过 32 MB），没有读完");
}

// A file a task produced has a bound of its own, larger than a JSON reply's.
void TestEvidenceClient::artifactBounds()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, error);
    m_sim->setStream("GET", route("blobs/h-index"), bytes, false);
    EvidenceClient evidence;
    const auto text = waitFor(evidence.artifact(QStringLiteral("h-index"), m_cfg));
    if (error.isEmpty())
        QCOMPARE(text.ok() ? text->size() : -1, bytes);
    else
        QCOMPARE(text.ok() ? QString() : text.failure().description(), error);
}

void TestEvidenceClient::withoutConfiguration()
{
    EvidenceClient evidence;
    const QString noWorkspace = QStringLiteral("这台电脑上还没有工作区");
    const auto lines = waitFor(evidence.progressLines(QStringLiteral("c3"), std::nullopt, 5));
    QCOMPARE(lines.failure().description(), noWorkspace);
    const auto snap = waitFor(evidence.evidenceSnapshot(QStringLiteral("c1"), std::nullopt));
    QCOMPARE(snap.state, TaskEvidenceState::failed(noWorkspace));
    const auto text = waitFor(evidence.artifact(QStringLiteral("h-index"), std::nullopt));
    QCOMPARE(text.ok() ? 0 : text.failure().code(), -1);
    QCOMPARE(text.failure().description(), noWorkspace);
    QVERIFY(m_sim->requests().isEmpty());
}

void TestEvidenceClient::noGatewayAnswers()
{
    CLIConfig cfg = m_cfg;
    cfg.api = QStringLiteral("http://127.0.0.2:") + QString::number(unusedPort());
    EvidenceClient evidence;
    evidence.client()->setHostNameForTesting(QStringLiteral("box.local"));
    const auto r = waitFor(evidence.progressLines(QStringLiteral("c3"), cfg, 5));
    QVERIFY(!r.ok());
    QCOMPARE(r.failure().kind(), Failure::Kind::Tolvarine);
    QCOMPARE(r.failure().code(), -2);
}

void TestEvidenceClient::destroyedMidRequest_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("change summary") << route("commands/c1/changes");
    QTest::newRow("progress") << route("commands/c3/progress");
    QTest::newRow("artifact") << route("blobs/h-index");
}

// Destroying the client aborts its requests: every caller resumes and ends
// (a frame left suspended is a leak LeakSanitizer reports).
void TestEvidenceClient::destroyedMidRequest()
{
    QFETCH(QString, path);
    m_sim->setFault("GET", path, 0, {}, 5000, 1);
    auto* evidence = new EvidenceClient;
    auto snapshot = evidence->evidenceSnapshot(QStringLiteral("c1"), m_cfg);
    auto lines = evidence->progressLines(QStringLiteral("c3"), m_cfg, 5);
    auto text = evidence->artifact(QStringLiteral("h-index"), m_cfg);
    QTRY_VERIFY_WITH_TIMEOUT(!matching(m_sim->requests(), "GET", path).isEmpty(), 15000);
    delete evidence;
    // Each ends; one whose reply is being decoded on the pool once its decode is done.
    QTRY_VERIFY_WITH_TIMEOUT(snapshot.isReady() && lines.isReady() && text.isReady(), 15000);
}

QTEST_GUILESS_MAIN(TestEvidenceClient)
#include "tst_EvidenceClient.moc"
