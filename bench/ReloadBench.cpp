// Measures one Status::reload against the stand-in gateway serving a large
// workspace (2,000 commands, 60 employees, 300 feed items, 200 progress
// lines) and compares it with a floor: the same six requests fetched and
// parsed into JSON documents, with nothing else. Each side runs in its own
// child process so that peak memory is its own; the two sides alternate, a few
// children each, so that a change in the machine's load falls on both.
//
//   tolvarine-bench-reload [--rounds N] [--figures FILE]

#include "BenchSupport.h"

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Replies.h"
#include "core/gateway/Status.h"
#include "core/gateway/StatusRules.h"

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
#include <QUrl>

#include <QCoroNetworkReply>
#include <QCoroTask>

#include <algorithm>
#include <cstdio>

namespace {

const QString kWorkspace = QStringLiteral("ws-large");
const QString kToken = QStringLiteral("large-token");

CLIConfig configFor(const QString& origin)
{
    CLIConfig c;
    c.api = origin;
    c.workspace = kWorkspace;
    c.token = kToken;
    c.device = QStringLiteral("bench-device");
    return c;
}

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

// Child side: runs one mode and prints "<median ms> <peak kB> <baseline kB>".
int runMode(const QString& mode, const QString& origin, int rounds)
{
    const CLIConfig config = configFor(origin);
    const qint64 baseline = bench::procStatusKb(0, "VmRSS:");
    QList<double> times;
    if (mode == QLatin1String("reload")) {
        Status status;
        for (int i = 0; i < rounds + 2; ++i) {
            QElapsedTimer t;
            t.start();
            QCoro::waitFor(status.reload(config));
            if (i >= 2) // the first passes confirm pending tiers and warm the connection
                times.append(t.nsecsElapsed() / 1e6);
        }
        if (status.commands().size() < 2000 || status.commandsError())
            qFatal(
                "reload: the large workspace did not load: %s", qPrintable(status.commandsError().value_or(QString())));
    } else {
        Floor floor(config);
        const QByteArray body = QCoro::waitFor(
            floor.fetch(QStringLiteral("/api/workspaces/") + kWorkspace + QStringLiteral("/commands")));
        const auto decoded = replies::decodeCommands(body);
        const auto focal = decoded ? rules::focalCommand(decoded->commands) : std::nullopt;
        if (!focal)
            qFatal("floor: no command to follow");
        for (int i = 0; i < rounds + 2; ++i) {
            QElapsedTimer t;
            t.start();
            QCoro::waitFor(floor.run(focal->id));
            if (i >= 2)
                times.append(t.nsecsElapsed() / 1e6);
        }
    }
    std::printf("%.3f %lld %lld\n", bench::median(times), static_cast<long long>(bench::procStatusKb(0, "VmHWM:")),
        static_cast<long long>(baseline));
    return 0;
}

struct Measured {
    double ms = 0;
    qint64 peakKb = 0;
    qint64 baselineKb = 0;
};

std::optional<Measured> measure(const QString& mode, const QString& origin, int rounds)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--mode"), mode, QStringLiteral("--origin"), origin, QStringLiteral("--rounds"),
            QString::number(rounds) });
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        return std::nullopt;
    const QList<QByteArray> parts = child.readAllStandardOutput().trimmed().split(' ');
    if (parts.size() != 3)
        return std::nullopt;
    return Measured { parts[0].toDouble(), parts[1].toLongLong(), parts[2].toLongLong() };
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption modeOption(
        QStringLiteral("mode"), QStringLiteral("floor or reload (child side)"), QStringLiteral("mode"));
    const QCommandLineOption originOption(
        QStringLiteral("origin"), QStringLiteral("gateway origin (child side)"), QStringLiteral("origin"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("measured rounds per side"),
        QStringLiteral("n"), QStringLiteral("15"));
    const QCommandLineOption figuresOption(
        QStringLiteral("figures"), QStringLiteral("write the figures here"), QStringLiteral("file"));
    parser.addOptions({ modeOption, originOption, roundsOption, figuresOption });
    parser.addHelpOption();
    parser.process(app);
    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    if (parser.isSet(modeOption))
        return runMode(parser.value(modeOption), parser.value(originOption), rounds);

    QTemporaryDir dir;
    const QString scenario = dir.filePath(QStringLiteral("large.json"));
    bench::StandInGateway sim;
    if (!bench::StandInGateway::generateLarge(scenario)) {
        std::fprintf(stderr, "could not generate the large scenario\n");
        return 1;
    }
    if (!sim.start(scenario))
        return 1;
    const QString origin = sim.origin();

    // Up to three children a side, alternating, the rounds shared out between them.
    const int children = std::min(rounds, 3);
    const int perChild = (rounds + children - 1) / children;
    QList<double> floorMs, reloadMs, floorGrowth, reloadGrowth, floorPeak, reloadPeak;
    for (int i = 0; i < children; ++i) {
        const auto floor = measure(QStringLiteral("floor"), origin, perChild);
        const auto reload = measure(QStringLiteral("reload"), origin, perChild);
        if (!floor || !reload) {
            std::fprintf(stderr, "a measurement failed\n");
            return 1;
        }
        floorMs.append(floor->ms);
        reloadMs.append(reload->ms);
        floorGrowth.append(double(floor->peakKb - floor->baselineKb));
        reloadGrowth.append(double(reload->peakKb - reload->baselineKb));
        floorPeak.append(double(floor->peakKb));
        reloadPeak.append(double(reload->peakKb));
    }
    const double floorTime = bench::median(floorMs);
    const double reloadTime = bench::median(reloadMs);
    const double floorMem = bench::median(floorGrowth);
    const double reloadMem = bench::median(reloadGrowth);

    QTextStream out(stdout);
    out << "reload benchmark: ws-large (2000 commands, 60 employees, 300 feed items, 200 progress lines), median of "
        << children * perChild << " rounds\n";
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
               .arg(bench::median(floorPeak), 12, 'f', 0)
               .arg(bench::median(reloadPeak), 12, 'f', 0);
    out << "target: reload at most 1.1 x floor\n";
    out.flush();

    if (parser.isSet(figuresOption)) {
        const std::optional<double> timeRatio = bench::ratioOf(reloadTime, floorTime);
        const std::optional<double> memRatio = bench::ratioOf(reloadMem, floorMem);
        const QList<bench::Figure> figures {
            { QStringLiteral("status reload, large workspace: wall time"), reloadTime, floorTime, timeRatio,
                QStringLiteral("<= 1.1x floor"), QStringLiteral("ms"), timeRatio && *timeRatio <= 1.1 },
            { QStringLiteral("status reload, large workspace: peak RSS growth"), reloadMem / 1024.0, floorMem / 1024.0,
                memRatio, QStringLiteral("<= 1.1x floor"), QStringLiteral("MB"), memRatio && *memRatio <= 1.1 },
        };
        if (!bench::writeFigures(parser.value(figuresOption), figures))
            return 1;
    }
    return 0;
}
