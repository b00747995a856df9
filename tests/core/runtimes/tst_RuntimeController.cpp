#include "core/gateway/CLI.h"
#include "core/platform/DeskCrumbs.h"
#include "core/platform/DisplayText.h"
#include "core/platform/FileLock.h"
#include "core/platform/JsonFile.h"
#include "core/platform/ProcessGroup.h"
#include "core/platform/ProcessTable.h"
#include "core/platform/SecretStore.h"
#include "core/platform/SerialExecutor.h"
#include "core/providers/CredentialBroker.h"
#include "core/runtimes/ProcessSignals.h"
#include "core/runtimes/RuntimeChildLedger.h"
#include "core/runtimes/RuntimeController.h"

#include "BlockingSecretStore.h"
#include "SimTool.h"
#include "StallProbe.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>

namespace {

CLIConfig config(const QString& workspace, const std::optional<QString>& path)
{
    CLIConfig c;
    c.api = QStringLiteral("http://127.0.0.1:1");
    c.workspace = workspace;
    c.token = QStringLiteral("tok");
    c.path = path;
    return c;
}

RuntimeLaunch launch(const QString& kind)
{
    return RuntimeLaunch { kind, kind + QStringLiteral("-cmd"), kind.toUpper() };
}

bool hasLine(const RuntimeController& c, const QString& ws, const QString& part)
{
    return !c.lines(ws).filter(part).isEmpty();
}

// Codex taking the OpenAI key through OPENAI_API_KEY.
RuntimeSetupInfo codexSetup()
{
    RuntimeSetupInfo s;
    s.kind = QStringLiteral("codex");
    s.credentialProvider = QStringLiteral("openai");
    s.apiKeyEnvVars = { QStringLiteral("OPENAI_API_KEY") };
    return s;
}

void storeLegacyKey(SecretStore& store, const QByteArray& key)
{
    QVERIFY(
        store.write(CredentialBroker::service(), CredentialBroker::legacyAccount(QStringLiteral("openai")), key, "t"));
}

} // namespace

// Every worker here is a real child process: the companion tool's "run".
class TestRuntimeController : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    // First: the login shell is asked for its PATH once per process.
    void startHoldsNothingUp();
    void oneWorkerPerWorkspaceAndKind();
    void outputWindowAndKindOrder();
    void launchFailure();
    void workerThatExitsByItself();
    void workerThatEndsAtOnceSaysHow();
    void recordedBeforeItRuns();
    void stopReturnsAtOnce();
    void stopBeforeTheWorkerRuns_data();
    void stopBeforeTheWorkerRuns();
    void stopEndsWhatTheWorkerStarted_data();
    void stopEndsWhatTheWorkerStarted();
    void keysAreReadOffTheGuiThread();
    void keylessStartsDoNotWaitForTheKeyStore();
    void launchEnvironment();
    void secretsInOutputAreMasked();

private:
    void start(RuntimeController& c, const QString& ws, const QString& kind,
        const std::optional<RuntimeSetupInfo>& setup = std::nullopt,
        const std::optional<ProviderProfile>& profile = std::nullopt)
    {
        c.start(config(ws, m_folder), launch(kind), setup, profile);
    }

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimTool> m_tool;
    QString m_folder;
};

void TestRuntimeController::init()
{
    m_home = std::make_unique<TempHome>();
    m_tool = std::make_unique<SimTool>(*m_home);
    m_tool->put(QStringLiteral("run.interval_ms"), "50");
    m_tool->put(QStringLiteral("log_env"), "OPENAI_API_KEY\n");
    m_folder = m_home->filePath(QStringLiteral("project"));
    QDir().mkpath(m_folder);
    SecretStore::setShared(std::make_unique<MemorySecretStore>());
}

void TestRuntimeController::cleanup()
{
    SecretStore::setShared(nullptr);
    m_tool.reset();
    m_home.reset();
}

