#include "app/WorkspaceSummary.h"

#include "gateway/Status.h"
#include "runtimes/AgentServiceHealth.h"
#include "runtimes/RuntimeController.h"
#include "runtimes/RuntimeInventoryStore.h"
#include "workspaces/WorkspaceCatalog.h"

#include "SimGateway.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <QCoroTask>

using Inputs = WorkspaceSummary::Inputs;

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

struct RuntimeCounts {
    qint64 installed, configured, usable, running, disabled, needingLogin;
};

RuntimeCounts countsOf(const WorkspaceSummary& s)
{
    return { s.runtimesInstalled, s.runtimesConfigured, s.runtimesUsable, s.runtimesRunning, s.runtimesDisabled,
        s.runtimesNeedingLogin };
}

} // namespace

Q_DECLARE_METATYPE(RuntimeUsability)
Q_DECLARE_METATYPE(std::optional<qint64>)

class TestWorkspaceSummary : public QObject {
    Q_OBJECT
private slots:
    void employees();
    void runtimeClasses_data();
    void runtimeClasses();
    void runtimesAddUpAcrossRows();
    void noWorkspaceSelected();
    void flags_data();
    void flags();
    void loadedFlags_data();
    void loadedFlags();
    void runtimeAge_data();
    void runtimeAge();
    void snapshotKeys();
    void snapshotFile();
    void gatheredFromTheModels();
};

void TestWorkspaceSummary::employees()
{
    Inputs in = base();
    in.team = { member("a"), member("b"), member("c"), member("d"), member("e") };
    in.workforceFacts.insert("a", facts(true, 2)); // working
    in.workforceFacts.insert("b", facts(true, 0)); // idle
    in.workforceFacts.insert("c", facts(false, 1)); // running work but no reading: still no reading
    // "d" has no facts at all; "e" is idle.
    in.workforceFacts.insert("e", facts(true, 0));
    in.workforceFacts.insert("ghost", facts(true, 1)); // not on the roster: not counted

    const WorkspaceSummary s = WorkspaceSummary::compute(in, kNow);
    QCOMPARE(s.employeesTotal, 5);
    QCOMPARE(s.employeesWorking, 1);
    QCOMPARE(s.employeesIdle, 2);
    QCOMPARE(s.employeesNoReading, 2);
}

void TestWorkspaceSummary::runtimeClasses_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<RuntimeUsability>("usability");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("serves"); // 0 none, 1 a running named entry, 2 only unnamed or finished entries
    QTest::addColumn<bool>("child");
    // installed, configured, usable, running, disabled, needing login
    QTest::addColumn<QList<qint64>>("counts");

    using U = RuntimeUsability;
    QTest::newRow("ready") << true << U::ready << true << 0 << false << QList<qint64> { 1, 1, 1, 0, 0, 0 };
    QTest::newRow("degraded is ready") << true << U::degraded << true << 0 << false
                                       << QList<qint64> { 1, 1, 1, 0, 0, 0 };
    QTest::newRow("user supplied") << true << U::userSupplied << true << 0 << false
                                   << QList<qint64> { 1, 0, 0, 0, 0, 0 };
    QTest::newRow("login required") << true << U::loginRequired << true << 0 << false
                                    << QList<qint64> { 1, 0, 0, 0, 0, 1 };
    QTest::newRow("credentials required")
        << true << U::credentialsRequired << true << 0 << false << QList<qint64> { 1, 0, 0, 0, 0, 1 };
    QTest::newRow("installed but reports not installed")
        << true << U::notInstalled << true << 0 << false << QList<qint64> { 1, 0, 0, 0, 0, 0 };
    QTest::newRow("unsupported") << true << U::unsupported << true << 1 << true << QList<qint64> { 1, 0, 0, 1, 0, 0 };
    QTest::newRow("disabled ready is configured")
        << true << U::ready << false << 1 << false << QList<qint64> { 1, 1, 0, 0, 1, 0 };
    QTest::newRow("disabled degraded") << true << U::degraded << false << 0 << false
                                       << QList<qint64> { 1, 0, 0, 0, 1, 0 };
    QTest::newRow("disabled needing login counts twice")
        << true << U::loginRequired << false << 0 << false << QList<qint64> { 1, 0, 0, 0, 1, 1 };
    QTest::newRow("disabled with a child still running")
        << true << U::ready << false << 0 << true << QList<qint64> { 1, 1, 0, 1, 1, 0 };
    QTest::newRow("serving an employee without our child")
        << true << U::unknown << true << 1 << false << QList<qint64> { 1, 1, 1, 0, 0, 0 };
    QTest::newRow("unnamed or finished work is not serving")
        << true << U::unknown << true << 2 << false << QList<qint64> { 1, 0, 0, 0, 0, 0 };
    QTest::newRow("our child running") << true << U::userSupplied << true << 0 << true
                                       << QList<qint64> { 1, 1, 1, 1, 0, 0 };
    QTest::newRow("not installed, child running")
        << false << U::ready << true << 1 << true << QList<qint64> { 0, 0, 0, 1, 0, 0 };
    QTest::newRow("not installed and switched off")
        << false << U::ready << false << 0 << false << QList<qint64> { 0, 0, 0, 0, 0, 0 };
}

