#include "core/gateway/GatewayClient.h"
#include "core/platform/LateLibrary.h"

#include "RawServer.h"
#include "SimGateway.h"
#include "StallProbe.h"
#include "TempHome.h"

#include <QJsonDocument>
#include <QNetworkInterface>
#include <QPointer>
#include <QProcess>
#include <QSocketNotifier>
#include <QtTest>

#include <QCoroTask>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include <dlfcn.h>
#include <netdb.h>

namespace {
const QByteArray kWhole = R"({"commands":[]})";

// A slow name server: names holding "slow" take this long and then name
// 127.0.0.1; names holding "nowhere" have no address.
std::atomic<int> g_slowLookupMs { 0 };
std::atomic<int> g_slowLookups { 0 };
} // namespace

// Stands in for the C library's lookup for the whole program, libcurl's
// included (the test exports it).
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result)
{
    using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto next = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node && std::strstr(node, "slow") && g_slowLookupMs > 0) {
        ++g_slowLookups;
        std::this_thread::sleep_for(std::chrono::milliseconds(g_slowLookupMs.load()));
        return next("127.0.0.1", service, hints, result);
    }
    if (node && std::strstr(node, "nowhere"))
        return EAI_NONAME;
    return next(node, service, hints, result);
}

class TestGatewayClient : public QObject {
    Q_OBJECT
private slots:
    void candidates_data();
    void candidates();
    void phoneReachable_data();
    void phoneReachable();
    void segment_data();
    void segment();
    void cutOffBody_data();
    void cutOffBody();
    void boundedReplies_data();
    void boundedReplies();
    void fastEndlessReplies_data();
    void fastEndlessReplies();
    void probesThatDoNotCount_data();
    void probesThatDoNotCount();
    void tokenStaysWithItsGateway();
    void statusReadsGoFirst();
    void transportKeeps_data();
    void transportKeeps();
    void proxyRule_data();
    void proxyRule();
    void requestDeadline();
    void addressesWithoutPasswords();
    void everyHeldTokenMasked();
    void slowLookups();
    void requestWritten();
    void withoutLibcurl();
};

void TestGatewayClient::candidates_data()
{
    QTest::addColumn<QString>("api");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QStringList>("expected");
    const QString loop = QStringLiteral("http://127.0.0.1:18091");
    // Fallbacks for an address of this machine, or of a local network, which
    // may be this machine's old lease: both name this machine.
    QTest::newRow("changed LAN address, .local host")
        << "http://10.0.0.5:18091" << QStringLiteral("studio.local")
        << QStringList { "http://10.0.0.5:18091", "http://studio.local:18091", loop };
    QTest::newRow("carrier-grade NAT") << "http://100.64.0.7:18091" << QStringLiteral("box")
                                       << QStringList { "http://100.64.0.7:18091", loop };
    QTest::newRow("IPv6 unique-local") << "http://[fd12::5]:18091" << QStringLiteral("box")
                                       << QStringList { "http://[fd12::5]:18091", loop };
    QTest::newRow("LAN address written as IPv6") << "http://[::ffff:10.0.0.5]:18091" << QStringLiteral("box")
                                                 << QStringList { "http://[::ffff:10.0.0.5]:18091", loop };
    QTest::newRow("IPv6 link-local with its interface") << "http://[fe80::1%25eth0]:18091" << QStringLiteral("box")
                                                        << QStringList { "http://[fe80::1%25eth0]:18091", loop };
    // A public address's token is never offered to whatever listens here.
    QTest::newRow("just past 172.16/12") << "http://172.32.0.1:18091" << QStringLiteral("box")
                                         << QStringList { "http://172.32.0.1:18091" };
    QTest::newRow("public address written as IPv6")
        << "http://[::ffff:8.8.8.8]:18091" << QStringLiteral("box") << QStringList { "http://[::ffff:8.8.8.8]:18091" };
    QTest::newRow("public address") << "http://8.8.8.8:18091" << QStringLiteral("studio.local")
                                    << QStringList { "http://8.8.8.8:18091" };
    QTest::newRow("loopback, .local host")
        << loop << QStringLiteral("studio.local") << QStringList { loop, "http://studio.local:18091" };
    QTest::newRow("loopback once") << loop << QStringLiteral("box") << QStringList { loop };
    QTest::newRow("localhost") << "http://localhost:9000" << QStringLiteral("box")
                               << QStringList { "http://localhost:9000", "http://127.0.0.1:9000" };
    QTest::newRow("this machine's .local name")
        << "http://Studio.local:7000" << QStringLiteral("studio.local")
        << QStringList { "http://Studio.local:7000", "http://studio.local:7000", "http://127.0.0.1:7000" };
    QTest::newRow("another .local name") << "http://other.local:7000" << QStringLiteral("studio.local")
                                         << QStringList { "http://other.local:7000", "http://studio.local:7000",
                                                "http://127.0.0.1:7000" };
    QTest::newRow("https without port") << "https://gw.example.com" << QStringLiteral("box")
                                        << QStringList { "https://gw.example.com" };
    QTest::newRow("not an address") << "::nope::" << QStringLiteral("box") << QStringList { "::nope::" };
    QTest::newRow(".local is case-sensitive")
        << "http://127.0.0.1:7000" << QStringLiteral("Studio.LOCAL") << QStringList { "http://127.0.0.1:7000" };
}

