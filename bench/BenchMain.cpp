// Runs every benchmark and prints one table: each figure beside its floor,
// measured in the same run, with the ratio and the target; the same table
// goes to a JSON file. Timed figures alternate their rounds with the floor's
// and take the fastest of each. Measures the start-up and idle figures itself, with
// the application and the bare window as fresh processes; the reload and
// window benchmarks and the scale benchmark run as children and hand over
// their figures; the workforce benchmark prints its own lines.
//
//   tolvarine-bench [--smoke] [--out FILE] [--only start,reload,window,workforce,scale,idle]
//
// --smoke runs one round of each with short windows: it keeps the
// benchmarks building and running, and its timings mean nothing.
// A target missed is reported, not an error; a benchmark that cannot run is.

#include "BenchSupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <QThread>

#include <cstdio>
#include <memory>

namespace {

struct Settings {
    int rounds = 11; // fresh starts of each window
    int timedRounds = 21; // in-process rounds of the reload and the window
    int idleSeconds = 60;
    int settleSeconds = 5;
    int stallSeconds = 60;
};

// A fresh application or bare window, told to report its first paint.
class Window {
public:
    Window(const QString& program, const QProcessEnvironment& env, const char* paintClass)
    {
        QProcessEnvironment e = env;
        e.insert(QStringLiteral("TOLVARINE_BENCH_PAINT_CLASS"), QLatin1String(paintClass));
        m_process.setProcessEnvironment(e);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_startedNs = bench::monotonicNs();
        m_process.start(program, {});
    }
    ~Window() { end(); }

    // Milliseconds from the start to the first paint; none when it did not paint in time.
    std::optional<double> waitPainted(int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs && m_process.state() != QProcess::NotRunning) {
            if (m_process.canReadLine() || m_process.waitForReadyRead(100)) {
                const QByteArray line = m_process.readLine().trimmed();
                if (line.startsWith("painted "))
                    return double(line.mid(8).toLongLong() - m_startedNs) / 1e6;
            }
        }
        return std::nullopt;
    }
    qint64 pid() const { return m_process.processId(); }

    // SIGTERM (the application ends its tool runs and quits), then SIGKILL.
    void end()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
    qint64 m_startedNs = 0;
};

const QString kApp = QStringLiteral(TOLVARINE_BENCH_APP);
const QString kBare = QStringLiteral(TOLVARINE_BENCH_BARE);

std::optional<bench::Figure> coldStart(const Settings& s, const QProcessEnvironment& env, const QString& scenario)
{
    QList<double> apps;
    QList<double> bares;
    // One unmeasured start of each first, so that both find their files in the page cache.
    for (int i = s.rounds > 1 ? -1 : 0; i < s.rounds; ++i) {
        Window bare(kBare, env, "QLabel");
        const std::optional<double> b = bare.waitPainted(30000);
        bare.end();
        Window app(kApp, env, "PairedPage");
        const std::optional<double> a = app.waitPainted(60000);
        app.end();
        if (!a || !b) {
            std::fprintf(stderr, "cold start: %s did not paint\n", a ? "the bare window" : "the application");
            return std::nullopt;
        }
        if (i >= 0) {
            apps.append(*a);
            bares.append(*b);
        }
    }
    const double ours = bench::fastest(apps);
    const double floor = bench::fastest(bares);
    const std::optional<double> ratio = bench::ratioOf(ours, floor);
    return bench::Figure { QStringLiteral("cold start to first paint of the paired page, ") + scenario, ours, floor,
        ratio, QStringLiteral("<= 1.3x floor"), QStringLiteral("ms"), ratio && *ratio <= 1.3 };
}

