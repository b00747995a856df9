#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace bench {

QJsonObject Figure::toJson() const
{
    return QJsonObject {
        { QStringLiteral("figure"), figure },
        { QStringLiteral("ours"), ours },
        { QStringLiteral("floor"), floor },
        { QStringLiteral("ratio"), ratio ? QJsonValue(*ratio) : QJsonValue(QJsonValue::Null) },
        { QStringLiteral("target"), target },
        { QStringLiteral("unit"), unit },
        { QStringLiteral("met"), met },
    };
}

Figure Figure::fromJson(const QJsonObject& o)
{
    Figure f;
    f.figure = o.value(QStringLiteral("figure")).toString();
    f.ours = o.value(QStringLiteral("ours")).toDouble();
    f.floor = o.value(QStringLiteral("floor")).toDouble();
    if (o.value(QStringLiteral("ratio")).isDouble())
        f.ratio = o.value(QStringLiteral("ratio")).toDouble();
    f.target = o.value(QStringLiteral("target")).toString();
    f.unit = o.value(QStringLiteral("unit")).toString();
    f.met = o.value(QStringLiteral("met")).toBool();
    return f;
}

std::optional<double> ratioOf(double ours, double floor)
{
    if (floor <= 0)
        return std::nullopt;
    return ours / floor;
}

bool writeFigures(const QString& path, const QList<Figure>& figures)
{
    QJsonArray list;
    for (const Figure& f : figures)
        list.append(f.toJson());
    QSaveFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(QJsonDocument(list).toJson()) >= 0 && out.commit();
}

std::optional<QList<Figure>> readFigures(const QString& path)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(in.readAll());
    if (!doc.isArray())
        return std::nullopt;
    QList<Figure> out;
    for (const QJsonValue& v : doc.array())
        out.append(Figure::fromJson(v.toObject()));
    return out;
}

qint64 monotonicNs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double fastest(const QList<double>& values)
{
    return values.isEmpty() ? 0 : *std::min_element(values.cbegin(), values.cend());
}

void nameApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tolvarine"));
    QCoreApplication::setApplicationName(QStringLiteral("Tolvarine Desktop"));
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        spin(10);
    }
    return true;
}

namespace {

QString procFile(qint64 pid, const char* name)
{
    return pid ? QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name))
               : QStringLiteral("/proc/self/") + QLatin1String(name);
}

} // namespace

