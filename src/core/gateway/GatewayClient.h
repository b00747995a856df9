#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Failure.h"
#include "core/gateway/NetworkAccess.h"
#include "core/gateway/RequestGate.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <functional>
#include <optional>

// The HTTP side of the status model: finds a live gateway origin for a
// configuration (the recorded address; when that names this machine or one
// on a local network, also this machine's ".local" name and 127.0.0.1) with a
// per-address cache, sends GET and
// POST requests with the workspace's bearer token and this device's id, and
// turns every reply that is not 2xx into a GatewayError. Every reply is read
// within a size cap and an overall deadline. Lives on the GUI thread.
class GatewayClient : public QObject {
    Q_OBJECT
public:
    static constexpr int kRequestTimeoutMs = 4000;
    static constexpr int kProbeTimeoutMs = 2000;
    static constexpr int kDefaultPort = 18091;
    // A JSON reply, and a file a task produced.
    static constexpr NetworkAccess::Bounds kReplyBounds { 8 * 1024 * 1024, 60000 };
    static constexpr NetworkAccess::Bounds kBlobBounds { 32 * 1024 * 1024, 60000 };
    // A liveness probe: its body is not read.
    static constexpr NetworkAccess::Bounds kProbeBounds { 64 * 1024, kProbeTimeoutMs };

    explicit GatewayClient(QObject* parent = nullptr);

    // Called after every fresh resolution: with the origin found, or none when no candidate answered.
    using ResolvedHandler = std::function<void(const CLIConfig& config, const std::optional<QString>& origin)>;
    void setResolvedHandler(ResolvedHandler handler) { m_onResolved = std::move(handler); }
    // The origin last found for a configured address, while it is cached.
    std::optional<QString> resolvedOrigin(const QString& api) const;

    // `path` begins with "/" and is appended to the origin as it is. Every
    // request takes its turn at the gateway's RequestGate, with `priority`;
    // one still waiting there when `requester` goes is not sent.
    QCoro::Task<Result<QByteArray>> get(CLIConfig config, QString path, QString deviceId,
        NetworkAccess::Bounds bounds = kReplyBounds, RequestGate::Priority priority = RequestGate::Priority::Status,
        QObject* requester = nullptr);
    QCoro::Task<Result<QByteArray>> post(CLIConfig config, QString path, QJsonObject body, QString deviceId);

    // The origins to try for a configuration, in order, without duplicates:
    // the configured address; when it names this machine or a machine on a
    // local network (which may be this one under an old lease), also this
    // machine's ".local" name (`hostName`) and 127.0.0.1 on its port. A public
    // address or another host name gets none: its bearer token goes to no
    // machine but the one it names.
    static QStringList candidates(const CLIConfig& config, const QString& hostName);
    // Whether an address names this machine: a loopback address, "localhost",
    // this machine's host name or ".local" name (`hostName`, may be empty) or
    // one of its own network addresses.
    static bool namesThisMachine(const QString& api, const QString& hostName);
    // This machine's ".local" name, to try for an address: asked of Avahi only
    // when the address names this machine or one on a local network (a
    // ".local" name included); empty otherwise, and when there is none.
    // `known` stands in for the asking.
    static QCoro::Task<QString> localHostNameFor(QString api, std::optional<QString> known);
    // "http://<host>:<port>" when the host name (the machine's mDNS name, MdnsHostName) ends in ".local".
    static std::optional<QString> mdnsOrigin(int port, const QString& hostName);
    // The port of a gateway address; kDefaultPort when the address does not
    // parse or names no port (an "https" address without one included).
    static int port(const QString& api);
    // The origin when a phone could reach it; none for loopback addresses.
    static std::optional<QString> phoneReachable(const std::optional<QString>& origin);
    // A transport failure (no HTTP status) in words a user reads.
    // `idleMs`: the request's own limit without a byte, which a silent gateway is said to have passed.
    static QString transportText(const NetworkAccess::Reply& reply, int idleMs = kRequestTimeoutMs);
    // A request with no answer within `ms`: "网关 4 秒内没有回复".
    static QString noAnswerText(int ms);
    // The note shown when the origin found is not the configured address.
    static std::optional<QString> endpointNote(const QString& api, const QString& origin);

    // An id or hash as one path segment; none when it cannot be one ("", ".", "..").
    static std::optional<QString> segment(const QString& id);
    // "/api/workspaces/<workspace>", and below it "/<collection>/<id><tail>";
    // none when the workspace id or `id` cannot be a segment.
    static std::optional<QString> workspacePath(const CLIConfig& config);
    static std::optional<QString> itemPath(
        const CLIConfig& config, const QString& collection, const QString& id, const QString& tail);
    // The -1 error for a request whose address cannot be formed: it names the
    // workspace id or `id` when one of them cannot be a path segment, and
    // otherwise blames the configured address (origin and path are no URL).
    static Failure invalidAddress(const CLIConfig& config, const std::optional<QString>& id = std::nullopt);

    // Lets tests stand in a host name for the ".local" candidate.
    void setHostNameForTesting(const QString& hostName) { m_hostName = hostName; }
    // Lets tests shorten a request's overall deadline.
    void setDeadlineForTesting(int ms) { m_deadlineMs = ms; }

private:
    QCoro::Task<Result<QString>> base(CLIConfig config);
    // Whether the origin answers its health check; `proxyFailure` gets the
    // text when the environment's proxy could not be reached.
    QCoro::Task<bool> alive(QString origin, QString* proxyFailure);
    // Caches an origin that answered and reports it.
    void found(const CLIConfig& config, const QString& origin);
    QCoro::Task<Result<QByteArray>> send(CLIConfig config, QString path, QString deviceId, QByteArray verb,
        std::optional<QByteArray> body, NetworkAccess::Bounds bounds,
        RequestGate::Priority priority = RequestGate::Priority::Status, QObject* requester = nullptr);

    NetworkAccess::Manager* m_nam;
    QHash<QString, QString> m_resolved;
    ResolvedHandler m_onResolved;
    std::optional<QString> m_hostName;
    std::optional<int> m_deadlineMs;
};
