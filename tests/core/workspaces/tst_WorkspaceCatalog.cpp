#include "core/platform/DisplayText.h"
#include "core/workspaces/Relocation.h"
#include "core/workspaces/WorkspaceCatalog.h"

#include "SimTool.h"
#include "TempHome.h"

#include <QCoroTask>
#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <atomic>

using namespace std::chrono_literals;

namespace {

const QString kKey = QString::fromLatin1(WorkspaceCatalog::kSelectionKey);

QByteArray pairing(const QString& ws, const QString& name = {}, const QString& path = {}, const QString& token = "t")
{
    QJsonObject o { { "api", "http://127.0.0.1:18091" }, { "workspace", ws }, { "token", token } };
    if (!name.isEmpty())
        o.insert("name", name);
    if (!path.isEmpty())
        o.insert("path", path);
    return QJsonDocument(o).toJson();
}

QStringList ids(const WorkspaceCatalog& c)
{
    QStringList out;
    for (const auto& r : c.records())
        out << r.id();
    return out;
}

// The stored choice; it is written off the GUI thread, so checks of a new one wait for it.
QString saved()
{
    return QSettings().value(kKey).toString();
}

void reloadNow(WorkspaceCatalog& c, bool sync = false)
{
    QCoro::waitFor(c.reload(sync));
}

} // namespace

class TestWorkspaceCatalog : public QObject {
    Q_OBJECT
private slots:
    void mergeRules()
    {
        TempHome home;
        home.writeFile(".tolvarine-protected/workspaces/a.json", pairing("ws-a", "Protected A"));
        home.writeFile(".tolvarine/workspaces/a.json", pairing("ws-a", "Plain A"));
        home.writeFile(".tolvarine/workspaces/b.json", pairing("ws-b", "Plain B"));
        home.writeFile(".tolvarine-protected/workspaces/b.json", pairing("ws-b", "Protected B"));
        home.writeFile(".tolvarine/config.json", pairing("ws-b", "Current B", {}, "fresh"));

        WorkspaceCatalog c;
        reloadNow(c);
        QCOMPARE(c.records().size(), 2);
        QCOMPARE(c.records()[0].config.name, std::optional<QString>("Current B"));
        QCOMPARE(c.records()[0].config.token, QStringLiteral("fresh"));
        QCOMPARE(c.records()[1].config.name, std::optional<QString>("Protected A"));

        // The protected current configuration is read before the plain one.
        home.writeFile(".tolvarine-protected/config.json", pairing("ws-a", "Current A"));
        reloadNow(c);
        QCOMPARE(c.records()[0].config.name, std::optional<QString>("Current A"));
        QCOMPARE(c.records()[1].config.name, std::optional<QString>("Protected B"));
    }

    void filesAndOrder()
    {
        TempHome home;
        home.writeFile(".tolvarine/workspaces/upper.JSON", pairing("ws-upper"));
        home.writeFile(".tolvarine/workspaces/noext", pairing("ws-noext"));
        home.writeFile(".tolvarine/workspaces/.json", pairing("ws-bare"));
        home.writeFile(".tolvarine/workspaces/broken.json", "{\"api\":");
        home.writeFile(".tolvarine/workspaces/notoken.json", R"({"api":"a","workspace":"ws-nt"})");
        home.writeFile(".tolvarine/workspaces/noapi.json", R"({"workspace":"ws-na","token":"t"})");
        home.writeFile(".tolvarine/workspaces/.hidden.json", pairing("ws-hidden", "delta"));
        QDir().mkpath(home.filePath(".tolvarine/workspaces/folder.json"));
        home.writeFile(".tolvarine/workspaces/1.json", pairing("ws-1", "beta"));
        home.writeFile(".tolvarine/workspaces/2.json", pairing("ws-2", "Alpha"));
        home.writeFile(".tolvarine/workspaces/3.json", pairing("ws-3", {}, "/home/someone/code/Gamma"));
        home.writeFile(".tolvarine/workspaces/4.json", pairing("zzzzzzzzzz-id"));
        home.writeFile(".tolvarine/workspaces/5.json", pairing("ws-5", "beta"));
        WorkspaceCatalog c;
        reloadNow(c);
        // Equal names keep workspace-id order; an unnamed workspace shows its id's first eight characters.
        QCOMPARE(ids(c), QStringList({ "ws-2", "ws-1", "ws-5", "ws-hidden", "ws-3", "zzzzzzzzzz-id" }));
    }

