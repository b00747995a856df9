#include "core/workspaces/WorkspaceCatalog.h"

#include "RawServer.h"
#include "SimGateway.h"
#include "TempHome.h"
#include "core/platform/DeskCrumbs.h"

#include <QCoroTask>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

QByteArray pairing(
    const QString& api, const QString& ws, const QString& token, const QString& name, const QString& device = {})
{
    QJsonObject o { { "api", api }, { "workspace", ws }, { "token", token }, { "name", name } };
    if (!device.isEmpty())
        o.insert("device", device);
    return QJsonDocument(o).toJson();
}

QString readLog()
{
    QFile f(DeskCrumbs::logPath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Answers every request on its connection with `response` and hangs up;
// remembers what it was sent.
class OneShotServer : public QTcpServer {
public:
    explicit OneShotServer(QByteArray response)
        : m_response(std::move(response))
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    received += socket->readAll();
                    if (received.contains("\r\n\r\n") && !m_answered) {
                        m_answered = true;
                        socket->write(m_response);
                        socket->disconnectFromHost();
                    }
                });
            }
        });
        listen(QHostAddress::LocalHost, 0);
    }

    QByteArray received;

private:
    QByteArray m_response;
    bool m_answered = false;
};

} // namespace

class TestPairLink : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_home = std::make_unique<TempHome>();
        m_sim = std::make_unique<SimGateway>();
        QVERIFY2(m_sim->ok(), m_sim->output().constData());
        const QString api = m_sim->origin();
        m_home->writeFile(".tolvarine/workspaces/demo.json", pairing(api, "ws-demo", "demo-token", "Demo Shop"));
        m_home->writeFile(".tolvarine/workspaces/blog.json", pairing(api, "ws-blog", "blog-token", "Blog"));
        m_home->writeFile(".tolvarine/config.json", pairing(api, "ws-demo", "demo-token", "Demo Shop", "dev-desk"));
        m_catalog = std::make_unique<WorkspaceCatalog>();
        m_catalog->setHostNameForTesting("build-host");
        QCoro::waitFor(m_catalog->reload(false));
        m_catalog->setSelectedID("ws-demo");
        m_sim->clearRequests();
    }

    void cleanup()
    {
        m_catalog.reset();
        m_sim.reset();
        m_home.reset();
    }

    void linkForEveryWorkspace()
    {
        QCoro::waitFor(m_catalog->refreshPairLink());
        QVERIFY2(!m_catalog->pairLinkError(), qPrintable(m_catalog->pairLinkError().value_or("")));
        const QString link = m_catalog->pairLink().value_or(QString());
        const QString prefix = "tolvarine://pair-device?v=1&device=dev-desk&api=" + m_sim->origin() + "#p=";
        QVERIFY2(link.startsWith(prefix), qPrintable(link));
        QVERIFY(QRegularExpression("^pt-[0-9a-f]+$").match(link.mid(prefix.size())).hasMatch());
        QVERIFY(m_catalog->pairLinkExpiresAt());
        // 127.0.0.1 is in the code: no phone reaches it, and the sheet says so.
        QVERIFY(m_catalog->pairLinkLoopback());

        // One request, without a bearer token, naming every paired workspace in display order.
        const QJsonArray requests = m_sim->requests();
        QCOMPARE(requests.size(), 1);
        const QJsonObject request = requests.first().toObject();
        QCOMPARE(request["path"].toString(), QStringLiteral("/api/pair/start"));
        QVERIFY(!request["headers"].toObject().contains("authorization"));
        const QJsonObject body = QJsonDocument::fromJson(request["body"].toString().toUtf8()).object();
        QCOMPARE(body["device_id"].toString(), QStringLiteral("dev-desk"));
        QCOMPARE(body["workspaces"].toArray(),
            QJsonArray({ QJsonObject { { "workspace_uuid", "ws-blog" }, { "access_token", "blog-token" } },
                QJsonObject { { "workspace_uuid", "ws-demo" }, { "access_token", "demo-token" } } }));

        // The breadcrumb names the length and the endpoint, never a token.
        const QString log = readLog();
        QVERIFY2(log.contains(
                     QStringLiteral("qr.pairlink len=%1 endpoint=%2").arg(link.toUtf8().size()).arg(m_sim->origin())),
            qPrintable(log));
        QVERIFY(!log.contains("demo-token") && !log.contains(link.mid(prefix.size())));
    }

    void originChoice()
    {
        // The published endpoint wins over a configured address that answers nothing.
        setConfigApi("http://127.0.0.1:1");
        m_catalog->setPublishEndpoint(m_sim->origin());
        QCoro::waitFor(m_catalog->refreshPairLink());
        const QString device = "cli-" + CLIConfig::hostname();
        QVERIFY2(m_catalog->pairLink().value_or("").startsWith(QStringLiteral("tolvarine://pair-device?v=1&device=")
                     + QUrl::toPercentEncoding(device, "!$'()*+,;:@/?") + "&api=" + m_sim->origin() + "#p=pt-"),
            qPrintable(m_catalog->pairLink().value_or(m_catalog->pairLinkError().value_or(""))));

        // Without one, for a gateway on this machine a ".local" host name comes
        // before the configured address, on the configured port (seen here
        // through the address check).
        m_catalog->setPublishEndpoint(std::nullopt);
        m_catalog->setHostNameForTesting("bad host.local");
        setConfigApi("http://127.0.0.1:4567");
        QCoro::waitFor(m_catalog->refreshPairLink());
        QCOMPARE(m_catalog->pairLinkError(), std::optional<QString>("网关地址不合法：http://bad host.local:4567"));

        // No port in the address: the ".local" origin takes the default port, the address stays as written.
        setConfigApi("http://localhost");
        QCoro::waitFor(m_catalog->refreshPairLink());
        QCOMPARE(m_catalog->pairLinkError(), std::optional<QString>("网关地址不合法：http://bad host.local:18091"));

        // A gateway on another machine gets the request, and the access
        // tokens, at its own address only.
        setConfigApi("http://bad gateway:4567");
        QCoro::waitFor(m_catalog->refreshPairLink());
        QCOMPARE(m_catalog->pairLinkError(), std::optional<QString>("网关地址不合法：http://bad gateway:4567"));
    }

    void failures_data()
    {
        QTest::addColumn<int>("status"); // a fault on the route; 0: none
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("endpoint"); // published endpoint; empty: the stand-in
        QTest::addColumn<QString>("error"); // a prefix when it ends with "："
        QTest::addColumn<qint64>("streamBytes"); // the reply streamed without end (-1) or this long; 0: not

        QTest::newRow("404") << 404 << QByteArray(R"({"error":"nope"})") << ""
                             << "服务端拒绝了配对请求（HTTP 404）" << qint64(0);
        QTest::newRow("not JSON") << 200 << QByteArray("<html>") << ""
                                  << "取配对码失败：" << qint64(0);
        QTest::newRow("empty token") << 200 << QByteArray(R"({"pair_token":""})") << ""
                                     << "服务端没有给出配对码" << qint64(0);
        // In the product's words, not Qt's English socket text.
        QTest::newRow("nothing listening") << 0 << QByteArray() << "http://127.0.0.1:1"
                                           << "取配对码失败：连不上网关（Connection refused）" << qint64(0);
        QTest::newRow("not a URL") << 0 << QByteArray() << "gateway"
                                   << "网关地址不合法：gateway" << qint64(0);
        QTest::newRow("a reply past the cap")
            << 0 << QByteArray() << ""
            << "取配对码失败：回复太大（超过 1 MB），没有读完" << qint64(2 * 1024 * 1024);
        QTest::newRow("a reply without end") << 0 << QByteArray() << ""
                                             << "取配对码失败：回复太大（超过 1 MB），没有读完" << qint64(-1);
        // The phone appends its paths to the origin: a query would swallow them.
        QTest::newRow("origin with a query") << 0 << QByteArray() << "http://127.0.0.1:1?x"
                                             << "网关地址不合法：http://127.0.0.1:1?x" << qint64(0);
    }

    // Every failure leaves one text and no link, even after an earlier success.
    void failures()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, endpoint);
        QFETCH(QString, error);
        QFETCH(qint64, streamBytes);

        QCoro::waitFor(m_catalog->refreshPairLink());
        QVERIFY(m_catalog->pairLink());
        const auto expires = m_catalog->pairLinkExpiresAt();
        QVERIFY(expires);

        if (status)
            m_sim->setFault("POST", "/api/pair/start", status, body);
        if (streamBytes)
            m_sim->setStream("POST", "/api/pair/start", streamBytes, true);
        if (!endpoint.isEmpty())
            m_catalog->setPublishEndpoint(endpoint);
        QSignalSpy spy(m_catalog.get(), &WorkspaceCatalog::pairLinkChanged);
        QCoro::waitFor(m_catalog->refreshPairLink());
        QVERIFY(spy.count() >= 1);
        QVERIFY(!m_catalog->pairLink());
        const QString got = m_catalog->pairLinkError().value_or(QString());
        if (error.endsWith(QStringLiteral("：")))
            QVERIFY2(got.startsWith(error) && got.size() > error.size(), qPrintable(got));
        else
            QCOMPARE(got, error);
        QCOMPARE(m_catalog->pairLinkExpiresAt(), expires); // failures never touch the expiry

        // The next success clears the error.
        m_sim->clearFaults();
        m_catalog->setPublishEndpoint(std::nullopt);
        QCoro::waitFor(m_catalog->refreshPairLink());
        QVERIFY(m_catalog->pairLink());
        QVERIFY(!m_catalog->pairLinkError());
    }

    void brokenReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("endless");
        QTest::addColumn<QString>("error");
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
        QTest::newRow("cut off") << head + "Content-Length: 40\r\n\r\n{\"pair_token\":" << false
                                 << "取配对码失败：网关没回完就断开了";
        QTest::newRow("not decompressing")
            << head + "Content-Encoding: gzip\r\nContent-Length: 14\r\n\r\n" + RawServer::brokenGzip() << false
            << "取配对码失败：网关的回复没能读完（内容坏了）";
        QTest::newRow("fast, without end") << head + "Connection: close\r\n\r\n"
                                           << true << "取配对码失败：回复太大（超过 1 MB），没有读完";
    }

    // A 2xx that is not read whole is a transfer error, and no more of it is
    // read than the cap and the socket buffers.
    void brokenReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, endless);
        QFETCH(QString, error);
        RawServer server({ reply, endless });
        m_catalog->setPublishEndpoint(server.origin());
        QCoro::waitFor(m_catalog->refreshPairLink());
        QCOMPARE(m_catalog->pairLinkError(), std::optional<QString>(error));
        QVERIFY(server.fillerWritten() < WorkspaceCatalog::kPairReplyMaxBytes + RawServer::kSocketBuffers);
    }

    void expiry()
    {
        // A created reply is a success; a fraction of a second makes the expiry unreadable.
        m_sim->setFault(
            "POST", "/api/pair/start", 201, R"({"pair_token":"tok","expires_at":"2030-01-02T03:04:05.250Z"})");
        QCoro::waitFor(m_catalog->refreshPairLink());
        QCOMPARE(m_catalog->pairLink(),
            std::optional<QString>("tolvarine://pair-device?v=1&device=dev-desk&api=" + m_sim->origin() + "#p=tok"));
        QVERIFY(!m_catalog->pairLinkExpiresAt());

        m_sim->setFault(
            "POST", "/api/pair/start", 200, R"({"pair_token":"tok2","expires_at":"2030-01-02T11:04:05+08:00"})");
        QCoro::waitFor(m_catalog->refreshPairLink());
        QCOMPARE(m_catalog->pairLinkExpiresAt(),
            std::optional<QDateTime>(QDateTime(QDate(2030, 1, 2), QTime(3, 4, 5), QTimeZone::utc())));

        // No expiry in the reply: the last one stays.
        m_sim->setFault("POST", "/api/pair/start", 200, R"({"pair_token":"tok3"})");
        QCoro::waitFor(m_catalog->refreshPairLink());
        QVERIFY(m_catalog->pairLink().value_or("").endsWith("#p=tok3"));
        QCOMPARE(m_catalog->pairLinkExpiresAt(),
            std::optional<QDateTime>(QDateTime(QDate(2030, 1, 2), QTime(3, 4, 5), QTimeZone::utc())));

        // Values that would break the link are encoded; the link reads back to them.
        const QString link = WorkspaceCatalog::buildPairLink("dev & 桌面=1", "http://h:1/x?y", "a+b/c=");
        const QUrl url(link);
        const QUrlQuery query(url);
        QCOMPARE(query.queryItemValue("device", QUrl::FullyDecoded), QStringLiteral("dev & 桌面=1"));
        QCOMPARE(query.queryItemValue("api", QUrl::FullyDecoded), QStringLiteral("http://h:1/x?y"));
        QCOMPARE(url.fragment(QUrl::FullyDecoded), QStringLiteral("p=a+b/c="));
    }

    // Workspaces paired with two gateways: the code is the selected
    // workspace's gateway's, its request carries only that gateway's
    // workspaces, and the others are named as left out.
    void onlyTheGatewaysOwnWorkspaces_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("endpoint"); // "": none; "other": the second stand-in's origin
        QTest::addColumn<QString>("endpointApi"); // the address it was found for; "other": the second stand-in's
        QTest::addColumn<bool>("toOther"); // the request goes to the second stand-in
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QStringList>("leftOut");

        QTest::newRow("the selected workspace's gateway")
            << "ws-demo"
            << ""
            << "" << false << QStringList { "ws-demo" } << QStringList { "ws-blog", "ws-far", "ws-team" };
        QTest::newRow("not the last pairing's gateway")
            << "ws-blog"
            << ""
            << "" << true << QStringList { "ws-blog", "ws-team" } << QStringList { "ws-demo", "ws-far" };
        QTest::newRow("the selected workspace's endpoint")
            << "ws-blog"
            << "other"
            << "other" << true << QStringList { "ws-blog", "ws-team" } << QStringList { "ws-demo", "ws-far" };
        QTest::newRow("an endpoint found for another address")
            << "ws-far"
            << "other"
            << "http://blog.invalid:1" << true << QStringList { "ws-blog", "ws-far", "ws-team" }
            << QStringList { "ws-demo" };
        // Found while the status model still showed another gateway's workspace.
        QTest::newRow("an endpoint of another gateway")
            << "ws-demo"
            << "other"
            << "other" << false << QStringList { "ws-demo" } << QStringList { "ws-blog", "ws-far", "ws-team" };
    }

    void onlyTheGatewaysOwnWorkspaces()
    {
        QFETCH(QString, selected);
        QFETCH(QString, endpoint);
        QFETCH(QString, endpointApi);
        QFETCH(bool, toOther);
        QFETCH(QStringList, sent);
        QFETCH(QStringList, leftOut);

        SimGateway other;
        QVERIFY2(other.ok(), other.output().constData());
        // The second gateway knows every workspace sent to it.
        for (const char* ws : { "ws-team", "ws-far" })
            other.control("PUT", QStringLiteral("/_sim/state/") + ws,
                QJsonObject { { "token", QString::fromLatin1(ws).mid(3) + "-token" } });
        const auto resolve = [&other](const QString& v) { return v == QLatin1String("other") ? other.origin() : v; };
        m_home->writeFile(".tolvarine/workspaces/blog.json", pairing(other.origin(), "ws-blog", "blog-token", "Blog"));
        m_home->writeFile(".tolvarine/workspaces/team.json", pairing(other.origin(), "ws-team", "team-token", "Team"));
        m_home->writeFile(
            ".tolvarine/workspaces/far.json", pairing("http://blog.invalid:1", "ws-far", "far-token", "Far"));
        QCoro::waitFor(m_catalog->reload(false));
        QCOMPARE(m_catalog->records().size(), 4);
        m_catalog->setSelectedID(selected);
        if (!endpoint.isEmpty())
            m_catalog->setPublishEndpoint(resolve(endpoint), resolve(endpointApi));
        other.clearRequests();

        QCoro::waitFor(m_catalog->refreshPairLink());
        const QJsonArray here = matching(m_sim->requests(), "POST", "/api/pair/start");
        const QJsonArray there = matching(other.requests(), "POST", "/api/pair/start");
        QCOMPARE(here.size(), toOther ? 0 : 1);
        QCOMPARE(there.size(), toOther ? 1 : 0);
        const QJsonObject body
            = QJsonDocument::fromJson((toOther ? there : here).first()["body"].toString().toUtf8()).object();
        QStringList ids;
        for (const QJsonValue& w : body["workspaces"].toArray())
            ids << w["workspace_uuid"].toString();
        QCOMPARE(ids, sent);

        // What the sheet lists is what the code carries; the rest is named, with the reason.
        QStringList carried, out;
        for (const WorkspaceRecord& r : m_catalog->pairLinkWorkspaces())
            carried << r.id();
        for (const WorkspaceCatalog::LeftOut& l : m_catalog->pairLinkLeftOut())
            if (l.reason.startsWith("在另一个网关上（" + l.record.config.api + "）"))
                out << l.record.id();
        QCOMPARE(carried, sent);
        QCOMPARE(out, leftOut);
        // The entry card's count before any request agrees.
        QCOMPARE(m_catalog->pairScope().carried.size(), sent.size());
        QCOMPARE(m_catalog->pairScope().otherGateway.size(), leftOut.size());
    }

    void noWorkspaces()
    {
        TempHome empty;
        WorkspaceCatalog c;
        QCoro::waitFor(c.reload(false));
        QCoro::waitFor(c.refreshPairLink());
        QCOMPARE(c.pairLinkError(), std::optional<QString>("这台机器还没有任何工作区"));
        QVERIFY(!c.pairLink());
    }

    // The pairing request carries every workspace's access token in its body: a
    // redirect to another origin must not resend it there.
    void tokensNeverFollowARedirectElsewhere()
    {
        OneShotServer elsewhere("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 20\r\n\r\n"
                                R"({"pair_token":"x1"})"
                                "\n");
        QVERIFY(elsewhere.isListening());
        const QByteArray location
            = "http://localhost:" + QByteArray::number(elsewhere.serverPort()) + "/api/pair/start";
        OneShotServer redirecting(
            "HTTP/1.1 307 Temporary Redirect\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n");
        QVERIFY(redirecting.isListening());
        m_catalog->setPublishEndpoint("http://127.0.0.1:" + QString::number(redirecting.serverPort()));

        QCoro::waitFor(m_catalog->refreshPairLink());
        QVERIFY(redirecting.received.startsWith("POST /api/pair/start "));
        QVERIFY(elsewhere.received.isEmpty());
        QVERIFY(!m_catalog->pairLink());
        QVERIFY(m_catalog->pairLinkError());
    }

    // A new fetch after a failure takes the failure text away at once, so an
    // open sheet shows its loading state rather than the old error.
    void errorClearedWhenAFetchStarts()
    {
        m_sim->setFault("POST", "/api/pair/start", 404, R"({"error":"no"})", 0, 1);
        QCoro::waitFor(m_catalog->refreshPairLink());
        QVERIFY(m_catalog->pairLinkError());

        m_sim->setFault("POST", "/api/pair/start", 0, {}, 500, 1);
        QSignalSpy changed(m_catalog.get(), &WorkspaceCatalog::pairLinkChanged);
        auto refresh = m_catalog->refreshPairLink();
        QCOMPARE(changed.size(), 1);
        QVERIFY(!m_catalog->pairLinkError() && !m_catalog->pairLink());
        QVERIFY(QCoro::waitFor(std::move(refresh)));
        QVERIFY(m_catalog->pairLink());
    }

    // Two fetches overlap (the sheet's and the entry card's): the later one's
    // outcome stays, whichever reply comes last.
    void latestFetchWins_data()
    {
        QTest::addColumn<QByteArray>("laterStatus");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("error");
        QTest::newRow("later succeeds") << QByteArray("200") << "later" << QString();
        QTest::newRow("later refused") << QByteArray("404") << QString() << "服务端拒绝了配对请求（HTTP 404）";
    }

    void latestFetchWins()
    {
        QFETCH(QByteArray, laterStatus);
        QFETCH(QString, token);
        QFETCH(QString, error);
        // Faults are taken newest first: the earlier request gets the slow answer.
        m_sim->setFault("POST", "/api/pair/start", laterStatus.toInt(), R"({"pair_token":"later"})", 0, 1);
        m_sim->setFault("POST", "/api/pair/start", 200, R"({"pair_token":"earlier"})", 1500, 1);
        auto earlier = m_catalog->refreshPairLink();
        QTRY_COMPARE(matching(m_sim->requests(), "POST", "/api/pair/start").size(), 1);
        QVERIFY(QCoro::waitFor(m_catalog->refreshPairLink()));
        const bool earlierPublished = QCoro::waitFor(std::move(earlier));
        QCOMPARE(m_catalog->pairLink().value_or(QString()).section("#p=", 1), token);
        QCOMPARE(m_catalog->pairLinkError().value_or(QString()), error);
        QVERIFY(!earlierPublished);
    }

    void catalogDestroyedDuringTheRequest()
    {
        m_sim->setFault("POST", "/api/pair/start", 0, {}, 5000, 1);
        auto refresh = m_catalog->refreshPairLink();
        QTRY_VERIFY(!matching(m_sim->requests(), "POST", "/api/pair/start").isEmpty());
        m_catalog.reset();
        // The request was aborted and the refresh has ended (left suspended, it would leak).
        QVERIFY(refresh.isReady());
    }

private:
    // The selected workspace, paired again at `api`.
    void setConfigApi(const QString& api)
    {
        m_home->writeFile(".tolvarine/config.json", pairing(api, "ws-demo", "demo-token", "Demo Shop"));
        QCoro::waitFor(m_catalog->reload(false));
    }

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimGateway> m_sim;
    std::unique_ptr<WorkspaceCatalog> m_catalog;
};

QTEST_MAIN(TestPairLink)
#include "tst_PairLink.moc"