void TestGatewayClient::candidates()
{
    QFETCH(QString, api);
    QFETCH(QString, host);
    QFETCH(QStringList, expected);
    CLIConfig c;
    c.api = api;
    QCOMPARE(GatewayClient::candidates(c, host), expected);
}

void TestGatewayClient::phoneReachable_data()
{
    QTest::addColumn<QString>("origin");
    QTest::addColumn<bool>("reachable");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("loopback") << "http://127.0.0.1:18091" << false;
    QTest::newRow("loopback, another address") << "http://127.0.0.2:18091" << false;
    QTest::newRow("loopback, IPv6") << "http://[::1]:18091" << false;
    QTest::newRow("loopback, IPv4 written as IPv6") << "http://[::ffff:127.0.0.1]:18091" << false;
    QTest::newRow("localhost, upper case") << "http://LOCALHOST:18091" << false;
    QTest::newRow("lan") << "http://10.0.0.5:18091" << true;
}

void TestGatewayClient::phoneReachable()
{
    QFETCH(QString, origin);
    QFETCH(bool, reachable);
    QCOMPARE(GatewayClient::phoneReachable(origin), reachable ? std::optional<QString>(origin) : std::nullopt);
    QVERIFY(!GatewayClient::phoneReachable(std::nullopt));
}

void TestGatewayClient::segment_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("encoded"); // "-" for none
    QTest::newRow("ordinary") << "c-101_x.y~z" << QStringLiteral("c-101_x.y~z");
    QTest::newRow("slash, query, fragment") << "a/b?c#d" << QStringLiteral("a%2Fb%3Fc%23d");
    QTest::newRow("percent and space") << "50% off" << QStringLiteral("50%25%20off");
    QTest::newRow("non-ascii") << "任务" << QStringLiteral("%E4%BB%BB%E5%8A%A1");
    QTest::newRow("dot dot") << ".." << QStringLiteral("-");
    QTest::newRow("dot") << "." << QStringLiteral("-");
    QTest::newRow("empty") << "" << QStringLiteral("-");
}

void TestGatewayClient::segment()
{
    QFETCH(QString, id);
    QFETCH(QString, encoded);
    const auto s = GatewayClient::segment(id);
    QCOMPARE(s.value_or(QStringLiteral("-")), encoded);
}

