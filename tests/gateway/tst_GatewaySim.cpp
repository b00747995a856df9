// The stand-in gateway: its token check, request log, faults, control API and
// the state changes the application relies on.
#include "SimGateway.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Reply {
    int status = 0;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

} // namespace

class tst_GatewaySim : public QObject {
    Q_OBJECT

private:
    // One gateway request with the workspace token (or `token` when given).
    Reply call(SimGateway& sim, const QByteArray& method, const QString& path, const QByteArray& body = {},
        const std::optional<QByteArray>& token = QByteArray("demo-token"));
    QNetworkReply* start(QNetworkAccessManager& nam, SimGateway& sim, const QString& path);
    QJsonObject state(SimGateway& sim, const QString& ws = QStringLiteral("ws-demo"))
    {
        return sim.control("GET", QStringLiteral("/_sim/state/") + ws).object();
    }
    static QJsonObject byId(const QJsonArray& list, const QString& id);

private slots:
    void startsAndChecksTheToken_data();
    void startsAndChecksTheToken();
    void logsRequestsAsSent();
    void faultsAnswerInsteadOfTheRoute();
    void aDelayedRouteHoldsUpNoOther();
    void progressServesTheTail();
    void evidenceAndBlobs();
    void confirmChangesPermissions_data();
    void confirmChangesPermissions();
    void grantDeclarationSetsTheCeiling();
    void actDecidesFeedItems_data();
    void actDecidesFeedItems();
    void retryAndDelete();
    void stateEditsAndNewWorkspaces();
    void pairStart_data();
    void pairStart();
    void generatesTheLargeScenario();
};

Reply tst_GatewaySim::call(SimGateway& sim, const QByteArray& method, const QString& path, const QByteArray& body,
    const std::optional<QByteArray>& token)
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
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Reply r { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll() };
    delete reply;
    return r;
}

QNetworkReply* tst_GatewaySim::start(QNetworkAccessManager& nam, SimGateway& sim, const QString& path)
{
    QNetworkRequest request(QUrl(sim.origin() + path));
    request.setTransferTimeout(10000);
    request.setRawHeader("Authorization", "Bearer demo-token");
    return nam.get(request);
}

QJsonObject tst_GatewaySim::byId(const QJsonArray& list, const QString& id)
{
    for (const QJsonValue& v : list) {
        if (v.toObject().value(QStringLiteral("id")).toString() == id)
            return v.toObject();
    }
    return {};
}

void tst_GatewaySim::startsAndChecksTheToken_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<std::optional<QByteArray>>("token");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("code");

    const std::optional<QByteArray> none;
    QTest::newRow("health needs no token") << "/healthz" << none << 200 << "";
    QTest::newRow("no token") << "/api/workspaces/ws-demo/commands" << none << 401 << "unauthorized";
    QTest::newRow("wrong token") << "/api/workspaces/ws-demo/commands" << std::optional<QByteArray>("blog-token") << 401
                                 << "unauthorized";
    QTest::newRow("right token") << "/api/workspaces/ws-demo/commands" << std::optional<QByteArray>("demo-token") << 200
                                 << "";
    QTest::newRow("other workspace's token")
        << "/api/workspaces/ws-blog/feed" << std::optional<QByteArray>("blog-token") << 200 << "";
    QTest::newRow("unknown workspace") << "/api/workspaces/ws-nope/commands" << std::optional<QByteArray>("demo-token")
                                       << 404 << "workspace_not_found";
    QTest::newRow("unknown route") << "/api/workspaces/ws-demo/nothing" << std::optional<QByteArray>("demo-token")
                                   << 404 << "not_found";
}

void tst_GatewaySim::startsAndChecksTheToken()
{
    QFETCH(QString, path);
    QFETCH(std::optional<QByteArray>, token);
    QFETCH(int, status);
    QFETCH(QString, code);

    SimGateway sim;
    QVERIFY2(sim.ok(), sim.output().constData());
    const Reply r = call(sim, "GET", path, {}, token);
    QCOMPARE(r.status, status);
    if (!code.isEmpty()) {
        QCOMPARE(r.json().value(QStringLiteral("code")).toString(), code);
        QVERIFY(!r.json().value(QStringLiteral("error")).toString().isEmpty());
    }
}

