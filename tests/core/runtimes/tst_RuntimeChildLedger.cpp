#include "core/platform/DeskCrumbs.h"
#include "core/platform/FileLock.h"
#include "core/platform/ProcessGroup.h"
#include "core/runtimes/ProcessSignals.h"
#include "core/runtimes/RuntimeChildLedger.h"

#include "SimTool.h"
#include "TempHome.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QtTest>

#include <csignal>

#include <sys/sysmacros.h>

#include <unistd.h>

namespace {

RuntimeChildRecord rec(qint32 pid, const QString& exe, qint32 owner, const QString& launch = {})
{
    RuntimeChildRecord r;
    r.pid = pid;
    r.exe = exe;
    r.workspace = QStringLiteral("ws-1");
    r.kind = QStringLiteral("codex");
    r.ownerPID = owner;
    r.startedAt = QDateTime::fromString(QStringLiteral("2026-03-01T08:00:00Z"), Qt::ISODate);
    r.launch = launch;
    return r;
}

// `command` run with a launch mark in its environment.
QString marked(const QString& mark, const QString& command)
{
    return QStringLiteral("exec env TOLVARINE_LAUNCH=%1 %2").arg(mark, command);
}

// The living children of a process.
QList<qint32> childrenOf(qint32 parent)
{
    QList<qint32> out;
    for (const ProcessTable::Entry& e : ProcessTable::snapshot().byPID) {
        if (e.ppid == parent && e.state != 'Z')
            out.append(e.pid);
    }
    return out;
}

// Starts `command` in a shell that leaves it running in the background and
// exits at once: the background process is then an orphan. Returns its pid
// and, through `owner`, the pid of the shell that is gone.
qint32 startOrphan(const QString& command, qint32* owner)
{
    QProcess sh;
    sh.start(
        QStringLiteral("/bin/sh"), { QStringLiteral("-c"), command + QStringLiteral(" >/dev/null 2>&1 & echo $!") });
    sh.waitForFinished(5000);
    *owner = qint32(sh.processId());
    return QString::fromUtf8(sh.readAllStandardOutput()).trimmed().toInt();
}

// A pid that no process has now.
qint32 deadPid()
{
    QProcess p;
    p.start(QStringLiteral("/bin/true"));
    p.waitForFinished(5000);
    return qint32(p.processId());
}

} // namespace

class TestRuntimeChildLedger : public QObject {
    Q_OBJECT
private slots:
    void recordAndForget();
    void emptyOrUnreadableFile();
    void reapDecisions();
    void reapsWhatAGoneWorkerLeft();
    void emptyListingKeepsEverything();
    void terminate();
    void lockHolders_data();
    void lockHolders();
};

void TestRuntimeChildLedger::recordAndForget()
{
    TempHome home;
    const QString exe = QStringLiteral("/opt/x/brenlow");
    RuntimeChildLedger::record(rec(10, exe, 1));
    RuntimeChildLedger::record(rec(11, exe, 1));
    const RuntimeChildRecord again = rec(10, exe, 2);
    RuntimeChildLedger::record(again);
    QCOMPARE(RuntimeChildLedger::load(), (QList<RuntimeChildRecord> { rec(11, exe, 1), again }));
    // Whole-second UTC dates.
    QFile f(RuntimeChildLedger::filePath());
    QVERIFY(f.open(QIODevice::ReadOnly) && f.readAll().contains("\"startedAt\": \"2026-03-01T08:00:00Z\""));

    RuntimeChildLedger::forget(99);
    RuntimeChildLedger::forget(10);
    RuntimeChildLedger::forget(11);
    QVERIFY(RuntimeChildLedger::load().isEmpty());
    QVERIFY(TempHome::crumbs().contains(QStringLiteral("child.record pid=10 kind=codex exe=/opt/x/brenlow")));
}

