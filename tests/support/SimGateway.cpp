#include "SimGateway.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>

#include <csignal>

#include <sys/prctl.h>
#include <unistd.h>

SimGateway::SimGateway(const QString& scenarioPath, quint16 port)
{
    m_process.setProgram(Sim::gateway());
    m_process.setArguments(
        { QStringLiteral("--port"), QString::number(port), QStringLiteral("--scenario"), scenarioPath });
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setStandardInputFile(QProcess::nullDevice());
    // A test that is killed (or an interrupted run) never gets to its
    // destructor: the stand-in ends with the test instead of outliving it.
    // SIGKILL, because a stopped process would keep a SIGTERM pending.
    const pid_t test = ::getpid();
    m_process.setChildProcessModifier([test] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The test may have gone before the line above.
        if (::getppid() != test)
            ::_exit(1);
    });
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return;
    static const QRegularExpression listening(QStringLiteral("^listening (\\d+)\\r?\\n"));
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        if (m_process.canReadLine() || m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())))) {
            m_output += m_process.readAllStandardOutput();
            const auto match = listening.match(QString::fromUtf8(m_output));
            if (match.hasMatch()) {
                m_port = quint16(match.captured(1).toUInt());
                break;
            }
        }
    }
    if (m_port == 0)
        m_output += m_process.readAllStandardError();
}

SimGateway::~SimGateway()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool SimGateway::ok() const
{
    return m_port != 0 && m_process.state() == QProcess::Running;
}

QString SimGateway::origin() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QJsonDocument SimGateway::control(const QByteArray& method, const QString& path, const QJsonValue& body)
{
    m_lastStatus = 0;
    if (!ok())
        return {};
    QString p = path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
    if (!p.startsWith(QLatin1String("/_sim/")))
        p = QStringLiteral("/_sim") + p;

    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(origin() + p));
    request.setTransferTimeout(10000);
    QByteArray payload;
    if (body.isObject())
        payload = QJsonDocument(body.toObject()).toJson(QJsonDocument::Compact);
    else if (body.isArray())
        payload = QJsonDocument(body.toArray()).toJson(QJsonDocument::Compact);
    if (!payload.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QNetworkReply* reply = nam.sendCustomRequest(request, method, payload);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    m_lastStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray data = reply->readAll();
    reply->deleteLater();
    return QJsonDocument::fromJson(data);
}

QJsonArray SimGateway::requests()
{
    return control("GET", QStringLiteral("/_sim/requests")).object().value(QStringLiteral("requests")).toArray();
}

void SimGateway::clearRequests()
{
    control("DELETE", QStringLiteral("/_sim/requests"));
}

void SimGateway::setFault(
    const QByteArray& method, const QString& path, int status, const QByteArray& body, int delayMs, int times)
{
    control("POST", QStringLiteral("/_sim/faults"),
        QJsonObject { { QStringLiteral("method"), QString::fromLatin1(method) }, { QStringLiteral("path"), path },
            { QStringLiteral("status"), status }, { QStringLiteral("body"), QString::fromUtf8(body) },
            { QStringLiteral("delay_ms"), delayMs }, { QStringLiteral("times"), times } });
}

void SimGateway::setStream(
    const QByteArray& method, const QString& path, qint64 bodyBytes, bool chunked, int dripMs, int times)
{
    QJsonObject fault { { QStringLiteral("method"), QString::fromLatin1(method) }, { QStringLiteral("path"), path },
        { QStringLiteral("chunked"), chunked }, { QStringLiteral("drip_ms"), dripMs },
        { QStringLiteral("times"), times } };
    if (bodyBytes >= -1)
        fault.insert(QStringLiteral("body_bytes"), bodyBytes);
    control("POST", QStringLiteral("/_sim/faults"), fault);
}

void SimGateway::clearFaults()
{
    control("DELETE", QStringLiteral("/_sim/faults"));
}

CLIConfig SimGateway::config(const QString& workspace)
{
    const QJsonObject ws = control("GET", QStringLiteral("/_sim/state/") + workspace).object();
    CLIConfig c;
    c.api = origin();
    c.workspace = workspace;
    c.token = ws.value(QStringLiteral("token")).toString();
    const QString name = ws.value(QStringLiteral("name")).toString();
    if (!name.isEmpty())
        c.name = name;
    const QString path = ws.value(QStringLiteral("path")).toString();
    if (!path.isEmpty())
        c.path = path;
    return c;
}

void SimGateway::pair(const TempHome& home, const QStringList& workspaces, bool makeFolders, const QString& root)
{
    for (const QString& ws : workspaces) {
        CLIConfig c = config(ws);
        c.path = home.filePath(QStringLiteral("projects/") + ws);
        if (makeFolders)
            QDir().mkpath(*c.path);
        const QByteArray json = QJsonDocument(c.toJson()).toJson();
        home.writeFile(root + QStringLiteral("/workspaces/%1.json").arg(ws), json);
        if (ws == workspaces.first())
            home.writeFile(root + QStringLiteral("/config.json"), json);
    }
}

SimWorld::SimWorld(const QString& scenarioPath)
    : sim(std::make_unique<SimGateway>(scenarioPath))
{
    qputenv("BRENLOW_SIM_GATEWAY", sim->origin().toUtf8());
}

SimWorld::~SimWorld()
{
    qunsetenv("BRENLOW_SIM_GATEWAY");
    qunsetenv("BRENLOW_SIM_PAIR_WS");
}

QJsonArray matching(const QJsonArray& log, const QString& method, const QString& path)
{
    QJsonArray out;
    for (const QJsonValue& v : log) {
        const QJsonObject r = v.toObject();
        if (r.value(QStringLiteral("method")).toString() == method
            && r.value(QStringLiteral("path")).toString() == path)
            out.append(r);
    }
    return out;
}