void tst_GatewaySim::logsRequestsAsSent()
{
    SimGateway sim;
    QVERIFY(sim.ok());
    call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/commands/a%2Fb/progress?limit=5"));
    call(sim, "POST", QStringLiteral("/api/workspaces/ws-demo/feed/f-201/act"),
        R"({"action":"continue","note":"","by":"dev-test"})");
    sim.control("GET", QStringLiteral("/_sim/state/ws-demo")); // control calls are not logged

    const QJsonArray log = sim.requests();
    QCOMPARE(log.size(), 2);
    const QJsonObject first = log.at(0).toObject();
    QCOMPARE(first.value(QStringLiteral("method")).toString(), QStringLiteral("GET"));
    QCOMPARE(first.value(QStringLiteral("path")).toString(),
        QStringLiteral("/api/workspaces/ws-demo/commands/a%2Fb/progress"));
    QCOMPARE(first.value(QStringLiteral("query")).toString(), QStringLiteral("limit=5"));
    const QJsonObject headers = first.value(QStringLiteral("headers")).toObject();
    QCOMPARE(headers.value(QStringLiteral("authorization")).toString(), QStringLiteral("Bearer demo-token"));
    QCOMPARE(headers.value(QStringLiteral("x-device-id")).toString(), QStringLiteral("dev-test"));
    const QJsonObject second = log.at(1).toObject();
    QCOMPARE(QJsonDocument::fromJson(second.value(QStringLiteral("body")).toString().toUtf8())
                 .object()
                 .value(QStringLiteral("action"))
                 .toString(),
        QStringLiteral("continue"));

    sim.clearRequests();
    QCOMPARE(sim.requests().size(), 0);
}

