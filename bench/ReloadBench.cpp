// Measures one Status::reload against the stand-in gateway serving a large
// workspace (2,000 commands, 60 employees, 300 feed items, 200 progress
// lines) and compares it with a floor: the same six requests fetched and
// parsed into JSON documents, with nothing else. Each side runs in its own
// child process so that peak memory is its own. A third child times the live
// task board's update after a reload (50 running commands, none changed).
//
//   tolvarine-bench-reload [--rounds N]

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
#include <QUrl>

#include <QCoroNetworkReply>
#include <QCoroTask>

#include <algorithm>
#include <memory>
#include <cstdio>

namespace {

const QString kWorkspace = QStringLiteral("ws-large");
const QString kToken = QStringLiteral("large-token");

// A /proc/self/status field in kB.
qint64 procStatusKb(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(field)) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            return parts.size() >= 2 ? parts[1].toLongLong() : -1;
        }
    }
    return -1;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

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
    const qint64 baseline = procStatusKb("VmRSS:");
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
    std::printf("%.3f %lld %lld\n", median(times), static_cast<long long>(procStatusKb("VmHWM:")),
        static_cast<long long>(baseline));
    return 0;
}

// Child side of the board figure: prints "<median ms> <running cards>".
int runBoard(const QString& origin, int rounds)
{
    const CLIConfig config = configFor(origin);
    Status status;
    QCoro::waitFor(status.reload(config));
    // Not shown, so the cards' evidence fetches nothing: only the update is timed.
    LiveTaskBoard board(&status, config);
    QList<double> times;
    for (int i = 0; i < rounds; ++i) {
        QCoro::waitFor(status.reload(config));
        QElapsedTimer t;
        t.start();
        board.refresh();
        times.append(t.nsecsElapsed() / 1e6);
    }
    std::printf("%.3f %lld\n", median(times), static_cast<long long>(board.cards().size()));
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
    const QCommandLineOption modeOption(
        QStringLiteral("mode"), QStringLiteral("floor, reload or board (child side)"), QStringLiteral("mode"));
    const QCommandLineOption originOption(
        QStringLiteral("origin"), QStringLiteral("gateway origin (child side)"), QStringLiteral("origin"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("measured rounds per side"),
        QStringLiteral("n"), QStringLiteral("15"));
    parser.addOptions({ modeOption, originOption, roundsOption });
    parser.addHelpOption();
    parser.process(app);
    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    if (parser.isSet(modeOption) && parser.value(modeOption) == QLatin1String("board"))
        return runBoard(parser.value(originOption), rounds);
    if (parser.isSet(modeOption))
        return runMode(parser.value(modeOption), parser.value(originOption), rounds);

    QTemporaryDir dir;
    const QString scenario = dir.filePath(QStringLiteral("large.json"));
    if (QProcess::execute(QStringLiteral(TOLVARINE_GATEWAY_SIM), { QStringLiteral("--generate-large"), scenario })
        != 0) {
        std::fprintf(stderr, "could not generate the large scenario\n");
        return 1;
    }
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(TOLVARINE_GATEWAY_SIM),
        { QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--scenario"), scenario });
    if (!sim.waitForStarted(10000) || !sim.waitForReadyRead(20000)) {
        std::fprintf(stderr, "the stand-in gateway did not start\n");
        return 1;
    }
    const QByteArray first = sim.readLine().trimmed();
    if (!first.startsWith("listening ")) {
        std::fprintf(stderr, "unexpected first line from the stand-in gateway: %s\n", first.constData());
        return 1;
    }
    const QString origin = QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(first.mid(10));

    // Each side starts from a fresh stand-in state: the reload confirms pending tiers.
    const auto floor = measure(QStringLiteral("floor"), origin, rounds);
    const auto reload = measure(QStringLiteral("reload"), origin, rounds);
    QProcess boardChild;
    boardChild.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    boardChild.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--mode"), QStringLiteral("board"), QStringLiteral("--origin"), origin,
            QStringLiteral("--rounds"), QString::number(rounds) });
    const bool boardOk = boardChild.waitForFinished(600000) && boardChild.exitCode() == 0;
    const QList<QByteArray> board = boardChild.readAllStandardOutput().trimmed().split(' ');
    sim.kill();
    sim.waitForFinished();
    if (!floor || !reload) {
        std::fprintf(stderr, "a measurement failed\n");
        return 1;
    }

    const qint64 floorMem = floor->peakKb - floor->baselineKb;
    const qint64 reloadMem = reload->peakKb - reload->baselineKb;
    QTextStream out(stdout);
    out << "reload benchmark: ws-large (2000 commands, 60 employees, 300 feed items, 200 progress lines), median of "
        << rounds << " rounds\n";
    out << QStringLiteral("%1 %2 %3 %4\n")
               .arg(QString(), -22)
               .arg(QStringLiteral("floor"), 12)
               .arg(QStringLiteral("reload"), 12)
               .arg(QStringLiteral("ratio"), 8);
    out << QStringLiteral("%1 %2 %3 %4\n")
               .arg(QStringLiteral("wall time (ms)"), -22)
               .arg(floor->ms, 12, 'f', 2)
               .arg(reload->ms, 12, 'f', 2)
               .arg(reload->ms / std::max(floor->ms, 0.001), 8, 'f', 2);
    out << QStringLiteral("%1 %2 %3 %4\n")
               .arg(QStringLiteral("peak RSS growth (kB)"), -22)
               .arg(floorMem, 12)
               .arg(reloadMem, 12)
               .arg(double(reloadMem) / std::max<qint64>(floorMem, 1), 8, 'f', 2);
    out << QStringLiteral("%1 %2 %3\n")
               .arg(QStringLiteral("peak RSS (kB)"), -22)
               .arg(floor->peakKb, 12)
               .arg(reload->peakKb, 12);
    out << "target: reload at most 1.5 x floor\n";
    if (boardOk && board.size() == 2) {
        out << QStringLiteral("live board update after a reload (%1 running cards, none changed): %2 ms median\n")
                   .arg(QString::fromLatin1(board[1]))
                   .arg(board[0].toDouble(), 0, 'f', 2);
        out << "target: board update under 16 ms\n";
    } else {
        out << "live board update: the measurement failed\n";
    }
    return 0;
}