// The first worker waits for a slow login shell's PATH; the GUI thread does not.
void TestRuntimeController::startHoldsNothingUp()
{
    const QString asked = m_home->filePath(QStringLiteral("shell-asked"));
    const QString shell = m_home->writeScript(
        QStringLiteral("slow-shell"), "touch '" + asked.toUtf8() + "'\nsleep 1.5\nprintf %s \"$PATH\"\n");
    const QByteArray oldShell = qgetenv("SHELL");
    qputenv("SHELL", QFile::encodeName(shell));
    RuntimeController c;
    StallProbe probe;
    start(c, "ws", "codex");
    QTRY_VERIFY(hasLine(c, "ws", "heartbeat 1"));
    qputenv("SHELL", oldShell);
    QVERIFY(QFile::exists(asked));
    probe.verifyNoStall();
    QCOMPARE(RuntimeChildLedger::load().size(), 1);
    c.stopAll();
}

void TestRuntimeController::oneWorkerPerWorkspaceAndKind()
{
    RuntimeController c;
    c.setStopGraceSeconds(2);
    start(c, "ws1", "codex");
    QVERIFY(c.isRunning("ws1", "codex"));
    QTRY_VERIFY(hasLine(c, "ws1", "heartbeat 1"));

    // The second start of the same key does nothing at all.
    const qint64 beforeSecond = c.revision();
    start(c, "ws1", "codex");
    QCOMPARE(c.revision(), beforeSecond);
    QCOMPARE(RuntimeChildLedger::load().size(), 1);

    // Another kind, and the same kind in another workspace, start alongside.
    start(c, "ws1", "aider");
    start(c, "ws2", "codex");
    QVERIFY(c.isRunning("ws1", "aider") && c.isRunning("ws2", "codex"));
    // Recorded before they run, under their pids once they do.
    QTRY_VERIFY(RuntimeChildLedger::load().size() == 3
        && std::ranges::none_of(RuntimeChildLedger::load(), [](const RuntimeChildRecord& r) { return r.pid == 0; }));
    const QList<RuntimeChildRecord> records = RuntimeChildLedger::load();
    for (const RuntimeChildRecord& r : records)
        QVERIFY(r.ownerPID == QCoreApplication::applicationPid() && r.exe == m_tool->exe());
    QVERIFY(TempHome::crumbs().contains(QStringLiteral("runtime.start codex pid=%1").arg(records.first().pid)));

    c.stopAll();
    QVERIFY(TempHome::crumbs().contains(QStringLiteral("runtime.stopAll 共 3 个")));
    QVERIFY(!c.isRunning("ws1", "aider"));
    QTRY_VERIFY(RuntimeChildLedger::load().isEmpty());
    for (const RuntimeChildRecord& r : records)
        QVERIFY(::kill(r.pid, 0) != 0);
}

void TestRuntimeController::outputWindowAndKindOrder()
{
    m_tool->put(QStringLiteral("run.interval_ms"), "10");
    RuntimeController c;
    QSignalSpy workers(&c, &RuntimeController::workersChanged);
    QSignalSpy output(&c, &RuntimeController::outputChanged);
    start(c, "ws", "b");
    QTRY_VERIFY(hasLine(c, "ws", "heartbeat 1"));
    const qsizetype workerChanges = workers.size();
    // The start line and 200 heartbeats: the start line is the first to go.
    QTRY_VERIFY_WITH_TIMEOUT(c.lines("ws").contains(QStringLiteral("[B] heartbeat 201")), 30000);
    // Lines are output, not a change of the workers.
    QCOMPARE(workers.size(), workerChanges);
    QCOMPARE(output.last().first().toString(), QStringLiteral("ws"));
    QStringList lines = c.lines("ws");
    QCOMPARE(lines.size(), RuntimeController::kMaxLines);
    const int last = lines.last().mid(QStringLiteral("[B] heartbeat ").size()).toInt();
    QCOMPARE(lines.first(), QStringLiteral("[B] heartbeat %1").arg(last - RuntimeController::kMaxLines + 1));

    m_tool->put(QStringLiteral("run.interval_ms"), "50");
    start(c, "ws", "a");
    QTRY_VERIFY(hasLine(c, "ws", "[A] heartbeat 1"));
    c.stopAll();
    lines = c.lines("ws");
    // Kind "a" first, then "b"; lines outlive the workers.
    QCOMPARE(lines.first(), QStringLiteral("[A] brenlow run: kind=a runtime=a-cmd ws=ws"));
    QVERIFY(lines.last().startsWith(QStringLiteral("[B] ")));
    // The worker ran in the workspace folder.
    QCOMPARE(m_tool->calls().first().value(QStringLiteral("cwd")).toString(), m_folder);
}

