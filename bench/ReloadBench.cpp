// Measures one Status::reload against the stand-in gateway serving a large
// workspace (2,000 commands, 60 employees, 300 feed items, 200 progress
// lines) and compares it with a floor: the same six requests fetched and
// parsed into JSON documents, with nothing else. Each side runs in its own
// child process for peak memory; for time, the two alternate round by round in
// one process, so that a change in the machine's load falls on both, and the
// fastest round of each counts. A further child times the live task board's
// update after a reload (the running commands, none changed).
//
//   tolvarine-bench-reload [--rounds N] [--figures FILE]

#include "BenchSupport.h"

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Replies.h"
#include "core/gateway/Status.h"
#include "core/gateway/StatusRules.h"
#include "gui/workforce/LiveTaskBoard.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThreadPool>
#include <QUrl>

#include <QCoroNetworkReply>
#include <QCoroTask>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

const QString kWorkspace = QStringLiteral("ws-large");

// The floor: six GETs (commands first and alone, then five together), each parsed into a JSON document.
class Floor {
public:
    explicit Floor(const CLIConfig& config)
        : m_config(config)
    {
        m_nam.setProxy(QNetworkProxy::NoProxy);
    }

    QCoro::Task<QByteArray> fetch(QString path)
    {
        QNetworkRequest request(QUrl(m_config.api + path));
        request.setTransferTimeout(4000);
        request.setRawHeader("Authorization", "Bearer " + m_config.token.toUtf8());
        request.setRawHeader("X-Device-Id", m_config.device->toUtf8());
        QNetworkReply* reply = m_nam.get(request);
        co_await reply;
        const QByteArray body = reply->readAll();
        reply->deleteLater();
        co_return body;
    }

    QCoro::Task<> run(QString focalId)
    {
        const QString ws = QStringLiteral("/api/workspaces/") + m_config.workspace;
        const QJsonDocument commands = QJsonDocument::fromJson(co_await fetch(ws + QStringLiteral("/commands")));
        auto progress = fetch(ws + QStringLiteral("/commands/") + focalId + QStringLiteral("/progress?limit=200"));
        auto perms = fetch(ws + QStringLiteral("/permissions"));
        auto team = fetch(ws + QStringLiteral("/employees"));
        auto agents = fetch(ws + QStringLiteral("/agents"));
        auto feed = fetch(ws + QStringLiteral("/feed"));
        QList<QJsonDocument> docs { commands };
        docs.append(QJsonDocument::fromJson(co_await progress));
        docs.append(QJsonDocument::fromJson(co_await perms));
        docs.append(QJsonDocument::fromJson(co_await team));
        docs.append(QJsonDocument::fromJson(co_await agents));
        docs.append(QJsonDocument::fromJson(co_await feed));
        for (const QJsonDocument& d : docs)
            if (d.isNull())
                qFatal("floor: a reply was not JSON");
    }

private:
    CLIConfig m_config;
    QNetworkAccessManager m_nam;
};

// Loads the large workspace into `status`, or fails loudly.
void reloadOnce(Status& status, const CLIConfig& config)
{
    QCoro::waitFor(status.reload(config));
    if (status.commands().size() < 2000 || status.commandsError())
        qFatal("reload: the large workspace did not load: %s", qPrintable(status.commandsError().value_or(QString())));
}

// The command the floor follows, as the reload would choose it.
QString focalOf(Floor& floor)
{
    const QByteArray body
        = QCoro::waitFor(floor.fetch(QStringLiteral("/api/workspaces/") + kWorkspace + QStringLiteral("/commands")));
    const auto decoded = replies::decodeCommands(body);
    const auto focal = decoded ? rules::focalCommand(decoded->commands) : std::nullopt;
    if (!focal)
        qFatal("floor: no command to follow");
    return focal->id;
}

double timed(const std::function<void()>& run)
{
    QElapsedTimer t;
    t.start();
    run();
    return double(t.nsecsElapsed()) / 1e6;
}

// Child side of the memory figure: one side alone, so that its peak is its own.
// Prints "<peak kB> <baseline kB>".
int runMemory(const QString& mode, const QString& origin, int rounds)
{
    const CLIConfig config = bench::largeWorkspace(origin);
    const qint64 baseline = bench::procStatusKb(0, "VmRSS:");
    if (mode == QLatin1String("reload")) {
        Status status;
        for (int i = 0; i < rounds; ++i)
            reloadOnce(status, config);
    } else {
        Floor floor(config);
        const QString focal = focalOf(floor);
        for (int i = 0; i < rounds; ++i)
            QCoro::waitFor(floor.run(focal));
    }
    std::printf(
        "%lld %lld\n", static_cast<long long>(bench::procStatusKb(0, "VmHWM:")), static_cast<long long>(baseline));
    return 0;
}