// A damaged ledger in general is covered by tst_BadStoredFiles.
void TestRuntimeChildLedger::emptyOrUnreadableFile()
{
    TempHome home;
    // No ledger: reaping writes none.
    QVERIFY(RuntimeChildLedger::reapOrphans(::getpid()).isEmpty());
    QVERIFY(!QFile::exists(RuntimeChildLedger::filePath()));
    const QByteArray bad = R"([{"pid":1,"exe":"/x","workspace":"w","kind":"k","ownerPID":2}])";
    home.writeFile(QStringLiteral(".tolvarine/desktop_children.json"), bad);
    QVERIFY(RuntimeChildLedger::load().isEmpty());
    QVERIFY(TempHome::crumbs().contains(QStringLiteral("child.load 解不开台账（%1 字节）：").arg(bad.size())));
    // What interrupted writes left before this process started goes at the
    // next reap; another name, or a write begun since, stays.
    const QString stale = home.writeFile(QStringLiteral(".tolvarine/desktop_children.json.aB3xY9"), "[");
    const QString fresh = home.writeFile(QStringLiteral(".tolvarine/desktop_children.json.aB3xY8"), "[");
    const QString other = home.writeFile(QStringLiteral(".tolvarine/desktop_children.json.aB3xY"), "[");
    QFile old(stale);
    QVERIFY(old.open(QIODevice::ReadWrite)
        && old.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    old.close();
    QVERIFY(RuntimeChildLedger::reapOrphans(::getpid()).isEmpty());
    QVERIFY(!QFile::exists(stale));
    QVERIFY(QFile::exists(fresh) && QFile::exists(other));
    // A start time that the next rewrite (in UTC) could not give back is refused now.
    QVERIFY(!RuntimeChildLedger::decode(R"([{"pid":1,"exe":"/x","workspace":"w","kind":"k","ownerPID":2,)"
                                        R"("startedAt":"9999-12-31T23:30:00-14:00"}])"));
}

// Run as at launch, over one record of every kind. Only what carries the
// launch mark of a record whose owner is gone is ended, whatever it runs.
void TestRuntimeChildLedger::reapDecisions()
{
    TempHome home;
    SimTool tool(home);
    const QString sleep = QStringLiteral("/bin/sleep");
    const QString run = QStringLiteral("'%1' run").arg(tool.exe());
    const qint32 me = ::getpid();
    const qint32 living = qint32(::getppid());

    // A worker whose owner crashed: ended and returned.
    qint32 crashed = 0;
    const qint32 orphan = startOrphan(marked(QStringLiteral("l-0"), run), &crashed);
    // The same, recorded before its pid was known, that started two copies of
    // itself: found by its launch mark, and ended with what it started.
    qint32 crashedEarly = 0;
    const qint32 unnamed = startOrphan(
        marked(QStringLiteral("l-1"), QStringLiteral("/bin/sh -c \"%1 & %1 & exec %1\"").arg(run)), &crashedEarly);
    // Installed as a script that execs the tool, and as one that runs it as
    // its child: ended though neither runs under the recorded first word.
    const QString execs = home.writeScript(
        QStringLiteral(".local/bin/brenlow-exec"), QStringLiteral("exec '%1' \"$@\"").arg(Sim::companion()).toUtf8());
    const QString wraps = home.writeScript(
        QStringLiteral(".local/bin/brenlow-sh"), QStringLiteral("'%1' \"$@\"").arg(Sim::companion()).toUtf8());
    qint32 crashedExecs = 0;
    const qint32 viaExec
        = startOrphan(marked(QStringLiteral("l-2"), QStringLiteral("'%1' run").arg(execs)), &crashedExecs);
    qint32 crashedWraps = 0;
    const qint32 viaShell
        = startOrphan(marked(QStringLiteral("l-3"), QStringLiteral("'%1' run").arg(wraps)), &crashedWraps);
    // A pid reused by someone's own `brenlow run` once the worker had gone:
    // the same command line, an orphan too, but without the mark. Not signalled.
    qint32 unused = 0;
    const qint32 reused = startOrphan(QStringLiteral("exec ") + run, &unused);
    // The same, but its record names a living owner (another instance): kept, not signalled.
    const qint32 claimed = startOrphan(QStringLiteral("exec /bin/sleep 60"), &unused);
    // A worker whose owner's pid now runs a process started later: ended.
    const qint32 ownerReused = startOrphan(marked(QStringLiteral("l-8"), QStringLiteral("/bin/sleep 60")), &unused);
    // A marked worker of a dead owner that is this test's own child: kept, not signalled.
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TOLVARINE_LAUNCH"), QStringLiteral("l-6"));
    child.setProcessEnvironment(env);
    child.start(sleep, { QStringLiteral("60") });
    // A pid that now runs another program: dropped, not signalled.
    QProcess foreign;
    foreign.start(sleep, { QStringLiteral("61") });
    QVERIFY(child.waitForStarted() && foreign.waitForStarted());
    const qint32 childPid = qint32(child.processId());
    const qint32 foreignPid = qint32(foreign.processId());
    QTRY_COMPARE_WITH_TIMEOUT(tool.argvs().size(), 7, 30000); // every `brenlow run` runs its worker loop
    const QList<qint32> started = childrenOf(unnamed) + childrenOf(viaShell);
    QCOMPARE(started.size(), 3);
    const qint32 dead = deadPid();
    const qint32 mine = deadPid(); // this instance's own worker: kept whatever its state

    const quint64 livingStart = ProcessTable::entry(living)->startTicks;
    QVERIFY(livingStart != 0);
    RuntimeChildRecord claimedRec = rec(claimed, sleep, living);
    claimedRec.ownerStart = livingStart;
    RuntimeChildRecord ownerGone = rec(ownerReused, sleep, living, QStringLiteral("l-8"));
    ownerGone.ownerStart = livingStart + 1;

    const RuntimeChildRecord pending = rec(0, tool.exe(), crashedEarly, QStringLiteral("l-1"));
    const QList<RuntimeChildRecord> ended { rec(orphan, tool.exe(), crashed, QStringLiteral("l-0")), pending,
        rec(viaExec, execs, crashedExecs, QStringLiteral("l-2")),
        rec(viaShell, wraps, crashedWraps, QStringLiteral("l-3")), ownerGone };
    const RuntimeChildRecord ownChild = rec(childPid, sleep, dead, QStringLiteral("l-6"));
    for (const RuntimeChildRecord& r : ended)
        RuntimeChildLedger::record(r);
    RuntimeChildLedger::record(rec(reused, tool.exe(), dead, QStringLiteral("l-4")));
    RuntimeChildLedger::record(claimedRec);
    RuntimeChildLedger::record(ownChild);
    RuntimeChildLedger::record(rec(foreignPid, QStringLiteral("/opt/brenlow"), dead, QStringLiteral("l-5")));
    RuntimeChildLedger::record(rec(deadPid(), sleep, dead, QStringLiteral("l-7"))); // gone: dropped
    RuntimeChildLedger::record(rec(mine, sleep, me));

    QList<RuntimeChildRecord> reaped = ended;
    reaped[1].pid = unnamed;
    QCOMPARE(RuntimeChildLedger::reapAtLaunch(me), reaped);
    for (const qint32 pid : QList<qint32> { orphan, unnamed, viaExec, viaShell, ownerReused } + started)
        QTRY_VERIFY2_WITH_TIMEOUT(!ProcessSignals::isAlive(pid), qPrintable(QString::number(pid)), 30000);
    QCOMPARE(RuntimeChildLedger::load(), (QList<RuntimeChildRecord> { claimedRec, ownChild, rec(mine, sleep, me) }));
    QVERIFY(ProcessSignals::isAlive(reused));
    QVERIFY(ProcessSignals::isAlive(claimed));
    QCOMPARE(child.state(), QProcess::Running);
    QCOMPARE(foreign.state(), QProcess::Running);

    const QString log = TempHome::crumbs();
    QVERIFY(log.contains(QStringLiteral("启动时收掉上一任留下的孤儿 5 个")));
    QVERIFY(log.contains(QStringLiteral("child.reap 跳过 pid=%1：ppid=%2 不是孤儿").arg(childPid).arg(me)));
    QVERIFY(log.contains(
        QStringLiteral("child.reap 跳过 pid=%1：argv0 对不上（/bin/sleep ≠ /opt/brenlow）").arg(foreignPid)));
    QVERIFY(
        log.contains(QStringLiteral("child.reap 跳过 pid=%1：不带这次启动的标记（%2）").arg(reused).arg(tool.exe())));

    ProcessSignals::terminate(reused, 3.0);
    ProcessSignals::terminate(claimed, 3.0);
    child.kill();
    foreign.kill();
    child.waitForFinished();
    foreign.waitForFinished();
}

// Workers of a crashed owner have gone, but processes of their groups live
// on. Where one of them still carries the worker's launch mark, it is ended
// with the rest of its group (a child with its environment cleared, say);
// where none does, the group is not the worker's any more and is left alone.
void TestRuntimeChildLedger::reapsWhatAGoneWorkerLeft()
{
    TempHome home;
    // Starts a group that leaves behind what `script` started, and returns its pids.
    const auto leave = [](const QString& script) {
        QProcess worker;
        ProcessGroup::prepare(worker);
        worker.start(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), script });
        worker.waitForFinished(5000);
        QList<qint32> out;
        for (const QByteArray& pid : worker.readAllStandardOutput().simplified().split(' '))
            out.append(pid.toInt());
        return out;
    };
    const QList<qint32> held = leave(QStringLiteral("env TOLVARINE_LAUNCH=l-1 /bin/sleep 600 >/dev/null 2>&1 & "
                                                    "echo $!; env -i /bin/sleep 601 >/dev/null 2>&1 & echo $!"));
    const QList<qint32> loose = leave(QStringLiteral("env TOLVARINE_LAUNCH=l-2 /bin/true; "
                                                     "/bin/sleep 602 >/dev/null 2>&1 & echo $!"));
    QCOMPARE(held.size(), 2);
    QCOMPARE(loose.size(), 1);
    const qint32 marked = held.at(0);
    const qint32 envless = held.at(1);
    const qint32 stranger = loose.at(0);
    const qint32 leader = qint32(::getpgid(marked));
    QCOMPARE(qint32(::getpgid(envless)), leader);
    QVERIFY(leader != qint32(::getpgid(0)));

    const RuntimeChildRecord r = rec(leader, QStringLiteral("/bin/sh"), deadPid(), QStringLiteral("l-1"));
    RuntimeChildLedger::record(r);
    RuntimeChildLedger::record(
        rec(qint32(::getpgid(stranger)), QStringLiteral("/bin/sh"), deadPid(), QStringLiteral("l-2")));
    QCOMPARE(RuntimeChildLedger::reapOrphans(::getpid()), QList<RuntimeChildRecord> { r });
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessSignals::isAlive(marked), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessSignals::isAlive(envless), 30000);
    QVERIFY(ProcessSignals::isAlive(stranger));
    QVERIFY(RuntimeChildLedger::load().isEmpty());
    QVERIFY(TempHome::crumbs().contains(QStringLiteral("child.reap 收掉 pid=%1 留下的 2 个进程").arg(leader)));
    ::kill(stranger, SIGKILL);
}

