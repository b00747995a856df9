// The application's part in the crash tests, in a process of its own that
// ends by SIGKILL (tst_CrashRecovery runs it; it is not a test by itself).
//
//   tst_crash_owner workers [signal|exit]
//       opens the main window on the paired workspace, presses the start
//       button of the first three runtime cards, waits until each worker is in
//       the child ledger and has printed its first line, prints "ready" and
//       kills itself; with "signal" it has the application's quit duties in
//       place and runs until a signal ends it; with "exit" it ends through
//       exit(1), as the window system's plugin does when the display
//       connection is lost.
//   tst_crash_owner started
//       opens the main window on the paired workspace, presses the start
//       button of the first runtime card and kills itself as soon as the
//       worker has been forked.
//   tst_crash_owner burst
//       rewrites the child ledger, the snapshots and every store in a loop,
//       each write the way the application makes it; prints "writing" after
//       the first round and goes on until it is killed.
//   tst_crash_owner owner
//       (in a PID namespace of its own, or not) takes its home's instance lock
//       as the application does, starts a worker (a sleep carrying a launch
//       mark) and records it; prints "ready" and runs until it is killed.
//   tst_crash_owner reap
//       reaps the ledger as a launch does; prints how many records it reaped.
//   tst_crash_owner ledger N
//       records N workers of its own in the child ledger, one write each, as
//       another instance beside it may be doing; prints "done".

#include "app/AppDelegate.h"
#include "app/InstanceGuard.h"
#include "core/agents/AdvancedConnectionStore.h"
#include "core/gateway/CLIConfig.h"
#include "core/platform/ProcessGroup.h"
#include "core/platform/ProcessTable.h"
#include "core/platform/SerialFileWriter.h"
#include "core/providers/ProviderProfile.h"
#include "core/providers/ProviderProfileStore.h"
#include "core/providers/RuntimeBindingStore.h"
#include "core/providers/RuntimeModelStore.h"
#include "core/runtimes/RuntimeCardActions.h"
#include "core/runtimes/RuntimeChildLedger.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeEnablementStore.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/shell/WorkspaceSummary.h"
#include "gui/shell/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace {

const QStringList kKinds { QStringLiteral("claude-code"), QStringLiteral("codex"), QStringLiteral("gemini-cli") };
constexpr int kWorkers = 3;

bool waitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// The shown start buttons of the runtime cards, in the window's order.
QList<QWidget*> startButtons(MainWindow& window)
{
    static const QRegularExpression name(QStringLiteral("^runtime\\.[^.]+\\.start$"));
    QList<QWidget*> out;
    for (QWidget* button : window.findChildren<QWidget*>(name)) {
        if (button->isVisible())
            out.append(button);
    }
    return out;
}

int workers(const QString& end)
{
    AppDelegate delegate;
    if (end != QLatin1String("kill") && !delegate.installQuitSignals())
        return 1;
    MainWindow window({ std::chrono::hours(1), std::chrono::hours(1) });
    window.show();
    if (!waitUntil([&window] { return startButtons(window).size() >= kWorkers; }, 60000))
        return 1;
    const QList<QWidget*> buttons = startButtons(window).mid(0, kWorkers);
    for (QWidget* button : buttons)
        QTest::mouseClick(button, Qt::LeftButton);
    const std::optional<CLIConfig> config = window.controller()->selectedConfig();
    RuntimeController& controller = window.controller()->runtimes();
    const bool started = waitUntil(
        [&] {
            return RuntimeChildLedger::load().size() == kWorkers
                && controller.lines(config->workspace).filter(QStringLiteral("brenlow run: kind=")).size() == kWorkers;
        },
        30000);
    if (!started)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    if (end == QLatin1String("kill")) {
        // The crash: nothing of the application's own clean-up runs.
        ::kill(::getpid(), SIGKILL);
        return 3;
    }
    if (end == QLatin1String("exit"))
        QTimer::singleShot(0, [] { std::exit(1); });
    return QApplication::exec();
}

int started()
{
    MainWindow window({ std::chrono::hours(1), std::chrono::hours(1) });
    window.show();
    if (!waitUntil([&window] { return !startButtons(window).isEmpty(); }, 60000))
        return 1;
    QObject::connect(&window.controller()->runtimes(), &RuntimeController::workersChanged, [] {
        for (const ProcessTable::Entry& e : ProcessTable::snapshot().byPID) {
            if (e.ppid == ::getpid() && e.state != 'Z'
                && ProcessTable::environment(e.pid).contains("TOLVARINE_RUNTIME_KIND="))
                ::kill(::getpid(), SIGKILL);
        }
    });
    QTest::mouseClick(startButtons(window).first(), Qt::LeftButton);
    waitUntil([] { return false; }, 30000);
    return 1;
}

