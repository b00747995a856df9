#include "core/workspaces/Relocation.h"

#include <QtTest>

using Relocation::Discovery;

class TestRelocation : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
};

void TestRelocation::parse_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("candidates");
    QTest::addColumn<QString>("error"); // "<output>": the whole output

    const QString silent = Relocation::silentToolText();
    QTest::newRow("progress line after the answer") << "scanning…\n{\"ok\":true,\"path\":\"/x\"}\ndone in 3 folders\n"
                                                    << true << "/x" << QStringList() << "";
    QTest::newRow("later answer wins") << "{\"ok\":false,\"error\":\"first\"}\n{\"ok\":true,\"path\":\"/b\"}" << true
                                       << "/b" << QStringList() << "";
    QTest::newRow("two candidates in the tool's order")
        << R"({"ok":false,"candidates":["/z/shop","/a/shop"],"error":"两个候选"})" << false << ""
        << QStringList({ "/z/shop", "/a/shop" }) << "两个候选";
    QTest::newRow("ok as text is not ok") << R"({"ok":"true","path":"/x"})" << false << "/x" << QStringList() << "";
    QTest::newRow("quoted key in a later non-JSON line")
        << "{\"ok\":true,\"path\":\"/x\"}\nwarning: \"ok\" was deprecated" << false << "" << QStringList()
        << "<output>";
    QTest::newRow("answer over several lines") << "{\n  \"ok\": true,\n  \"path\": \"/x\"\n}\n"
                                               << false << "" << QStringList() << "<output>";
    QTest::newRow("old tool usage text") << "usage: brenlow workspace relocate --ws ID [PATH]\n"
                                         << false << "" << QStringList() << "<output>";
    QTest::newRow("no output") << "" << false << "" << QStringList() << silent;
}

void TestRelocation::parse()
{
    QFETCH(QString, output);
    QFETCH(bool, ok);
    QFETCH(QString, path);
    QFETCH(QStringList, candidates);
    QFETCH(QString, error);
    const Discovery d = Relocation::parse(output);
    QCOMPARE(d.ok, ok);
    QCOMPARE(d.path, path);
    QCOMPARE(d.candidates, candidates);
    QCOMPARE(d.error, error == QLatin1String("<output>") ? output : error);
}

QTEST_GUILESS_MAIN(TestRelocation)
#include "tst_Relocation.moc"