qint64 procStatusKb(qint64 pid, const char* field)
{
    QFile f(procFile(pid, "status"));
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

std::optional<double> cpuMs(qint64 pid)
{
    QFile f(procFile(pid, "stat"));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray stat = f.readAll();
    // The command name is in parentheses and may hold spaces: fields count from after it.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).simplified().split(' ');
    // Fields 14 and 15 of the whole line (utime, stime) are 11 and 12 after the name.
    if (fields.size() < 13)
        return std::nullopt;
    bool okUser = false;
    bool okSystem = false;
    const qint64 ticks = fields[11].toLongLong(&okUser) + fields[12].toLongLong(&okSystem);
    const long perSecond = sysconf(_SC_CLK_TCK);
    if (!okUser || !okSystem || perSecond <= 0)
        return std::nullopt;
    return double(ticks) * 1000.0 / double(perSecond);
}

QString gatewaySim()
{
    return QStringLiteral(TOLVARINE_GATEWAY_SIM);
}

QString companionSim()
{
    return QStringLiteral(TOLVARINE_COMPANION_SIM);
}

StandInGateway::~StandInGateway()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool StandInGateway::start(const QString& scenarioPath)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(
        gatewaySim(), { QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--scenario"), scenarioPath });
    if (!m_process.waitForStarted(10000) || !m_process.waitForReadyRead(20000)) {
        std::fprintf(stderr, "the stand-in gateway did not start\n");
        return false;
    }
    const QByteArray first = m_process.readLine().trimmed();
    if (!first.startsWith("listening ")) {
        std::fprintf(stderr, "unexpected first line from the stand-in gateway: %s\n", first.constData());
        return false;
    }
    m_origin = QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(first.mid(10));
    return true;
}

namespace {

// One request on a connection of its own; the status and the body.
std::optional<std::pair<int, QByteArray>> request(
    const QString& origin, const char* method, const QString& path, const QByteArray& body)
{
    const QUrl url(origin);
    QTcpSocket socket;
    socket.connectToHost(url.host(), quint16(url.port()));
    if (!socket.waitForConnected(10000))
        return std::nullopt;
    QByteArray head = QByteArray(method) + ' ' + path.toUtf8() + " HTTP/1.1\r\nHost: " + url.authority().toUtf8()
        + "\r\nConnection: close\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n";
    socket.write(head + body);
    QByteArray reply;
    qsizetype headerEnd = -1;
    qint64 length = -1;
    while (headerEnd < 0 || reply.size() < headerEnd + 4 + length) {
        if (!socket.waitForReadyRead(60000))
            break;
        reply += socket.readAll();
        if (headerEnd < 0 && (headerEnd = reply.indexOf("\r\n\r\n")) >= 0) {
            for (const QByteArray& line : reply.left(headerEnd).split('\n')) {
                if (line.toLower().startsWith("content-length:"))
                    length = line.mid(15).trimmed().toLongLong();
            }
            if (length < 0)
                return std::nullopt;
        }
    }
    if (headerEnd < 0 || reply.size() < headerEnd + 4 + length)
        return std::nullopt;
    const QList<QByteArray> status = reply.left(reply.indexOf("\r\n")).split(' ');
    if (status.size() < 2)
        return std::nullopt;
    return std::make_pair(status.at(1).toInt(), reply.mid(headerEnd + 4, length));
}

} // namespace

bool StandInGateway::control(const char* method, const QString& path, const QByteArray& body) const
{
    const auto answer = request(m_origin, method, path, body);
    return answer && answer->first >= 200 && answer->first < 300;
}

std::optional<QByteArray> StandInGateway::read(const QString& path) const
{
    const auto answer = request(m_origin, "GET", path, {});
    if (!answer || answer->first != 200)
        return std::nullopt;
    return answer->second;
}

bool StandInGateway::generateLarge(const QString& path)
{
    return QProcess::execute(gatewaySim(), { QStringLiteral("--generate-large"), path }) == 0;
}

QString StandInGateway::demoScenario()
{
    return QStringLiteral(TOLVARINE_SCENARIO_DIR "/demo.json");
}

namespace {
CLIConfig workspaceAt(const QString& origin, const QString& id, const QString& token, const QString& name)
{
    CLIConfig c;
    c.api = origin;
    c.workspace = id;
    c.token = token;
    c.name = name;
    c.device = QStringLiteral("bench-device");
    return c;
}
} // namespace

CLIConfig largeWorkspace(const QString& origin)
{
    return workspaceAt(
        origin, QStringLiteral("ws-large"), QStringLiteral("large-token"), QStringLiteral("Large Workspace"));
}

CLIConfig demoWorkspace(const QString& origin)
{
    return workspaceAt(origin, QStringLiteral("ws-demo"), QStringLiteral("demo-token"), QStringLiteral("Demo Shop"));
}

ScratchHome::ScratchHome()
    : m_dir(QDir::tempPath() + QStringLiteral("/tolvarine-bench.XXXXXX"))
{
    if (!m_dir.isValid())
        return;
    for (const char* sub : { ".config", ".cache", ".local/share", ".local/bin", "run", "brenlow-sim" })
        QDir(m_dir.path()).mkpath(QLatin1String(sub));
    QFile::setPermissions(
        m_dir.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::link(companionSim(), m_dir.filePath(QStringLiteral(".local/bin/brenlow")));
}

QString ScratchHome::steeringDir() const
{
    return m_dir.filePath(QStringLiteral("brenlow-sim"));
}

CLIConfig ScratchHome::pair(CLIConfig config) const
{
    config.path = m_dir.filePath(QStringLiteral("projects/") + config.workspace);
    QDir().mkpath(*config.path);
    const QByteArray json = QJsonDocument(config.toJson()).toJson();
    QDir().mkpath(m_dir.filePath(QStringLiteral(".tolvarine/workspaces")));
    for (const QString& name : { QStringLiteral(".tolvarine/workspaces/%1.json").arg(config.workspace),
             QStringLiteral(".tolvarine/config.json") }) {
        QFile f(m_dir.filePath(name));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(json);
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    return config;
}

void ScratchHome::steer(const QString& name, const QByteArray& content) const
{
    QFile f(steeringDir() + QLatin1Char('/') + name);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}

QProcessEnvironment ScratchHome::environment(const QString& gateway, bool steered) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral(".config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.filePath(QStringLiteral(".cache")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral(".local/share")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("TOLVARINE_HOME"));
    if (gateway.isEmpty())
        env.remove(QStringLiteral("BRENLOW_SIM_GATEWAY"));
    else
        env.insert(QStringLiteral("BRENLOW_SIM_GATEWAY"), gateway);
    if (steered)
        env.insert(QStringLiteral("BRENLOW_SIM_DIR"), steeringDir());
    else
        env.remove(QStringLiteral("BRENLOW_SIM_DIR"));
    return env;
}

void ScratchHome::enter(const QString& gateway, bool steered) const
{
    const QProcessEnvironment env = environment(gateway, steered);
    for (const char* name : { "HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR",
             "QT_QPA_PLATFORM", "TOLVARINE_HOME", "BRENLOW_SIM_GATEWAY", "BRENLOW_SIM_DIR" }) {
        const QString key = QLatin1String(name);
        if (env.contains(key))
            qputenv(name, env.value(key).toLocal8Bit());
        else
            qunsetenv(name);
    }
}

} // namespace bench
