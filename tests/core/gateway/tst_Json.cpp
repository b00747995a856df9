#include "core/gateway/Json.h"

#include <QtTest>

class TestJson : public QObject {
    Q_OBJECT
private slots:
    void strictTypes_data();
    void strictTypes();
    void lenient();
};

void TestJson::strictTypes_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("ok");
    QTest::newRow("all present") << QByteArray(R"({"s":"x","n":3,"b":true,"l":["a"]})") << true;
    QTest::newRow("optionals null") << QByteArray(R"({"s":"x","n":null,"b":null,"l":null})") << true;
    QTest::newRow("required null") << QByteArray(R"({"s":null})") << false;
    QTest::newRow("string as number") << QByteArray(R"({"s":"x","n":"3"})") << false;
    QTest::newRow("fractional int") << QByteArray(R"({"s":"x","n":3.5})") << false;
    QTest::newRow("integral double") << QByteArray(R"({"s":"x","n":4.0})") << true;
    QTest::newRow("mixed list") << QByteArray(R"({"s":"x","l":["a",1]})") << false;
}

void TestJson::strictTypes()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, ok);
    const auto o = json::parseObject(json);
    QVERIFY(o);
    json::StrictReader r(*o);
    r.requiredString("s");
    r.optionalInt("n");
    r.optionalBool("b");
    r.optionalStringList("l");
    QCOMPARE(r.ok(), ok);
}

void TestJson::lenient()
{
    const auto o = json::parseObject(R"({"s":3,"n":"7","m":7,"b":"yes","l":["a",2,"c"],"a":{}})");
    QVERIFY(o);
    json::LenientReader r(*o);
    QCOMPARE(r.string("s"), QString());
    QCOMPARE(r.integer("n", -1), qint64(-1));
    QCOMPARE(r.integer("m"), qint64(7));
    QCOMPARE(r.boolean("b", true), true);
    QCOMPARE(r.stringList("l"), QStringList({ "a", "c" }));
    QVERIFY(r.array("a").isEmpty());
    QVERIFY(!json::parseObject("[1]"));
    QVERIFY(json::parseArray("[1]"));
}

QTEST_GUILESS_MAIN(TestJson)
#include "tst_Json.moc"
