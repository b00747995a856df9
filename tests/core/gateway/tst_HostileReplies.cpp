#include "core/gateway/GatewayClient.h"
#include "core/gateway/NetworkAccess.h"
#include "core/providers/ProviderVerify.h"
#include "core/workspaces/WorkspaceCatalog.h"

#include "RawServer.h"
#include "SimGateway.h"
#include "TempHome.h"

#include <QCoroTask>
#include <QtTest>

namespace {

// The hostile server's requests have limits this many times shorter in the
// rows that wait for them (the stand-in's keep theirs).
constexpr int kDivisor = 10;

enum class Kind { List, Health, Artifact, Action, Pairing, Provider };

// How a reply ends, as the transport sees it.
enum class Ending { TooLarge, Deadline, Silent, Broken, Dropped, Unanswered, Short, Redirect };

// 48 MB of zeros as a gzip body of a few dozen KB: qCompress's deflate
// stream in a gzip wrapper (its trailer is never reached).
QByteArray gzipBomb()
{
    static const QByteArray bomb = [] {
        const QByteArray zlib = qCompress(QByteArray(48 * 1024 * 1024, '\0'), 9);
        // qCompress: a 4-byte length, a 2-byte zlib header, the stream, a 4-byte checksum.
        return QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + zlib.mid(6).chopped(4)
            + QByteArray(8, '\0');
    }();
    return bomb;
}

struct Attack {
    const char* name;
    RawServer::Reply reply;
    Ending ending;
    bool tls = false; // asked over https: the handshake gets no answer (asked directly only)
};

// A redirect to another path of the same origin, which sends the same again.
RawServer::Reply redirect(int status)
{
    return { "HTTP/1.1 " + QByteArray::number(status) + " Moved\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n" };
}

QList<Attack> attacks()
{
    const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
    const QByteArray chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
    // After a gzip header, empty stored blocks, each with a 1-byte one between them now and then.
    const QByteArray deflate = ok + "Content-Encoding: gzip\r\nConnection: close\r\n\r\n"
        + QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    const QByteArray emptyBlock("\x00\x00\x00\xff\xff", 5);
    const QByteArray oneByteBlock("\x00\x01\x00\xfe\xff{", 6);
    QByteArray lines = ok;
    for (int i = 0; i < 100000; ++i)
        lines += "X-Line-" + QByteArray::number(i) + ": 1\r\n";
    return {
        { "a body without end at full speed", { ok + "Connection: close\r\n\r\n", true }, Ending::TooLarge },
        { "a chunk larger than what follows", { chunked + "FFFFFFFFFFFFFFF\r\n", true }, Ending::TooLarge },
        { "a negative chunk size", { chunked + "-10\r\n0123456789\r\n0\r\n\r\n" }, Ending::Broken },
        { "a header line without end", { ok + "X-Pad: ", true }, Ending::Broken },
        { "100,000 header lines", { lines + "Content-Length: 2\r\n\r\n{}" }, Ending::Broken },
        { "a byte at a time, inside the idle limit",
            { ok + "Content-Length: 1000000\r\n\r\n", true, 4000 / kDivisor / 4 }, Ending::Deadline },
        { "silent after the first byte", { ok + "Content-Length: 1000\r\n\r\n", true, 60000 }, Ending::Silent },
        { "a gzip bomb",
            { ok + "Content-Encoding: gzip\r\nContent-Length: " + QByteArray::number(gzipBomb().size()) + "\r\n\r\n"
                + gzipBomb() },
            Ending::TooLarge },
        { "a length past the body", { ok + "Content-Length: 1000\r\n\r\n{}" }, Ending::Dropped },
        { "a length short of the body", { ok + "Content-Length: 2\r\n\r\n{}, and more" }, Ending::Short },
        { "a close after the status line", { "HTTP/1.1 200 OK\r\n" }, Ending::Dropped },
        { "a close after the request", { QByteArray() }, Ending::Unanswered },
        { "an endless chunk extension", { chunked + "1;", true, 0, "a" }, Ending::TooLarge },
        { "an endless chunk extension, a body byte now and then", { chunked + "1;", true, 0, "a", "\r\n{\r\n1;", 200 },
            Ending::TooLarge },
        { "endless empty deflate blocks", { deflate, true, 0, emptyBlock }, Ending::TooLarge },
        { "endless empty deflate blocks, a body byte now and then", { deflate, true, 0, emptyBlock, oneByteBlock, 200 },
            Ending::TooLarge },
        { "interim answers, then a close", { "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n" },
            Ending::Unanswered },
        { "301 within the origin", redirect(301), Ending::Redirect },
        { "302 within the origin", redirect(302), Ending::Redirect },
        { "303 within the origin", redirect(303), Ending::Redirect },
        { "307 within the origin", redirect(307), Ending::Redirect },
        { "308 within the origin", redirect(308), Ending::Redirect },
        { "a TLS handshake without answer", { QByteArray() }, Ending::Silent, true },
    };
}

QString kindName(Kind kind)
{
    static const char* const names[] = { "list", "health check", "artifact", "action", "phone pairing", "model list" };
    return QString::fromLatin1(names[int(kind)]);
}

qint64 capOf(Kind kind)
{
    switch (kind) {
    case Kind::Health:
        return GatewayClient::kProbeBounds.maxBytes;
    case Kind::Artifact:
        return GatewayClient::kBlobBounds.maxBytes;
    case Kind::Pairing:
        return WorkspaceCatalog::kPairReplyMaxBytes;
    case Kind::Provider:
        return ProviderVerify::kMaxReplyBytes;
    default:
        return GatewayClient::kReplyBounds.maxBytes;
    }
}

// What the caller shows for a 3xx taken as the answer.
QString redirected(Kind kind, int status)
{
    const QString code = QString::number(status);
    switch (kind) {
    case Kind::Pairing:
        return QStringLiteral("服务端拒绝了配对请求（HTTP ") + code + QStringLiteral("）");
    case Kind::Provider:
        return QStringLiteral("HTTP ") + code;
    default:
        return QStringLiteral("网关回了 ") + code;
    }
}

// What the caller shows for an ending, in its own words.
QString expected(Kind kind, Ending ending, const QString& origin, int status)
{
    if (ending == Ending::Redirect && kind != Kind::Health)
        return redirected(kind, status);
    const QString tooLarge = NetworkAccess::tooLargeText(capOf(kind));
    const QString dropped = QStringLiteral("网关没回完就断开了");
    const QString broken = QStringLiteral("网关的回复没能读完（内容坏了）");
    switch (kind) {
    case Kind::Health:
        if (ending == Ending::Short)
            return QStringLiteral("ok");
        return QStringLiteral("连不上网关。试过：") + origin + QStringLiteral("。网关是否在跑：docker compose ps");
    case Kind::Pairing: {
        const QString failed = QStringLiteral("取配对码失败：");
        switch (ending) {
        case Ending::TooLarge:
            return failed + tooLarge;
        case Ending::Deadline:
        case Ending::Silent: // the pairing's own limit, not the gateway's usual one
            return failed + GatewayClient::noAnswerText(WorkspaceCatalog::kPairTimeoutMs);
        case Ending::Broken:
            return failed + broken;
        case Ending::Dropped:
        case Ending::Unanswered:
            return failed + dropped;
        case Ending::Short:
            return QStringLiteral("服务端没有给出配对码");
        }
        break;
    }
    case Kind::Provider:
        switch (ending) {
        case Ending::TooLarge:
            return tooLarge;
        case Ending::Deadline:
        case Ending::Silent:
            return QStringLiteral("没有在时限内应答");
        case Ending::Broken:
            return QStringLiteral("HTTP 200 · 回复没有收全：数据坏了，读不出来");
        case Ending::Dropped:
            return QStringLiteral("HTTP 200 · 回复没有收全：没发完就断开了");
        case Ending::Unanswered:
            return QStringLiteral("连不上：没发完就断开了");
        case Ending::Short:
            return QStringLiteral("HTTP 200 · 回复不是模型列表：{}");
        }
        break;
    default:
        switch (ending) {
        case Ending::TooLarge:
            return QStringLiteral("网关的") + tooLarge;
        case Ending::Deadline:
            return GatewayClient::noAnswerText(GatewayClient::kReplyBounds.deadlineMs);
        case Ending::Silent:
            return GatewayClient::noAnswerText(GatewayClient::kRequestTimeoutMs);
        case Ending::Broken:
            return broken;
        case Ending::Dropped:
        case Ending::Unanswered:
            return dropped;
        case Ending::Short:
            return QStringLiteral("ok");
        }
    }
    return QString();
}

QByteArray pairingFile(const QString& api, const QString& device = {})
{
    QJsonObject o { { "api", api }, { "workspace", "ws-demo" }, { "token", "demo-token" }, { "name", "Demo" } };
    if (!device.isEmpty())
        o.insert("device", device);
    return QJsonDocument(o).toJson();
}

// One request of `kind` to `origin`, and what its caller shows: "ok" for a
// body read whole (or a link), else the text.
QCoro::Task<QString> ask(Kind kind, QString origin, WorkspaceCatalog* catalog, bool* outcomeUnknown)
{
    const CLIConfig config { origin, QStringLiteral("ws"), QStringLiteral("tok") };
    const QString path = QStringLiteral("/api/workspaces/ws/tasks/t1/retry");
    if (kind == Kind::Pairing) {
        catalog->setPublishEndpoint(origin);
        auto refresh = catalog->refreshPairLink();
        co_await std::move(refresh);
        co_return catalog->pairLinkError().value_or(QStringLiteral("ok"));
    }
    if (kind == Kind::Provider) {
        QObject owner;
        ProviderProfile profile;
        profile.provider = QStringLiteral("openai");
        profile.baseURL = origin;
        auto check = ProviderVerify::check(NetworkAccess::create(&owner), profile, QStringLiteral("sk-test"));
        const ProviderVerify::Outcome outcome = co_await std::move(check);
        co_return outcome.ok ? QStringLiteral("ok") : outcome.detail;
    }
    GatewayClient client;
    client.setHostNameForTesting(QString());
    auto request = kind == Kind::Action
        ? client.post(config, path, QJsonObject(), QStringLiteral("dev"))
        : client.get(config, path, QStringLiteral("dev"),
            kind == Kind::Artifact ? GatewayClient::kBlobBounds : GatewayClient::kReplyBounds);
    const Result<QByteArray> reply = co_await std::move(request);
    *outcomeUnknown = !reply.ok() && reply.failure().outcomeUnknown();
    co_return reply.ok() ? QStringLiteral("ok") : reply.failure().description();
}

} // namespace

