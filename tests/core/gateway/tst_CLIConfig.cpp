#include "core/gateway/CLIConfig.h"

#include <QtTest>

class TestCLIConfig : public QObject {
    Q_OBJECT
private slots:
    void decoding_data();
    void decoding();
    void displayName_data();
    void displayName();
    void deviceId();
    void roundTrip();
};

void TestCLIConfig::decoding_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("name"); // "<absent>" for none

    const QByteArray base = R"("api":"http://h:1","workspace":"ws1","token":"t")";
    QTest::newRow("required only") << ("{" + base + "}") << true << "<absent>";
    QTest::newRow("null name is absent") << ("{" + base + R"(,"name":null})") << true << "<absent>";
    QTest::newRow("empty name is present") << ("{" + base + R"(,"name":""})") << true << "";
    QTest::newRow("unknown key ignored") << ("{" + base + R"(,"extra":[1,{"x":2}],"name":"N"})") << true << "N";
    QTest::newRow("number path fails") << ("{" + base + R"(,"path":42})") << false << "";
    QTest::newRow("missing token") << QByteArray(R"({"api":"a","workspace":"w"})") << false << "";
}

void TestCLIConfig::decoding()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, ok);
    QFETCH(QString, name);
    const auto c = CLIConfig::fromJson(json);
    QCOMPARE(c.has_value(), ok);
    if (!ok)
        return;
    QCOMPARE(c->api, QStringLiteral("http://h:1"));
    if (name == QLatin1String("<absent>"))
        QVERIFY(!c->name.has_value());
    else
        QCOMPARE(c->name, std::optional<QString>(name));
}

void TestCLIConfig::displayName_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected");
    QTest::newRow("name wins") << QByteArray(
        R"({"api":"a","workspace":"abcdefghijkl","token":"t","name":"Shop","path":"/x/y"})")
                               << "Shop";
    QTest::newRow("empty name falls to folder")
        << QByteArray(R"({"api":"a","workspace":"abcdefghijkl","token":"t","name":"","path":"/Users/x/code/shop"})")
        << "shop";
    QTest::newRow("trailing slash") << QByteArray(R"({"api":"a","workspace":"w","token":"t","path":"/home/a/proj/"})")
                                    << "proj";
    QTest::newRow("first eight of id") << QByteArray(R"({"api":"a","workspace":"abcdefghijkl","token":"t"})")
                                       << "abcdefgh";
    // Eight characters as the user sees them: a letter keeps its accent.
    const QString accented = QStringLiteral("e\u0301");
    QTest::newRow("first eight of id, marks kept")
        << (R"({"api":"a","workspace":")" + accented.repeated(9) + R"(","token":"t"})").toUtf8()
        << accented.repeated(8);
}

void TestCLIConfig::displayName()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expected);
    const auto c = CLIConfig::fromJson(json);
    QVERIFY(c);
    QCOMPARE(c->displayName(), expected);
}

void TestCLIConfig::deviceId()
{
    CLIConfig c { "a", "w", "t" };
    const QString fallback = QStringLiteral("cli-") + CLIConfig::hostname();
    QCOMPARE(c.deviceId(), fallback);
    c.device = QString();
    QCOMPARE(c.deviceId(), fallback);
    c.device = QStringLiteral("desktop-mini");
    QCOMPARE(c.deviceId(), QStringLiteral("desktop-mini"));
    QVERIFY(!CLIConfig::hostname().isEmpty());
}

void TestCLIConfig::roundTrip()
{
    CLIConfig c { "http://127.0.0.1:18091", "ws", "tok" };
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

QTEST_GUILESS_MAIN(TestCLIConfig)
#include "tst_CLIConfig.moc"