void TestGatewayClient::cutOffBody_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("error"); // empty: the body is read whole
    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
    const QByteArray length = "Content-Length: " + QByteArray::number(kWhole.size()) + "\r\n\r\n";
    QTest::newRow("whole") << head + length + kWhole << QString();
    QTest::newRow("cut off") << head + length + kWhole.left(8) << QStringLiteral("网关没回完就断开了");
    QTest::newRow("not decompressing") << head + "Content-Encoding: gzip\r\nContent-Length: 14\r\n\r\n"
            + RawServer::brokenGzip() << QStringLiteral("网关的回复没能读完（内容坏了）");
}

// A 200 whose body never arrived in full is a failure, not a short answer.
void TestGatewayClient::cutOffBody()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, error);
    RawServer server({ reply });
    const CLIConfig config { server.origin(), QStringLiteral("ws"), QStringLiteral("tok") };
    GatewayClient client;
    client.setHostNameForTesting(QStringLiteral("desk"));
    const Result<QByteArray> got
        = QCoro::waitFor(client.get(config, QStringLiteral("/api/workspaces/ws/commands"), QStringLiteral("dev")));
    QCOMPARE(got.ok() ? QString::fromUtf8(*got) : got.failure().description(),
        error.isEmpty() ? QString::fromUtf8(kWhole) : error);
}

void TestGatewayClient::boundedReplies_data()
{
    QTest::addColumn<qint64>("bodyBytes"); // filler instead of the body; -2 keeps it, -1 never ends
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<int>("dripMs");
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<QString>("error"); // empty: the reply is read whole
    const qint64 pastCap = GatewayClient::kReplyBounds.maxBytes + 1024 * 1024;
    const int deadline = GatewayClient::kReplyBounds.deadlineMs;
    const QString tooLarge = QStringLiteral("网关的回复太大（超过 8 MB），没有读完");
    QTest::newRow("a whole reply in chunks") << qint64(-2) << true << 0 << deadline << QString();
    QTest::newRow("a length past the cap") << pastCap << false << 0 << deadline << tooLarge;
    QTest::newRow("a stream past the cap") << pastCap << true << 0 << deadline << tooLarge;
    QTest::newRow("a stream without end") << qint64(-1) << true << 0 << deadline << tooLarge;
    // Every byte restarts the transfer time-out; the deadline holds anyway.
    QTest::newRow("a byte at a time") << qint64(100) << false << 100 << 1000 << QStringLiteral("网关 1 秒内没有回复");
}

// What a reply may take is bounded in size and time, and the next request
// goes out as usual.
void TestGatewayClient::boundedReplies()
{
    QFETCH(qint64, bodyBytes);
    QFETCH(bool, chunked);
    QFETCH(int, dripMs);
    QFETCH(int, deadlineMs);
    QFETCH(QString, error);
    SimGateway sim;
    QVERIFY2(sim.ok(), sim.output().constData());
    const CLIConfig config = sim.config();
    const QString path = QStringLiteral("/api/workspaces/ws-demo/commands");
    sim.setStream("GET", path, bodyBytes, chunked, dripMs, 1);
    GatewayClient client;
    client.setHostNameForTesting(QString());
    client.setDeadlineForTesting(deadlineMs);

    const Result<QByteArray> reply = QCoro::waitFor(client.get(config, path, QStringLiteral("dev")));
    if (error.isEmpty()) {
        QVERIFY2(reply.ok(), qPrintable(reply.ok() ? QString() : reply.failure().description()));
        QVERIFY(QJsonDocument::fromJson(*reply).isObject());
    } else {
        QVERIFY(!reply.ok());
        QCOMPARE(reply.failure().description(), error);
    }
    const Result<QByteArray> next = QCoro::waitFor(client.get(config, path, QStringLiteral("dev")));
    QVERIFY2(next.ok(), qPrintable(next.ok() ? QString() : next.failure().description()));
}