std::optional<QList<bench::Figure>> idle(
    const Settings& s, const QProcessEnvironment& demo, const QProcessEnvironment& large)
{
    // All three at once, over the same seconds.
    Window bare(kBare, demo, "QLabel");
    Window demoApp(kApp, demo, "PairedPage");
    Window largeApp(kApp, large, "PairedPage");
    for (Window* w : { &bare, &demoApp, &largeApp }) {
        if (!w->waitPainted(60000)) {
            std::fprintf(stderr, "idle: a window did not paint\n");
            return std::nullopt;
        }
    }
    QThread::sleep(s.settleSeconds);

    const qint64 pids[3] = { bare.pid(), demoApp.pid(), largeApp.pid() };
    std::optional<double> cpuBefore[3];
    for (int i = 0; i < 3; ++i)
        cpuBefore[i] = bench::cpuMs(pids[i]);
    QElapsedTimer t;
    t.start();
    qint64 rssKb[3] = { 0, 0, 0 };
    // Resident memory at its highest, sampled every second.
    while (t.elapsed() < s.idleSeconds * 1000) {
        QThread::msleep(std::min<qint64>(1000, s.idleSeconds * 1000 - t.elapsed() + 1));
        for (int i = 0; i < 3; ++i)
            rssKb[i] = std::max(rssKb[i], bench::procStatusKb(pids[i], "VmRSS:"));
    }
    const double wallMs = double(t.elapsed());
    double cpuPercent[3] = { 0, 0, 0 };
    for (int i = 0; i < 3; ++i) {
        const std::optional<double> after = bench::cpuMs(pids[i]);
        if (!cpuBefore[i] || !after || rssKb[i] <= 0) {
            std::fprintf(stderr, "idle: cannot read /proc for pid %lld\n", static_cast<long long>(pids[i]));
            return std::nullopt;
        }
        cpuPercent[i] = (*after - *cpuBefore[i]) * 100.0 / wallMs;
    }
    const auto mb = [](qint64 kb) { return double(kb) / 1024.0; };
    const QString seconds = QString::number(s.idleSeconds);
    return QList<bench::Figure> {
        { QStringLiteral("idle CPU over %1 s, demo").arg(seconds), cpuPercent[1], cpuPercent[0],
            bench::ratioOf(cpuPercent[1], cpuPercent[0]), QStringLiteral("<= 1% of one core"), QStringLiteral("% core"),
            cpuPercent[1] <= 1.0 },
        { QStringLiteral("idle RSS, demo"), mb(rssKb[1]), mb(rssKb[0]), bench::ratioOf(rssKb[1], rssKb[0]),
            QStringLiteral("<= 100 MB"), QStringLiteral("MB"), mb(rssKb[1]) <= 100.0 },
        { QStringLiteral("idle RSS, large workspace"), mb(rssKb[2]), mb(rssKb[0]), bench::ratioOf(rssKb[2], rssKb[0]),
            QStringLiteral("<= 150 MB"), QStringLiteral("MB"), mb(rssKb[2]) <= 150.0 },
    };
}

// A benchmark run as a child, handing over its figures in a file.
std::optional<QList<bench::Figure>> child(const QString& program, QStringList args, const QString& figuresPath)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    args << QStringLiteral("--figures") << figuresPath;
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        return std::nullopt;
    }
    return bench::readFigures(figuresPath);
}

// A benchmark run as a child that prints its own lines (no figures of the table).
bool run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        return false;
    }
    return true;
}

QString number(double v, const QString& unit)
{
    if (unit == QLatin1String("widgets"))
        return QString::number(qint64(v));
    return QString::number(v, 'f', v != 0 && std::abs(v) < 10 ? 2 : 1);
}