// Child side of the time figure: floor and reload rounds alternate in one
// process, so that a change in the machine's load falls on both alike.
// Prints the fastest round of each side, "<floor ms> <reload ms>".
int runTime(const QString& origin, int rounds)
{
    const CLIConfig config = bench::largeWorkspace(origin);
    Status status;
    Floor floor(config);
    const QString focal = focalOf(floor);
    // The first passes confirm pending tiers and warm the connections.
    for (int i = 0; i < 2; ++i) {
        reloadOnce(status, config);
        QCoro::waitFor(floor.run(focal));
    }
    QList<double> floors;
    QList<double> reloads;
    for (int i = 0; i < rounds; ++i) {
        floors.append(timed([&] { QCoro::waitFor(floor.run(focal)); }));
        reloads.append(timed([&] { reloadOnce(status, config); }));
    }
    // A poll whose command list changed reads its records again (the reload
    // above brings the same list each round): that reading alone, for the record.
    const QByteArray body
        = QCoro::waitFor(floor.fetch(QStringLiteral("/api/workspaces/") + kWorkspace + QStringLiteral("/commands")));
    QList<double> readings;
    for (int i = 0; i < rounds; ++i)
        readings.append(timed([&] { QCoro::waitFor(replies::decodeCommandsOn(QThreadPool::globalInstance(), body)); }));
    std::printf("%.3f %.3f %.3f\n", *std::min_element(floors.cbegin(), floors.cend()),
        *std::min_element(reloads.cbegin(), reloads.cend()), *std::min_element(readings.cbegin(), readings.cend()));
    return 0;
}

// Child side of the board figure: prints "<median ms> <running cards>".
int runBoard(const QString& origin, int rounds)
{
    const CLIConfig config = bench::largeWorkspace(origin);
    Status status;
    QCoro::waitFor(status.reload(config));
    // Not shown, so the cards' evidence fetches nothing: only the update is timed.
    LiveTaskBoard board(&status);
    QList<double> times;
    for (int i = 0; i < rounds; ++i) {
        QCoro::waitFor(status.reload(config));
        times.append(timed([&] { board.refresh(); }));
    }
    std::printf("%.3f %lld\n", bench::median(times), static_cast<long long>(board.cards().size()));
    return 0;
}

// Runs this program as a child with `args`; its one line of output, split at spaces.
std::optional<QList<QByteArray>> child(const QStringList& args, qsizetype fields)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), args);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    const QList<QByteArray> parts = p.readAllStandardOutput().trimmed().split(' ');
    if (parts.size() != fields)
        return std::nullopt;
    return parts;
}

} // namespace