void TestWorkspaceSummary::runtimeClasses()
{
    QFETCH(bool, installed);
    QFETCH(RuntimeUsability, usability);
    QFETCH(bool, enabled);
    QFETCH(int, serves);
    QFETCH(bool, child);
    QFETCH(QList<qint64>, counts);

    Inputs in = base();
    in.inventoryRows = { row("codex", installed, usability) };
    in.runtimeEnabled.insert("codex", enabled);
    in.runtimeEnabled.insert("other", false); // another kind's flag changes nothing
    if (serves == 1)
        in.runtimeServing.insert("codex", { serving(std::nullopt, true), serving(QStringLiteral("小林"), true) });
    if (serves == 2)
        in.runtimeServing.insert("codex", { serving(std::nullopt, true), serving(QStringLiteral("小林"), false) });
    // Work of another kind serves nobody here.
    in.runtimeServing.insert("claude", { serving(QStringLiteral("阿何"), true) });
    if (child)
        in.runningKinds.insert("codex");

    const RuntimeCounts c = countsOf(WorkspaceSummary::compute(in, kNow));
    QCOMPARE((QList<qint64> { c.installed, c.configured, c.usable, c.running, c.disabled, c.needingLogin }), counts);
}

void TestWorkspaceSummary::runtimesAddUpAcrossRows()
{
    Inputs in = base();
    in.inventoryRows = {
        row("claude", true, RuntimeUsability::ready), // no enablement entry: enabled
        row("codex", true, RuntimeUsability::loginRequired),
        row("gemini", true, RuntimeUsability::ready),
        row("aider", false, RuntimeUsability::notInstalled),
        row("goose", true, RuntimeUsability::degraded),
    };
    in.runtimeEnabled.insert("gemini", false);
    in.runningKinds = { "claude", "aider" };

    const WorkspaceSummary s = WorkspaceSummary::compute(in, kNow);
    QCOMPARE(s.runtimesInstalled, 4);
    QCOMPARE(s.runtimesConfigured, 3); // claude, goose, and the switched-off ready gemini
    QCOMPARE(s.runtimesUsable, 2);
    QCOMPARE(s.runtimesRunning, 2);
    QCOMPARE(s.runtimesDisabled, 1);
    QCOMPARE(s.runtimesNeedingLogin, 1);
}