void printTable(const QList<bench::Figure>& figures)
{
    QTextStream out(stdout);
    const auto row = [&](const QString& a, const QString& b, const QString& c, const QString& d, const QString& e,
                         const QString& f) {
        out << a.leftJustified(62) << ' ' << b.rightJustified(14) << ' ' << c.rightJustified(14) << ' '
            << d.rightJustified(7) << "  " << e.leftJustified(18) << ' ' << f << '\n';
    };
    row(QStringLiteral("figure"), QStringLiteral("ours"), QStringLiteral("floor"), QStringLiteral("ratio"),
        QStringLiteral("target"), QStringLiteral("met"));
    for (const bench::Figure& f : figures) {
        const QString unit = QLatin1Char(' ') + f.unit;
        row(f.figure, number(f.ours, f.unit) + unit, number(f.floor, f.unit) + unit,
            f.ratio ? QString::number(*f.ratio, 'f', 2) : QStringLiteral("-"), f.target,
            f.met ? QStringLiteral("yes") : QStringLiteral("NO"));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption smokeOption(
        QStringLiteral("smoke"), QStringLiteral("one round of each, short windows (timings mean nothing)"));
    const QCommandLineOption outOption(
        QStringLiteral("out"), QStringLiteral("write the table as JSON here"), QStringLiteral("file"));
    const QCommandLineOption onlyOption(QStringLiteral("only"),
        QStringLiteral("run only these groups (comma-separated: start, reload, window, workforce, scale, idle)"),
        QStringLiteral("groups"));
    parser.addOptions({ smokeOption, outOption, onlyOption });
    parser.addHelpOption();
    parser.process(app);

    Settings s;
    if (parser.isSet(smokeOption))
        s = Settings { 1, 1, 3, 1, 3 };

    bench::ScratchHome demoHome;
    bench::ScratchHome largeHome;
    QTemporaryDir work;
    if (!demoHome.ok() || !largeHome.ok() || !work.isValid())
        return 1;
    const QString largeScenario = work.filePath(QStringLiteral("large.json"));
    bench::StandInGateway demoGateway;
    bench::StandInGateway largeGateway;
    if (!demoGateway.start(bench::StandInGateway::demoScenario())
        || !bench::StandInGateway::generateLarge(largeScenario) || !largeGateway.start(largeScenario))
        return 1;
    demoHome.pair(bench::demoWorkspace(demoGateway.origin()));
    largeHome.pair(bench::largeWorkspace(largeGateway.origin()));
    const QProcessEnvironment demoEnv = demoHome.environment(demoGateway.origin(), false);
    const QProcessEnvironment largeEnv = largeHome.environment(largeGateway.origin(), false);

    const QStringList only = parser.value(onlyOption).split(QLatin1Char(','), Qt::SkipEmptyParts);
    const auto wanted = [&only](const char* group) { return only.isEmpty() || only.contains(QLatin1String(group)); };
    QList<bench::Figure> figures;
    if (wanted("start")) {
        std::fprintf(stderr, "bench: cold start, %d round(s)\n", s.rounds);
        for (const auto& [env, scenario] : { std::pair { demoEnv, QStringLiteral("demo") },
                 std::pair { largeEnv, QStringLiteral("large workspace") } }) {
            const std::optional<bench::Figure> start = coldStart(s, env, scenario);
            if (!start)
                return 1;
            figures << *start;
        }
    }
    if (wanted("reload")) {
        std::fprintf(stderr, "bench: status reload\n");
        const auto reload = child(QStringLiteral(TOLVARINE_BENCH_RELOAD),
            { QStringLiteral("--rounds"), QString::number(s.timedRounds) },
            work.filePath(QStringLiteral("reload.json")));
        if (!reload)
            return 1;
        figures << *reload;
    }
    if (wanted("window")) {
        std::fprintf(stderr, "bench: window refresh, derivations and a %d s stall run\n", s.stallSeconds);
        const auto window = child(QStringLiteral(TOLVARINE_BENCH_WINDOW),
            { QStringLiteral("--rounds"), QString::number(s.timedRounds), QStringLiteral("--stall-seconds"),
                QString::number(s.stallSeconds) },
            work.filePath(QStringLiteral("window.json")));
        if (!window)
            return 1;
        figures << *window;
    }
    if (wanted("workforce")) {
        std::fprintf(stderr, "bench: workforce derivation and team section\n");
        if (!run(QStringLiteral(TOLVARINE_BENCH_WORKFORCE),
                { QStringLiteral("--rounds"), QString::number(s.timedRounds) }))
            return 1;
    }
    if (wanted("scale")) {
        std::fprintf(stderr, "bench: the window as one dimension grows\n");
        QStringList args;
        if (parser.isSet(smokeOption))
            args << QStringLiteral("--smoke");
        const auto scale
            = child(QStringLiteral(TOLVARINE_BENCH_SCALE), args, work.filePath(QStringLiteral("scale.json")));
        if (!scale)
            return 1;
        figures << *scale;
    }
    if (wanted("idle")) {
        std::fprintf(stderr, "bench: %d s idle\n", s.idleSeconds);
        const auto idleFigures = idle(s, demoEnv, largeEnv);
        if (!idleFigures)
            return 1;
        figures << *idleFigures;
    }
    printTable(figures);
    if (parser.isSet(outOption) && !bench::writeFigures(parser.value(outOption), figures)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(parser.value(outOption)));
        return 1;
    }
    return 0;
}