void TestGatewayClient::fastEndlessReplies_data()
{
    QTest::addColumn<QByteArray>("verb"); // "PROBE": the liveness probe itself
    QTest::addColumn<qint64>("cap");
    QTest::newRow("a list") << QByteArray("GET") << GatewayClient::kReplyBounds.maxBytes;
    QTest::newRow("an action's answer") << QByteArray("POST") << GatewayClient::kReplyBounds.maxBytes;
    QTest::newRow("a file") << QByteArray("BLOB") << GatewayClient::kBlobBounds.maxBytes;
    QTest::newRow("a liveness probe") << QByteArray("PROBE") << GatewayClient::kProbeBounds.maxBytes;
}

// A reply without end, sent as fast as this machine can, is not read far past
// its cap: the sender gets no further than the cap and the socket buffers.
void TestGatewayClient::fastEndlessReplies()
{
    QFETCH(QByteArray, verb);
    QFETCH(qint64, cap);
    RawServer server(
        { "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n", true }, verb == "PROBE");
    const CLIConfig config { server.origin(), QStringLiteral("ws"), QStringLiteral("tok") };
    const QString path = QStringLiteral("/api/workspaces/ws/commands");
    GatewayClient client;
    client.setHostNameForTesting(QString());
    const Result<QByteArray> reply
        = QCoro::waitFor(verb == "POST" ? client.post(config, path, QJsonObject(), QStringLiteral("dev"))
                                        : client.get(config, path, QStringLiteral("dev"),
                                            verb == "BLOB" ? GatewayClient::kBlobBounds : GatewayClient::kReplyBounds));
    QVERIFY(!reply.ok());
    const qint64 written = server.fillerWritten();
    QVERIFY2(written < cap + RawServer::kSocketBuffers, qPrintable(QString::number(written)));
}

void TestGatewayClient::probesThatDoNotCount_data()
{
    QTest::addColumn<bool>("redirect"); // else the probe's answer drips
    QTest::newRow("a redirect to another origin") << true;
    QTest::newRow("an answer that drips") << false;
}

// A liveness probe counts only its own origin's answer, in time.
void TestGatewayClient::probesThatDoNotCount()
{
    QFETCH(bool, redirect);
    SimGateway sim;
    SimGateway elsewhere;
    QVERIFY2(sim.ok() && elsewhere.ok(), sim.output().constData());
    if (redirect)
        sim.setFault("GET", QStringLiteral("/healthz"), 302, (elsewhere.origin() + "/healthz").toUtf8());
    else
        sim.setStream("GET", QStringLiteral("/healthz"), qint64(-2), false, GatewayClient::kProbeTimeoutMs / 4);
    GatewayClient client;
    client.setHostNameForTesting(QString());
    const Result<QByteArray> reply
        = QCoro::waitFor(client.get(sim.config(), QStringLiteral("/api/workspaces/ws-demo/commands"), "dev"));
    QVERIFY(!reply.ok());
    QCOMPARE(reply.failure().code(), -2);
    QVERIFY(elsewhere.requests().isEmpty());
}

void TestGatewayClient::transportKeeps_data()
{
    QTest::addColumn<bool>("redirect"); // else a proxy that does not answer is set in the environment
    QTest::newRow("a redirect within the origin is followed") << true;
    QTest::newRow("this machine is asked past the environment's proxy") << false;
}