void TestRuntimeController::launchFailure()
{
    QFile::remove(m_tool->exe());
    if (CLI::locate())
        QSKIP("a companion tool is installed on this machine");
    RuntimeController c;
    const auto startAndFail = [&] {
        start(c, "ws", "codex");
        return QTest::qWaitFor([&c] { return !c.isRunning("ws", "codex"); });
    };
    QVERIFY(startAndFail());
    QCOMPARE(c.lines("ws").size(), 1);
    QVERIFY(c.lines("ws").first().startsWith(QStringLiteral("[CODEX] 启动失败：")));
    QVERIFY(RuntimeChildLedger::load().isEmpty());

    // Failure lines are capped like output lines.
    for (int i = 0; i < RuntimeController::kMaxLines + 5; ++i)
        QVERIFY(startAndFail());
    QCOMPARE(c.lines("ws").size(), RuntimeController::kMaxLines);
}

void TestRuntimeController::workerThatExitsByItself()
{
    RuntimeController c;
    c.start(config("ws", std::nullopt), launch("codex"), std::nullopt, std::nullopt);
    QVERIFY(c.isRunning("ws", "codex"));
    QTRY_VERIFY(hasLine(c, "ws", "heartbeat 1"));
    // Without a folder the worker runs in the application's working folder.
    QCOMPARE(m_tool->calls().first().value(QStringLiteral("cwd")).toString(), QDir::currentPath());

    ::kill(RuntimeChildLedger::load().first().pid, SIGTERM);
    QTRY_VERIFY(!c.isRunning("ws", "codex"));
    QVERIFY(RuntimeChildLedger::load().isEmpty());

    // Started again at once: the new worker is held and recorded.
    start(c, "ws", "codex");
    QTRY_COMPARE_WITH_TIMEOUT(RuntimeChildLedger::load().size(), 1, 30000);
    QTest::qWait(300);
    QVERIFY(c.isRunning("ws", "codex"));
    QCOMPARE(RuntimeChildLedger::load().size(), 1);
    c.stop("ws", "codex");
}

void TestRuntimeController::workerThatEndsAtOnceSaysHow()
{
    m_tool->put(QStringLiteral("run.out"), "starting\nfatal: runtime refused to start: no API key\n");
    m_tool->put(QStringLiteral("run.code"), "3");
    RuntimeController c;
    start(c, "ws", "codex");
    QVERIFY(!c.earlyEnd("ws", "codex"));
    QTRY_VERIFY(!c.isRunning("ws", "codex"));
    QCOMPARE(c.earlyEnd("ws", "codex"),
        (RuntimeController::EarlyEnd { 3, false, QStringLiteral("fatal: runtime refused to start: no API key") }));
    QVERIFY(!c.earlyEnd("ws2", "codex"));
    QVERIFY(TempHome::crumbs().contains(QRegularExpression(QStringLiteral("runtime\\.exit codex pid=\\d+ status=3"))));
    // The next start speaks for itself.
    start(c, "ws", "codex");
    QVERIFY(!c.earlyEnd("ws", "codex"));
}

