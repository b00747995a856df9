#include "core/shell/WorkspaceSummary.h"
#include "core/shell/WorkspaceSummaryModel.h"

#include "core/gateway/Status.h"
#include "core/gateway/StatusRules.h"
#include "core/platform/SerialFileWriter.h"
#include "core/runtimes/AgentServiceHealth.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeEnablement.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/workforce/WorkforceModel.h"
#include "core/workspaces/WorkspaceCatalog.h"

#include "SimGateway.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

#include <QCoroTask>

using Inputs = WorkspaceSummary::Inputs;

Q_DECLARE_METATYPE(AgentPresence)
Q_DECLARE_METATYPE(WorkspaceSummary::Runners)

namespace {

const QDateTime kNow = QDateTime::fromString(QStringLiteral("2026-03-04T05:06:07.500Z"), Qt::ISODateWithMs);

TeammateBrief member(const QString& id)
{
    TeammateBrief t;
    t.id = id;
    t.name = id;
    return t;
}

WorkforceFacts facts(bool reading, int running)
{
    WorkforceFacts f;
    f.hasReading = reading;
    for (int i = 0; i < running; ++i) {
        CommandBrief c;
        c.id = QStringLiteral("c%1").arg(i);
        f.running.append(c);
    }
    return f;
}

RuntimeRow row(const QString& kind, bool installed, RuntimeUsability usability)
{
    RuntimeRow r;
    r.kind = kind;
    r.display = kind.toUpper();
    r.installed = installed;
    r.usability = usability;
    return r;
}

RuntimeServing serving(std::optional<QString> name, bool running)
{
    return RuntimeServing { std::move(name), QStringLiteral("写代码"), running };
}

// A loaded, selected workspace with nothing in it.
Inputs base()
{
    Inputs in;
    in.workspaceID = QStringLiteral("ws-1");
    in.workspaceFolderExists = true;
    in.teamLoadFinished = true;
    in.presence = AgentPresence::online(3);
    in.inventoryStamp = kNow;
    return in;
}

QByteArray read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The stores a summary model reads, standing alone.
struct Stores {
    Status status;
    WorkspaceCatalog catalog;
    RuntimeInventoryStore inventory;
    RuntimeEnablement enablement;
    RuntimeController runtimes;
    AgentServiceHealth health;
    WorkforceModel workforce { &status, &inventory };

    WorkspaceSummaryModel::Sources sources()
    {
        return { &status, &catalog, &inventory, &enablement, &runtimes, &health, &workforce };
    }
};

QString snapshotTotal(const TempHome& home)
{
    const QByteArray bytes = read(home.filePath(".tolvarine/desktop_summary.json"));
    return bytes.isEmpty()
        ? QString()
        : QString::number(QJsonDocument::fromJson(bytes).object().value("employees_total").toInteger());
}

} // namespace

Q_DECLARE_METATYPE(RuntimeUsability)
Q_DECLARE_METATYPE(std::optional<qint64>)

class TestWorkspaceSummary : public QObject {
    Q_OBJECT
private slots:
    void employees()
    {
        Inputs in = base();
        in.team = { member("a"), member("b"), member("c"), member("d"), member("e") };
        in.workforceFacts.insert("a", facts(true, 2));
        in.workforceFacts.insert("b", facts(true, 0));
        in.workforceFacts.insert("c", facts(false, 1)); // running work but no reading: still no reading
        in.workforceFacts.insert("e", facts(true, 0)); // "d" has no facts at all
        in.workforceFacts.insert("ghost", facts(true, 1)); // not on the roster: not counted

        const WorkspaceSummary s = WorkspaceSummary::compute(in, kNow);
        QCOMPARE(s.employeesTotal, 5);
        QCOMPARE(s.employeesWorking, 1);
        QCOMPARE(s.employeesIdle, 2);
        QCOMPARE(s.employeesNoReading, 2);
    }

    void runtimeClasses_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<RuntimeUsability>("usability");
        QTest::addColumn<bool>("enabled"); // without an entry a kind is enabled
        QTest::addColumn<int>("serves"); // 0 none, 1 a running named entry, 2 only unnamed or finished entries
        QTest::addColumn<bool>("child");
        // installed, configured, usable, running, disabled, needing login
        QTest::addColumn<QList<qint64>>("counts");