void tst_GatewaySim::faultsAnswerInsteadOfTheRoute()
{
    SimGateway sim;
    QVERIFY(sim.ok());
    const QString commands = QStringLiteral("/api/workspaces/ws-demo/commands");
    sim.setFault("GET", commands, 500, "<html>down</html>", 0, 1);
    sim.setFault("POST", QStringLiteral("/api/workspaces/ws-demo/permissions/*"), 403,
        R"({"error":"nope","code":"grant_exceeds_source"})");

    Reply r = call(sim, "GET", commands);
    QCOMPARE(r.status, 500);
    QCOMPARE(r.body, QByteArray("<html>down</html>"));
    QCOMPARE(call(sim, "GET", commands).status, 200); // used up after one

    r = call(sim, "POST", QStringLiteral("/api/workspaces/ws-demo/permissions/write/confirm"),
        R"({"approve":true,"by":"d"})");
    QCOMPARE(r.status, 403);
    QCOMPARE(r.json().value(QStringLiteral("code")).toString(), QStringLiteral("grant_exceeds_source"));
    // The fault answered, so the tier is still pending.
    QVERIFY(state(sim)
                .value(QStringLiteral("permissions"))
                .toObject()
                .value(QStringLiteral("pending"))
                .toArray()
                .contains(QJsonValue(QStringLiteral("write"))));
    QCOMPARE(call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/permissions")).status, 200); // other method

    // Faulted requests are logged too.
    QCOMPARE(sim.requests().size(), 4);

    sim.clearFaults();
    QCOMPARE(call(sim, "POST", QStringLiteral("/api/workspaces/ws-demo/permissions/write/confirm"),
                 R"({"approve":true,"by":"d"})")
                 .status,
        200);

    sim.control("POST", QStringLiteral("/_sim/faults"),
        QJsonObject { { QStringLiteral("path"), commands }, { QStringLiteral("status"), 499 } });
    QCOMPARE(sim.lastStatus(), 400); // a status the server cannot write is refused up front
}

void tst_GatewaySim::aDelayedRouteHoldsUpNoOther()
{
    SimGateway sim;
    QVERIFY(sim.ok());
    sim.setFault("GET", QStringLiteral("/api/workspaces/ws-demo/feed"), 0, {}, 3000);

    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    QStringList finished;
    QNetworkReply* slow = start(nam, sim, QStringLiteral("/api/workspaces/ws-demo/feed"));
    QTest::qWait(100);
    QNetworkReply* fast = start(nam, sim, QStringLiteral("/api/workspaces/ws-demo/agents"));
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

void tst_GatewaySim::progressServesTheTail()
{
    SimGateway sim;
    QVERIFY(sim.ok());
    const QString path = QStringLiteral("/api/workspaces/ws-demo/commands/c-105/progress");
    Reply r = call(sim, "GET", path + QStringLiteral("?limit=3"));
    QCOMPARE(r.status, 200);
    QJsonArray lines = r.json().value(QStringLiteral("progress")).toArray();
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.last().toObject().value(QStringLiteral("seq")).toInt(), 12);
    QCOMPARE(r.json().value(QStringLiteral("truncated")).toBool(), true);
    QCOMPARE(r.json().value(QStringLiteral("total")).toInt(), 12);

    r = call(sim, "GET", path + QStringLiteral("?limit=200"));
    QCOMPARE(r.json().value(QStringLiteral("progress")).toArray().size(), 12);
    QCOMPARE(r.json().value(QStringLiteral("truncated")).toBool(), false);
    // The scenario's relative times arrive as ISO 8601 times.
    QVERIFY(r.json()
                .value(QStringLiteral("progress"))
                .toArray()
                .first()
                .toObject()
                .value(QStringLiteral("at"))
                .toString()
                .endsWith(QLatin1Char('Z')));

    QCOMPARE(call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/commands/c-106/progress"))
                 .json()
                 .value(QStringLiteral("progress"))
                 .toArray()
                 .size(),
        0);
    QCOMPARE(call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/commands/nope/progress")).status, 404);
    QCOMPARE(call(sim, "GET", path + QStringLiteral("?limit=x")).status, 400);
}

void tst_GatewaySim::evidenceAndBlobs()
{
    SimGateway sim;
    QVERIFY(sim.ok());
    Reply r = call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/commands/c-105/changes"));
    QCOMPARE(r.status, 200);
    const QJsonArray files
        = r.json().value(QStringLiteral("changes")).toObject().value(QStringLiteral("files")).toArray();
    QVERIFY(files.size() >= 2);
    const QString hash = files.first().toObject().value(QStringLiteral("hash")).toString();
    QVERIFY(!hash.isEmpty());

    r = call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/blobs/") + hash);
    QCOMPARE(r.status, 200);
    QCOMPARE(r.body.size(), files.first().toObject().value(QStringLiteral("size")).toInt());

    QCOMPARE(call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/blobs/feedface")).status, 404);
    // A command without a stored summary has none; an unknown one is missing.
    r = call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/commands/c-108/changes"));
    QCOMPARE(r.status, 200);
    QCOMPARE(r.json().value(QStringLiteral("has_changes")).toBool(), false);
    QVERIFY(!r.json().contains(QStringLiteral("changes")));
    QCOMPARE(call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/commands/zzz/changes")).status, 404);

    // Bytes that are not text are served as they are.
    sim.control("PATCH", QStringLiteral("/_sim/state/ws-demo"),
        QJsonObject { { QStringLiteral("blobs"),
            QJsonObject {
                { QStringLiteral("bin"), QJsonObject { { QStringLiteral("base64"), QStringLiteral("//4=") } } } } } });
    QCOMPARE(call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/blobs/bin")).body, QByteArray("\xff\xfe"));
}

void tst_GatewaySim::confirmChangesPermissions_data()
{
    QTest::addColumn<QString>("tier");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QJsonValue>("effective"); // the tier's value afterwards
    QTest::addColumn<bool>("stillPending");

    QTest::newRow("approve pending write")
        << "write" << QByteArray(R"({"approve":true,"by":"d"})") << 200 << "" << QJsonValue(true) << false;
    QTest::newRow("approve pending danger")
        << "danger" << QByteArray(R"({"approve":true,"by":"d"})") << 200 << "" << QJsonValue(true) << false;
    QTest::newRow("reject pending danger")
        << "danger" << QByteArray(R"({"approve":false,"by":"d"})") << 200 << "" << QJsonValue(false) << false;
    QTest::newRow("revoke granted read") << "read" << QByteArray(R"({"approve":false,"by":"d"})") << 200 << ""
                                         << QJsonValue(false) << false;
    QTest::newRow("push is beyond the declaration") << "push" << QByteArray(R"({"approve":true,"by":"d"})") << 403
                                                    << "grant_exceeds_source" << QJsonValue(false) << false;
    QTest::newRow("unknown tier") << "sudo" << QByteArray(R"({"approve":true,"by":"d"})") << 404 << "unknown_permission"
                                  << QJsonValue(QJsonValue::Undefined) << false;
    QTest::newRow("approve is not a boolean")
        << "write" << QByteArray(R"({"approve":"yes","by":"d"})") << 400 << "bad_request" << QJsonValue(false) << true;
    QTest::newRow("empty body") << "write" << QByteArray() << 400 << "bad_request" << QJsonValue(false) << true;
}

void tst_GatewaySim::confirmChangesPermissions()
{
    QFETCH(QString, tier);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, code);
    QFETCH(QJsonValue, effective);
    QFETCH(bool, stillPending);

    SimGateway sim;
    QVERIFY(sim.ok());
    const Reply r = call(sim, "POST", QStringLiteral("/api/workspaces/ws-demo/permissions/%1/confirm").arg(tier), body);
    QCOMPARE(r.status, status);
    QCOMPARE(r.json().value(QStringLiteral("code")).toString(), code);

    const QJsonObject perms = call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/permissions")).json();
    QVERIFY(!perms.contains(QStringLiteral("ceiling")));
    if (!effective.isUndefined())
        QCOMPARE(perms.value(QStringLiteral("effective")).toObject().value(tier), effective);
    QCOMPARE(perms.value(QStringLiteral("pending")).toArray().contains(QJsonValue(tier)), stillPending);
}

void tst_GatewaySim::grantDeclarationSetsTheCeiling()
{
    SimGateway sim;
    QVERIFY(sim.ok());
    // A workspace without a permission record.
    QJsonObject blog = state(sim, QStringLiteral("ws-blog"));
    blog.remove(QStringLiteral("permissions"));
    sim.control("PUT", QStringLiteral("/_sim/state/ws-blog"), blog);
    Reply r = call(sim, "GET", QStringLiteral("/api/workspaces/ws-blog/permissions"), {}, QByteArray("blog-token"));
    QCOMPARE(r.status, 409);
    QCOMPARE(r.json().value(QStringLiteral("code")).toString(), QStringLiteral("permissions_not_loaded"));

    sim.control("POST", QStringLiteral("/_sim/workspaces/ws-demo/grant"),
        QJsonObject { { QStringLiteral("device"), QStringLiteral("dev-studio") },
            { QStringLiteral("tiers"),
                QJsonArray { QStringLiteral("read"), QStringLiteral("push"), QStringLiteral("danger") } } });
    QCOMPARE(sim.lastStatus(), 200);
    const QJsonObject perms = call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/permissions")).json();
    const QJsonObject effective = perms.value(QStringLiteral("effective")).toObject();
    QCOMPARE(effective.value(QStringLiteral("push")), QJsonValue(true));
    QCOMPARE(effective.value(QStringLiteral("danger")), QJsonValue(true));
    QCOMPARE(effective.value(QStringLiteral("exec")), QJsonValue(false)); // left out of the declaration
    QCOMPARE(perms.value(QStringLiteral("pending")).toArray(), QJsonArray { QStringLiteral("write") });
    // write is no longer declared, so the gateway cannot turn it on.
    r = call(sim, "POST", QStringLiteral("/api/workspaces/ws-demo/permissions/write/confirm"),
        R"({"approve":true,"by":"d"})");
    QCOMPARE(r.json().value(QStringLiteral("code")).toString(), QStringLiteral("grant_exceeds_source"));

    sim.control("POST", QStringLiteral("/_sim/workspaces/ws-demo/grant"),
        QJsonObject { { QStringLiteral("tiers"), QJsonArray { QStringLiteral("root") } } });
    QCOMPARE(sim.lastStatus(), 400);
}

void tst_GatewaySim::actDecidesFeedItems_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("itemStatus");
    QTest::addColumn<QString>("commandStatus"); // of the item's task afterwards; empty: unchanged

    QTest::newRow("approve an approval") << "f-201"
                                         << "continue" << 200 << "approved"
                                         << "pending";
    QTest::newRow("reject an approval") << "f-201"
                                        << "ignore" << 200 << "ignored"
                                        << "failed";
    QTest::newRow("approve a permission item without a status") << "f-202"
                                                                << "continue" << 200 << "approved"
                                                                << "";
    QTest::newRow("already decided") << "f-206"
                                     << "continue" << 409 << "approved"
                                     << "";
    QTest::newRow("unknown action") << "f-203"
                                    << "maybe" << 400 << "pending"
                                    << "";
    QTest::newRow("unknown item") << "f-999"
                                  << "continue" << 404 << ""
                                  << "";
}

void tst_GatewaySim::actDecidesFeedItems()
{
    QFETCH(QString, item);
    QFETCH(QString, action);
    QFETCH(int, status);
    QFETCH(QString, itemStatus);
    QFETCH(QString, commandStatus);

    SimGateway sim;
    QVERIFY(sim.ok());
    const QJsonObject before = state(sim);
    const QString task
        = byId(before.value(QStringLiteral("feed")).toArray(), item).value(QStringLiteral("task_id")).toString();
    const QString taskBefore
        = byId(before.value(QStringLiteral("commands")).toArray(), task).value(QStringLiteral("status")).toString();

    const QByteArray body
        = QJsonDocument(QJsonObject { { QStringLiteral("action"), action }, { QStringLiteral("note"), QString() },
                            { QStringLiteral("by"), QStringLiteral("dev-test") } })
              .toJson();
    QCOMPARE(call(sim, "POST", QStringLiteral("/api/workspaces/ws-demo/feed/%1/act").arg(item), body).status, status);

    const QJsonArray items = call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/feed"))
                                 .json()
                                 .value(QStringLiteral("items"))
                                 .toArray();
    if (!itemStatus.isEmpty())
        QCOMPARE(byId(items, item).value(QStringLiteral("status")).toString(), itemStatus);
    const QJsonArray commands = call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/commands"))
                                    .json()
                                    .value(QStringLiteral("commands"))
                                    .toArray();
    if (!task.isEmpty())
        QCOMPARE(byId(commands, task).value(QStringLiteral("status")).toString(),
            commandStatus.isEmpty() ? taskBefore : commandStatus);
}

void tst_GatewaySim::retryAndDelete()
{
    SimGateway sim;
    QVERIFY(sim.ok());
    const QString base = QStringLiteral("/api/workspaces/ws-demo/commands/");

    // A retried task is pending again, its dependant waits again, and its
    // failed feed item is gone.
    QCOMPARE(call(sim, "POST", base + QStringLiteral("c-103/retry"), "{}").status, 200);
    QJsonObject s = state(sim);
    const QJsonObject retried = byId(s.value(QStringLiteral("commands")).toArray(), QStringLiteral("c-103"));
    QCOMPARE(retried.value(QStringLiteral("status")).toString(), QStringLiteral("pending"));
    QVERIFY(!retried.contains(QStringLiteral("error")));
    QVERIFY(!retried.contains(QStringLiteral("claimed_by")));
    QCOMPARE(byId(s.value(QStringLiteral("commands")).toArray(), QStringLiteral("c-104"))
                 .value(QStringLiteral("status"))
                 .toString(),
        QStringLiteral("blocked"));
    QVERIFY(byId(s.value(QStringLiteral("feed")).toArray(), QStringLiteral("f-204")).isEmpty());

    QCOMPARE(call(sim, "POST", base + QStringLiteral("c-105/retry"), "{}").status, 409); // running
    QCOMPARE(call(sim, "POST", base + QStringLiteral("c-999/retry"), "{}").status, 404);
    QCOMPARE(call(sim, "POST", base + QStringLiteral("c-113/retry")).status, 400); // no body at all

    // A deleted command is gone with its feed items and evidence.
    QCOMPARE(call(sim, "POST", base + QStringLiteral("c-112/delete"), "{}").status, 200);
    s = state(sim);
    QVERIFY(byId(s.value(QStringLiteral("commands")).toArray(), QStringLiteral("c-112")).isEmpty());
    QVERIFY(byId(s.value(QStringLiteral("feed")).toArray(), QStringLiteral("f-205")).isEmpty());
    QCOMPARE(call(sim, "POST", base + QStringLiteral("c-112/delete"), "{}").status, 404);
    QCOMPARE(call(sim, "GET", base + QStringLiteral("c-112/delete")).status, 405);

    // An id with a slash is one segment when it is encoded.
    QJsonArray commands = s.value(QStringLiteral("commands")).toArray();
    commands.append(QJsonObject { { QStringLiteral("id"), QStringLiteral("x/../y") },
        { QStringLiteral("text"), QStringLiteral("t") }, { QStringLiteral("status"), QStringLiteral("failed") } });
    sim.control(
        "PATCH", QStringLiteral("/_sim/state/ws-demo"), QJsonObject { { QStringLiteral("commands"), commands } });
    QCOMPARE(call(sim, "POST", base + QStringLiteral("x%2F..%2Fy/delete"), "{}").status, 200);
    QCOMPARE(state(sim).value(QStringLiteral("commands")).toArray().size(), commands.size() - 1);
}

void tst_GatewaySim::stateEditsAndNewWorkspaces()
{
    SimGateway sim;
    QVERIFY(sim.ok());
    QCOMPARE(sim.config().token, QStringLiteral("demo-token"));
    QCOMPARE(sim.config().api, sim.origin());
    QCOMPARE(sim.config(QStringLiteral("ws-blog")).token, QStringLiteral("blog-token"));

    // PATCH replaces only the keys given; a key left out of the state is left
    // out of the reply.
    sim.control("PATCH", QStringLiteral("/_sim/state/ws-demo"),
        QJsonObject { { QStringLiteral("runners_read"), QJsonValue::Null } });
    QJsonObject commands = call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/commands")).json();
    QVERIFY(commands.value(QStringLiteral("runners_read")).isNull());
    QVERIFY(!commands.value(QStringLiteral("commands")).toArray().isEmpty());
    QJsonObject s = state(sim);
    s.remove(QStringLiteral("runners"));
    sim.control("PUT", QStringLiteral("/_sim/state/ws-demo"), s);
    QVERIFY(!call(sim, "GET", QStringLiteral("/api/workspaces/ws-demo/commands"))
                 .json()
                 .contains(QStringLiteral("runners")));

    // An existing workspace answers its own token and records the path.
    QJsonObject r = sim.control("POST", QStringLiteral("/_sim/workspaces"),
                           QJsonObject { { QStringLiteral("path"), QStringLiteral("/tmp/shop") },
                               { QStringLiteral("name"), QStringLiteral("shop") },
                               { QStringLiteral("workspace"), QStringLiteral("ws-demo") } })
                        .object();
    QCOMPARE(r.value(QStringLiteral("token")).toString(), QStringLiteral("demo-token"));
    QCOMPARE(state(sim).value(QStringLiteral("path")).toString(), QStringLiteral("/tmp/shop"));

    // A new one gets a fresh id and token, and serves empty lists.
    r = sim.control("POST", QStringLiteral("/_sim/workspaces"),
               QJsonObject { { QStringLiteral("path"), QStringLiteral("/tmp/new") },
                   { QStringLiteral("name"), QStringLiteral("new") } })
            .object();
    const QString ws = r.value(QStringLiteral("workspace")).toString();
    const QByteArray token = r.value(QStringLiteral("token")).toString().toUtf8();
    QVERIFY(!ws.isEmpty() && ws != QLatin1String("ws-demo"));
    QVERIFY(!token.isEmpty() && token != "demo-token");
    QCOMPARE(r.value(QStringLiteral("name")).toString(), QStringLiteral("new"));
    const Reply feed = call(sim, "GET", QStringLiteral("/api/workspaces/%1/feed").arg(ws), {}, token);
    QCOMPARE(feed.status, 200);
    QCOMPARE(feed.json().value(QStringLiteral("items")).toArray().size(), 0);
    const QJsonObject perms
        = call(sim, "GET", QStringLiteral("/api/workspaces/%1/permissions").arg(ws), {}, token).json();
    QCOMPARE(perms.value(QStringLiteral("effective")).toObject().value(QStringLiteral("read")), QJsonValue(true));
}

void tst_GatewaySim::pairStart_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    QTest::newRow("both workspaces") << QByteArray(
        R"({"device_id":"dev-x","workspaces":[{"workspace_uuid":"ws-demo","access_token":"demo-token"},{"workspace_uuid":"ws-blog","access_token":"blog-token"}]})")
                                     << 200;
    QTest::newRow("wrong token") << QByteArray(
        R"({"device_id":"dev-x","workspaces":[{"workspace_uuid":"ws-demo","access_token":"blog-token"}]})")
                                 << 403;
    QTest::newRow("unknown workspace") << QByteArray(
        R"({"device_id":"dev-x","workspaces":[{"workspace_uuid":"ws-x","access_token":"t"}]})")
                                       << 403;
    QTest::newRow("no workspaces") << QByteArray(R"({"device_id":"dev-x","workspaces":[]})") << 400;
    QTest::newRow("not json") << QByteArray("device=dev-x") << 400;
}

void tst_GatewaySim::pairStart()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);

    SimGateway sim;
    QVERIFY(sim.ok());
    // Pairing carries no bearer token.
    const Reply r = call(sim, "POST", QStringLiteral("/api/pair/start"), body, std::nullopt);
    QCOMPARE(r.status, status);
    if (status == 200) {
        QVERIFY(!r.json().value(QStringLiteral("pair_token")).toString().isEmpty());
        const QDateTime expires
            = QDateTime::fromString(r.json().value(QStringLiteral("expires_at")).toString(), Qt::ISODate);
        QVERIFY(expires > QDateTime::currentDateTimeUtc());
    }
}

