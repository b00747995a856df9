#pragma once

#include "SimTool.h"
#include "TempHome.h"
#include "core/gateway/CLIConfig.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QProcess>
#include <QString>

#include <memory>

// The stand-in gateway for one test: started on a free loopback port with a
// scenario, killed when the fixture goes, or when the test's process does. The control calls block on a local
// event loop, which is fine in tests only.
class SimGateway {
public:
    // Starts the stand-in on a free loopback port with the scenario; waits (bounded) until it listens.
    // A non-zero `port` asks for that port instead (ok() is false when it is taken).
    explicit SimGateway(const QString& scenarioPath = Sim::scenario(QStringLiteral("demo.json")), quint16 port = 0);
    ~SimGateway(); // kills it
    SimGateway(const SimGateway&) = delete;
    SimGateway& operator=(const SimGateway&) = delete;

    bool ok() const; // started and listening
    quint16 port() const { return m_port; }
    QString origin() const; // "http://127.0.0.1:<port>"
    qint64 pid() const { return m_process.processId(); }

    // One call of the control API under /_sim/ (path with or without that
    // prefix); the reply body as JSON (null when the call failed).
    QJsonDocument control(const QByteArray& method, const QString& path, const QJsonValue& body = {});
    // The request log: {"method","path","query","headers","body"} per request,
    // "path" and "query" as sent (percent-encoded), header names lower-case.
    QJsonArray requests();
    void clearRequests();
    // Answers requests with `method` to `path` (exact, or a prefix when it
    // ends with "*") with `status` and `body` after `delayMs`; status 0 keeps
    // the normal reply and only delays it; times -1 is forever. A 3xx status
    // takes the body as the address it redirects to.
    void setFault(const QByteArray& method, const QString& path, int status, const QByteArray& body = {},
        int delayMs = 0, int times = -1);
    // Sends the replies to `method` and `path` (as for setFault, with the
    // normal status and body) piece by piece: `bodyBytes` bytes of filler
    // instead of the body when not negative (-2 keeps the body, -1 is a body
    // without end), in chunks without a length when `chunked`, and one byte
    // every `dripMs` when that is set.
    void setStream(
        const QByteArray& method, const QString& path, qint64 bodyBytes, bool chunked, int dripMs = 0, int times = -1);
    void clearFaults();
    // A CLIConfig for a scenario workspace (api = origin(), token from the scenario).
    CLIConfig config(const QString& workspace = QStringLiteral("ws-demo"));
    // Writes the companion tool's pairing files for scenario workspaces under ~/<root>:
    // workspaces/<id>.json for each, config.json for the first (the current one). Each is
    // paired at ~/projects/<id>, a folder made here unless `makeFolders` is false.
    void pair(const TempHome& home, const QStringList& workspaces = { QStringLiteral("ws-demo") },
        bool makeFolders = true, const QString& root = QStringLiteral(".tolvarine"));

    // The HTTP status of the last control call (0 when it did not arrive).
    int lastStatus() const { return m_lastStatus; }
    // What the stand-in printed, for diagnosing a start that failed.
    QByteArray output() const { return m_output; }

private:
    QProcess m_process;
    quint16 m_port = 0;
    int m_lastStatus = 0;
    QByteArray m_output;
};

// What a test of the whole window stands on: a temporary home, the stand-in
// tool in it and the stand-in gateway, which the tool talks to
// (BRENLOW_SIM_GATEWAY) until the fixture goes.
struct SimWorld {
    explicit SimWorld(const QString& scenarioPath = Sim::scenario(QStringLiteral("demo.json")));
    ~SimWorld(); // also forgets BRENLOW_SIM_PAIR_WS
    SimWorld(const SimWorld&) = delete;
    SimWorld& operator=(const SimWorld&) = delete;
    void pair(const QStringList& workspaces = { QStringLiteral("ws-demo") }, bool makeFolders = true,
        const QString& root = QStringLiteral(".tolvarine"))
    {
        sim->pair(home, workspaces, makeFolders, root);
    }

    TempHome home;
    SimTool tool { home };
    std::unique_ptr<SimGateway> sim;
};

// The entries of a request log whose method and path match.
QJsonArray matching(const QJsonArray& log, const QString& method, const QString& path);
