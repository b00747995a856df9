// The long run: the main window against the stand-in gateway serving the large
// workspace, reloading every 5 seconds, with one runtime worker printing a line
// every few milliseconds, for ten minutes. Prints the resident memory at the
// start (after a warm-up) and at the end, and the worst stall of the event loop
// over the measured stretch; fails when memory grew by more than 10%.
//
//   tolvarine-soak [--seconds N] [--line-ms N] [--warmup N] [--outage-every N]
//
// With --outage-every N the stand-in gateway is killed every N seconds and
// started again on the same port 5 seconds later, so that the window goes
// through failing reloads and back.
//
// Runs in a scratch home of its own (a temporary folder), so nothing of the
// user's is touched. scripts/soak builds and runs it.

#include "app/AppDelegate.h"
#include "core/gateway/CLI.h"
#include "core/gateway/Status.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/shell/MainWindow.h"

#include "StallProbe.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

const QString kWorkspace = QStringLiteral("ws-large");

// VmRSS of this process in kB.
qint64 rssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            return parts.size() >= 2 ? parts[1].toLongLong() : -1;
        }
    }
    return -1;
}

// Runs the event loop until `done` holds or `ms` have passed; false on time-out.
bool waitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void sleepLoop(qint64 ms)
{
    QEventLoop loop;
    QTimer::singleShot(int(ms), &loop, &QEventLoop::quit);
    loop.exec();
}

