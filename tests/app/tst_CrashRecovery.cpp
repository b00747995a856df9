#include "core/platform/ProcessGroup.h"
#include "core/platform/ProcessTable.h"
#include "core/runtimes/ProcessSignals.h"
#include "core/runtimes/RuntimeChildLedger.h"
#include "core/runtimes/RuntimeChildRecord.h"

#include "SimGateway.h"
#include "SimTool.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<qint32> pidsIn(const QByteArray& text)
{
    QList<qint32> out;
    for (const QByteArray& line : text.split('\n')) {
        if (!line.trimmed().isEmpty())
            out.append(line.trimmed().toInt());
    }
    return out;
}

// Starts a program of the crash tests offscreen; true when it started.
bool start(QProcess& process, const QString& program, const QStringList& args = {},
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment())
{
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(program, args);
    return process.waitForStarted(10000);
}

} // namespace

class TestCrashRecovery : public QObject {
    Q_OBJECT
private slots:
    void relaunchReapsWorkersAndTheirChildren_data();
    void relaunchReapsWorkersAndTheirChildren();
    void relaunchReapsAWorkerStartedJustBefore();
    void everyRoadOutEndsTheWorker_data();
    void everyRoadOutEndsTheWorker();
    void storesParseAfterKillMidWrite();
    void instancesShareTheLedger();
    void oneInstancePerHome();
    void ownersInOtherPidNamespaces();
    void anotherUsersLockDoesNotCount();
    void secondLaunchNeverRunsBeside_data();
    void secondLaunchNeverRunsBeside();

private:
    // Launches the application, which ends every one of `pids` as orphans
    // (`count` records reaped) and empties the ledger; then quits it.
    static void relaunchReaps(int count, const QList<qint32>& pids);
};

