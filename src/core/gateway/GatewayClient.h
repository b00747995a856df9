#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Failure.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkRequest;

// The HTTP side of the status model: finds a live gateway origin for a
// configuration (the recorded address, this machine's ".local" name,
// 127.0.0.1) with a per-address cache, sends GET and POST requests with the
// workspace's bearer token and this device's id, and turns every reply that
// is not 2xx into a GatewayError. Lives on the GUI thread.
class GatewayClient : public QObject {
    Q_OBJECT
public:
    static constexpr int kRequestTimeoutMs = 4000;
    static constexpr int kProbeTimeoutMs = 2000;
    static constexpr int kDefaultPort = 18091;

    explicit GatewayClient(QObject* parent = nullptr);

    // Called after every fresh resolution: with the origin found, or none when no candidate answered.
    using ResolvedHandler = std::function<void(const CLIConfig& config, const std::optional<QString>& origin)>;
    void setResolvedHandler(ResolvedHandler handler) { m_onResolved = std::move(handler); }
    // The origin last found for a configured address, while it is cached.
    std::optional<QString> resolvedOrigin(const QString& api) const;

    // `path` begins with "/" and is appended to the origin as it is.
    QCoro::Task<Result<QByteArray>> get(CLIConfig config, QString path, QString deviceId);
    QCoro::Task<Result<QByteArray>> post(CLIConfig config, QString path, QJsonObject body, QString deviceId);

    // The origins to try for a configuration, in order, without duplicates.
    static QStringList candidates(const CLIConfig& config, const QString& hostName);
    // "http://<host>:<port>" when the host name (the machine's mDNS name, MdnsHostName) ends in ".local".
    static std::optional<QString> mdnsOrigin(int port, const QString& hostName);
    // The port of a gateway address; kDefaultPort when the address does not
    // parse or names no port (an "https" address without one included).
    static int port(const QString& api);
    // The origin when a phone could reach it; none for loopback addresses.
    static std::optional<QString> phoneReachable(const std::optional<QString>& origin);
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

private:
    QCoro::Task<Result<QString>> base(CLIConfig config);
    QCoro::Task<bool> alive(QString origin);
    QCoro::Task<Result<QByteArray>> send(
        CLIConfig config, QString path, QString deviceId, QByteArray verb, std::optional<QByteArray> body);

    QNetworkAccessManager* m_nam;
    QHash<QString, QString> m_resolved;
    ResolvedHandler m_onResolved;
    std::optional<QString> m_hostName;
};