    void selectionRules()
    {
        TempHome home;
        home.writeFile(".tolvarine/workspaces/a.json", pairing("ws-a", "A"));
        home.writeFile(".tolvarine/workspaces/b.json", pairing("ws-b", "B"));
        home.writeFile(".tolvarine/workspaces/c.json", pairing("ws-c", "C"));

        // A saved workspace that is no longer paired, no current configuration:
        // the first record, stored once the saved one is missing at a second read too.
        QSettings().setValue(kKey, "ws-gone");
        WorkspaceCatalog c;
        reloadNow(c);
        QCOMPARE(c.selectedID(), QStringLiteral("ws-a"));
        QCOMPARE(saved(), QStringLiteral("ws-gone"));
        reloadNow(c);
        QCOMPARE(c.selectedID(), QStringLiteral("ws-a"));
        QTRY_COMPARE(saved(), QStringLiteral("ws-a"));

        // The selection is still paired: neither it nor the default is touched.
        c.setSelectedID("ws-b");
        QTRY_COMPARE(saved(), QStringLiteral("ws-b"));
        QSettings().setValue(kKey, "ws-c");
        reloadNow(c);
        QCOMPARE(c.selectedID(), QStringLiteral("ws-b"));
        QTRY_COMPARE(saved(), QStringLiteral("ws-c"));

        // The selected workspace goes: the saved default wins over the current configuration.
        home.writeFile(".tolvarine/config.json", pairing("ws-a", "A"));
        QFile::remove(home.filePath(".tolvarine/workspaces/b.json"));
        reloadNow(c);
        QCOMPARE(c.selectedID(), QStringLiteral("ws-c"));

        // Neither the selection nor the default is paired: the current configuration.
        QFile::remove(home.filePath(".tolvarine/workspaces/c.json"));
        reloadNow(c);
        QCOMPARE(c.selectedID(), QStringLiteral("ws-a"));
        QTRY_COMPARE(saved(), QStringLiteral("ws-a"));

        // `selected` falls back to the first record for an unknown id.
        c.setSelectedID("nothing");
        QTRY_COMPARE(saved(), QStringLiteral("nothing"));
        QCOMPARE(c.selected()->id(), QStringLiteral("ws-a"));
    }

    // The selected workspace's pairing file cannot be read at one poll (a tool
    // rewriting it in place); what the next poll finds decides.
    void selectionAcrossAMissedRead_data()
    {
        QTest::addColumn<QByteArray>("meanwhile"); // b.json at the first poll; empty: removed
        QTest::addColumn<QByteArray>("then"); // b.json at the next poll; empty: removed
        QTest::addColumn<QString>("pick"); // the user's pick between the polls, if any
        QTest::addColumn<QString>("selected");

        const QByteArray good = pairing("ws-b", "B");
        QTest::newRow("rewritten in place") << QByteArray("{\"api\":") << good << ""
                                            << "ws-b";
        QTest::newRow("briefly gone") << QByteArray() << good << ""
                                      << "ws-b";
        QTest::newRow("gone for good") << QByteArray() << QByteArray() << ""
                                       << "ws-a";
        QTest::newRow("still unreadable") << QByteArray("{") << QByteArray("{") << ""
                                          << "ws-a";
        QTest::newRow("the user picks meanwhile") << QByteArray("{") << good << "ws-c"
                                                  << "ws-c";
    }

    void selectionAcrossAMissedRead()
    {
        QFETCH(QByteArray, meanwhile);
        QFETCH(QByteArray, then);
        QFETCH(QString, pick);
        QFETCH(QString, selected);

        TempHome home;
        home.writeFile(".tolvarine/workspaces/a.json", pairing("ws-a", "A"));
        home.writeFile(".tolvarine/workspaces/c.json", pairing("ws-c", "C"));
        home.writeFile(".tolvarine/config.json", pairing("ws-a", "A"));
        const QString b = home.writeFile(".tolvarine/workspaces/b.json", pairing("ws-b", "B"));
        const auto put = [&home, &b](const QByteArray& content) {
            if (content.isEmpty())
                QFile::remove(b);
            else
                home.writeFile(".tolvarine/workspaces/b.json", content);
        };

        WorkspaceCatalog c;
        reloadNow(c);
        c.setSelectedID("ws-b");
        reloadNow(c);
        QCOMPARE(c.selectedID(), QStringLiteral("ws-b"));

        put(meanwhile);
        reloadNow(c);
        QCOMPARE(c.selectedID(), QStringLiteral("ws-a"));
        if (!pick.isEmpty())
            c.setSelectedID(pick);

        put(then);
        reloadNow(c);
        QCOMPARE(c.selectedID(), selected);
        QTRY_COMPARE(saved(), selected);
        // A later read keeps what this one settled.
        reloadNow(c);
        QCOMPARE(c.selectedID(), selected);
    }

    void selectionSurvivesRestart()
    {
        TempHome home;
        home.writeFile(".tolvarine/workspaces/a.json", pairing("ws-a", "A"));
        home.writeFile(".tolvarine/workspaces/b.json", pairing("ws-b", "B"));
        home.writeFile(".tolvarine/config.json", pairing("ws-a", "A"));
        {
            WorkspaceCatalog c;
            reloadNow(c);
            c.setSelectedID("ws-b");
        }
        WorkspaceCatalog again;
        reloadNow(again);
        QCOMPARE(again.selectedID(), QStringLiteral("ws-b"));
        QCOMPARE(again.selected()->config.name, std::optional<QString>("B"));
    }

