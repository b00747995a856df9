// The stand-in gateway: its token check, faults and delays. Its request log,
// retry, delete and the rest of its control API are exercised by the status
// and pairing tests that run against it.
#include "SimGateway.h"

#include <QEventLoop>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTest>

namespace {

struct Reply {
    int status = 0;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QString code() const { return json().value(QStringLiteral("code")).toString(); }
};

const QString kDemo = QStringLiteral("/api/workspaces/ws-demo/");

// One gateway request with the workspace token (or `token` when given).
Reply call(SimGateway& sim, const QByteArray& method, const QString& path, const QByteArray& body = {},
    const std::optional<QByteArray>& token = QByteArray("demo-token"))
{
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(sim.origin() + path));
    request.setTransferTimeout(10000);
    if (token)
        request.setRawHeader("Authorization", "Bearer " + *token);
    request.setRawHeader("X-Device-Id", "dev-test");
    if (!body.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QNetworkReply* reply = nam.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Reply r { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll() };
    delete reply;
    return r;
}

const QJsonObject state(SimGateway& sim, const QString& ws = QStringLiteral("ws-demo"))
{
    return sim.control("GET", QStringLiteral("/_sim/state/") + ws).object();
}

} // namespace

class tst_GatewaySim : public QObject {
    Q_OBJECT

private slots:
    void checksTheToken_data();
    void checksTheToken();
    void faultsAnswerInsteadOfTheRoute();
    void aDelayedRouteHoldsUpNoOther();
    void advancesARunningCommand();
};

void tst_GatewaySim::checksTheToken_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<std::optional<QByteArray>>("token");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("code");

    // The right token is every other test's road.
    QTest::newRow("no token") << "/api/workspaces/ws-demo/commands" << std::optional<QByteArray>() << 401
                              << "unauthorized";
    QTest::newRow("unknown workspace") << "/api/workspaces/ws-nope/commands" << std::optional<QByteArray>("demo-token")
                                       << 404 << "workspace_not_found";
}

void tst_GatewaySim::checksTheToken()
{
    QFETCH(QString, path);
    QFETCH(std::optional<QByteArray>, token);
    QFETCH(int, status);
    QFETCH(QString, code);

    SimGateway sim;
    QVERIFY2(sim.ok(), sim.output().constData());
    const Reply r = call(sim, "GET", path, {}, token);
    QCOMPARE(r.status, status);
    QCOMPARE(r.code(), code);
}

void tst_GatewaySim::faultsAnswerInsteadOfTheRoute()
{
    SimGateway sim;
    QVERIFY(sim.ok());
    const QString commands = kDemo + QStringLiteral("commands");
    const QString confirm = kDemo + QStringLiteral("permissions/write/confirm");
    sim.setFault("GET", commands, 500, "<html>down</html>", 0, 1);
    sim.setFault(
        "POST", kDemo + QStringLiteral("permissions/*"), 403, R"({"error":"nope","code":"grant_exceeds_source"})");

    Reply r = call(sim, "GET", commands);
    QCOMPARE(r.status, 500);
    QCOMPARE(r.body, QByteArray("<html>down</html>"));
    QCOMPARE(call(sim, "GET", commands).status, 200); // used up after one

    r = call(sim, "POST", confirm, R"({"approve":true,"by":"d"})");
    QCOMPARE(r.status, 403);
    QCOMPARE(r.code(), QStringLiteral("grant_exceeds_source"));
    // The fault answered, so the tier is still pending.
    QVERIFY(state(sim)["permissions"]["pending"].toArray().contains(QJsonValue(QStringLiteral("write"))));
    QCOMPARE(call(sim, "GET", kDemo + QStringLiteral("permissions")).status, 200); // other method
    QCOMPARE(sim.requests().size(), 4); // faulted requests are logged too

    sim.clearFaults();
    QCOMPARE(call(sim, "POST", confirm, R"({"approve":true,"by":"d"})").status, 200);

    sim.control("POST", QStringLiteral("/_sim/faults"),
        QJsonObject { { QStringLiteral("path"), commands }, { QStringLiteral("status"), 499 } });
    QCOMPARE(sim.lastStatus(), 400); // a status the server cannot write is refused up front
}

void tst_GatewaySim::aDelayedRouteHoldsUpNoOther()
{
    SimGateway sim;
    QVERIFY(sim.ok());
    sim.setFault("GET", kDemo + QStringLiteral("feed"), 0, {}, 3000);

    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    const auto get = [&](const QString& path) {
        QNetworkRequest request(QUrl(sim.origin() + kDemo + path));
        request.setRawHeader("Authorization", "Bearer demo-token");
        return nam.get(request);
    };
    QStringList finished;
    QNetworkReply* slow = get(QStringLiteral("feed"));
    QTest::qWait(100);
    QNetworkReply* fast = get(QStringLiteral("agents"));
    connect(slow, &QNetworkReply::finished, this, [&] { finished << QStringLiteral("feed"); });
    connect(fast, &QNetworkReply::finished, this, [&] { finished << QStringLiteral("agents"); });
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 15000);
    QCOMPARE(finished, (QStringList { QStringLiteral("agents"), QStringLiteral("feed") }));
    // The delayed route still gives its normal reply.
    QCOMPARE(slow->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QVERIFY(QJsonDocument::fromJson(slow->readAll()).object().value(QStringLiteral("items")).isArray());
    delete slow;
    delete fast;
}

void tst_GatewaySim::advancesARunningCommand()
{
    SimGateway sim;
    QVERIFY(sim.ok());
    // Two steps every 50 ms, not repeated: a progress line, then a file that
    // replaces c-105's diff-only document entry.
    const QJsonObject advance = QJsonDocument::fromJson(R"({"c-105": {"every_ms": 50, "steps": [
        {"progress": {"kind": "test", "action": "运行测试"}},
        {"file": {"path": "docs/api/checkout.md", "added": 20, "deleted": 3, "hash": "hd"}, "blobs": {"hd": "文档"}}
    ]}})")
                                    .object();
    sim.control("PATCH", QStringLiteral("/_sim/state/ws-demo"), QJsonObject { { QStringLiteral("advance"), advance } });
    QCOMPARE(sim.lastStatus(), 200);
    // Both steps taken (the file is the second), then a few more ticks in which nothing may repeat.
    const auto added = [&] {
        const QJsonValue changes = call(sim, "GET", kDemo + QStringLiteral("commands/c-105/changes")).json()["changes"];
        return changes["added"].toInt();
    };
    QTRY_COMPARE_WITH_TIMEOUT(added(), 154 - 14 + 20, 30000);
    QTest::qWait(300);

    const QJsonArray lines
        = call(sim, "GET", kDemo + QStringLiteral("commands/c-105/progress")).json()["progress"].toArray();
    QCOMPARE(lines.size(), 13); // twelve in the scenario, one step; not repeated
    const QJsonObject last = lines.last().toObject();
    QCOMPARE(last["seq"].toInt(), 13);
    QCOMPARE(last["action"].toString(), QStringLiteral("运行测试"));
    QVERIFY(!last["at"].toString().isEmpty());
    const QJsonValue changes = call(sim, "GET", kDemo + QStringLiteral("commands/c-105/changes")).json()["changes"];
    QCOMPARE(changes["files"].toArray().size(), 5);
    QCOMPARE(changes["added"].toInt(), 154 - 14 + 20); // the sums over the files
    QCOMPARE(call(sim, "GET", kDemo + QStringLiteral("blobs/hd")).body, QByteArray("文档"));
}

QTEST_GUILESS_MAIN(tst_GatewaySim)
#include "tst_GatewaySim.moc"