class TestHostileReplies : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void bounded_data();
    void bounded();

private:
    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimGateway> m_sim;
    std::unique_ptr<WorkspaceCatalog> m_catalog;
};

void TestHostileReplies::initTestCase()
{
    m_home = std::make_unique<TempHome>();
    m_sim = std::make_unique<SimGateway>();
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    m_home->writeFile(".tolvarine/workspaces/demo.json", pairingFile(m_sim->origin()));
    m_home->writeFile(".tolvarine/config.json", pairingFile(m_sim->origin(), QStringLiteral("dev-desk")));
    m_catalog = std::make_unique<WorkspaceCatalog>();
    m_catalog->setHostNameForTesting(QStringLiteral("build-host"));
    QCoro::waitFor(m_catalog->reload(false));
    m_catalog->setSelectedID(QStringLiteral("ws-demo"));
}

void TestHostileReplies::cleanupTestCase()
{
    m_catalog.reset();
    m_sim.reset();
    m_home.reset();
}

void TestHostileReplies::bounded_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("attack");
    const QList<Attack> all = attacks();
    for (int k = 0; k <= int(Kind::Provider); ++k) {
        for (int a = 0; a < all.size(); ++a) {
            // A gateway request first asks the health check, which would fail over to plain http on loopback.
            if (all[a].tls && k != int(Kind::Pairing) && k != int(Kind::Provider))
                continue;
            QTest::addRow("%s, %s", qPrintable(kindName(Kind(k))), all[a].name) << k << a;
        }
    }
}

