#include "core/platform/QrEncoder.h"

#include <QtTest>

class TestQrEncoder : public QObject {
    Q_OBJECT
private slots:
    void levels_data();
    void levels();
    void refusals_data();
    void refusals();
};

void TestQrEncoder::levels_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("short") << QByteArray("tolvarine://pair-device?v=1");
    QTest::newRow("utf-8 bytes") << QStringLiteral("工作区 ✓ %20 #p=").toUtf8();
    QTest::newRow("long") << QByteArray(600, 'x');
}

// Stronger correction never needs a smaller symbol, and every symbol is a
// well-formed square of 21 + 4k modules with the finder pattern's dark corner.
void TestQrEncoder::levels()
{
    QFETCH(QByteArray, payload);
    int previous = 0;
    for (const char* level : { "L", "M", "Q", "H" }) {
        const QImage image = QrEncoder::encode(payload, QString::fromLatin1(level));
        QVERIFY2(!image.isNull(), level);
        QCOMPARE(image.width(), image.height());
        QVERIFY(image.width() >= 21);
        QCOMPARE((image.width() - 21) % 4, 0);
        QVERIFY(image.width() >= previous);
        previous = image.width();
        QCOMPARE(qGray(image.pixel(0, 0)), 0);
        QCOMPARE(qGray(image.pixel(1, 1)), 255);
    }
}

void TestQrEncoder::refusals_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("level");
    QTest::newRow("empty payload") << QByteArray() << "H";
    QTest::newRow("unknown level") << QByteArray("abc") << "X";
    QTest::newRow("too large for H") << QByteArray(1300, 'y') << "H";
    QTest::newRow("too large for any") << QByteArray(3000, 'y') << "L";
}

void TestQrEncoder::refusals()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, level);
    QVERIFY(QrEncoder::encode(payload, level).isNull());
}

QTEST_GUILESS_MAIN(TestQrEncoder)
#include "tst_QrEncoder.moc"