// The worker is in the ledger before it can run; a ledger that cannot be
// written holds no worker up, and the controller knows why it is not there.
void TestRuntimeController::recordedBeforeItRuns()
{
    RuntimeController c;
    // Whether the ledger on disk held a record when the worker was first seen.
    std::optional<bool> recorded;
    connect(&c, &RuntimeController::workersChanged, this, [&] {
        for (const ProcessTable::Entry& e : ProcessTable::snapshot().byPID) {
            if (!recorded && e.ppid == ::getpid()
                && ProcessTable::environment(e.pid).contains("TOLVARINE_RUNTIME_KIND=codex"))
                recorded = RuntimeChildLedger::decode(JsonFile::readStored(RuntimeChildLedger::filePath()).data)
                               .value_or(QList<RuntimeChildRecord> {})
                               .size()
                    == 1;
        }
    });
    start(c, "ws", "codex");
    QTRY_VERIFY(hasLine(c, "ws", "heartbeat 1"));
    QCOMPARE(recorded, std::optional<bool>(true));
    QVERIFY(!c.unrecorded("ws", "codex"));
    c.stop("ws", "codex");

    QTRY_COMPARE(c.stoppingCount(), 0);
    RuntimeChildLedger::waitForWrites();
    QVERIFY(QFile::remove(RuntimeChildLedger::filePath()));
    QVERIFY(QDir().mkpath(RuntimeChildLedger::filePath()));
    start(c, "ws", "codex");
    QTRY_VERIFY(c.unrecorded("ws", "codex"));
    // The first heartbeat of each run; a slow poll here may already see "heartbeat 10" and on.
    QTRY_COMPARE(c.lines("ws").filter(QRegularExpression(QStringLiteral("heartbeat 1$"))).size(), 2);
    c.stop("ws", "codex");
    QVERIFY(!c.unrecorded("ws", "codex"));

    // Another program holds the ledger's lock: the card's advice is about that lock.
    QTRY_COMPARE(c.stoppingCount(), 0);
    RuntimeChildLedger::waitForWrites();
    QVERIFY(QDir().rmdir(RuntimeChildLedger::filePath()));
    // flock's command inherits the lock: the holder ends with its group.
    QProcess holder;
    ProcessGroup::prepare(holder);
    holder.start(QStringLiteral("flock"), { RuntimeChildLedger::lockPath(), QStringLiteral("sleep"), "600" });
    QVERIFY(holder.waitForStarted());
    QTRY_VERIFY(!FileLock(RuntimeChildLedger::lockPath(), 0).isLocked());
    start(c, "ws", "codex");
    QTRY_VERIFY_WITH_TIMEOUT(c.unrecorded("ws", "codex"), 30000);
    QVERIFY2(RuntimeChildLedger::isLockHeld(*c.unrecorded("ws", "codex")), qPrintable(*c.unrecorded("ws", "codex")));
    ::kill(-pid_t(holder.processId()), SIGKILL);
    holder.waitForFinished();
    c.stop("ws", "codex");
}

// A stop returns at once: a worker that ignores SIGTERM is still there right
// after it. A start of the same pair meanwhile waits for the old worker to be
// gone (the kill after the grace is stopEndsWhatTheWorkerStarted's).
void TestRuntimeController::stopReturnsAtOnce()
{
    m_tool->put(QStringLiteral("run.ignore_term"));
    bool overlapped = false;
    RuntimeController c;
    c.setStopGraceSeconds(1);
    start(c, "ws", "codex");
    QTRY_VERIFY(hasLine(c, "ws", "heartbeat 1"));
    const qint32 pid = RuntimeChildLedger::load().first().pid;
    connect(&c, &RuntimeController::workersChanged, this,
        [&overlapped] { overlapped = overlapped || RuntimeChildLedger::load().size() > 1; });

    c.stop("ws", "codex");
    QVERIFY(!c.isRunning("ws", "codex"));
    QVERIFY(::kill(pid, 0) == 0);
    QCOMPARE(c.stoppingCount(), 1);
    start(c, "ws", "codex");
    QVERIFY(c.isRunning("ws", "codex"));

    QTRY_COMPARE(c.stoppingCount(), 0);
    QVERIFY(::kill(pid, 0) != 0);
    QTRY_COMPARE(RuntimeChildLedger::load().size(), 1);
    QVERIFY(RuntimeChildLedger::load().first().pid != pid);
    QVERIFY(!overlapped);
}