// This machine's address on its network is asked directly too, "localhost"
// is both loopback addresses, and a proxy that cannot be reached (refused,
// without an address, refusing the tunnel) is named. The server listens on
// `listen` ("own": this machine's network address); "%1" stands for its
// origin, "%2" for its port.
void TestGatewayClient::proxyRule_data()
{
    QTest::addColumn<QString>("listen");
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<QString>("api");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("shown"); // empty: the answer is read
    const QByteArray whole
        = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(kWhole.size()) + "\r\n\r\n" + kWhole;
    // A name never looked up: the proxy is asked for it.
    const QString name = QStringLiteral("http://gateway.invalid:18091");
    const QString loopback = QStringLiteral("127.0.0.1");
    QTest::newRow("an interface address is asked past the proxy")
        << QStringLiteral("own") << QStringLiteral("http://127.0.0.1:9") << QStringLiteral("%1") << whole << QString();
    QTest::newRow("localhost reaches a gateway on the IPv6 loopback only")
        << QStringLiteral("::1") << QStringLiteral("http://127.0.0.1:9") << QStringLiteral("http://localhost:%2")
        << whole << QString();
    QTest::newRow("a proxy that does not answer is named")
        << loopback << QStringLiteral("http://127.0.0.1:9") << name << whole
        << QStringLiteral("连不上代理 http://127.0.0.1:9（Connection refused）。试过：") + name;
    QTest::newRow("a proxy whose name has no address is named")
        << loopback << QStringLiteral("http://nowhere.test:3128") << name << whole
        << QStringLiteral("连不上代理 http://nowhere.test:3128（Could not resolve proxy: nowhere.test）。试过：")
            + name;
    QTest::newRow("a proxy that refuses the tunnel is named")
        << loopback << QStringLiteral("%1") << QStringLiteral("https://gateway.invalid:18091")
        << QByteArray("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
        << QStringLiteral("连不上代理 %1（CONNECT tunnel failed, response 502）。试过：https://gateway.invalid:18091");
}

void TestGatewayClient::proxyRule()
{
    QFETCH(QString, listen);
    QFETCH(QString, proxy);
    QFETCH(QString, api);
    QFETCH(QByteArray, answer);
    QFETCH(QString, shown);
    if (listen == QLatin1String("own")) {
        listen.clear();
        for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
                listen = a.toString();
        }
        if (listen.isEmpty())
            QSKIP("this machine has no network address but loopback");
    }
    RawServer server({ answer }, false, qPrintable(listen));
    const QString port = QString::number(QUrl(server.origin()).port());
    if (port == QLatin1String("0"))
        QSKIP("this machine cannot listen on that address");
    const QByteArray oldProxy = qgetenv("http_proxy");
    const QByteArray oldSecureProxy = qgetenv("https_proxy");
    qputenv("http_proxy", proxy.arg(server.origin()).toUtf8());
    qputenv("https_proxy", proxy.arg(server.origin()).toUtf8());
    const CLIConfig config { api.replace(QLatin1String("%1"), server.origin()).replace(QLatin1String("%2"), port),
        QStringLiteral("ws"), QStringLiteral("tok") };
    GatewayClient client;
    client.setHostNameForTesting(QString());
    const Result<QByteArray> reply = QCoro::waitFor(client.get(config, QStringLiteral("/x"), QStringLiteral("dev")));
    qputenv("http_proxy", oldProxy);
    qputenv("https_proxy", oldSecureProxy);
    if (shown.isEmpty()) {
        QVERIFY2(reply.ok(), qPrintable(reply.ok() ? QString() : reply.failure().description()));
        QCOMPARE(*reply, kWhole);
    } else {
        QCOMPARE(reply.failure().description(), shown.arg(server.origin()));
    }
}

