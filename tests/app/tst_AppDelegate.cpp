#include "app/AppDelegate.h"
#include "core/gateway/CLI.h"
#include "core/platform/DeskCrumbs.h"
#include "core/platform/FileLock.h"
#include "core/platform/ProcessGroup.h"
#include "core/platform/ProcessTable.h"
#include "core/runtimes/AgentServiceHealth.h"
#include "core/runtimes/ProcessSignals.h"
#include "core/runtimes/RuntimeChildLedger.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeInventoryStore.h"

#include "SimTool.h"
#include "TempHome.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QWindow>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <thread>

#include <unistd.h>

namespace {

// Starts a worker that ignores SIGTERM on the application's one controller,
// stopped with the given grace, and returns once it runs (its record is the
// ledger's only one).
void startStubbornWorker(const TempHome& home, const SimTool& tool, double graceSeconds)
{
    tool.put(QStringLiteral("run.interval_ms"), "50");
    tool.put(QStringLiteral("run.ignore_term"));
    const QString folder = home.filePath(QStringLiteral("project"));
    QVERIFY(QDir().mkpath(folder));

    RuntimeController& controller = RuntimeController::shared();
    controller.setStopGraceSeconds(graceSeconds);
    // The one controller keeps the lines of the rows before.
    const QString beat = QStringLiteral("[Codex] heartbeat 1");
    const qsizetype beats = controller.lines(QStringLiteral("ws")).count(beat);
    controller.start({ .api = QStringLiteral("http://127.0.0.1:1"),
                         .workspace = QStringLiteral("ws"),
                         .token = QStringLiteral("tok"),
                         .path = folder },
        RuntimeLaunch { QStringLiteral("codex"), QStringLiteral("codex"), QStringLiteral("Codex") }, std::nullopt,
        std::nullopt);
    QVERIFY(controller.isRunning(QStringLiteral("ws"), QStringLiteral("codex")));
    // Running, and ignoring SIGTERM, once it beats.
    QTRY_VERIFY(controller.lines(QStringLiteral("ws")).count(beat) > beats);
    QCOMPARE(RuntimeChildLedger::load().size(), 1);
}

} // namespace

class TestAppDelegate : public QObject {
    Q_OBJECT
private slots:
    // First: once quitting has ended the tool runs in flight, no later run may start.
    void quitEndsToolRunsInFlight();
    void noToolRunStartsOnceQuitting();
    void quitSignalStopsEveryWorker_data();
    void quitSignalStopsEveryWorker();
    void windowsGoBeforeTheGrace_data();
    void windowsGoBeforeTheGrace();
    void launchAndTerminate();
    void brokenPipeIsNoRoadOut();
    void ledgerLockHeldFromOutside();
    // Last: from then on nothing in this process gets a grace.
    void secondSignalCutsTheGraceShort();
};

