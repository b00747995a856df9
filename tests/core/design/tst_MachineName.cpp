#include "core/design/MachineName.h"

#include <QtTest>

class TestMachineName : public QObject {
    Q_OBJECT
private slots:
    void friendly_data();
    void friendly();
};

void TestMachineName::friendly_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("name");
    QTest::newRow("desktop local") << "desktop-studio-mac.local" << "studio mac";
    QTest::newRow("all prefixes") << "cli-desktop-agent-mini.local" << "mini";
    QTest::newRow("order matters") << "agent-cli-x" << "cli x";
    QTest::newRow("one suffix") << "my.local.local" << "my.local";
    QTest::newRow("only prefix") << "cli-" << "cli-";
    QTest::newRow("edge dashes") << "-studio-" << "studio";
    QTest::newRow("line break kept") << "box\n" << "box\n";
}

void TestMachineName::friendly()
{
    QFETCH(QString, id);
    QFETCH(QString, name);
    QCOMPARE(MachineName::friendly(id), name);
}

QTEST_GUILESS_MAIN(TestMachineName)
#include "tst_MachineName.moc"