    void emptyCatalogue()
    {
        TempHome home;
        QSettings().setValue(kKey, "ws-old");
        WorkspaceCatalog c;
        QSignalSpy records(&c, &WorkspaceCatalog::recordsChanged);
        reloadNow(c);
        reloadNow(c);
        QVERIFY(c.records().isEmpty());
        QCOMPARE(records.count(), 2); // observers hear every reload
        QCOMPARE(c.selectedID(), QString());
        QVERIFY(QSettings().contains(kKey));
        QTRY_COMPARE(saved(), QString());
        QVERIFY(!c.selected());
    }

    void localPathExists()
    {
        TempHome home;
        const QString dir = home.filePath("project");
        QDir().mkpath(dir);
        const QString file = home.writeFile("plain.txt", "x");
        const auto record = [](std::optional<QString> path) {
            CLIConfig c { "http://h", "ws", "t" };
            c.path = path;
            return WorkspaceRecord { c };
        };
        QVERIFY(record(dir).localPathExists());
        QVERIFY(!record(file).localPathExists());
        QVERIFY(!record(home.filePath("moved-away")).localPathExists());
        QVERIFY(!record(std::nullopt).localPathExists());
        QVERIFY(!record(QStringLiteral("~/project")).localPathExists());
    }

    void syncRunsTheToolFirst()
    {
        TempHome home;
        // The tool writes a pairing file and fails: the file counts, the failure does not.
        const QString target = home.filePath(".tolvarine/workspaces/new.json");
        QDir().mkpath(QFileInfo(target).absolutePath());
        home.installTool(home.writeScript("tools/brenlow",
            "[ \"$1\" = workspaces ] || exit 9\n"
            "printf '%s' '{\"api\":\"http://h\",\"workspace\":\"ws-new\",\"token\":\"t\"}' > '"
                + target.toUtf8() + "'\necho oops; exit 3"));
        WorkspaceCatalog c;
        reloadNow(c, false);
        QVERIFY(c.records().isEmpty());
        reloadNow(c, true);
        QCOMPARE(ids(c), QStringList({ "ws-new" }));
        QCOMPARE(c.selectedID(), QStringLiteral("ws-new"));
    }

    void hungToolIsStopped()
    {
        TempHome home;
        home.writeFile(".tolvarine/workspaces/a.json", pairing("ws-a", "A"));
        home.installTool(home.writeScript("tools/brenlow", "sleep 60"));
        WorkspaceCatalog c;
        c.setSyncTimeLimitForTesting(1500ms);

        // The window keeps running its event loop while the tool hangs.
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start(50);
        reloadNow(c, true);
        QVERIFY(ticks > 0);
        QCOMPARE(ids(c), QStringList({ "ws-a" }));

        // Without the tool, a synchronising reload reads the files all the same.
        QFile::remove(home.filePath(".local/bin/brenlow"));
        home.writeFile(".tolvarine/workspaces/b.json", pairing("ws-b", "B"));
        reloadNow(c, true);
        QCOMPARE(ids(c), QStringList({ "ws-a", "ws-b" }));
    }

    void readOffTheGuiThreadLatestWins()
    {
        TempHome home;
        home.writeFile(".tolvarine/workspaces/a.json", pairing("ws-a", "A"));
        QSemaphore reading;
        QSemaphore go;
        std::atomic<QThread*> readOn { nullptr };
        // Holds a read once it has read the files (the bound only keeps a failing run from hanging).
        const auto hold = [&reading, &go, &readOn] {
            readOn = QThread::currentThread();
            reading.release();
            go.tryAcquire(1, 10000);
        };

        WorkspaceCatalog c;
        c.setReadHookForTesting(hold);
        auto first = c.reload(false);
        QVERIFY(reading.tryAcquire(1, 10000));
        QVERIFY(readOn.load() != QThread::currentThread());

        // A reload started later reads the files as they are now; the held one is dropped.
        home.writeFile(".tolvarine/workspaces/b.json", pairing("ws-b", "B"));
        c.setReadHookForTesting({});
        reloadNow(c);
        QCOMPARE(ids(c), QStringList({ "ws-a", "ws-b" }));
        go.release();
        QCoro::waitFor(std::move(first));
        QCOMPARE(ids(c), QStringList({ "ws-a", "ws-b" }));

        // The catalogue goes while its read is under way: the reload ends quietly.
        auto* gone = new WorkspaceCatalog;
        gone->setReadHookForTesting(hold);
        auto pending = gone->reload(false);
        QVERIFY(reading.tryAcquire(1, 10000));
        delete gone;
        go.release();
        QCoro::waitFor(std::move(pending));
    }

    // Finding and re-binding a moved workspace folder through the tool.
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
        const QString endless(200000, QLatin1Char('x'));
        const QString cut = QString(DisplayText::kTextLength, QLatin1Char('x')) + "…";
        QTest::newRow("endless output") << endless << false << "" << none << cut;
        QTest::newRow("endless error") << "{\"ok\":false,\"error\":\"" + endless + "\"}" << false << "" << none << cut;
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

QTEST_GUILESS_MAIN(TestWorkspaceCatalog)
#include "tst_WorkspaceCatalog.moc"