void TestRuntimeChildLedger::emptyListingKeepsEverything()
{
    TempHome home;
    qint32 goneOwner = 0;
    const qint32 orphan = startOrphan(marked(QStringLiteral("l-1"), QStringLiteral("/bin/sleep 60")), &goneOwner);
    RuntimeChildLedger::record(rec(orphan, QStringLiteral("/bin/sleep"), goneOwner, QStringLiteral("l-1")));
    RuntimeChildLedger::record(rec(deadPid(), QStringLiteral("/bin/sleep"), goneOwner));
    QFile f(RuntimeChildLedger::filePath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();

    QVERIFY(RuntimeChildLedger::reapOrphans(::getpid(), [] { return ProcessTable(); }).isEmpty());
    QVERIFY(ProcessSignals::isAlive(orphan));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);

    // The next launch with a listing still finds the orphan. A process killed after its grace is
    // gone once the kernel has ended it, which a loaded machine may take a moment to do.
    QCOMPARE(RuntimeChildLedger::reapOrphans(::getpid()).size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessSignals::isAlive(orphan), 30000);
}

void TestRuntimeChildLedger::terminate()
{
    TempHome home;
    // Obeys SIGTERM: gone without SIGKILL.
    qint32 owner = 0;
    const qint32 obeys = startOrphan(QStringLiteral("exec /bin/sleep 60"), &owner);
    // A process that no longer passes its owner's check is left alone.
    QVERIFY(!ProcessSignals::terminate(obeys, 0.5, [] { return false; }));
    QVERIFY(ProcessSignals::isAlive(obeys));
    QVERIFY(ProcessSignals::terminate(obeys, 5.0, [] { return true; }));
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessSignals::isAlive(obeys), 30000);
    QVERIFY(!TempHome::crumbs().contains(QStringLiteral("child.kill pid=%1").arg(obeys)));

    // Ignores SIGTERM: killed after the grace, with its breadcrumb.
    const qint32 stubborn
        = startOrphan(QStringLiteral("exec /bin/sh -c 'trap \"\" TERM; while :; do sleep 1; done'"), &owner);
    // Once the shell has installed its trap, SIGTERM (15) is among the signals it ignores.
    QTRY_VERIFY_WITH_TIMEOUT(
        [stubborn] {
            QFile f(QStringLiteral("/proc/%1/status").arg(stubborn));
            const QByteArray status = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            const qsizetype at = status.indexOf("SigIgn:");
            return at >= 0 && (status.mid(at + 7, 20).trimmed().left(16).toULongLong(nullptr, 16) & (1ULL << 14));
        }(),
        30000);
    ProcessSignals::terminate(stubborn, 0.5);
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessSignals::isAlive(stubborn), 30000);
    QVERIFY(TempHome::crumbs().contains(QStringLiteral("child.kill pid=%1 宽限期内没退出，SIGKILL").arg(stubborn)));

    // 0 and 1 are never signalled (this would end the test's process group or init).
    QVERIFY(!ProcessSignals::terminate(0, 0.1));
    QVERIFY(!ProcessSignals::terminate(1, 0.1));
    // Gone already: nothing to signal.
    QVERIFY(!ProcessSignals::terminate(deadPid(), 0.1));
    QVERIFY(!TempHome::crumbs().contains(QStringLiteral("child.kill pid=0")));
}