void tst_GatewaySim::generatesTheLargeScenario()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("large.json"));
    QCOMPARE(QProcess::execute(Sim::gateway(), { QStringLiteral("--generate-large"), file }), 0);

    SimGateway sim(file);
    QVERIFY2(sim.ok(), sim.output().constData());
    const CLIConfig config = sim.config(QStringLiteral("ws-large"));
    QCOMPARE(config.token, QStringLiteral("large-token"));
    const QByteArray token = config.token.toUtf8();
    const QJsonArray commands = call(sim, "GET", QStringLiteral("/api/workspaces/ws-large/commands"), {}, token)
                                    .json()
                                    .value(QStringLiteral("commands"))
                                    .toArray();
    QCOMPARE(commands.size(), 2000);
    QCOMPARE(call(sim, "GET", QStringLiteral("/api/workspaces/ws-large/employees"), {}, token)
                 .json()
                 .value(QStringLiteral("employees"))
                 .toArray()
                 .size(),
        60);
    QCOMPARE(call(sim, "GET", QStringLiteral("/api/workspaces/ws-large/feed"), {}, token)
                 .json()
                 .value(QStringLiteral("items"))
                 .toArray()
                 .size(),
        300);

    QString focal;
    for (const QJsonValue& c : commands) {
        if (c.toObject().value(QStringLiteral("status")).toString() == QLatin1String("claimed"))
            focal = c.toObject().value(QStringLiteral("id")).toString();
    }
    const QJsonObject progress = call(
        sim, "GET", QStringLiteral("/api/workspaces/ws-large/commands/%1/progress?limit=200").arg(focal), {}, token)
                                     .json();
    QCOMPARE(progress.value(QStringLiteral("progress")).toArray().size(), 200);
}

QTEST_GUILESS_MAIN(tst_GatewaySim)
#include "tst_GatewaySim.moc"