// Quitting while `runtimes --json` and `daemon status --json` hang ends both
// tools and what they started.
void TestAppDelegate::quitEndsToolRunsInFlight()
{
    TempHome home;
    const QString pidFile = home.filePath(QStringLiteral("pids"));
    // `pair` writes state: it ignores SIGTERM here, and records it.
    const QByteArray record = home.filePath(QStringLiteral("record")).toUtf8();
    home.writeScript(QStringLiteral(".local/bin/brenlow"),
        "if [ \"$1\" = pair ]; then trap 'echo TERM >> \"" + record + "\"' TERM; echo $$ > \"" + record
            + ".pid\"; while :; do sleep 0.05; done; fi\n"
              "sleep 300 &\necho \"$$ $!\" >> \""
            + pidFile.toUtf8() + "\"\nwait");
    auto pairing = CLI::runAsync({ QStringLiteral("pair") });
    RuntimeInventoryStore inventory;
    inventory.refresh();
    AgentServiceHealth health;
    QSignalSpy probed(&health, &AgentServiceHealth::changed);
    health.refresh();
    const auto written = [&pidFile] {
        QFile f(pidFile);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QTRY_VERIFY_WITH_TIMEOUT(written().count('\n') == 2, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(QString::fromUtf8(record + ".pid")).size() > 0, 20000);
    const QList<QByteArray> pids = written().simplified().split(' ');
    QCOMPARE(pids.size(), 4);

    AppDelegate delegate;
    QVERIFY(delegate.installQuitSignals());
    QSignalSpy received(&delegate, &AppDelegate::quitSignalReceived);
    ::raise(SIGTERM);
    QTRY_COMPARE(received.size(), 1);
    for (const QByteArray& pid : pids)
        QTRY_VERIFY(!ProcessSignals::isAlive(pid_t(pid.toInt())));
    // The run that ignored SIGTERM got it first, and was killed after the grace.
    QCOMPARE(QCoro::waitFor(std::move(pairing)).failure, CLI::Failure::Cancelled);
    QFile terms(QString::fromUtf8(record));
    QVERIFY(terms.open(QIODevice::ReadOnly));
    QCOMPARE(terms.readAll(), QByteArray("TERM\n"));
    QFile leader(QString::fromUtf8(record + ".pid"));
    QVERIFY(leader.open(QIODevice::ReadOnly));
    const auto pgid = pid_t(leader.readAll().trimmed().toInt());
    QTRY_VERIFY(ProcessTable::groupMembers(pgid).isEmpty());
    // Both loads come back (with a failure) rather than waiting for ever.
    QTRY_VERIFY(!inventory.loading());
    QTRY_COMPARE(probed.size(), 1);
    QVERIFY(!health.running().has_value());
}

// A run asked for just before quitting (a health pass queued on the pool)
// that gets to start only after it: it never starts, so nothing is left for
// the quit's wait to miss.
void TestAppDelegate::noToolRunStartsOnceQuitting()
{
    TempHome home;
    const QString started = home.filePath(QStringLiteral("started"));
    home.writeScript(QStringLiteral(".local/bin/brenlow"),
        "trap '' TERM\necho $$ > \"" + started.toUtf8() + "\"\nwhile :; do sleep 0.05; done");
    auto health = CLI::runAsync({ QStringLiteral("daemon"), QStringLiteral("status"), QStringLiteral("--json") });
    QCOMPARE(QCoro::waitFor(std::move(health)).failure, CLI::Failure::Cancelled);
    QCOMPARE(CLI::run({ QStringLiteral("runtimes"), QStringLiteral("--json") }).failure, CLI::Failure::Cancelled);
    QVERIFY(!QFileInfo::exists(started));
}

void TestAppDelegate::quitSignalStopsEveryWorker_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("then"); // a second signal at once, or 0
    QTest::newRow("SIGTERM") << SIGTERM << 0;
    QTest::newRow("SIGINT") << SIGINT << 0;
    QTest::newRow("SIGHUP") << SIGHUP << 0;
    QTest::newRow("SIGQUIT") << SIGQUIT << 0;
    // The system's own asks come in pairs: they leave the workers their grace.
    QTest::newRow("session ended: SIGTERM, SIGHUP") << SIGTERM << SIGHUP;
    QTest::newRow("terminal closed: SIGHUP passed on twice") << SIGHUP << SIGHUP;
}

// A process asked to end by its session (SIGTERM), a terminal (SIGINT,
// SIGQUIT) or a closed terminal (SIGHUP) leaves no worker behind, not even one that ignores SIGTERM.
void TestAppDelegate::quitSignalStopsEveryWorker()
{
    QFETCH(int, signal);
    QFETCH(int, then);
    TempHome home;
    SimTool tool(home);
    startStubbornWorker(home, tool, 0.5);
    if (QTest::currentTestFailed())
        return;
    RuntimeController& controller = RuntimeController::shared();
    const QList<RuntimeChildRecord> records = RuntimeChildLedger::load();

    {
        AppDelegate delegate;
        QVERIFY(delegate.installQuitSignals());
        QSignalSpy received(&delegate, &AppDelegate::quitSignalReceived);
        ::raise(signal);
        if (then != 0)
            ::raise(then);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received.first().first().toInt(), then != 0 ? then : signal);
    }
    QVERIFY(!ProcessGroup::graceIsCut());
    QVERIFY(!controller.isRunning(QStringLiteral("ws"), QStringLiteral("codex")));
    QVERIFY(::kill(records.first().pid, 0) != 0);
    QVERIFY(RuntimeChildLedger::load().isEmpty());
    QVERIFY(TempHome::crumbs().contains(QStringLiteral("runtime.stopAll 共 1 个")));
    QVERIFY(TempHome::crumbs().contains(QStringLiteral("child.kill pid=%1").arg(records.first().pid)));
}