void TestRuntimeChildLedger::lockHolders_data()
{
    QTest::addColumn<QByteArray>("locks");
    QTest::addColumn<QList<qint64>>("holders");
    // The file is inode 5678 on the device stat() gives as 8:1.
    QTest::newRow("holders on its device") << QByteArray("1: FLOCK  ADVISORY  READ  1234 08:01:5678 0 EOF\n"
                                                         "2: FLOCK  ADVISORY  READ  4321 08:01:5678 0 EOF\n")
                                           << QList<qint64> { 1234, 4321 };
    QTest::newRow("a waiter, another file, other kinds of lock") << QByteArray(
        "1: FLOCK  ADVISORY  WRITE 1234 08:01:9999 0 EOF\n"
        "1: -> FLOCK  ADVISORY  WRITE 4321 08:01:5678 0 EOF\n"
        "2: POSIX  ADVISORY  WRITE 77 08:01:5678 0 EOF\n"
        "3: OFDLCK ADVISORY  WRITE -1 08:01:5678 0 EOF\n") << QList<qint64> {};
    // A btrfs subvolume or an overlay: the list names the file system's own device.
    QTest::newRow("listed under another device")
        << QByteArray("1: FLOCK  ADVISORY  READ  1234 00:2a:5678 0 EOF\n") << QList<qint64> { 1234 };
    QTest::newRow("its device before any other") << QByteArray("1: FLOCK  ADVISORY  READ  1234 00:2a:5678 0 EOF\n"
                                                               "2: FLOCK  ADVISORY  READ  4321 08:01:5678 0 EOF\n")
                                                 << QList<qint64> { 4321 };
}

// Who holds an flock, as the system lists it: what tells another user's lock
// on the home folder from an instance of this user's.
void TestRuntimeChildLedger::lockHolders()
{
    QFETCH(QByteArray, locks);
    QFETCH(QList<qint64>, holders);
    QCOMPARE(FileLock::flockHolders(locks, quint64(makedev(8, 1)), 5678), holders);
}

QTEST_GUILESS_MAIN(TestRuntimeChildLedger)
#include "tst_RuntimeChildLedger.moc"