int main(int argc, char** argv)
{
    // The board's child needs widgets; the others only the core.
    bool widgets = false;
    for (int i = 1; i + 1 < argc; ++i)
        widgets = widgets || (qstrcmp(argv[i], "--mode") == 0 && qstrcmp(argv[i + 1], "board") == 0);
    if (widgets && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> application
        = widgets ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication& app = *application;
    QCommandLineParser parser;
    const QCommandLineOption modeOption(QStringLiteral("mode"),
        QStringLiteral("child side: time, floor or reload for memory, or board"), QStringLiteral("mode"));
    const QCommandLineOption originOption(
        QStringLiteral("origin"), QStringLiteral("gateway origin (child side)"), QStringLiteral("origin"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("measured rounds per side"),
        QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption figuresOption(
        QStringLiteral("figures"), QStringLiteral("write the figures here"), QStringLiteral("file"));
    parser.addOptions({ modeOption, originOption, roundsOption, figuresOption });
    parser.addHelpOption();
    parser.process(app);
    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    const QString mode = parser.value(modeOption);
    if (mode == QLatin1String("time"))
        return runTime(parser.value(originOption), rounds);
    if (mode == QLatin1String("board"))
        return runBoard(parser.value(originOption), rounds);
    if (!mode.isEmpty())
        return runMemory(mode, parser.value(originOption), rounds);

    QTemporaryDir dir;
    const QString scenario = dir.filePath(QStringLiteral("large.json"));
    bench::StandInGateway sim;
    if (!bench::StandInGateway::generateLarge(scenario)) {
        std::fprintf(stderr, "could not generate the large scenario\n");
        return 1;
    }
    if (!sim.start(scenario))
        return 1;
    const QStringList common { QStringLiteral("--origin"), sim.origin(), QStringLiteral("--rounds") };
    // Memory: each side in a fresh process, as many passes as the time child makes.
    const QString memoryRounds = QString::number(rounds + 2);
    const auto floorMemory = child(
        QStringList { QStringLiteral("--mode"), QStringLiteral("floor") } + common + QStringList { memoryRounds }, 2);
    const auto reloadMemory = child(
        QStringList { QStringLiteral("--mode"), QStringLiteral("reload") } + common + QStringList { memoryRounds }, 2);
    const auto time = child(QStringList { QStringLiteral("--mode"), QStringLiteral("time") } + common
            + QStringList { QString::number(rounds) },
        3);
    const auto board = child(QStringList { QStringLiteral("--mode"), QStringLiteral("board") } + common
            + QStringList { QString::number(rounds) },
        2);
    if (!floorMemory || !reloadMemory || !time) {
        std::fprintf(stderr, "a measurement failed\n");
        return 1;
    }
    const double floorTime = (*time)[0].toDouble();
    const double reloadTime = (*time)[1].toDouble();
    const qint64 floorPeak = (*floorMemory)[0].toLongLong();
    const qint64 reloadPeak = (*reloadMemory)[0].toLongLong();
    const double floorMem = double(floorPeak - (*floorMemory)[1].toLongLong());
    const double reloadMem = double(reloadPeak - (*reloadMemory)[1].toLongLong());

    QTextStream out(stdout);
    out << "reload benchmark: ws-large (2000 commands, 60 employees, 300 feed items, 200 progress lines), fastest of "
        << rounds << " alternated rounds\n";
    out << QStringLiteral("%1 %2 %3 %4\n")
               .arg(QString(), -22)
               .arg(QStringLiteral("floor"), 12)
               .arg(QStringLiteral("reload"), 12)
               .arg(QStringLiteral("ratio"), 8);
    out << QStringLiteral("%1 %2 %3 %4\n")
               .arg(QStringLiteral("wall time (ms)"), -22)
               .arg(floorTime, 12, 'f', 2)
               .arg(reloadTime, 12, 'f', 2)
               .arg(reloadTime / std::max(floorTime, 0.001), 8, 'f', 2);
    out << QStringLiteral("%1 %2 %3 %4\n")
               .arg(QStringLiteral("peak RSS growth (kB)"), -22)
               .arg(floorMem, 12, 'f', 0)
               .arg(reloadMem, 12, 'f', 0)
               .arg(reloadMem / std::max(floorMem, 1.0), 8, 'f', 2);
    out << QStringLiteral("%1 %2 %3\n")
               .arg(QStringLiteral("peak RSS (kB)"), -22)
               .arg(floorPeak, 12)
               .arg(reloadPeak, 12);
    out << "target: reload at most 1.1 x floor\n";
    out << QStringLiteral(
        "a changed command list is read again in %1 ms, its records off the GUI thread (not in the figure)\n")
               .arg((*time)[2].toDouble(), 0, 'f', 2);
    if (board) {
        out << QStringLiteral("live board update after a reload (%1 running cards, none changed): %2 ms median\n")
                   .arg(QString::fromLatin1((*board)[1]))
                   .arg((*board)[0].toDouble(), 0, 'f', 2);
        out << "target: board update under 16 ms\n";
    } else {
        out << "live board update: the measurement failed\n";
    }
    out.flush();

    if (parser.isSet(figuresOption)) {
        const std::optional<double> timeRatio = bench::ratioOf(reloadTime, floorTime);
        // The peak memory above is printed for reading only: the reload keeps
        // the decoded workspace, which the floor drops, so it has no target.
        const QList<bench::Figure> figures {
            { QStringLiteral("status reload, large workspace: wall time"), reloadTime, floorTime, timeRatio,
                QStringLiteral("<= 1.1x floor"), QStringLiteral("ms"), timeRatio && *timeRatio <= 1.1 },
        };
        if (!bench::writeFigures(parser.value(figuresOption), figures))
            return 1;
    }
    return 0;
}