// Whatever a server sends, the transport reads no more than the cap and the
// socket buffers, ends in the caller's own words, sends an action once, and
// the stand-in gateway is answered meanwhile.
void TestHostileReplies::bounded()
{
    QFETCH(int, kind);
    QFETCH(int, attack);
    const Attack a = attacks().at(attack);
    const auto k = Kind(kind);
    RawServer server(a.reply, k == Kind::Health);
    const bool slow = a.ending == Ending::Deadline || a.ending == Ending::Silent;
    QString origin = server.origin();
    if (a.tls)
        origin.replace(QLatin1String("http:"), QLatin1String("https:"));
    NetworkAccess::setTimeLimitsDividedForTesting(slow ? kDivisor : 1, origin);
    bool unknown = false;
    auto hostile = ask(k, origin, m_catalog.get(), &unknown);

    GatewayClient other;
    other.setHostNameForTesting(QString());
    const Result<QByteArray> meanwhile = QCoro::waitFor(
        other.get(m_sim->config(), QStringLiteral("/api/workspaces/ws-demo/commands"), QStringLiteral("dev")));
    QVERIFY2(meanwhile.ok(), qPrintable(meanwhile.ok() ? QString() : meanwhile.failure().description()));

    const QString got = QCoro::waitFor(std::move(hostile));
    NetworkAccess::setTimeLimitsDividedForTesting(1);
    QCOMPARE(got, expected(k, a.ending, origin, a.reply.bytes.mid(9, 3).toInt()));
    QVERIFY2(server.written() < capOf(k) + RawServer::kSocketBuffers, qPrintable(QString::number(server.written())));
    // An action is sent once and never turned into another request.
    if (k == Kind::Action || k == Kind::Pairing)
        QCOMPARE(server.requests(), a.tls ? 0 : 1);
    // An action whose connection broke after it went out may have been
    // carried out: it is shown as unknown and the list read again. One that
    // was not written, or that was answered, is not.
    if (k == Kind::Action)
        QCOMPARE(unknown,
            a.ending != Ending::TooLarge && a.ending != Ending::Short && a.ending != Ending::Redirect && !a.tls);
}

QTEST_GUILESS_MAIN(TestHostileReplies)
#include "tst_HostileReplies.moc"
