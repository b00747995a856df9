#include "core/workspaces/Relocation.h"
#include "core/workspaces/WorkspaceCatalog.h"

#include "SimTool.h"
#include "TempHome.h"

#include <QCoroTask>
#include <QtTest>

using namespace std::chrono_literals;

class TestRelocationRun : public QObject {
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("candidates");
        QTest::addColumn<QString>("error"); // "<output>": the whole output

        const QStringList none;
        QTest::newRow("progress line after the answer")
            << "scanning…\n{\"ok\":true,\"path\":\"/x\"}\ndone in 3 folders\n"
            << true << "/x" << none << "";
        QTest::newRow("later answer wins")
            << "{\"ok\":false,\"error\":\"first\"}\n{\"ok\":true,\"path\":\"/b\"}" << true << "/b" << none << "";
        QTest::newRow("two candidates in the tool's order")
            << R"({"ok":false,"candidates":["/z/shop","/a/shop"],"error":"两个候选"})" << false << ""
            << QStringList({ "/z/shop", "/a/shop" }) << "两个候选";
        QTest::newRow("ok as text is not ok") << R"({"ok":"true","path":"/x"})" << false << "/x" << none << "";
        QTest::newRow("quoted key in a later non-JSON line")
            << "{\"ok\":true,\"path\":\"/x\"}\nwarning: \"ok\" was deprecated" << false << "" << none << "<output>";
        QTest::newRow("answer over several lines") << "{\n  \"ok\": true,\n  \"path\": \"/x\"\n}\n"
                                                   << false << "" << none << "<output>";
        QTest::newRow("no output") << "" << false << "" << none << Relocation::silentToolText();
    }

    void parse()
    {
        QFETCH(QString, output);
        QFETCH(bool, ok);
        QFETCH(QString, path);
        QFETCH(QStringList, candidates);
        QFETCH(QString, error);
        QCOMPARE(Relocation::parse(output),
            (Relocation::Discovery { ok, path, candidates, error == QLatin1String("<output>") ? output : error }));
    }

    void discoverAndApply()
    {
        TempHome home;
        SimTool tool(home);
        const QString moved = home.filePath("code/archive/shop");
        QDir().mkpath(moved);
        const QJsonObject pairing { { "api", "http://127.0.0.1:1" }, { "workspace", "ws-shop" }, { "token", "t" },
            { "path", home.filePath("code/shop") } };
        home.writeFile(".tolvarine/workspaces/ws-shop.json", QJsonDocument(pairing).toJson());

        const auto found = QCoro::waitFor(Relocation::discover("ws-shop"));
        QVERIFY2(found.ok, qPrintable(found.error));
        QCOMPARE(found.path, moved);
        QVERIFY(found.candidates.isEmpty());
        const auto applied = QCoro::waitFor(Relocation::apply("ws-shop", moved));
        QVERIFY2(applied.ok, qPrintable(applied.error));
        QCOMPARE(applied.path, moved);

        // The tool rebound the pairing file; the catalogue sees the folder again.
        WorkspaceCatalog catalog;
        QCoro::waitFor(catalog.reload(false));
        QVERIFY(catalog.selected()->localPathExists());
        const QStringList argv = tool.argvs();
        QCOMPARE(argv.size(), 2);
        QVERIFY(argv[0].endsWith(Relocation::discoverArguments("ws-shop").join(' ')));
        QVERIFY(argv[1].endsWith(Relocation::applyArguments("ws-shop", moved).join(' ')));
    }

    void oldToolAndFailures()
    {
        TempHome home;
        // No tool at all.
        QCOMPARE(QCoro::waitFor(Relocation::discover("ws-x")),
            (Relocation::Discovery { false, {}, {}, Relocation::silentToolText() }));

        SimTool tool(home);
        // An old tool that rejects --json with its usage text: that text is the error.
        const QByteArray usage = "usage: brenlow workspace relocate <folder>\n";
        tool.answer("workspace-relocate", usage, 2);
        const auto old = QCoro::waitFor(Relocation::apply("ws-x", "/tmp"));
        QVERIFY(!old.ok);
        QCOMPARE(old.error, QString::fromUtf8(usage));

        // A non-zero exit with an answer line is the answer.
        tool.answer("workspace-relocate", "{\"ok\":true,\"path\":\"/srv/x\"}\n", 2);
        const auto answered = QCoro::waitFor(Relocation::discover("ws-x"));
        QVERIFY(answered.ok);
        QCOMPARE(answered.path, QStringLiteral("/srv/x"));

        // A tool that hangs is stopped and says so.
        tool.put("workspace-relocate.delay_ms", "30000");
        const auto hung = QCoro::waitFor(Relocation::discover("ws-x", 1000ms));
        QVERIFY(!hung.ok);
        QVERIFY2(hung.error.contains(QStringLiteral("已经把它停掉了")), qPrintable(hung.error));
    }
};

QTEST_GUILESS_MAIN(TestRelocationRun)
#include "tst_RelocationRun.moc"