int fail(const char* what)
{
    std::fprintf(stderr, "soak: %s\n", what);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    // The scratch home is in place before anything reads HOME.
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return fail("no scratch folder");
    const QString home = scratch.filePath(QStringLiteral("home"));
    const QString project = home + QStringLiteral("/projects/large-shop");
    const QString steering = scratch.filePath(QStringLiteral("brenlow-sim"));
    for (const QString& dir :
        { home + QStringLiteral("/.local/bin"), home + QStringLiteral("/.config"), project, steering })
        QDir().mkpath(dir);
    QFile::link(QStringLiteral(TOLVARINE_BRENLOW), home + QStringLiteral("/.local/bin/brenlow"));
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qunsetenv("TOLVARINE_HOME");
    qputenv("BRENLOW_SIM_DIR", QFile::encodeName(steering));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tolvarine"));
    QCoreApplication::setApplicationName(QStringLiteral("Tolvarine Desktop"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
        QStringLiteral("Measured run time (default 600)."), QStringLiteral("n"), QStringLiteral("600"));
    const QCommandLineOption lineOption(QStringLiteral("line-ms"),
        QStringLiteral("The worker's interval between lines in ms (default 20)."), QStringLiteral("n"),
        QStringLiteral("20"));
    const QCommandLineOption warmupOption(QStringLiteral("warmup"),
        QStringLiteral("Seconds before the first measurement (default 30)."), QStringLiteral("n"),
        QStringLiteral("30"));
    const QCommandLineOption outageOption(QStringLiteral("outage-every"),
        QStringLiteral("Kill the gateway every n seconds and start it again 5 s later (default 0: never)."),
        QStringLiteral("n"), QStringLiteral("0"));
    parser.addOptions({ secondsOption, lineOption, warmupOption, outageOption });
    parser.process(app);
    const qint64 seconds = std::max(1, parser.value(secondsOption).toInt());
    const int lineMs = std::max(10, parser.value(lineOption).toInt());
    const qint64 warmup = std::max(0, parser.value(warmupOption).toInt());
    const qint64 outageEvery = std::max(0, parser.value(outageOption).toInt());

    // The stand-in gateway with the large workspace.
    const QString scenario = scratch.filePath(QStringLiteral("large.json"));
    if (QProcess::execute(QStringLiteral(TOLVARINE_GATEWAY_SIM), { QStringLiteral("--generate-large"), scenario }) != 0)
        return fail("could not generate the large scenario");
    QProcess gateway;
    gateway.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Started on a free port the first time, on the same one after an outage.
    const auto startGateway = [&gateway, &scenario](const QString& port) -> QString {
        gateway.start(QStringLiteral(TOLVARINE_GATEWAY_SIM),
            { QStringLiteral("--port"), port, QStringLiteral("--scenario"), scenario });
        if (!gateway.waitForStarted(10000) || !gateway.waitForReadyRead(20000))
            return {};
        const QByteArray first = gateway.readLine().trimmed();
        return first.startsWith("listening ") ? QString::fromLatin1(first.mid(10)) : QString();
    };
    const QString port = startGateway(QStringLiteral("0"));
    if (port.isEmpty())
        return fail("the stand-in gateway did not start");
    const QString origin = QStringLiteral("http://127.0.0.1:") + port;
    qputenv("BRENLOW_SIM_GATEWAY", origin.toUtf8());
    qputenv("BRENLOW_SIM_PAIR_WS", kWorkspace.toUtf8());

    // Paired the way a user pairs: the tool writes the pairing files.
    QProcess pair;
    pair.setWorkingDirectory(project);
    pair.start(QStringLiteral(TOLVARINE_BRENLOW),
        { QStringLiteral("pair"), QStringLiteral("--path"), project, QStringLiteral("--grant"),
            QStringLiteral("read") });
    if (!pair.waitForFinished(30000) || pair.exitCode() != 0)
        return fail("pairing the project folder failed");
    QFile interval(steering + QStringLiteral("/run.interval_ms"));
    interval.open(QIODevice::WriteOnly);
    interval.write(QByteArray::number(lineMs));
    interval.close();

    // What main() does.
    AppDelegate delegate;
    delegate.installQuitSignals();
    CLI::warmUp();
    auto* window = new MainWindow;
    window->show();
    delegate.applicationDidFinishLaunching();
    WindowController* controller = window->controller();

    int polls = 0;
    QObject::connect(controller, &WindowController::pollPassFinished, [&polls] { ++polls; });
    const bool loaded = waitUntil(
        [controller] {
            return controller->status()->commands().size() >= 2000 && !controller->inventory()->rows().isEmpty();
        },
        120000);
    if (!loaded)
        return fail("the large workspace or the runtime inventory did not load");

    // One worker, started with the first runtime card's start button.
    const std::optional<CLIConfig> config = controller->selectedConfig();
    if (!config || config->workspace != kWorkspace)
        return fail("the large workspace is not the selected one");
    static const QRegularExpression startName(QStringLiteral("^runtime\\.([^.]+)\\.start$"));
    QWidget* start = nullptr;
    if (!waitUntil(
            [&] {
                for (QWidget* button : window->findChildren<QWidget*>(startName)) {
                    if (button->isVisible())
                        start = button;
                }
                return start != nullptr;
            },
            60000))
        return fail("no runtime card offers to start");
    const QString kind = startName.match(start->objectName()).captured(1);
    QTest::mouseClick(start, Qt::LeftButton);
    RuntimeController& runtimes = controller->runtimes();
    qint64 lines = 0;
    QObject::connect(&runtimes, &RuntimeController::outputChanged, [&lines] { ++lines; });
    if (!waitUntil([&] { return lines > 10; }, 30000))
        return fail("the worker prints nothing");

    std::printf("soak: %s, worker %s printing every %d ms, reload every 5 s; warm-up %lld s, then %lld s measured\n",
        qPrintable(origin), qPrintable(kind), lineMs, static_cast<long long>(warmup), static_cast<long long>(seconds));
    if (outageEvery > 0)
        std::printf(
            "soak: the gateway is killed every %lld s and back 5 s later\n", static_cast<long long>(outageEvery));
    int outages = 0;
    QTimer outage;
    outage.setInterval(int(outageEvery * 1000));
    QObject::connect(&outage, &QTimer::timeout, [&] {
        gateway.kill();
        gateway.waitForFinished();
        ++outages;
        QTimer::singleShot(5000, &outage, [&] {
            if (startGateway(port) != port)
                std::fprintf(stderr, "soak: the stand-in gateway did not come back on port %s\n", qPrintable(port));
        });
    });
    if (outageEvery > 0)
        outage.start();
    std::fflush(stdout);
    sleepLoop(warmup * 1000);

    StallProbe probe;
    // When each long stall ended, to match with the breadcrumb log.
    QList<QPair<QTime, qint64>> longStalls;
    probe.setOnGap([&longStalls](const StallProbe::Gap& gap) {
        if (gap.turnMs > 100)
            longStalls.append({ gap.endedAt, qint64(gap.turnMs) });
    });
    const qint64 startRss = rssKb();
    const int startPolls = polls;
    const qint64 startLines = lines;
    std::printf("soak: RSS at start %lld kB\n", static_cast<long long>(startRss));
    std::fflush(stdout);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000) {
        sleepLoop(std::min<qint64>(60000, seconds * 1000 - clock.elapsed()));
        std::printf("soak: %4lld s  RSS %lld kB  reloads %d  worker lines %lld  outages %d  worst stall %lld ms\n",
            static_cast<long long>(clock.elapsed() / 1000), static_cast<long long>(rssKb()), polls - startPolls,
            static_cast<long long>(lines - startLines), outages, static_cast<long long>(probe.worstTurnMs()));
        std::fflush(stdout);
        if (!runtimes.isRunning(kWorkspace, kind))
            return fail("the worker is no longer running");
    }
    const qint64 endRss = rssKb();
    const double growth = 100.0 * double(endRss - startRss) / double(std::max<qint64>(startRss, 1));
    std::printf("soak: RSS at start %lld kB, at end %lld kB (%+.1f%%)\n", static_cast<long long>(startRss),
        static_cast<long long>(endRss), growth);
    std::printf("soak: worst event-loop stall %lld ms (%lld ms with time spent waiting for a CPU)\n",
        static_cast<long long>(probe.worstTurnMs()), static_cast<long long>(probe.worstWallMs()));
    std::printf("soak: %d reloads, %lld worker lines, %s\n", polls - startPolls,
        static_cast<long long>(lines - startLines),
        controller->status()->commandsError() ? qPrintable(*controller->status()->commandsError()) : "no load error");
    // Each stall over 100 ms with what the application logged in the second before it ended.
    QFile crumbs(home + QStringLiteral("/.tolvarine/desktop.log"));
    const QList<QByteArray> log = crumbs.open(QIODevice::ReadOnly) ? crumbs.readAll().split('\n') : QList<QByteArray>();
    std::printf("soak: %lld stalls over 100 ms\n", static_cast<long long>(longStalls.size()));
    for (const auto& [at, ms] : longStalls) {
        std::printf("soak:   %s  %lld ms\n", qPrintable(at.toString(QStringLiteral("HH:mm:ss.zzz"))),
            static_cast<long long>(ms));
        for (const QByteArray& line : log) {
            const QTime t = QTime::fromString(QString::fromLatin1(line.left(12)), QStringLiteral("HH:mm:ss.zzz"));
            if (t.isValid() && t.msecsTo(at) >= 0 && t.msecsTo(at) <= ms + 1000)
                std::printf("soak:     %s\n", line.constData());
        }
    }
    const bool ok = growth <= 10.0;
    std::printf("soak: %s (RSS may grow by at most 10%%)\n", ok ? "PASS" : "FAIL");
    std::fflush(stdout);

    outage.stop();
    delete window;
    delegate.applicationWillTerminate();
    gateway.kill();
    gateway.waitForFinished();
    return ok ? 0 : 1;
}
