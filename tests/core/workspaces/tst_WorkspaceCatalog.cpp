#include "core/workspaces/WorkspaceCatalog.h"

#include "TempHome.h"

#include <QCoroTask>
#include <QtTest>

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

    void ignoredFiles()
    {
        TempHome home;
        home.writeFile(".tolvarine/workspaces/upper.JSON", pairing("ws-upper"));
        home.writeFile(".tolvarine/workspaces/noext", pairing("ws-noext"));
        home.writeFile(".tolvarine/workspaces/.json", pairing("ws-bare"));
        home.writeFile(".tolvarine/workspaces/broken.json", "{\"api\":");
        home.writeFile(".tolvarine/workspaces/notoken.json", R"({"api":"a","workspace":"ws-nt"})");
        home.writeFile(".tolvarine/workspaces/noapi.json", R"({"workspace":"ws-na","token":"t"})");
        home.writeFile(".tolvarine/workspaces/.hidden.json", pairing("ws-hidden"));
        home.writeFile(".tolvarine/workspaces/good.json", pairing("ws-good"));
        QDir().mkpath(home.filePath(".tolvarine/workspaces/folder.json"));

        WorkspaceCatalog c;
        reloadNow(c);
        QCOMPARE(ids(c), QStringList({ "ws-good", "ws-hidden" }));
    }

    void sortOrder()
    {
        TempHome home;
        home.writeFile(".tolvarine/workspaces/1.json", pairing("ws-1", "beta"));
        home.writeFile(".tolvarine/workspaces/2.json", pairing("ws-2", "Alpha"));
        home.writeFile(".tolvarine/workspaces/3.json", pairing("ws-3", {}, "/home/someone/code/Gamma"));
        home.writeFile(".tolvarine/workspaces/4.json", pairing("zzzzzzzzzz-id"));
        home.writeFile(".tolvarine/workspaces/5.json", pairing("ws-5", "beta"));
        WorkspaceCatalog c;
        reloadNow(c);
        // Equal names keep workspace-id order; an unnamed workspace shows its id's first eight characters.
        QCOMPARE(ids(c), QStringList({ "ws-2", "ws-1", "ws-5", "ws-3", "zzzzzzzzzz-id" }));
    }

    void selectionRules()
    {
        TempHome home;
        home.writeFile(".tolvarine/workspaces/a.json", pairing("ws-a", "A"));
        home.writeFile(".tolvarine/workspaces/b.json", pairing("ws-b", "B"));
        home.writeFile(".tolvarine/workspaces/c.json", pairing("ws-c", "C"));

        // A saved workspace that is no longer paired, no current configuration: the first record.
        QSettings().setValue(kKey, "ws-gone");
        WorkspaceCatalog c;
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
        QVERIFY(again.selectedID().isEmpty());
        QVERIFY(!again.selected());
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
};

QTEST_GUILESS_MAIN(TestWorkspaceCatalog)
#include "tst_WorkspaceCatalog.moc"