// What the transport keeps besides its bounds: a redirect to the same origin
// is followed with the token, and loopback never goes through a proxy.
void TestGatewayClient::transportKeeps()
{
    QFETCH(bool, redirect);
    SimGateway sim;
    QVERIFY2(sim.ok(), sim.output().constData());
    const QString moved = QStringLiteral("/api/workspaces/ws-demo/moved");
    const QString commands = QStringLiteral("/api/workspaces/ws-demo/commands");
    if (redirect)
        sim.setFault("GET", moved, 302, (sim.origin() + commands).toUtf8());
    const QByteArray oldProxy = qgetenv("http_proxy");
    if (!redirect)
        qputenv("http_proxy", "http://127.0.0.1:9");
    GatewayClient client;
    client.setHostNameForTesting(QString());
    const Result<QByteArray> reply
        = QCoro::waitFor(client.get(sim.config(), redirect ? moved : commands, QStringLiteral("dev")));
    qputenv("http_proxy", oldProxy);
    QVERIFY2(reply.ok(), qPrintable(reply.ok() ? QString() : reply.failure().description()));
    QVERIFY(QJsonDocument::fromJson(*reply).isObject());
    const QJsonObject last = sim.requests().last().toObject();
    QCOMPARE(last.value("path").toString(), commands);
    QCOMPARE(last.value("headers").toObject().value("authorization").toString(), "Bearer " + sim.config().token);

    // The kept-alive connection's next request watches its socket with the same notifiers.
    QList<QPointer<QSocketNotifier>> notifiers;
    for (QSocketNotifier* n : client.findChildren<QSocketNotifier*>())
        notifiers.append(n);
    QVERIFY(!notifiers.isEmpty());
    QVERIFY(QCoro::waitFor(client.get(sim.config(), commands, QStringLiteral("dev"))).ok());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(std::ranges::none_of(notifiers, [](const QPointer<QSocketNotifier>& n) { return n.isNull(); }));
}

// A configured address on another machine that does not answer gets no
// stand-in here: its token goes to no gateway on this machine's port.
void TestGatewayClient::tokenStaysWithItsGateway()
{
    SimGateway sim;
    QVERIFY2(sim.ok(), sim.output().constData());
    CLIConfig config = sim.config();
    config.api = QStringLiteral("http://192.0.2.1:") + QString::number(sim.port()); // TEST-NET-1
    GatewayClient client;
    client.setHostNameForTesting(QStringLiteral("desk.local"));
    const Result<QByteArray> reply
        = QCoro::waitFor(client.get(config, QStringLiteral("/api/workspaces/ws-demo/commands"), "dev"));
    QVERIFY(!reply.ok());
    QCOMPARE(reply.failure().description(),
        QStringLiteral("连不上网关。试过：") + config.api + QStringLiteral("。网关是否在跑：docker compose ps"));
    QVERIFY(sim.requests().isEmpty());
}

// A thousand evidence polls to one gateway, each slow to answer: a few go out,
// the rest wait their turn, and a status read goes out at once ahead of them.
// Polls still waiting when what asked for them, or their client, goes end unsent.
void TestGatewayClient::statusReadsGoFirst()
{
    SimGateway sim;
    QVERIFY2(sim.ok(), sim.output().constData());
    const CLIConfig config = sim.config();
    const QString commands = QStringLiteral("/api/workspaces/ws-demo/commands");
    sim.setFault("GET", commands + "/p-*", 0, {}, 2000);
    RequestGate& gate = RequestGate::shared();
    auto polls = std::make_unique<GatewayClient>();
    auto askers = std::make_unique<QObject>();
    int ended = 0;
    const auto poll = [&](int i) -> QCoro::Task<> {
        auto fetch = polls->get(config, commands + "/p-" + QString::number(i) + "/changes", "dev",
            GatewayClient::kReplyBounds, RequestGate::Priority::Poll, i >= 500 ? askers.get() : nullptr);
        co_await std::move(fetch);
        ++ended;
    };
    for (int i = 0; i < 1000; ++i)
        poll(i);
    QCOMPARE(gate.inFlight(config.api), RequestGate::kPollSlots);
    QCOMPARE(gate.waiting(config.api, RequestGate::Priority::Poll), 1000 - RequestGate::kPollSlots);

    GatewayClient status;
    const Result<QByteArray> list = QCoro::waitFor(status.get(config, commands, "dev"));
    QVERIFY2(list.ok(), qPrintable(list.ok() ? QString() : list.failure().description()));
    QVERIFY(gate.waiting(config.api, RequestGate::Priority::Poll) > 900);

    askers.reset();
    QVERIFY(ended >= 500);
    QVERIFY(gate.waiting(config.api, RequestGate::Priority::Poll) < 500);
    polls.reset();
    QCOMPARE(ended, 1000);
    QCOMPARE(gate.inFlight(config.api), 0);
    QCOMPARE(gate.waiting(config.api, RequestGate::Priority::Poll), 0);
    const QJsonArray log = sim.requests();
    const auto sent = std::count_if(log.begin(), log.end(),
        [&](const QJsonValue& r) { return r.toObject().value("path").toString().startsWith(commands + "/p-"); });
    QVERIFY2(sent < 100, qPrintable(QString::number(sent)));
}