int owner()
{
    InstanceGuard guard;
    if (guard.claim(QCoreApplication::arguments()) != InstanceGuard::Claim::Instance)
        return 1;
    QProcess worker;
    ProcessGroup::prepare(worker);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString mark = QUuid::createUuid().toString(QUuid::WithoutBraces);
    env.insert(QLatin1String(RuntimeChildLedger::kLaunchVariable), mark);
    worker.setProcessEnvironment(env);
    worker.start(QStringLiteral("/bin/sleep"), { QStringLiteral("600") });
    if (!worker.waitForStarted(10000))
        return 1;
    RuntimeChildRecord r = RuntimeChildLedger::ownRecord();
    r.pid = qint32(worker.processId());
    r.exe = QStringLiteral("/bin/sleep");
    r.workspace = QStringLiteral("ws-demo");
    r.kind = QStringLiteral("codex");
    r.startedAt = QDateTime::currentDateTimeUtc();
    r.launch = mark;
    RuntimeChildLedger::record(r);
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}

RuntimeChildRecord record(int n)
{
    RuntimeChildRecord r;
    r.pid = 100000 + n;
    r.exe = QStringLiteral("/opt/brenlow/bin/brenlow");
    r.workspace = QStringLiteral("ws-demo");
    r.kind = kKinds.at(n % kKinds.size());
    r.ownerPID = qint32(::getpid());
    r.ownerStart = ProcessTable::ownStartTicks();
    r.startedAt = QDateTime::currentDateTimeUtc();
    return r;
}

int ledger(int count)
{
    for (int n = 0; n < count; ++n) {
        RuntimeChildRecord r = record(n);
        r.pid = 0;
        r.launch = QStringLiteral("%1-%2").arg(::getpid()).arg(n);
        RuntimeChildLedger::record(r);
    }
    std::printf("done\n");
    return 0;
}

[[noreturn]] void burst()
{
    ProviderProfile profile;
    profile.id = QUuid::createUuid();
    profile.provider = QStringLiteral("anthropic");
    profile.createdAt = QDateTime::currentDateTimeUtc();
    AdvancedConnection connection;
    connection.id = QUuid::createUuid();
    connection.name = QStringLiteral("本机 Agent");
    connection.createdAt = QDateTime::currentDateTimeUtc();
    WorkspaceSummary summary;
    SerialFileWriter summaryFile(WorkspaceSummary::snapshotPath());
    SerialFileWriter actionsFile(RuntimeCardActions::filePath());
    QList<RuntimeRow> rows;
    for (const QString& kind : kKinds) {
        RuntimeRow row;
        row.kind = kind;
        row.display = kind;
        rows.append(row);
    }
    for (int n = 0;; ++n) {
        // A ledger that grows to a few dozen records and shrinks again.
        RuntimeChildLedger::record(record(n % 40));
        if (n % 3 == 0)
            RuntimeChildLedger::forget(100000 + (n / 3) % 40);
        summary.failedTasks = n;
        summaryFile.write(summary.snapshotBytes());
        RuntimeInventoryStore::dumpForAcceptance(rows.mid(0, 1 + n % kKinds.size()));
        RuntimeInventoryStore::dumpRaw(QStringLiteral("{\"runtimes\": [], \"round\": %1}\n").arg(n));
        RuntimeEnablementStore::setEnabled(kKinds.at(n % kKinds.size()), n % 2 == 0);
        RuntimeBindingStore::bind(
            kKinds.at(n % kKinds.size()), n % 2 ? std::optional<QUuid>(profile.id) : std::nullopt);
        RuntimeModelStore::setModel(kKinds.at(n % kKinds.size()), QStringLiteral("model-%1").arg(n));
        profile.name = QStringLiteral("账户 %1").arg(n);
        ProviderProfileStore::upsert(profile);
        connection.command = QStringLiteral("agent --round %1").arg(n);
        AdvancedConnectionStore::upsert(connection);
        actionsFile.write(RuntimeCardActions::fileBytes(
            RuntimeCardActions::table(rows, {}, [n](const QString&) { return n % 2 == 0; }, true, {})));
        if (n == 0) {
            // Every file is on disk before the first kill can come.
            summaryFile.waitForIdle();
            actionsFile.waitForIdle();
            std::printf("writing\n");
            std::fflush(stdout);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tolvarine"));
    QCoreApplication::setApplicationName(QStringLiteral("Tolvarine Desktop"));
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("workers"))
        return workers(args.value(1, QStringLiteral("kill")));
    if (args.value(0) == QLatin1String("owner"))
        return owner();
    if (args.value(0) == QLatin1String("reap")) {
        std::printf("%d\n", int(RuntimeChildLedger::reapOrphans(::getpid()).size()));
        return 0;
    }
    if (args.value(0) == QLatin1String("started"))
        return started();
    if (args.value(0) == QLatin1String("burst"))
        burst();
    if (args.value(0) == QLatin1String("ledger"))
        return ledger(args.value(1).toInt());
    return 2;
}