void TestCrashRecovery::relaunchReaps(int count, const QList<qint32>& pids)
{
    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    QVERIFY(start(app, QStringLiteral(TOLVARINE_DESKTOP)));
    QTRY_VERIFY2_WITH_TIMEOUT(
        TempHome::crumbs().contains(QStringLiteral("启动时收掉上一任留下的孤儿 %1 个").arg(count)),
        qPrintable(TempHome::crumbs()), 60000);
    for (const qint32 pid : pids)
        QTRY_VERIFY2(!ProcessSignals::isAlive(pid), qPrintable(QString::number(pid)));
    QCOMPARE(QJsonDocument::fromJson(readAll(RuntimeChildLedger::filePath())), QJsonDocument(QJsonArray()));

    app.terminate();
    QVERIFY(app.waitForFinished(30000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
}

void TestCrashRecovery::relaunchReapsWorkersAndTheirChildren_data()
{
    QTest::addColumn<QByteArray>("intervalMs");
    QTest::addColumn<bool>("workersOutliveOwner");
    QTest::addColumn<bool>("installedAsScript");
    QTest::addColumn<QByteArray>("children"); // each worker's, one word each
    // Quiet after their first line, the workers live on with their children.
    QTest::newRow("workers running") << QByteArray("600000") << true << false << QByteArray("1");
    // Writing into the dead owner's pipe ends the workers; their children live on.
    QTest::newRow("only their children running") << QByteArray("20") << false << false << QByteArray("1");
    // The tool is a script that execs the real one: the workers run under
    // another first word than the one recorded.
    QTest::newRow("tool installed as a script") << QByteArray("600000") << true << true << QByteArray("1");
    // Children that left the worker's group (marked), and children in its
    // group whose mark cannot be read.
    QTest::newRow("children that left the group or hide their mark")
        << QByteArray("600000") << true << false << QByteArray("setsid envless undumpable");
}

// Three workers, each with a child of its own, are left behind by the
// application's SIGKILL; the next launch of the application ends every one of
// them and empties the ledger.
void TestCrashRecovery::relaunchReapsWorkersAndTheirChildren()
{
    QFETCH(QByteArray, intervalMs);
    QFETCH(bool, workersOutliveOwner);
    QFETCH(bool, installedAsScript);
    QFETCH(QByteArray, children);
    TempHome home;
    SimGateway gateway;
    QVERIFY2(gateway.ok(), gateway.output().constData());
    SimTool tool(home);
    if (installedAsScript) {
        QVERIFY(QFile::remove(tool.exe())); // the link, not what it points to
        home.writeScript(
            QStringLiteral(".local/bin/brenlow"), "exec '" + QFile::encodeName(Sim::companion()) + "' \"$@\"");
    }
    tool.put(QStringLiteral("run.child"), children);
    tool.put(QStringLiteral("run.interval_ms"), intervalMs);
    gateway.pair(home);

    QProcess owner;
    QVERIFY(start(owner, QStringLiteral(TOLVARINE_CRASH_OWNER), { QStringLiteral("workers") }));
    QVERIFY(owner.waitForFinished(60000));
    QCOMPARE(owner.readAllStandardOutput().trimmed(), QByteArray("ready"));
    QCOMPARE(owner.exitStatus(), QProcess::CrashExit);

    const QList<RuntimeChildRecord> workers = RuntimeChildLedger::load();
    QCOMPARE(workers.size(), 3);
    QList<qint32> pids;
    for (const RuntimeChildRecord& r : workers) {
        pids.append(r.pid);
        if (workersOutliveOwner)
            QVERIFY(ProcessSignals::isAlive(r.pid));
        else
            QTRY_VERIFY(!ProcessSignals::isAlive(r.pid));
    }
    // The stand-in worker notes the pid of the child it started.
    const QList<qint32> started = pidsIn(readAll(home.filePath(QStringLiteral("brenlow-sim/children"))));
    QCOMPARE(started.size(), 3 * (children.count(' ') + 1));
    for (const qint32 pid : started)
        QVERIFY(ProcessSignals::isAlive(pid));
    pids += started;
    relaunchReaps(3, pids);
}

// The application is killed the moment its worker has been forked: the
// worker, or the child it started once its output pipe closed under it, is
// found by the next launch all the same.
void TestCrashRecovery::relaunchReapsAWorkerStartedJustBefore()
{
    TempHome home;
    SimGateway gateway;
    QVERIFY2(gateway.ok(), gateway.output().constData());
    SimTool tool(home);
    tool.put(QStringLiteral("run.child"));
    tool.put(QStringLiteral("run.interval_ms"), "600000");
    gateway.pair(home);

    QProcess owner;
    QVERIFY(start(owner, QStringLiteral(TOLVARINE_CRASH_OWNER), { QStringLiteral("started") }));
    QVERIFY(owner.waitForFinished(60000));
    QCOMPARE(owner.exitStatus(), QProcess::CrashExit);
    const QString childrenFile = home.filePath(QStringLiteral("brenlow-sim/children"));
    QTRY_COMPARE(pidsIn(readAll(childrenFile)).size(), 1);
    QList<qint32> pids = pidsIn(readAll(childrenFile));
    QVERIFY(ProcessSignals::isAlive(pids.first()));
    for (const QJsonObject& call : tool.calls()) {
        if (call.value(QStringLiteral("argv")).toArray().first() == QStringLiteral("run"))
            pids.append(call.value(QStringLiteral("pid")).toInt());
    }
    QCOMPARE(pids.size(), 2);
    relaunchReaps(1, pids);
}

void TestCrashRecovery::everyRoadOutEndsTheWorker_data()
{
    QTest::addColumn<int>("signal"); // 0: the display connection is lost
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("SIGQUIT") << int(SIGQUIT);
    QTest::newRow("display connection lost") << 0;
}

// The application ends by a closed terminal, a Ctrl-\ or the loss of its
// display: its workers and their children are gone with it, and the ledger
// is empty.
void TestCrashRecovery::everyRoadOutEndsTheWorker()
{
    QFETCH(int, signal);
    TempHome home;
    SimGateway gateway;
    QVERIFY2(gateway.ok(), gateway.output().constData());
    SimTool tool(home);
    tool.put(QStringLiteral("run.child"));
    tool.put(QStringLiteral("run.interval_ms"), "600000");
    gateway.pair(home);

    QProcess owner;
    owner.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args { QStringLiteral("workers"), QStringLiteral("signal") };
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (signal == 0) {
        args.last() = QStringLiteral("exit");
        // An exit() from inside the event loop leaves the window's objects
        // (and the font library's) standing: no leak to look for.
        env.insert(QStringLiteral("ASAN_OPTIONS"),
            env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    }
    QVERIFY(start(owner, QStringLiteral(TOLVARINE_CRASH_OWNER), args, env));
    QTRY_VERIFY_WITH_TIMEOUT(owner.canReadLine(), 60000);
    QCOMPARE(owner.readLine().trimmed(), QByteArray("ready"));
    QList<qint32> pids = pidsIn(readAll(home.filePath(QStringLiteral("brenlow-sim/children"))));
    QCOMPARE(pids.size(), 3);
    for (const RuntimeChildRecord& r : RuntimeChildLedger::load())
        pids.append(r.pid);
    QCOMPARE(pids.size(), 6);
    if (signal != 0)
        ::kill(pid_t(owner.processId()), signal);
    QVERIFY(owner.waitForFinished(60000));
    QCOMPARE(owner.exitStatus(), QProcess::NormalExit);
    for (const qint32 pid : pids)
        QTRY_VERIFY2(!ProcessSignals::isAlive(pid), qPrintable(QString::number(pid)));
    QVERIFY(RuntimeChildLedger::load().isEmpty());
}

// Killed at any point of a burst of writes, every store and snapshot is whole:
// either the old content or the new, never half of either.
void TestCrashRecovery::storesParseAfterKillMidWrite()
{
    TempHome home;
    qputenv("TOLVARINE_HOME", QFile::encodeName(home.filePath(QStringLiteral("product"))));
    const QStringList homeFiles { QStringLiteral("desktop_children.json"), QStringLiteral("desktop_summary.json"),
        QStringLiteral("desktop_runtimes.json"), QStringLiteral("desktop_runtimes_raw.json"),
        QStringLiteral("desktop_runtime_actions.json") };
    const QStringList productFiles { QStringLiteral("runtime_enabled.json"), QStringLiteral("runtime_bindings.json"),
        QStringLiteral("runtime_models.json"), QStringLiteral("provider_profiles.json"),
        QStringLiteral("advanced_runtimes.json") };
    const QDir homeDir(home.filePath(QStringLiteral(".tolvarine")));
    const QDir productDir(home.filePath(QStringLiteral("product/.tolvarine")));

    for (const int delayMs : { 0, 3, 11, 29, 53, 97, 151, 240 }) {
        QProcess owner;
        QVERIFY(start(owner, QStringLiteral(TOLVARINE_CRASH_OWNER), { QStringLiteral("burst") }));
        QTRY_VERIFY_WITH_TIMEOUT(owner.canReadLine(), 60000);
        QCOMPARE(owner.readLine().trimmed(), QByteArray("writing"));
        QTest::qWait(delayMs);
        owner.kill();
        QVERIFY(owner.waitForFinished(10000));

        // A half-written file never parses: the stores and snapshots are all objects or arrays.
        for (const QString& name : homeFiles + productFiles) {
            const QString path = (homeFiles.contains(name) ? homeDir : productDir).filePath(name);
            QVERIFY2(QFile::exists(path), qPrintable(path));
            QJsonParseError error;
            QJsonDocument::fromJson(readAll(path), &error);
            QVERIFY2(error.error == QJsonParseError::NoError,
                qPrintable(QStringLiteral("%1 after %2 ms: %3").arg(name).arg(delayMs).arg(error.errorString())));
        }
        // No store ever found the file before it undecodable.
        QVERIFY(productDir.entryList({ QStringLiteral("*.bad") }).isEmpty());
        QVERIFY(!TempHome::crumbs().contains(QStringLiteral("child.load")));
    }
}

// Two instances with homes of their own write the real home's ledger at the
// same time: each keeps the other's records.
void TestCrashRecovery::instancesShareTheLedger()
{
    TempHome home;
    constexpr int kEach = 100;
    QProcess writers[2];
    QSet<QString> expected;
    for (int i = 0; i < 2; ++i) {
        qputenv("TOLVARINE_HOME", QFile::encodeName(home.filePath(QStringLiteral("product-%1").arg(i))));
        QVERIFY(start(
            writers[i], QStringLiteral(TOLVARINE_CRASH_OWNER), { QStringLiteral("ledger"), QString::number(kEach) }));
        for (int n = 0; n < kEach; ++n)
            expected.insert(QStringLiteral("%1-%2").arg(writers[i].processId()).arg(n));
    }
    for (QProcess& writer : writers) {
        QVERIFY(writer.waitForFinished(120000));
        QCOMPARE(writer.readAllStandardOutput().trimmed(), QByteArray("done"));
    }
    QSet<QString> recorded;
    for (const RuntimeChildRecord& r : RuntimeChildLedger::load())
        recorded.insert(r.launch);
    QCOMPARE(recorded.size(), expected.size());
    QCOMPARE(recorded, expected);
}

// A second launch on the home brings the first forward and ends; a killed
// instance leaves no lock behind, and the next launch is the home's instance.
void TestCrashRecovery::oneInstancePerHome()
{
    TempHome home;
    qputenv("TOLVARINE_HOME", QFile::encodeName(home.filePath(QStringLiteral("product"))));
    const QByteArray lock = QFile::encodeName(home.filePath(QStringLiteral("product")));
    const auto locked = [&lock] {
        const int fd = ::open(lock.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (fd >= 0)
            ::close(fd); // lets go of the lock when it was taken here
        return held;
    };
    for (int round = 1; round <= 2; ++round) {
        QProcess first;
        QVERIFY(start(first, QStringLiteral(TOLVARINE_DESKTOP)));
        QTRY_VERIFY_WITH_TIMEOUT(locked(), 30000);
        QProcess second;
        QVERIFY(start(second, QStringLiteral(TOLVARINE_DESKTOP)));
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE(TempHome::crumbs().count(QStringLiteral("又启动了一次，窗口提到前面")), round);
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        QVERIFY(first.waitForFinished(10000));
    }
}

// An instance in a PID namespace of its own (a sandbox) shares the ledger with
// instances outside: each judges the other's liveness by its home's instance
// lock, not by a pid that means something else on its side.
void TestCrashRecovery::ownersInOtherPidNamespaces()
{
    const QStringList unshare { QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("--mount-proc"),
        QStringLiteral("--kill-child") };
    if (QProcess::execute(QStringLiteral("unshare"), unshare + QStringList { QStringLiteral("true") }) != 0)
        QSKIP("unshare --pid --fork --mount-proc cannot run here (it needs root or user namespaces)");
    TempHome home;
    const auto markedBy = [](const QString& mark) {
        QList<pid_t> out;
        for (const ProcessTable::Entry& e : ProcessTable::snapshot().byPID) {
            if (e.state != 'Z' && ProcessTable::environment(e.pid).contains("TOLVARINE_LAUNCH=" + mark.toUtf8()))
                out.append(e.pid);
        }
        return out;
    };

    // A living sandboxed instance's worker is left alone by a launch outside.
    qputenv("TOLVARINE_HOME", QFile::encodeName(home.filePath(QStringLiteral("sandboxed"))));
    // Not a child of this process: what it runs is not this process's own line.
    const QString said = home.filePath(QStringLiteral("sandboxed.out"));
    QProcess sandboxed;
    sandboxed.setProgram(QStringLiteral("unshare"));
    sandboxed.setArguments(unshare + QStringList { QStringLiteral(TOLVARINE_CRASH_OWNER), QStringLiteral("owner") });
    QProcessEnvironment sandboxedEnv = QProcessEnvironment::systemEnvironment();
    sandboxedEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    sandboxed.setProcessEnvironment(sandboxedEnv);
    sandboxed.setStandardOutputFile(said);
    qint64 sandbox = 0;
    QVERIFY(sandboxed.startDetached(&sandbox));
    const auto endSandbox = qScopeGuard([sandbox] { ::kill(pid_t(sandbox), SIGKILL); });
    QTRY_COMPARE_WITH_TIMEOUT(readAll(said).trimmed(), QByteArray("ready"), 60000);
    const QList<RuntimeChildRecord> theirs = RuntimeChildLedger::load();
    QCOMPARE(theirs.size(), 1);
    const QList<pid_t> worker = markedBy(theirs.first().launch);
    QCOMPARE(worker.size(), 1);
    qputenv("TOLVARINE_HOME", QFile::encodeName(home.filePath(QStringLiteral("outside"))));
    QVERIFY(RuntimeChildLedger::reapOrphans(::getpid()).isEmpty());
    QCOMPARE(RuntimeChildLedger::load(), theirs);
    QVERIFY(ProcessSignals::isAlive(worker.first()));
    ::kill(pid_t(sandbox), SIGKILL); // and with it the namespace, worker and all
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessSignals::isAlive(worker.first()), 30000);
    QVERIFY(RuntimeChildLedger::reapOrphans(::getpid()).isEmpty());
    QVERIFY(RuntimeChildLedger::load().isEmpty());

    // A living instance outside keeps its record when a sandboxed launch reaps.
    QProcess outside;
    QVERIFY(start(outside, QStringLiteral(TOLVARINE_CRASH_OWNER), { QStringLiteral("owner") }));
    QTRY_VERIFY_WITH_TIMEOUT(outside.canReadLine(), 60000);
    QCOMPARE(outside.readLine().trimmed(), QByteArray("ready"));
    const QList<RuntimeChildRecord> ours = RuntimeChildLedger::load();
    QCOMPARE(ours.size(), 1);
    const auto endOurs = qScopeGuard([pid = ours.first().pid] { ::kill(pid, SIGKILL); });
    qputenv("TOLVARINE_HOME", QFile::encodeName(home.filePath(QStringLiteral("sandboxed"))));
    QProcess reaper;
    QVERIFY(start(reaper, QStringLiteral("unshare"),
        unshare + QStringList { QStringLiteral(TOLVARINE_CRASH_OWNER), QStringLiteral("reap") }));
    QVERIFY(reaper.waitForFinished(60000));
    QCOMPARE(reaper.readAllStandardOutput().trimmed(), QByteArray("0"));
    QCOMPARE(RuntimeChildLedger::load(), ours);
    QVERIFY(ProcessSignals::isAlive(ours.first().pid));
    outside.kill();
    QVERIFY(outside.waitForFinished(10000));
}

// Anyone who can read the home folder can lock it: a lock another user's
// process holds there keeps no launch from running, and a second launch still
// hands over to the first.
void TestCrashRecovery::anotherUsersLockDoesNotCount()
{
    if (::geteuid() != 0)
        QSKIP("running a process as another user (setpriv) needs root");
    TempHome home;
    // A home others can read, as 0755 homes are: in /tmp, since the tests'
    // own temporary folder is closed to other users.
    QTemporaryDir shared(QStringLiteral("/tmp/tolvarine-home-XXXXXX"));
    QVERIFY(shared.isValid());
    const QString product = QDir(shared.path()).filePath(QStringLiteral("product"));
    QVERIFY(QDir().mkpath(product));
    const auto open = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
        | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(shared.path(), open) && QFile::setPermissions(product, open));
    qputenv("TOLVARINE_HOME", QFile::encodeName(product));
    QProcess stranger;
    ProcessGroup::prepare(stranger);
    stranger.start(QStringLiteral("setpriv"),
        { QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
            QStringLiteral("flock"), QStringLiteral("-s"), product, QStringLiteral("sleep"), QStringLiteral("600") });
    QVERIFY(stranger.waitForStarted());
    const auto endStranger = qScopeGuard([&stranger] {
        ::kill(-pid_t(stranger.processId()), SIGKILL);
        stranger.waitForFinished();
    });
    const auto held = [&product] {
        const int fd = ::open(QFile::encodeName(product).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool busy = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (fd >= 0)
            ::close(fd);
        return busy;
    };
    QTRY_VERIFY_WITH_TIMEOUT(held(), 30000);

    QProcess first;
    QVERIFY(start(first, QStringLiteral(TOLVARINE_DESKTOP)));
    QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(QDir(product).filePath(QStringLiteral(".tolvarine/desktop.sock"))),
        qPrintable(TempHome::crumbs()), 30000);
    QCOMPARE(first.state(), QProcess::Running);
    QProcess second;
    QVERIFY(start(second, QStringLiteral(TOLVARINE_DESKTOP)));
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(second.exitCode(), 0);
    QTRY_VERIFY(TempHome::crumbs().contains(QStringLiteral("又启动了一次，窗口提到前面")));
    QCOMPARE(first.state(), QProcess::Running);
    // With the stores' folder (and the lock file in it) removed, a launch still hands over.
    QVERIFY(QDir(QDir(product).filePath(QStringLiteral(".tolvarine"))).removeRecursively());
    QProcess third;
    QVERIFY(start(third, QStringLiteral(TOLVARINE_DESKTOP)));
    QVERIFY(third.waitForFinished(60000));
    QCOMPARE(third.exitCode(), 0);
    QTRY_COMPARE(TempHome::crumbs().count(QStringLiteral("又启动了一次，窗口提到前面")), 2);
    QCOMPARE(first.state(), QProcess::Running);
    first.kill();
    QVERIFY(first.waitForFinished(10000));
}

void TestCrashRecovery::secondLaunchNeverRunsBeside_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("handedOver");
    QTest::newRow("stores' files removed") << "files" << QStringList() << true;
    QTest::newRow("stores' folder removed") << "folder" << QStringList() << true;
    QTest::newRow("no XDG_RUNTIME_DIR, another TMPDIR") << "no runtime dir" << QStringList() << true;
    QTest::newRow("another XDG_RUNTIME_DIR") << "other runtime dir" << QStringList() << true;
    QTest::newRow("first instance stopped") << "stopped" << QStringList() << false;
    QTest::newRow("relocation folder") << "" << QStringList { "-ZRKRelocateTo", "moved/shop" } << true;
}

// Whatever happens around the running instance, a second launch on its home
// hands over to it or says at once why it could not, and never runs beside it.
void TestCrashRecovery::secondLaunchNeverRunsBeside()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, arguments);
    QFETCH(bool, handedOver);
    TempHome home;
    qputenv("TOLVARINE_HOME", QFile::encodeName(home.filePath(QStringLiteral("product"))));
    QDir stores(home.filePath(QStringLiteral("product/.tolvarine")));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (fault == QLatin1String("no runtime dir"))
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    QProcess first;
    QVERIFY(start(first, QStringLiteral(TOLVARINE_DESKTOP), {}, env));
    const pid_t pid = pid_t(first.processId());
    QTRY_VERIFY_WITH_TIMEOUT(stores.exists(QStringLiteral("desktop.sock")), 30000);

    if (fault == QLatin1String("files")) {
        QVERIFY(stores.remove(QStringLiteral("desktop.sock")));
        for (const QString& name : stores.entryList(QDir::Files | QDir::System | QDir::Hidden))
            stores.remove(name); // a store being saved may be renamed over meanwhile
    } else if (fault == QLatin1String("folder")) {
        // Gone at once as far as the instance can tell, however loaded the
        // machine (it may still unlink its old socket while this removes).
        const QString away = home.filePath(QStringLiteral("away"));
        QVERIFY(QDir().rename(stores.path(), away));
        QDir(away).removeRecursively();
    } else if (fault == QLatin1String("other runtime dir")) {
        QVERIFY(QDir().mkpath(home.filePath(QStringLiteral("run2"))));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run2")));
    } else if (fault == QLatin1String("no runtime dir")) {
        QVERIFY(QDir().mkpath(home.filePath(QStringLiteral("tmp2"))));
        env.insert(QStringLiteral("TMPDIR"), home.filePath(QStringLiteral("tmp2")));
    } else if (fault == QLatin1String("stopped")) {
        ::kill(pid, SIGSTOP);
        QTRY_COMPARE(ProcessTable::entry(pid).value_or(ProcessTable::Entry()).state, 'T');
    }
    QProcess second;
    second.setWorkingDirectory(home.path());
    QVERIFY(start(second, QStringLiteral(TOLVARINE_DESKTOP), arguments, env));
    QVERIFY(second.waitForFinished(60000));
    const QString said = QString::fromUtf8(second.readAllStandardError());
    if (handedOver) {
        QCOMPARE(second.exitCode(), 0);
        const QString relocated = arguments.isEmpty()
            ? QString()
            : QStringLiteral("，-ZRKRelocateTo ") + home.filePath(QStringLiteral("moved/shop"));
        QTRY_VERIFY2(TempHome::crumbs().contains(QStringLiteral("又启动了一次，窗口提到前面") + relocated + '\n'),
            qPrintable(TempHome::crumbs()));
    } else {
        QCOMPARE(second.exitCode(), 1);
        QVERIFY2(said.contains(QStringLiteral("Tolvarine Desktop 已经在运行（进程 %1），但它没有回应").arg(pid)),
            qPrintable(said));
        ::kill(pid, SIGCONT);
    }
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.state(), QProcess::Running);
    first.kill();
    QVERIFY(first.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestCrashRecovery)
#include "tst_CrashRecovery.moc"