// A slow but steady reply (a long list on a poor link) has a minute.
void TestGatewayClient::requestDeadline()
{
    QCOMPARE(
        GatewayClient::noAnswerText(GatewayClient::kReplyBounds.deadlineMs), QStringLiteral("网关 60 秒内没有回复"));
}

// A password written into the configured address is in none of the texts that name it.
void TestGatewayClient::addressesWithoutPasswords()
{
    // Also a password with characters that end a password in running text.
    for (const char* password : { "pw", "p w\"<pw>" }) {
        const CLIConfig config { QStringLiteral("http://me:%1@127.0.0.1:1").arg(QLatin1String(password)),
            QStringLiteral("ws"), QStringLiteral("tok") };
        GatewayClient client;
        client.setHostNameForTesting(QString());
        const Result<QByteArray> reply
            = QCoro::waitFor(client.get(config, QStringLiteral("/x"), QStringLiteral("dev")));
        QCOMPARE(reply.failure().description(),
            QStringLiteral(
                "连不上网关。试过：http://***@127.0.0.1:1、http://127.0.0.1:1。网关是否在跑：docker compose ps"));
        QCOMPARE(GatewayClient::invalidAddress(config).description(),
            QStringLiteral("网关地址不合法：http://***@127.0.0.1:1"));
        QVERIFY(!GatewayClient::endpointNote(config.api, QStringLiteral("http://127.0.0.1:1"))->contains("pw"));
    }
}