void TestRuntimeController::stopBeforeTheWorkerRuns_data()
{
    QTest::addColumn<bool>("whilePreparing"); // else once the child is forked, before it runs the tool
    QTest::newRow("while its keys are read") << true;
    QTest::newRow("while it starts") << false;
}

// A stop that comes before the worker runs leaves nothing running.
void TestRuntimeController::stopBeforeTheWorkerRuns()
{
    QFETCH(bool, whilePreparing);
    auto blocking = std::make_unique<BlockingSecretStore>();
    BlockingSecretStore* keys = blocking.get();
    storeLegacyKey(keys->inner(), "sk-legacy");
    SecretStore::setShared(std::move(blocking));
    RuntimeController c;
    c.setStopGraceSeconds(1);
    // The pair is held from the start; the child's turn comes with the change after.
    int changes = 0;
    connect(&c, &RuntimeController::workersChanged, this, [&] {
        if (++changes == 2 && !whilePreparing)
            c.stop("ws", "codex");
    });
    start(c, "ws", "codex", codexSetup());
    QTRY_VERIFY(keys->waiting());
    if (whilePreparing)
        c.stop("ws", "codex");
    keys->open();
    QTRY_VERIFY(changes >= 2);
    QVERIFY(!c.isRunning("ws", "codex"));
    QTRY_COMPARE(c.stoppingCount(), 0);
    QTest::qWait(300);
    QVERIFY(!c.isRunning("ws", "codex"));
    QVERIFY(RuntimeChildLedger::load().isEmpty());
    if (whilePreparing)
        QVERIFY(m_tool->calls().isEmpty());
    // Whatever was forked is gone, the tool's run included.
    const ProcessTable table = ProcessTable::snapshot();
    for (const ProcessTable::Entry& e : table.byPID)
        QVERIFY2(e.ppid != ::getpid() || e.state == 'Z', qPrintable(QString::number(e.pid)));
}

void TestRuntimeController::stopEndsWhatTheWorkerStarted_data()
{
    QTest::addColumn<QByteArray>("child");
    QTest::addColumn<bool>("workerIgnoresTerm");
    QTest::addColumn<bool>("quit");
    QTest::addColumn<QString>("killed");
    QTest::newRow("both end on SIGTERM") << QByteArray("1") << false << false << QString();
    QTest::newRow("the child ignores SIGTERM") << QByteArray("stubborn") << false << false << QStringLiteral("pgid");
    QTest::newRow("both ignore SIGTERM") << QByteArray("1") << true << false << QStringLiteral("pid");
    QTest::newRow("quitting, the child ignores SIGTERM")
        << QByteArray("stubborn") << false << true << QStringLiteral("pgid");
    // Marked but out of the group; in the group but with no mark to read.
    QTest::newRow("children that left the group or hide their mark")
        << QByteArray("setsid envless undumpable") << false << false << QString();
    QTest::newRow("quitting, children that left the group or hide their mark")
        << QByteArray("setsid envless undumpable") << false << true << QString();
}

