#include "core/gateway/GatewayClient.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <QCoroTask>

namespace {

// A gateway that answers /healthz and sends `body` for every other path,
// announcing `length` bytes; it hangs up after writing, so a length larger
// than the body leaves the reply cut off after a 200.
class CuttingGateway : public QTcpServer {
public:
    CuttingGateway(QByteArray body, qsizetype length)
        : m_body(std::move(body))
        , m_length(length)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                serve(socket);
        });
        listen(QHostAddress::LocalHost, 0);
    }

private:
    void serve(QTcpSocket* socket)
    {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            for (qsizetype end = buffer->indexOf("\r\n\r\n"); end >= 0; end = buffer->indexOf("\r\n\r\n")) {
                const QByteArray head = buffer->left(end);
                buffer->remove(0, end + 4);
                if (head.startsWith("GET /healthz ")) {
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
                    continue;
                }
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                    + QByteArray::number(m_length) + "\r\n\r\n" + m_body);
                socket->disconnectFromHost();
                return;
            }
        });
    }

    QByteArray m_body;
    qsizetype m_length;
};

} // namespace

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
};

void TestGatewayClient::candidates_data()
{
    QTest::addColumn<QString>("api");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QStringList>("expected");
    const QString loop = QStringLiteral("http://127.0.0.1:18091");
    QTest::newRow("other machine, .local host")
        << "http://10.0.0.5:18091" << QStringLiteral("studio.local")
        << QStringList { "http://10.0.0.5:18091", "http://studio.local:18091", loop };
    QTest::newRow("loopback once") << loop << QStringLiteral("box") << QStringList { loop };
    QTest::newRow("https without port") << "https://gw.example.com" << QStringLiteral("box")
                                        << QStringList { "https://gw.example.com", loop };
    QTest::newRow("not an address") << "::nope::" << QStringLiteral("box") << QStringList { "::nope::", loop };
    QTest::newRow(".local is case-sensitive") << "http://10.0.0.5:7000" << QStringLiteral("Studio.LOCAL")
                                              << QStringList { "http://10.0.0.5:7000", "http://127.0.0.1:7000" };
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
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("announced");
    QTest::addColumn<bool>("ok");
    const QByteArray whole = R"({"commands":[]})";
    QTest::newRow("whole") << whole << int(whole.size()) << true;
    QTest::newRow("cut off") << whole.left(8) << int(whole.size()) << false;
}

// A 200 whose body never arrived in full is a failure, not a short answer.
void TestGatewayClient::cutOffBody()
{
    QFETCH(QByteArray, body);
    QFETCH(int, announced);
    QFETCH(bool, ok);
    CuttingGateway server(body, announced);
    QVERIFY(server.isListening());
    CLIConfig config;
    config.api = QStringLiteral("http://127.0.0.1:") + QString::number(server.serverPort());
    config.workspace = QStringLiteral("ws");
    config.token = QStringLiteral("tok");
    GatewayClient client;
    client.setHostNameForTesting(QStringLiteral("desk"));
    const Result<QByteArray> reply
        = QCoro::waitFor(client.get(config, QStringLiteral("/api/workspaces/ws/commands"), QStringLiteral("dev")));
    QCOMPARE(reply.ok(), ok);
    if (ok)
        QCOMPARE(*reply, body);
    else
        QCOMPARE(reply.failure().kind(), Failure::Kind::Transport);
}

QTEST_GUILESS_MAIN(TestGatewayClient)
#include "tst_GatewayClient.moc"
