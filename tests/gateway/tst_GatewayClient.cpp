#include "gateway/GatewayClient.h"

#include <QtTest>

class TestGatewayClient : public QObject {
    Q_OBJECT
private slots:
    void candidates_data();
    void candidates();
    void phoneReachable_data();
    void phoneReachable();
    void segment_data();
    void segment();
};

void TestGatewayClient::candidates_data()
{
    QTest::addColumn<QString>("api");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("other machine, .local host")
        << "http://10.0.0.5:18091"
        << "studio.local"
        << QStringList { "http://10.0.0.5:18091", "http://studio.local:18091", "http://127.0.0.1:18091" };
    QTest::newRow("loopback once") << "http://127.0.0.1:18091"
                                   << "box" << QStringList { "http://127.0.0.1:18091" };
    QTest::newRow("https without port") << "https://gw.example.com"
                                        << "box" << QStringList { "https://gw.example.com", "http://127.0.0.1:18091" };
    QTest::newRow("not an address") << "::nope::"
                                    << "box" << QStringList { "::nope::", "http://127.0.0.1:18091" };
    QTest::newRow(".local is case-sensitive")
        << "http://10.0.0.5:7000"
        << "Studio.LOCAL" << QStringList { "http://10.0.0.5:7000", "http://127.0.0.1:7000" };
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
    QTest::newRow("mdns") << "http://studio.local:18091" << true;
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
    QTest::newRow("ordinary") << "c-101_x.y~z"
                              << "c-101_x.y~z";
    QTest::newRow("slash, query, fragment") << "a/b?c#d"
                                            << "a%2Fb%3Fc%23d";
    QTest::newRow("percent and space") << "50% off"
                                       << "50%25%20off";
    QTest::newRow("non-ascii") << "任务"
                               << "%E4%BB%BB%E5%8A%A1";
    QTest::newRow("dot dot") << ".."
                             << "-";
    QTest::newRow("dot") << "."
                         << "-";
    QTest::newRow("empty") << ""
                           << "-";
}

void TestGatewayClient::segment()
{
    QFETCH(QString, id);
    QFETCH(QString, encoded);
    const auto s = GatewayClient::segment(id);
    QCOMPARE(s.value_or(QStringLiteral("-")), encoded);
}

QTEST_GUILESS_MAIN(TestGatewayClient)
#include "tst_GatewayClient.moc"