// The worker leaves a child of its own behind when it goes; a stop, or
// quitting, ends the child too: SIGTERM to both, SIGKILL to what is left
// after the grace.
void TestRuntimeController::stopEndsWhatTheWorkerStarted()
{
    QFETCH(QByteArray, child);
    QFETCH(bool, workerIgnoresTerm);
    QFETCH(bool, quit);
    QFETCH(QString, killed);
    m_tool->put(QStringLiteral("run.child"), child);
    if (workerIgnoresTerm)
        m_tool->put(QStringLiteral("run.ignore_term"));
    RuntimeController c;
    c.setStopGraceSeconds(1);
    start(c, "ws", "codex");
    QTRY_VERIFY(hasLine(c, "ws", "heartbeat 1"));
    const qint32 worker = RuntimeChildLedger::load().first().pid;
    QFile children(m_home->filePath(QStringLiteral("brenlow-sim/children")));
    QVERIFY(children.open(QIODevice::ReadOnly));
    const QList<QByteArray> grandchildren = children.readAll().simplified().split(' ');
    QCOMPARE(grandchildren.size(), child.count(' ') + 1);
    for (const QByteArray& grandchild : grandchildren)
        QVERIFY(ProcessSignals::isAlive(grandchild.toInt()));

    const auto bothGone = [&] {
        return !ProcessSignals::isAlive(worker)
            && std::none_of(grandchildren.cbegin(), grandchildren.cend(),
                [](auto p) { return ProcessSignals::isAlive(p.toInt()); });
    };
    if (quit) {
        c.stopAll();
        c.waitForStopped();
        QVERIFY(bothGone()); // quitting waits for them
    } else {
        c.stop("ws", "codex");
        QTRY_VERIFY(bothGone());
    }
    QTRY_VERIFY(RuntimeChildLedger::load().isEmpty());
    const QString log = TempHome::crumbs();
    QCOMPARE(log.contains(QStringLiteral("child.kill pid=%1 ").arg(worker)), killed == QLatin1String("pid"));
    QCOMPARE(log.contains(QStringLiteral("child.kill pgid=%1 ").arg(worker)), killed == QLatin1String("pgid"));
}

void TestRuntimeController::launchEnvironment()
{
    storeLegacyKey(*SecretStore::shared(), "sk-legacy");
    RuntimeSetupInfo setup = codexSetup();
    setup.providerSlots = { ProviderSlot {
        QStringLiteral("openai"), QStringLiteral("OpenAI"), { QStringLiteral("OPENAI_API_KEY") }, {}, {} } };
    ProviderProfile profile;
    profile.id = QUuid::createUuid();
    profile.provider = QStringLiteral("openai");
    QVERIFY(CredentialBroker::storeKey(profile.id, QStringLiteral("sk-profile")));

    RuntimeController c;
    start(c, "ws", "codex", setup); // no profile: the legacy key of the contract's provider
    start(c, "ws2", "codex", setup, profile); // only the profile's key, the legacy one is not consulted
    start(c, "ws3", "codex", std::nullopt, profile); // no contract: nothing

    QTRY_COMPARE(m_tool->calls().size(), 3);
    QMap<QString, QString> keys;
    for (const QJsonObject& call : m_tool->calls()) {
        const QJsonObject env = call.value(QStringLiteral("env")).toObject();
        QCOMPARE(env.value(QStringLiteral("TOLVARINE_RUNTIME_KIND")).toString(), QStringLiteral("codex"));
        keys.insert(env.value(QStringLiteral("TOLVARINE_WS")).toString(),
            env.value(QStringLiteral("OPENAI_API_KEY")).toString());
    }
    QCOMPARE(keys,
        (QMap<QString, QString> {
            { "ws", "sk-legacy" }, { "ws2", "sk-profile" }, { "ws3", qEnvironmentVariable("OPENAI_API_KEY") } }));
    c.stopAll();
}

// The key store may keep its caller waiting indefinitely; the GUI thread keeps
// turning meanwhile, and the worker starts with its key once the store answers.
void TestRuntimeController::keysAreReadOffTheGuiThread()
{
    auto blocking = std::make_unique<BlockingSecretStore>();
    BlockingSecretStore* keys = blocking.get();
    storeLegacyKey(keys->inner(), "sk-legacy");
    SecretStore::setShared(std::move(blocking));

    RuntimeController c;
    start(c, "ws", "codex", codexSetup());
    QTRY_VERIFY(keys->waiting());
    keys->open();
    QTRY_COMPARE(m_tool->calls().size(), 1);
    QVERIFY(!keys->gaveUp());
    QCOMPARE(m_tool->calls().first().value(QStringLiteral("env")).toObject().value(QStringLiteral("OPENAI_API_KEY")),
        QStringLiteral("sk-legacy"));
}