void TestAppDelegate::windowsGoBeforeTheGrace_data()
{
    QTest::addColumn<bool>("bySignal"); // otherwise the loop ends with the window up (the session ends)
    QTest::newRow("quit with the window up") << false;
    QTest::newRow("quit signal") << true;
}

// Whatever the road out, the windows are off the screen before the workers
// are stopped and their grace is waited for.
void TestAppDelegate::windowsGoBeforeTheGrace()
{
    QFETCH(bool, bySignal);
    TempHome home;
    QWindow window;
    window.resize(200, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QList<bool> shownAtStop;
    RuntimeController& controller = RuntimeController::shared();
    const QMetaObject::Connection watch
        = connect(&controller, &RuntimeController::workersChanged, this, [&shownAtStop] {
              const QWindowList windows = QGuiApplication::topLevelWindows();
              shownAtStop.append(
                  std::any_of(windows.cbegin(), windows.cend(), [](QWindow* w) { return w->isVisible(); }));
          });
    AppDelegate delegate;
    if (bySignal) {
        QVERIFY(delegate.installQuitSignals());
        QSignalSpy received(&delegate, &AppDelegate::quitSignalReceived);
        ::raise(SIGTERM);
        QTRY_COMPARE(received.size(), 1);
    } else {
        delegate.applicationWillTerminate();
    }
    disconnect(watch);
    QCOMPARE(shownAtStop, QList<bool> { false });
}

// A launch with nothing left over writes no breadcrumb; quitting may pass
// here twice (a signal, then the loop's own end) and stops the workers once.
void TestAppDelegate::launchAndTerminate()
{
    TempHome home;
    AppDelegate delegate;
    auto reaped = delegate.applicationDidFinishLaunching();
    reaped.waitForFinished();
    QVERIFY(reaped.result().isEmpty());
    QVERIFY(!TempHome::crumbs().contains(QStringLiteral("启动时收掉上一任留下的孤儿")));
    delegate.applicationWillTerminate();
    delegate.applicationWillTerminate();
    QCOMPARE(TempHome::crumbs().count(QStringLiteral("runtime.stopAll 共 0 个")), 1);
}

// Another program holds the ledger's lock: the reap at launch is tried again
// until the lock is free, and quitting waits for the ledger a few seconds in
// all, not a wait per write.
void TestAppDelegate::ledgerLockHeldFromOutside()
{
    TempHome home;
    // A mark of this run's own: a reap in another test program running beside
    // this one ends every process that carries a mark it reaps.
    const QString mark = QStringLiteral("l-delegate-%1").arg(::getpid());
    QProcess owner;
    owner.start(QStringLiteral("/bin/sh"),
        { QStringLiteral("-c"),
            QStringLiteral("env TOLVARINE_LAUNCH=%1 /bin/sleep 600 >/dev/null 2>&1 & echo $!").arg(mark) });
    QVERIFY(owner.waitForFinished(10000));
    const qint32 orphan = owner.readAllStandardOutput().trimmed().toInt();
    RuntimeChildRecord r;
    r.pid = orphan;
    r.exe = QStringLiteral("/bin/sleep");
    r.workspace = QStringLiteral("ws");
    r.kind = QStringLiteral("codex");
    r.ownerPID = qint32(owner.processId());
    r.startedAt = QDateTime::currentDateTimeUtc();
    r.launch = mark;
    RuntimeChildLedger::record(r);
    // flock's command inherits the lock: the holder ends with its group.
    QProcess holder;
    ProcessGroup::prepare(holder);
    holder.start(QStringLiteral("flock"), { RuntimeChildLedger::lockPath(), QStringLiteral("sleep"), "600" });
    QVERIFY(holder.waitForStarted());
    QTRY_VERIFY(!FileLock(RuntimeChildLedger::lockPath(), 0).isLocked());

    AppDelegate delegate;
    delegate.setReapRetryMs(100);
    auto reaped = delegate.applicationDidFinishLaunching();
    reaped.waitForFinished();
    QVERIFY(reaped.result().isEmpty());
    QVERIFY(ProcessSignals::isAlive(orphan));
    ::kill(-pid_t(holder.processId()), SIGKILL);
    holder.waitForFinished();
    QTRY_VERIFY_WITH_TIMEOUT(TempHome::crumbs().contains(QStringLiteral("启动时收掉上一任留下的孤儿 1 个")), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessSignals::isAlive(orphan), 30000);

    // Held again while three ledger writes are due at quit.
    holder.start(QStringLiteral("flock"), { RuntimeChildLedger::lockPath(), QStringLiteral("sleep"), "600" });
    QVERIFY(holder.waitForStarted());
    QTRY_VERIFY(!FileLock(RuntimeChildLedger::lockPath(), 0).isLocked());
    for (int n = 0; n < 3; ++n)
        RuntimeChildLedger::forgetLater(1000 + n);
    const QDeadlineTimer bound(9000);
    delegate.applicationWillTerminate();
    QVERIFY(!bound.hasExpired());
    ::kill(-pid_t(holder.processId()), SIGKILL);
    holder.waitForFinished();
}

// A write to standard error after whatever read it has ended fails; the
// application (with its workers) goes on, and what it starts still gets
// SIGPIPE's default.
void TestAppDelegate::brokenPipeIsNoRoadOut()
{
    AppDelegate delegate;
    QVERIFY(delegate.installQuitSignals());
    QSignalSpy received(&delegate, &AppDelegate::quitSignalReceived);
    int ends[2];
    QVERIFY(::pipe(ends) == 0);
    ::close(ends[0]);
    QCOMPARE(::write(ends[1], "x", 1), ssize_t(-1));
    QCOMPARE(errno, EPIPE);
    ::close(ends[1]);
    QCoreApplication::processEvents();
    QVERIFY(received.isEmpty());

    QProcess child;
    child.start(QStringLiteral("/bin/cat"), { QStringLiteral("/proc/self/status") });
    QVERIFY(child.waitForFinished(60000));
    const QString status = QString::fromLatin1(child.readAllStandardOutput());
    const QRegularExpressionMatch ignored = QRegularExpression(QStringLiteral("SigIgn:\\s*([0-9a-f]+)")).match(status);
    QVERIFY(ignored.hasMatch());
    QCOMPARE(ignored.captured(1).toULongLong(nullptr, 16) & (1ULL << (SIGPIPE - 1)), 0ULL);
}

// A second Ctrl-C while a worker that ignores SIGTERM has its grace: the
// user will not wait, and the worker is killed at once.
void TestAppDelegate::secondSignalCutsTheGraceShort()
{
    TempHome home;
    SimTool tool(home);
    const QDeadlineTimer grace(std::chrono::minutes(2));
    startStubbornWorker(home, tool, 120);
    if (QTest::currentTestFailed())
        return;
    const QList<RuntimeChildRecord> records = RuntimeChildLedger::load();

    AppDelegate delegate;
    QVERIFY(delegate.installQuitSignals());
    QSignalSpy received(&delegate, &AppDelegate::quitSignalReceived);
    // The second Ctrl-C comes once the workers have been told to stop.
    std::thread second([] {
        while (!TempHome::crumbs().contains(QStringLiteral("runtime.stopAll 共 1 个")))
            QThread::msleep(20);
        ::kill(::getpid(), SIGINT);
    });
    ::raise(SIGINT);
    QTRY_VERIFY(!received.isEmpty());
    second.join();
    QVERIFY(!grace.hasExpired());
    QVERIFY(!ProcessSignals::isAlive(records.first().pid));
    QVERIFY(TempHome::crumbs().contains(QStringLiteral("child.kill pid=%1").arg(records.first().pid)));
    QTRY_VERIFY(RuntimeChildLedger::load().isEmpty());
}

QTEST_MAIN(TestAppDelegate)
#include "tst_AppDelegate.moc"