        using U = RuntimeUsability;
        using L = QList<qint64>;
        QTest::newRow("ready") << true << U::ready << true << 0 << false << L { 1, 1, 1, 0, 0, 0 };
        QTest::newRow("credentials required")
            << true << U::credentialsRequired << true << 0 << false << L { 1, 0, 0, 0, 0, 1 };
        QTest::newRow("unsupported") << true << U::unsupported << true << 1 << true << L { 1, 0, 0, 1, 0, 0 };
        QTest::newRow("disabled needing login counts twice")
            << true << U::loginRequired << false << 0 << false << L { 1, 0, 0, 0, 1, 1 };
        QTest::newRow("disabled with a child still running")
            << true << U::ready << false << 0 << true << L { 1, 1, 0, 1, 1, 0 };
        QTest::newRow("serving an employee without our child")
            << true << U::unknown << true << 1 << false << L { 1, 1, 1, 0, 0, 0 };
        QTest::newRow("unnamed or finished work is not serving")
            << true << U::unknown << true << 2 << false << L { 1, 0, 0, 0, 0, 0 };
        QTest::newRow("our child running") << true << U::userSupplied << true << 0 << true << L { 1, 1, 1, 1, 0, 0 };
        QTest::newRow("not installed, child running")
            << false << U::ready << true << 1 << true << L { 0, 0, 0, 1, 0, 0 };
    }

    void runtimeClasses()
    {
        QFETCH(bool, installed);
        QFETCH(RuntimeUsability, usability);
        QFETCH(bool, enabled);
        QFETCH(int, serves);
        QFETCH(bool, child);
        QFETCH(QList<qint64>, counts);

        Inputs in = base();
        in.inventoryRows = { row("codex", installed, usability) };
        if (!enabled)
            in.runtimeEnabled.insert("codex", false);
        in.runtimeEnabled.insert("other", false); // another kind's flag changes nothing
        if (serves)
            in.runtimeServing.insert(
                "codex", { serving(std::nullopt, true), serving(QStringLiteral("小林"), serves == 1) });
        // Work of another kind serves nobody here.
        in.runtimeServing.insert("claude", { serving(QStringLiteral("阿何"), true) });
        if (child)
            in.runningKinds.insert("codex");

        const WorkspaceSummary s = WorkspaceSummary::compute(in, kNow);
        QCOMPARE((QList<qint64> { s.runtimesInstalled, s.runtimesConfigured, s.runtimesUsable, s.runtimesRunning,
                     s.runtimesDisabled, s.runtimesNeedingLogin }),
            counts);
    }

    void flags_data()
    {
        QTest::addColumn<bool>("selected");
        QTest::addColumn<bool>("folderExists");
        QTest::addColumn<int>("presence");
        QTest::addColumn<bool>("unavailable");
        QTest::addColumn<bool>("offline");

        QTest::newRow("folder there, online") << true << true << int(AgentPresence::Kind::Online) << false << false;
        QTest::newRow("folder gone") << true << false << int(AgentPresence::Kind::Online) << true << false;
        QTest::newRow("nothing selected") << false << false << int(AgentPresence::Kind::Online) << false << false;
        QTest::newRow("never seen") << true << true << int(AgentPresence::Kind::Never) << false << true;
    }

    void flags()
    {
        QFETCH(bool, selected);
        QFETCH(bool, folderExists);
        QFETCH(int, presence);
        QFETCH(bool, unavailable);
        QFETCH(bool, offline);

        Inputs in = base();
        if (!selected)
            in.workspaceID.reset();
        in.workspaceFolderExists = folderExists;
        in.presence.kind = AgentPresence::Kind(presence);
        in.inventoryRows = { row("codex", true, RuntimeUsability::userSupplied) };
        in.runningKinds = { "codex" }; // without a workspace a stale entry: no worker to count

        const WorkspaceSummary s = WorkspaceSummary::compute(in, kNow);
        QCOMPARE(s.runtimesRunning, selected ? 1 : 0);
        QCOMPARE(s.workspaceUnavailable, unavailable);
        QCOMPARE(s.agentOffline, offline);
    }

    void runners_data()
    {
        using Runners = WorkspaceSummary::Runners;
        QTest::addColumn<AgentPresence>("presence");
        QTest::addColumn<WorkspaceSummary::Runners>("runners");
        QTest::addColumn<bool>("inventoryFailed");

        QTest::newRow("online") << AgentPresence::online(3) << Runners::read << false;
        QTest::newRow("never seen") << rules::presence({}, "me") << Runners::read << false;
        QTest::newRow("only other machines")
            << rules::presence({ RunnerInfo { "dev-other", 4 } }, "me") << Runners::read << false;
        QTest::newRow("not read yet") << AgentPresence::notRead() << Runners::notYetRead << false;
        // The command list (and with it the runners) could not be read.
        QTest::newRow("gateway unreachable") << AgentPresence::unknown("连不上网关") << Runners::unreadable << false;
        QTest::newRow("inventory unreadable") << AgentPresence::online(3) << Runners::read << true;
    }

    // What could not be read is said as such, not as "offline" or "nothing installed".
    void runners()
    {
        QFETCH(AgentPresence, presence);
        QFETCH(WorkspaceSummary::Runners, runners);
        QFETCH(bool, inventoryFailed);
        Inputs in = base();
        in.presence = presence;
        in.inventoryFailed = inventoryFailed;
        const WorkspaceSummary s = WorkspaceSummary::compute(in, kNow);
        QCOMPARE(s.runners, runners);
        QCOMPARE(s.runtimeInventoryUnreadable, inventoryFailed);
        // The snapshot's entries stay as they were.
        QCOMPARE(s.toJson().size(), 19);
    }

    void inventoryLoaded_data()
    {
        QTest::addColumn<bool>("hasRows");
        QTest::addColumn<bool>("loading");
        QTest::addColumn<std::optional<qint64>>("stampOffsetMs"); // last refresh relative to now
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<std::optional<qint64>>("age");

        const std::optional<qint64> never;
        // Nothing has loaded yet: an idle, empty store is not a loaded empty inventory.
        QTest::newRow("fresh store") << false << false << never << false << never;
        QTest::newRow("refreshed, nothing installed")
            << false << false << std::optional<qint64>(0) << true << std::optional<qint64>(0);
        QTest::newRow("refreshing again, age truncated")
            << false << true << std::optional<qint64>(-59'900) << true << std::optional<qint64>(59);
        // The clock was stepped back: never a negative age (the snapshot's -1 means "never refreshed").
        QTest::newRow("rows, stamp in the future")
            << true << true << std::optional<qint64>(5'000) << true << std::optional<qint64>(0);
    }

    void inventoryLoaded()
    {
        QFETCH(bool, hasRows);
        QFETCH(bool, loading);
        QFETCH(std::optional<qint64>, stampOffsetMs);
        QFETCH(bool, loaded);
        QFETCH(std::optional<qint64>, age);

        Inputs in = base();
        if (hasRows)
            in.inventoryRows = { row("codex", true, RuntimeUsability::ready) };
        in.inventoryLoading = loading;
        in.inventoryStamp = stampOffsetMs ? std::optional<QDateTime>(kNow.addMSecs(*stampOffsetMs)) : std::nullopt;
        const WorkspaceSummary s = WorkspaceSummary::compute(in, kNow);
        QCOMPARE(s.runtimeInventoryLoaded, loaded);
        QCOMPARE(s.runtimeAgeSeconds, age);
    }

    void snapshotKeys()
    {
        // Every field lands under its own key.
        WorkspaceSummary s { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, true, true, true, true, 0, true };
        const QJsonObject full = s.toJson();
        QCOMPARE(full,
            QJsonDocument::fromJson(R"({
            "employees_total": 1, "employees_working": 2, "employees_idle": 3, "employees_no_reading": 4,
            "runtimes_installed": 5, "runtimes_configured": 6, "runtimes_usable": 7, "runtimes_running": 8,
            "runtimes_disabled": 9, "pending_approvals": 10, "failed_tasks": 11, "runtimes_needing_login": 12,
            "workspace_unavailable": true, "agent_offline": true, "runtime_inventory_loaded": true, "team_loaded": true,
            "runtime_age_seconds": 0, "agent_service_running": true, "agent_service_known": true })")
                .object());

        // Nothing known yet: the same keys, the absent values with their stand-ins, never null.
        const QJsonObject empty = WorkspaceSummary().toJson();
        QCOMPARE(empty.keys(), full.keys());
        for (const QString& key : empty.keys())
            QVERIFY2(!empty.value(key).isNull(), qPrintable(key));
        QCOMPARE(empty.value("agent_service_running"), QJsonValue(false));
        QCOMPARE(empty.value("agent_service_known"), QJsonValue(false));
        s.agentServiceRunning = false;
        QCOMPARE(s.toJson().value("agent_service_known"), QJsonValue(true));
    }

    void snapshotFile()
    {
        TempHome home;
        // The snapshot stays in the real home even when the stores are moved.
        QTemporaryDir elsewhere;
        qputenv("TOLVARINE_HOME", elsewhere.path().toUtf8());
        const auto restore = qScopeGuard([] { qunsetenv("TOLVARINE_HOME"); });

        const QString path = home.filePath(".tolvarine/desktop_summary.json");
        QCOMPARE(WorkspaceSummary::snapshotPath(), path);

        // As the bar writes it; the writer is gone once the bytes have landed.
        const auto dump = [](const WorkspaceSummary& s) {
            SerialFileWriter(WorkspaceSummary::snapshotPath()).write(s.snapshotBytes());
        };
        WorkspaceSummary s;
        s.employeesTotal = 6;
        s.runtimeAgeSeconds = 42;
        dump(s); // creates the folder
        QCOMPARE(QJsonDocument::fromJson(read(path)).object(), s.toJson());

        // Replaced whole; nothing left beside it.
        s.employeesTotal = 2;
        s.runtimeAgeSeconds.reset();
        dump(s);
        const QJsonObject again = QJsonDocument::fromJson(read(path)).object();
        QCOMPARE(again.value("employees_total"), QJsonValue(2));
        QCOMPARE(again.value("runtime_age_seconds"), QJsonValue(-1));
        QCOMPARE(QDir(home.filePath(".tolvarine")).entryList(QDir::Files | QDir::Hidden),
            QStringList { "desktop_summary.json" });
        QVERIFY(QDir(elsewhere.path()).isEmpty());

        // A dot "directory" that is a file: the write fails quietly and touches nothing.
        QVERIFY(QDir(home.filePath(".tolvarine")).removeRecursively());
        home.writeFile(".tolvarine", "not a folder");
        dump(s);
        QCOMPARE(read(home.filePath(".tolvarine")), QByteArray("not a folder"));
    }

    void gatheredFromTheModels()
    {
        TempHome home;
        SimGateway sim;
        QVERIFY2(sim.ok(), sim.output().constData());

        // Two waiting approvals for one task count once; one failed item.
        sim.control("PATCH", QStringLiteral("/_sim/state/ws-demo"),
            QJsonDocument::fromJson(R"({"feed": [
              {"id":"f1","task_id":"c7","category":"approval","title":"上线？","status":"pending"},
              {"id":"f2","task_id":"c7","category":"approval","title":"再确认一次","status":"pending"},
              {"id":"f3","task_id":"c8","category":"failed","title":"迁移失败"}
            ]})")
                .object());
        QCOMPARE(sim.lastStatus(), 200);

        CLIConfig config = sim.config();
        config.path = home.filePath("project");
        QVERIFY(QDir().mkpath(*config.path));
        home.writeFile(".tolvarine/workspaces/ws-demo.json", QJsonDocument(config.toJson()).toJson());

        Status status;
        WorkspaceCatalog catalog;
        QCoro::waitFor(catalog.reload(false));
        QVERIFY(catalog.selected());
        RuntimeInventoryStore inventory;
        RuntimeController runtimes;
        AgentServiceHealth health;
        WorkforceModel workforce(&status, &inventory);

        // Before anything has loaded, nothing claims to be loaded.
        WorkspaceSummary s
            = WorkspaceSummary::compute(status, catalog, inventory, {}, runtimes, health, workforce.snapshot());
        QCOMPARE(s.teamLoaded, false);
        QCOMPARE(s.runtimeInventoryLoaded, false);
        QCOMPARE(s.runtimeAgeSeconds, std::nullopt);
        QCOMPARE(s.agentServiceRunning, std::nullopt);

        QCoro::waitFor(status.reload(catalog.selected()->config));
        s = WorkspaceSummary::compute(status, catalog, inventory, {}, runtimes, health, workforce.snapshot());
        QCOMPARE(s.teamLoaded, true);
        QCOMPARE(s.employeesTotal, qint64(status.team().size()));
        QCOMPARE(s.pendingApprovals, 1);
        QCOMPARE(s.failedTasks, 1);

        // A roster that fails to load is not loaded; the folder going away shows.
        sim.setFault("GET", QStringLiteral("/api/workspaces/ws-demo/employees"), 500);
        QVERIFY(QDir(*config.path).removeRecursively());
        QCoro::waitFor(status.reload(catalog.selected()->config));
        s = WorkspaceSummary::compute(status, catalog, inventory, {}, runtimes, health, workforce.snapshot());
        QCOMPARE(s.teamLoaded, false);
        QCOMPARE(s.employeesTotal, 0);
        QCOMPARE(s.workspaceUnavailable, true);
    }

    // The model derives the summary again when a store it reads publishes, as the one derivation every reader shares.
    void modelFollowsItsStores()
    {
        TempHome home;
        SimGateway sim;
        QVERIFY2(sim.ok(), sim.output().constData());
        CLIConfig config = sim.config();
        config.path = home.filePath("project");
        QVERIFY(QDir().mkpath(*config.path));
        home.writeFile(".tolvarine/workspaces/ws-demo.json", QJsonDocument(config.toJson()).toJson());

        Stores stores;
        WorkspaceSummaryModel model(stores.sources());
        QSignalSpy changed(&model, &WorkspaceSummaryModel::changed);
        QCOMPARE(model.summary().teamLoaded, false);

        QCoro::waitFor(stores.catalog.reload(false));
        QCoro::waitFor(stores.status.reload(stores.catalog.selected()->config));
        QTRY_VERIFY(model.summary().teamLoaded);
        const auto current = [&] {
            return WorkspaceSummary::compute(stores.status, stores.catalog, stores.inventory,
                stores.enablement.enabled(), stores.runtimes, stores.health, stores.workforce.snapshot());
        };
        QTRY_COMPARE(model.summary(), current());
        QVERIFY(model.summary().employeesTotal > 0);
        QVERIFY(!changed.isEmpty());

        // The folder going away is a change of the catalogue's records.
        QVERIFY(QDir(*config.path).removeRecursively());
        QCoro::waitFor(stores.catalog.reload(false));
        QTRY_VERIFY(model.summary().workspaceUnavailable);
        QCOMPARE(model.summary(), current());
    }

    // The snapshot is written while the summary is on screen: when it appears, and on each change after that.
    void snapshotWhileShown()
    {
        TempHome home;
        const QString path = home.filePath(".tolvarine/desktop_summary.json");
        Stores stores;
        WorkspaceSummaryModel model(stores.sources());
        QTest::qWait(50); // the stores' own first passes, before the summaries set below

        // Not written until shown. Writes land off the GUI thread, so "nothing
        // written" is looked at a moment later.
        WorkspaceSummary s;
        s.employeesTotal = 5;
        s.teamLoaded = true;
        model.publish(s);
        QTest::qWait(100);
        QVERIFY(!QFile::exists(path));
        model.setShown(true);
        QTRY_COMPARE(snapshotTotal(home), QStringLiteral("5"));

        // A change is written, the same summary again is not; while hidden
        // nothing is written, and showing it again writes what it holds.
        QSignalSpy changed(&model, &WorkspaceSummaryModel::changed);
        s.employeesTotal = 7;
        model.publish(s);
        QTRY_COMPARE(snapshotTotal(home), QStringLiteral("7"));
        QVERIFY(QFile::remove(path));
        model.publish(s);
        model.setShown(false);
        s.employeesTotal = 8;
        model.publish(s);
        QTest::qWait(100);
        QVERIFY(!QFile::exists(path));
        QCOMPARE(changed.size(), 2);
        model.setShown(true);
        QTRY_COMPARE(snapshotTotal(home), QStringLiteral("8"));
        // The bytes are the summary's own.
        QTRY_COMPARE(read(path), s.snapshotBytes());
    }
};

QTEST_GUILESS_MAIN(TestWorkspaceSummary)
#include "tst_WorkspaceSummary.moc"