// While the key store holds a call, what needs no key starts at once; a key
// read still comes after the key write handed to the store before it.
void TestRuntimeController::keylessStartsDoNotWaitForTheKeyStore()
{
    auto blocking = std::make_unique<BlockingSecretStore>();
    BlockingSecretStore* keys = blocking.get();
    SecretStore::setShared(std::move(blocking));
    RuntimeSetupInfo setup = codexSetup();
    setup.providerSlots = { ProviderSlot {
        QStringLiteral("openai"), QStringLiteral("OpenAI"), { QStringLiteral("OPENAI_API_KEY") }, {}, {} } };
    RuntimeSetupInfo loginOnly;
    loginOnly.kind = QStringLiteral("codex");
    ProviderProfile profile;
    profile.id = QUuid::createUuid();
    profile.provider = QStringLiteral("openai");
    ProviderProfile elsewhere = profile;
    elsewhere.provider = QStringLiteral("mistral");
    SecretStore::queue().run([id = profile.id] { CredentialBroker::storeKey(id, QStringLiteral("sk-just-stored")); });
    QTRY_VERIFY(keys->waiting());

    RuntimeController c;
    start(c, "keyed", "codex", setup, profile);
    start(c, "custom", "generic"); // a custom connection
    start(c, "login", "codex", loginOnly); // no credential provider, no profile
    start(c, "foreign", "codex", setup, elsewhere); // a profile of a provider it does not take
    const auto started = [this] {
        QStringList workspaces;
        for (const QJsonObject& call : m_tool->calls())
            workspaces.append(
                call.value(QStringLiteral("env")).toObject().value(QStringLiteral("TOLVARINE_WS")).toString());
        workspaces.sort();
        return workspaces;
    };
    QTRY_COMPARE(started(), (QStringList { "custom", "foreign", "login" }));
    QVERIFY(keys->waiting());
    QVERIFY(!keys->gaveUp());

    keys->open();
    QTRY_COMPARE(started().size(), 4);
    QVERIFY(!keys->gaveUp());
    for (const QJsonObject& call : m_tool->calls()) {
        const QJsonObject env = call.value(QStringLiteral("env")).toObject();
        if (env.value(QStringLiteral("TOLVARINE_WS")).toString() == QStringLiteral("keyed"))
            QCOMPARE(env.value(QStringLiteral("OPENAI_API_KEY")).toString(), QStringLiteral("sk-just-stored"));
    }
    c.stopAll();
}

void TestRuntimeController::secretsInOutputAreMasked()
{
    RuntimeController c;
    // The stand-in echoes its runtime command in its start line.
    c.start(config("ws", m_folder), RuntimeLaunch { "codex", "sk-proj-abcdefgh12345678", "Codex" }, std::nullopt,
        std::nullopt);
    QTRY_VERIFY(hasLine(c, "ws", "brenlow run:"));
    QCOMPARE(c.lines("ws").first(), QStringLiteral("[Codex] brenlow run: kind=codex runtime=sk-proj-**** ws=ws"));

    // A key the worker was given is masked as it is, even when nothing about
    // it looks like a key (here it comes back in the start line).
    storeLegacyKey(*SecretStore::shared(), "plainwords");
    c.start(config("ws2", m_folder), RuntimeLaunch { "codex", "plainwords", "Codex" }, codexSetup(), std::nullopt);
    QTRY_VERIFY(hasLine(c, "ws2", "brenlow run:"));
    QCOMPARE(c.lines("ws2").first(), QStringLiteral("[Codex] brenlow run: kind=codex runtime=**** ws=ws2"));

    // A line as long as a worker may write is cut to what the log shows of one.
    c.start(config("ws3", m_folder), RuntimeLaunch { "codex", QString(20000, QLatin1Char('r')), "Codex" }, std::nullopt,
        std::nullopt);
    QTRY_VERIFY(hasLine(c, "ws3", "brenlow run:"));
    const QString shown = c.lines("ws3").first();
    QVERIFY(shown.endsWith(QStringLiteral("…")));
    QCOMPARE(shown.size(), QStringLiteral("[Codex] ").size() + DisplayText::kTextLength + 1);
    c.stopAll();
}

QTEST_GUILESS_MAIN(TestRuntimeController)
#include "tst_RuntimeController.moc"