// A gateway's message echoing the token of another workspace paired here has it masked too.
void TestGatewayClient::everyHeldTokenMasked()
{
    TempHome home;
    const QString other = home.writeFile(".tolvarine/workspaces/blog.json",
        R"({"api":"http://10.0.0.9:1","workspace":"blog","token":"blog-secret-42"})");
    QVERIFY(CLIConfig::fromFile(other));
    const QByteArray body = R"({"error":"令牌 blog-secret-42 不是 own-token 的"})";
    RawServer server({ "HTTP/1.1 403 Forbidden\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body });
    const CLIConfig config { server.origin(), QStringLiteral("ws"), QStringLiteral("own-token") };
    GatewayClient client;
    const Result<QByteArray> reply = QCoro::waitFor(client.get(config, QStringLiteral("/x"), QStringLiteral("dev")));
    QCOMPARE(reply.failure().description(), QStringLiteral("令牌 **** 不是 **** 的"));
}

// A gateway named by a host name whose lookup takes 3 s (a slow name
// server): the GUI thread never waits for a lookup, neither when a request
// gives up nor when its owner goes mid-lookup (a closed sheet, the quit), and
// the answer is kept, so requests reach the gateway once it came.
void TestGatewayClient::slowLookups()
{
    SimGateway sim;
    QVERIFY2(sim.ok(), sim.output().constData());
    g_slowLookupMs = 3000;
    const auto slow = [&](const char* name) {
        CLIConfig config = sim.config();
        config.api = QStringLiteral("http://%1:%2").arg(QLatin1String(name)).arg(sim.port());
        return config;
    };
    const QString commands = QStringLiteral("/api/workspaces/ws-demo/commands");
    StallProbe probe;
    {
        auto gone = std::make_unique<GatewayClient>();
        gone->setHostNameForTesting(QString());
        auto pending = gone->get(slow("slow-other.test"), commands, QStringLiteral("dev"));
        QTest::qWait(300);
        gone.reset();
        QVERIFY(QCoro::waitFor(std::move(pending)).failure().description().contains(QStringLiteral("取消")));
    }
    GatewayClient client;
    client.setHostNameForTesting(QString());
    int tries = 0;
    while (sim.requests().isEmpty() && ++tries < 20)
        (void)QCoro::waitFor(client.get(slow("slow-gateway.test"), commands, QStringLiteral("dev")));
    QVERIFY(!sim.requests().isEmpty());
    const int lookups = g_slowLookups;
    for (int i = 0; i < 5; ++i)
        QVERIFY(QCoro::waitFor(client.get(slow("slow-gateway.test"), commands, QStringLiteral("dev"))).ok());
    QCOMPARE(g_slowLookups.load(), lookups);
    g_slowLookupMs = 0;
    qInfo("%d requests before one reached the gateway; longest block of the thread %.0f ms", tries, probe.worstMs());
    probe.verifyNoStall();
}

// A request counts as written, and so as possibly taken, only once the
// connection was made and some of it went out: not during a TLS handshake
// that gets no answer, nor for a name that has no address (said as before).
void TestGatewayClient::requestWritten()
{
    RawServer silent({ QByteArray() });
    RawServer closing({ QByteArray() });
    QObject owner;
    NetworkAccess::Manager* nam = NetworkAccess::create(&owner);
    const QString nowhere = QStringLiteral("http://nowhere.test:18091");
    for (const QString& origin :
        { silent.origin().replace(QLatin1String("http:"), QLatin1String("https:")), closing.origin(), nowhere }) {
        NetworkAccess::Request request;
        request.url = QUrl(origin + QStringLiteral("/api/workspaces/ws/tasks/t1/retry"));
        request.verb = "POST";
        request.body = QByteArray("{}");
        request.idleMs = 300;
        NetworkAccess::ReplyPtr reply(nam->send(request));
        QSignalSpy finished(reply.get(), &NetworkAccess::Reply::finished);
        QVERIFY(finished.wait(30000));
        const bool tls = origin.startsWith(QLatin1String("https:"));
        if (origin == nowhere) {
            QCOMPARE(reply->error(), NetworkAccess::Reply::Error::Refused);
            QCOMPARE(reply->errorString(), QStringLiteral("Could not resolve host: nowhere.test"));
        } else {
            QCOMPARE(reply->error(), tls ? NetworkAccess::Reply::Error::Idle : NetworkAccess::Reply::Error::Dropped);
        }
        QCOMPARE(reply->requestWritten(), !tls && origin != nowhere);
    }
}

// Without libcurl the window says what to install, in its own words. libcurl
// is loaded once in a program: this runs in a program of its own.
void TestGatewayClient::withoutLibcurl()
{
    if (qEnvironmentVariableIsEmpty("TOLVARINE_TEST_NO_CURL")) {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TOLVARINE_TEST_NO_CURL"), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("withoutLibcurl") });
        QVERIFY(child.waitForFinished(120000));
        QCOMPARE(child.exitCode(), 0);
        return;
    }
    LateLibrary::setMissingForTesting("libcurl.so.4");
    GatewayClient client;
    client.setHostNameForTesting(QString());
    const CLIConfig config { QStringLiteral("http://127.0.0.1:1"), QStringLiteral("ws"), QStringLiteral("tok") };
    const Result<QByteArray> reply = QCoro::waitFor(client.get(config, QStringLiteral("/x"), QStringLiteral("dev")));
    QCOMPARE(reply.failure().description(),
        QStringLiteral("网络组件没能载入（找不到 libcurl.so.4），请求都发不出去：请安装 libcurl4 软件包"));
}

QTEST_GUILESS_MAIN(TestGatewayClient)
#include "tst_GatewayClient.moc"