void TestWorkspaceSummary::noWorkspaceSelected()
{
    Inputs in = base();
    in.workspaceID.reset();
    in.workspaceFolderExists = false;
    in.inventoryRows = { row("codex", true, RuntimeUsability::userSupplied) };
    in.runningKinds = { "codex" }; // stale: no workspace, no worker to count

    const WorkspaceSummary s = WorkspaceSummary::compute(in, kNow);
    QCOMPARE(s.workspaceUnavailable, false);
    QCOMPARE(s.runtimesRunning, 0);
    QCOMPARE(s.runtimesUsable, 0);
}

void TestWorkspaceSummary::flags_data()
{
    QTest::addColumn<bool>("selected");
    QTest::addColumn<bool>("folderExists");
    QTest::addColumn<int>("presence");
    QTest::addColumn<bool>("unavailable");
    QTest::addColumn<bool>("offline");

    QTest::newRow("folder there, online") << true << true << int(AgentPresence::Kind::Online) << false << false;
    QTest::newRow("folder gone") << true << false << int(AgentPresence::Kind::Online) << true << false;
    QTest::newRow("nothing selected") << false << false << int(AgentPresence::Kind::Online) << false << false;
    QTest::newRow("stale runner") << true << true << int(AgentPresence::Kind::Stale) << false << true;
    QTest::newRow("unknown runner") << true << true << int(AgentPresence::Kind::Unknown) << false << true;
    QTest::newRow("never seen") << true << true << int(AgentPresence::Kind::Never) << false << true;
}

void TestWorkspaceSummary::flags()
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
    in.waitingTaskIDs = { "c1", "c2" };
    in.failedFeedItems = 3;
    in.agentServiceRunning = false;

    const WorkspaceSummary s = WorkspaceSummary::compute(in, kNow);
    QCOMPARE(s.workspaceUnavailable, unavailable);
    QCOMPARE(s.agentOffline, offline);
    QCOMPARE(s.pendingApprovals, 2);
    QCOMPARE(s.failedTasks, 3);
    QCOMPARE(s.agentServiceRunning, std::optional<bool>(false));
}

void TestWorkspaceSummary::loadedFlags_data()
{
    QTest::addColumn<bool>("hasRows");
    QTest::addColumn<bool>("loading");
    QTest::addColumn<bool>("refreshed");
    QTest::addColumn<bool>("inventoryLoaded");

    // Nothing has loaded yet: an idle, empty store is not a loaded empty inventory.
    QTest::newRow("fresh store") << false << false << false << false;
    QTest::newRow("first refresh running") << false << true << false << false;
    QTest::newRow("refreshed, nothing installed") << false << false << true << true;
    QTest::newRow("refreshing again, empty") << false << true << true << true;
    QTest::newRow("rows while refreshing") << true << true << true << true;
}

void TestWorkspaceSummary::loadedFlags()
{
    QFETCH(bool, hasRows);
    QFETCH(bool, loading);
    QFETCH(bool, refreshed);
    QFETCH(bool, inventoryLoaded);

    Inputs in = base();
    if (hasRows)
        in.inventoryRows = { row("codex", true, RuntimeUsability::ready) };
    in.inventoryLoading = loading;
    in.inventoryStamp = refreshed ? std::optional<QDateTime>(kNow) : std::nullopt;
    const WorkspaceSummary s = WorkspaceSummary::compute(in, kNow);
    QCOMPARE(s.runtimeInventoryLoaded, inventoryLoaded);
    if (!refreshed)
        QCOMPARE(s.runtimeAgeSeconds, std::nullopt);

    // The roster: loaded only once a load has finished, and only without an error.
    in.teamLoadFinished = false;
    in.teamError.reset();
    QCOMPARE(WorkspaceSummary::compute(in, kNow).teamLoaded, false);
    in.teamLoadFinished = true;
    in.teamError = QStringLiteral("连不上网关");
    QCOMPARE(WorkspaceSummary::compute(in, kNow).teamLoaded, false);
    in.teamError.reset();
    QCOMPARE(WorkspaceSummary::compute(in, kNow).teamLoaded, true);
}

