#include "core/gateway/GatewayTime.h"

#include <QtTest>

class TestGatewayTime : public QObject {
    Q_OBJECT
private slots:
    void ago_data();
    void ago();
    void parse_data();
    void parse();
};

void TestGatewayTime::ago_data()
{
    QTest::addColumn<qint64>("secs");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << qint64(0) << "0 秒前";
    QTest::newRow("60") << qint64(60) << "1 分钟前";
    QTest::newRow("3600") << qint64(3600) << "1 小时前";
    QTest::newRow("big, no grouping") << qint64(86400) * 12345 << "12345 天前";
    QTest::newRow("negative") << qint64(-5) << "-5 秒前";
}

void TestGatewayTime::ago()
{
    QFETCH(qint64, secs);
    QFETCH(QString, text);
    QCOMPARE(GatewayTime::agoSecs(secs), text);
}

void TestGatewayTime::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint64>("msecsUtc");
    const qint64 base = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC).toMSecsSinceEpoch();
    QTest::newRow("plain Z") << "2026-03-04T05:06:07Z" << true << base;
    QTest::newRow("fraction") << "2026-03-04T05:06:07.250Z" << true << base + 250;
    QTest::newRow("micro fraction") << "2026-03-04T05:06:07.250000Z" << true << base + 250;
    QTest::newRow("offset") << "2026-03-04T13:06:07+08:00" << true << base;
    QTest::newRow("no zone") << "2026-03-04T05:06:07" << false << qint64(0);
    QTest::newRow("no seconds") << "2026-03-04T05:06Z" << false << qint64(0);
    QTest::newRow("compact offset") << "2026-03-04T13:06:07+0800" << false << qint64(0);
    // Times whose UTC form leaves the four-digit years: they could not be written back.
    QTest::newRow("past 9999 in UTC") << "9999-12-31T23:59:59-14:00" << false << qint64(0);
    QTest::newRow("fraction rounds past 9999") << "9999-12-31T23:59:59.9999Z" << false << qint64(0);
    QTest::newRow("before year 1 in UTC") << "0001-01-01T00:00:00+01:00" << false << qint64(0);
    QTest::newRow("last second") << "9999-12-31T23:59:59Z" << true
                                 << QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC).toMSecsSinceEpoch();
    // The common shapes take a quicker road; fields out of range are refused there as on the general one.
    QTest::newRow("milliseconds") << "2026-03-04T05:06:07.009Z" << true << base + 9;
    QTest::newRow("leap day") << "2024-02-29T00:00:00Z" << true
                              << QDateTime(QDate(2024, 2, 29), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    QTest::newRow("no leap day") << "2026-02-29T00:00:00Z" << false << qint64(0);
    QTest::newRow("month 13") << "2026-13-04T05:06:07Z" << false << qint64(0);
    QTest::newRow("end of day") << "2026-03-04T24:00:00Z" << true
                                << QDateTime(QDate(2026, 3, 5), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    QTest::newRow("leap second") << "2026-03-04T05:06:60Z" << false << qint64(0);
    QTest::newRow("year 0") << "0000-03-04T05:06:07Z" << false << qint64(0);
    QTest::newRow("sign in a field") << "2026-03-+4T05:06:07Z" << false << qint64(0);
    QTest::newRow("lower-case zone") << "2026-03-04T05:06:07z" << false << qint64(0);
}

void TestGatewayTime::parse()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(qint64, msecsUtc);
    const auto dt = GatewayTime::parse(text);
    QCOMPARE(dt.has_value(), valid);
    if (valid)
        QCOMPARE(dt->toMSecsSinceEpoch(), msecsUtc);
}

QTEST_GUILESS_MAIN(TestGatewayTime)
#include "tst_GatewayTime.moc"
