#include "core/gateway/GatewayClient.h"

#include "core/gateway/NetworkAccess.h"
#include "core/platform/CredentialRedaction.h"
#include "core/platform/HostAddress.h"
#include "core/platform/HttpAddress.h"
#include "core/platform/MdnsHostName.h"

#include <QJsonDocument>
#include <QPointer>
#include <QSysInfo>
#include <QUrl>

#include <algorithm>
#include <memory>

namespace {

using NetworkAccess::Reply;
using NetworkAccess::ReplyPtr;

// A URL for origin + path, or none when the text is not a usable URL.
std::optional<QUrl> makeUrl(const QString& text)
{
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

// The request reached the gateway, which did not answer in time or hung up
// before answering: what it did with the request is not known. Nothing was
// sent unless the connection was made and some of the request written (a
// request is never sent twice). For an action, any break after that (garbage
// for a status line, a TLS stream cut off) may also have come after the
// gateway took it.
bool sentUnanswered(const Reply& reply, bool action)
{
    if (action)
        return reply.requestWritten();
    const Reply::Error error = reply.error();
    return error == Reply::Error::Idle || error == Reply::Error::Canceled || error == Reply::Error::Dropped;
}

} // namespace

GatewayClient::GatewayClient(QObject* parent)
    : QObject(parent)
    , m_nam(NetworkAccess::create(this))
{
}

// The transport's own texts are English and name the socket, not the gateway.
QString GatewayClient::transportText(const NetworkAccess::Reply& reply, int idleMs)
{
    // Some of the transport's texts name the URL, a password in it included.
    const QString said = CredentialRedaction::hideUserInfo(reply.errorString());
    switch (reply.error()) {
    case Reply::Error::Idle:
    case Reply::Error::Canceled:
        return GatewayClient::noAnswerText(idleMs);
    case Reply::Error::Refused:
        if (reply.proxyUnreached())
            return QStringLiteral("连不上代理 %1（%2）").arg(CredentialRedaction::shownAddress(reply.proxy()), said);
        return QStringLiteral("连不上网关（%1）").arg(said);
    case Reply::Error::Dropped:
        return QStringLiteral("网关没回完就断开了");
    case Reply::Error::Malformed: // also a body that does not decompress
        return QStringLiteral("网关的回复没能读完（内容坏了）");
    default:
        return QStringLiteral("和网关的连接出了错（%1）").arg(said);
    }
}

QString GatewayClient::noAnswerText(int ms)
{
    return QStringLiteral("网关 %1 秒内没有回复").arg(qMax(1, ms / 1000));
}

std::optional<QString> GatewayClient::resolvedOrigin(const QString& api) const
{
    const auto it = m_resolved.constFind(api);
    if (it == m_resolved.cend())
        return std::nullopt;
    return *it;
}

int GatewayClient::port(const QString& api)
{
    const QUrl url(api);
    const int port = url.isValid() ? url.port() : -1;
    return port > 0 ? port : kDefaultPort;
}

std::optional<QString> GatewayClient::mdnsOrigin(int port, const QString& hostName)
{
    if (!hostName.endsWith(QLatin1String(".local")))
        return std::nullopt;
    return QStringLiteral("http://") + hostName + QLatin1Char(':') + QString::number(port);
}

bool GatewayClient::namesThisMachine(const QString& api, const QString& hostName)
{
    const QString host = QUrl(api).host();
    if (host.isEmpty())
        return false;
    if (HttpAddress::isLoopbackHost(host))
        return true;
    if (const std::optional<HostAddress> address = HostAddress::parse(host)) {
        const QList<HostAddress> own = HostAddress::thisMachine();
        return std::any_of(own.cbegin(), own.cend(), [&](const HostAddress& a) { return a.sameAs(*address); });
    }
    if (!hostName.isEmpty() && host.compare(hostName, Qt::CaseInsensitive) == 0)
        return true;
    const QString localName = QSysInfo::machineHostName();
    return !localName.isEmpty() && host.compare(localName, Qt::CaseInsensitive) == 0;
}

QCoro::Task<QString> GatewayClient::localHostNameFor(QString api, std::optional<QString> known)
{
    // An address on a local network (another ".local" name included) may be
    // this machine's under an old lease or name.
    const bool local = HttpAddress::isLocalNetworkHost(QUrl(api).host());
    if (!local && !namesThisMachine(api, QString()))
        co_return QString();
    QString name = known.value_or(QString());
    if (!known) {
        auto lookup = MdnsHostName::lookup();
        name = (co_await std::move(lookup)).value_or(QString());
    }
    co_return name;
}

QStringList GatewayClient::candidates(const CLIConfig& config, const QString& hostName)
{
    QStringList list { config.api };
    // A gateway on this machine whose recorded LAN address or name has changed
    // (a new lease) still answers on its ".local" name and on 127.0.0.1: both
    // name this machine, so the token goes nowhere else.
    if (!namesThisMachine(config.api, hostName) && !HttpAddress::isLocalNetworkHost(QUrl(config.api).host()))
        return list;
    const int port = GatewayClient::port(config.api);
    if (const auto mdns = mdnsOrigin(port, hostName))
        list.append(*mdns);
    list.append(QStringLiteral("http://127.0.0.1:") + QString::number(port));
    list.removeDuplicates();
    return list;
}

std::optional<QString> GatewayClient::phoneReachable(const std::optional<QString>& origin)
{
    // Every loopback spelling, not only 127.0.0.1: no phone reaches any of them.
    if (!origin || origin->isEmpty() || HttpAddress::isLoopbackHost(QUrl(*origin).host()))
        return std::nullopt;
    return origin;
}

std::optional<QString> GatewayClient::endpointNote(const QString& api, const QString& origin)
{
    if (origin == api)
        return std::nullopt;
    return QStringLiteral("配置里记的是 ") + CredentialRedaction::shownAddress(api)
        + QStringLiteral("（配对当时的地址），") + QStringLiteral("现在够不着；已自动改用 ")
        + CredentialRedaction::shownAddress(origin) + QStringLiteral("。手机那边仍然用配置里那个地址。");
}

std::optional<QString> GatewayClient::segment(const QString& id)
{
    // A dot segment would be resolved away by the URL and address the parent resource.
    if (id.isEmpty() || id == QLatin1String(".") || id == QLatin1String(".."))
        return std::nullopt;
    return QString::fromLatin1(QUrl::toPercentEncoding(id));
}

std::optional<QString> GatewayClient::workspacePath(const CLIConfig& config)
{
    const auto ws = segment(config.workspace);
    if (!ws)
        return std::nullopt;
    return QStringLiteral("/api/workspaces/") + *ws;
}

std::optional<QString> GatewayClient::itemPath(
    const CLIConfig& config, const QString& collection, const QString& id, const QString& tail)
{
    const auto ws = workspacePath(config);
    const auto item = segment(id);
    if (!ws || !item)
        return std::nullopt;
    return *ws + QLatin1Char('/') + collection + QLatin1Char('/') + *item + tail;
}

Failure GatewayClient::invalidAddress(const CLIConfig& config, const std::optional<QString>& id)
{
    QStringList ids { config.workspace };
    if (id)
        ids.append(*id);
    for (const QString& part : std::as_const(ids)) {
        if (!segment(part))
            return Failure::tolvarine(-1, QStringLiteral("编号“") + part + QStringLiteral("”放不进网关请求的路径"));
    }
    return Failure::tolvarine(-1, QStringLiteral("网关地址不合法：") + CredentialRedaction::shownAddress(config.api));
}

QCoro::Task<bool> GatewayClient::alive(QString origin, QString* proxyFailure)
{
    const auto url = makeUrl(origin + QStringLiteral("/healthz"));
    if (!url)
        co_return false;
    NetworkAccess::Request request;
    request.url = *url;
    request.bounds = kProbeBounds;
    request.idleMs = kProbeTimeoutMs;
    // Another origin's 200 says nothing of this one: the transport follows
    // same-origin redirects only.
    QPointer<GatewayClient> self(this);
    ReplyPtr reply(m_nam->send(request));
    co_await reply.get();
    if (!self)
        co_return false;
    if (reply->proxyUnreached())
        *proxyFailure = transportText(*reply);
    co_return reply->error() == Reply::Error::None&& isSuccess(reply->status());
}

void GatewayClient::found(const CLIConfig& config, const QString& origin)
{
    m_resolved.insert(config.api, origin);
    if (m_onResolved)
        m_onResolved(config, origin);
}

QCoro::Task<Result<QString>> GatewayClient::base(CLIConfig config)
{
    QPointer<GatewayClient> self(this);
    if (const std::optional<QString> why = NetworkAccess::unavailable())
        co_return Failure::transport(*why);
    // An address that has just not answered is not asked again in this round.
    QString failed;
    // The environment's proxy, when it is what could not be reached.
    QString proxyFailure;
    const auto cached = m_resolved.constFind(config.api);
    if (cached != m_resolved.constEnd()) {
        const QString origin = *cached;
        const bool ok = co_await alive(origin, &proxyFailure);
        if (!self)
            co_return Failure::transport(QStringLiteral("网关请求被取消"));
        if (ok)
            co_return origin;
        failed = origin;
    }
    // The configured address first: it never waits on the ".local" lookup.
    const bool configured = failed != config.api && co_await alive(config.api, &proxyFailure);
    if (!self)
        co_return Failure::transport(QStringLiteral("网关请求被取消"));
    if (configured) {
        found(config, config.api);
        co_return QString(config.api);
    }
    auto naming = localHostNameFor(config.api, m_hostName);
    const QString hostName = co_await std::move(naming);
    if (!self)
        co_return Failure::transport(QStringLiteral("网关请求被取消"));
    const QStringList list = candidates(config, hostName);
    for (const QString& candidate : list.mid(1)) {
        if (candidate == failed)
            continue;
        const bool ok = co_await alive(candidate, &proxyFailure);
        if (!self)
            co_return Failure::transport(QStringLiteral("网关请求被取消"));
        if (!ok)
            continue;
        found(config, candidate);
        co_return candidate;
    }
    m_resolved.remove(config.api);
    if (m_onResolved)
        m_onResolved(config, std::nullopt);
    QStringList shown;
    for (const QString& candidate : list)
        shown.append(CredentialRedaction::shownAddress(candidate));
    if (!proxyFailure.isEmpty())
        co_return Failure::tolvarine(-2, proxyFailure + QStringLiteral("。试过：") + shown.join(QStringLiteral("、")));
    co_return Failure::tolvarine(-2,
        QStringLiteral("连不上网关。试过：") + shown.join(QStringLiteral("、"))
            + QStringLiteral("。网关是否在跑：docker compose ps"));
}

QCoro::Task<Result<QByteArray>> GatewayClient::send(CLIConfig config, QString path, QString deviceId, QByteArray verb,
    std::optional<QByteArray> body, NetworkAccess::Bounds bounds, RequestGate::Priority priority, QObject* requester)
{
    QPointer<GatewayClient> self(this);
    auto turn = RequestGate::shared().enter(config.api, priority, this, requester);
    const RequestGate::Pass pass = co_await std::move(turn);
    if (!self || !pass)
        co_return Failure::transport(QStringLiteral("网关请求被取消"));
    const Result<QString> origin = co_await base(config);
    if (!self)
        co_return Failure::transport(QStringLiteral("网关请求被取消"));
    if (!origin)
        co_return origin.failure();
    const auto url = makeUrl(*origin + path);
    if (!url)
        co_return invalidAddress(config);

    NetworkAccess::Request request;
    request.url = *url;
    request.verb = verb;
    request.body = std::move(body);
    // The request as a whole may take 60 seconds, but the gateway must answer
    // within 4; the shorter limit is the one that bites. The bearer token
    // does not follow a redirect to another origin: none is followed.
    request.idleMs = kRequestTimeoutMs;
    request.headers = { { "Authorization", "Bearer " + config.token.toUtf8() }, { "X-Device-Id", deviceId.toUtf8() } };
    if (request.body)
        request.headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "application/json"));
    if (m_deadlineMs)
        bounds.deadlineMs = *m_deadlineMs;
    request.bounds = bounds;
    ReplyPtr reply(m_nam->send(request));
    co_await reply.get();
    if (!self)
        co_return Failure::transport(QStringLiteral("网关请求被取消"));

    switch (reply->error()) {
    case Reply::Error::TooLarge:
        co_return Failure::transport(QStringLiteral("网关的") + NetworkAccess::tooLargeText(bounds.maxBytes));
    case Reply::Error::Deadline:
        co_return Failure::unanswered(noAnswerText(bounds.deadlineMs));
    default:
        break;
    }
    const int status = reply->status();
    const QByteArray data = reply->take();
    if (status == 0)
        co_return sentUnanswered(*reply, request.body.has_value()) ? Failure::unanswered(transportText(*reply))
                                                                   : Failure::transport(transportText(*reply));
    if (isSuccess(status)) {
        // A 2xx whose body was cut off (connection dropped, idle limit) is no
        // answer: its partial body must not pass for the whole one.
        if (reply->error() != Reply::Error::None)
            co_return Failure::unanswered(transportText(*reply));
        co_return data;
    }
    co_return Failure::gateway(GatewayError::fromReply(status, data, CLIConfig::heldTokens() << config.token));
}

QCoro::Task<Result<QByteArray>> GatewayClient::get(CLIConfig config, QString path, QString deviceId,
    NetworkAccess::Bounds bounds, RequestGate::Priority priority, QObject* requester)
{
    return send(std::move(config), std::move(path), std::move(deviceId), QByteArrayLiteral("GET"), std::nullopt, bounds,
        priority, requester);
}

QCoro::Task<Result<QByteArray>> GatewayClient::post(CLIConfig config, QString path, QJsonObject body, QString deviceId)
{
    return send(std::move(config), std::move(path), std::move(deviceId), QByteArrayLiteral("POST"),
        QJsonDocument(body).toJson(QJsonDocument::Compact), kReplyBounds);
}