void TestWorkspaceSummary::runtimeAge_data()
{
    QTest::addColumn<qint64>("stampOffsetMs"); // stamp relative to now
    QTest::addColumn<std::optional<qint64>>("age");

    QTest::newRow("just now") << qint64(0) << std::optional<qint64>(0);
    QTest::newRow("truncated, not rounded") << qint64(-59'900) << std::optional<qint64>(59);
    QTest::newRow("an hour") << qint64(-3'600'000) << std::optional<qint64>(3600);
    // The clock was stepped back: never a negative age (the snapshot's -1 means "never refreshed").
    QTest::newRow("stamp in the future") << qint64(5'000) << std::optional<qint64>(0);
}

void TestWorkspaceSummary::runtimeAge()
{
    QFETCH(qint64, stampOffsetMs);
    QFETCH(std::optional<qint64>, age);
    Inputs in = base();
    in.inventoryStamp = kNow.addMSecs(stampOffsetMs);
    QCOMPARE(WorkspaceSummary::compute(in, kNow).runtimeAgeSeconds, age);
}

void TestWorkspaceSummary::snapshotKeys()
{
    // Nothing known yet: the absent values have their stand-ins, never null.
    const QJsonObject empty = WorkspaceSummary().toJson();
    const QStringList expectedKeys { "agent_offline", "agent_service_known", "agent_service_running", "employees_idle",
        "employees_no_reading", "employees_total", "employees_working", "failed_tasks", "pending_approvals",
        "runtime_age_seconds", "runtime_inventory_loaded", "runtimes_configured", "runtimes_disabled",
        "runtimes_installed", "runtimes_needing_login", "runtimes_running", "runtimes_usable", "team_loaded",
        "workspace_unavailable" };
    QCOMPARE(empty.keys(), expectedKeys);
    QCOMPARE(empty.value("runtime_age_seconds"), QJsonValue(-1));
    QCOMPARE(empty.value("agent_service_running"), QJsonValue(false));
    QCOMPARE(empty.value("agent_service_known"), QJsonValue(false));
    for (const QString& key : expectedKeys)
        QVERIFY2(!empty.value(key).isNull(), qPrintable(key));

    // Every field lands under its own key.
    WorkspaceSummary s { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, true, true, true, true, 0, true };
    const QJsonObject full = s.toJson();
    const QJsonObject expected = QJsonDocument::fromJson(R"({
        "employees_total": 1, "employees_working": 2, "employees_idle": 3, "employees_no_reading": 4,
        "runtimes_installed": 5, "runtimes_configured": 6, "runtimes_usable": 7, "runtimes_running": 8,
        "runtimes_disabled": 9, "pending_approvals": 10, "failed_tasks": 11, "runtimes_needing_login": 12,
        "workspace_unavailable": true, "agent_offline": true, "runtime_inventory_loaded": true, "team_loaded": true,
        "runtime_age_seconds": 0, "agent_service_running": true, "agent_service_known": true })")
                                     .object();
    QCOMPARE(full, expected);

    s.agentServiceRunning = false;
    QCOMPARE(s.toJson().value("agent_service_known"), QJsonValue(true));
    QCOMPARE(s.toJson().value("agent_service_running"), QJsonValue(false));
}

void TestWorkspaceSummary::snapshotFile()
{
    TempHome home;
    // The snapshot stays in the real home even when the stores are moved.
    QTemporaryDir elsewhere;
    qputenv("TOLVARINE_HOME", elsewhere.path().toUtf8());
    const auto restore = qScopeGuard([] { qunsetenv("TOLVARINE_HOME"); });

    const QString path = home.filePath(".tolvarine/desktop_summary.json");
    QCOMPARE(WorkspaceSummary::snapshotPath(), path);

    WorkspaceSummary s;
    s.employeesTotal = 6;
    s.runtimeAgeSeconds = 42;
    s.dump(); // creates the folder
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    QCOMPARE(QJsonDocument::fromJson(bytes).object(), s.toJson());
    // Pretty-printed with the keys in order.
    QVERIFY(bytes.contains('\n'));
    QVERIFY(bytes.indexOf("agent_offline") < bytes.indexOf("workspace_unavailable"));

    // Replaced whole; nothing left beside it.
    s.employeesTotal = 2;
    s.runtimeAgeSeconds.reset();
    s.dump();
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject again = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    QCOMPARE(again.value("employees_total"), QJsonValue(2));
    QCOMPARE(again.value("runtime_age_seconds"), QJsonValue(-1));
    QCOMPARE(QDir(home.filePath(".tolvarine")).entryList(QDir::Files | QDir::Hidden),
        QStringList { "desktop_summary.json" });
    QVERIFY(QDir(elsewhere.path()).isEmpty());

    // A dot "directory" that is a file: the write fails quietly and touches nothing.
    QVERIFY(QDir(home.filePath(".tolvarine")).removeRecursively());
    home.writeFile(".tolvarine", "not a folder");
    s.dump();
    QFile blocker(home.filePath(".tolvarine"));
    QVERIFY(blocker.open(QIODevice::ReadOnly));
    QCOMPARE(blocker.readAll(), QByteArray("not a folder"));
}

void TestWorkspaceSummary::gatheredFromTheModels()
{
    TempHome home;
    SimGateway sim;
    QVERIFY2(sim.ok(), sim.output().constData());

    // Two waiting approvals for one task count once; one failed item.
    const QJsonObject state = QJsonDocument::fromJson(R"({
        "feed": [
          {"id":"f1","task_id":"c7","category":"approval","title":"上线？","status":"pending"},
          {"id":"f2","task_id":"c7","category":"approval","title":"再确认一次","status":"pending"},
          {"id":"f3","task_id":"c8","category":"failed","title":"迁移失败"}
        ]})")
                                  .object();
    sim.control("PATCH", QStringLiteral("/_sim/state/ws-demo"), state);
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

    // Before anything has loaded, nothing claims to be loaded.
    WorkspaceSummary s = WorkspaceSummary::compute(status, catalog, inventory, {}, runtimes, health);
    QCOMPARE(s.teamLoaded, false);
    QCOMPARE(s.runtimeInventoryLoaded, false);
    QCOMPARE(s.runtimeAgeSeconds, std::nullopt);
    QCOMPARE(s.agentServiceRunning, std::nullopt);
    QCOMPARE(s.workspaceUnavailable, false);
    QCOMPARE(s.toJson().value("team_loaded"), QJsonValue(false));

    QCoro::waitFor(status.reload(catalog.selected()->config));
    s = WorkspaceSummary::compute(status, catalog, inventory, {}, runtimes, health);
    QCOMPARE(s.teamLoaded, true);
    QCOMPARE(s.employeesTotal, qint64(status.team().size()));
    QVERIFY(s.employeesTotal > 0);
    QCOMPARE(s.employeesWorking + s.employeesIdle + s.employeesNoReading, s.employeesTotal);
    QCOMPARE(s.pendingApprovals, 1);
    QCOMPARE(s.failedTasks, 1);

    // A roster that fails to load is not loaded, and the folder going away shows.
    sim.setFault("GET", QStringLiteral("/api/workspaces/ws-demo/employees"), 500);
    QVERIFY(QDir(*config.path).removeRecursively());
    QCoro::waitFor(status.reload(catalog.selected()->config));
    s = WorkspaceSummary::compute(status, catalog, inventory, {}, runtimes, health);
    QCOMPARE(s.teamLoaded, false);
    QCOMPARE(s.employeesTotal, 0);
    QCOMPARE(s.workspaceUnavailable, true);
}

QTEST_GUILESS_MAIN(TestWorkspaceSummary)
#include "tst_WorkspaceSummary.moc"
