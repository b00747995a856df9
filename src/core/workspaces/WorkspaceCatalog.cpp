#include "core/workspaces/WorkspaceCatalog.h"

#include "core/gateway/CLI.h"
#include "core/gateway/GatewayClient.h"
#include "core/gateway/NetworkAccess.h"
#include "core/platform/DeskCrumbs.h"
#include "core/platform/TolvarinePaths.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QSettings>
#include <QUrl>

#include <QCoroNetworkReply>

#include <algorithm>
#include <memory>

namespace {

// "name.json" (case-sensitive); a bare ".json" is a hidden file without an extension.
bool isPairingFile(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && QStringView(fileName).mid(dot + 1) == QLatin1String("json");
}

// An internet date-time without fractional seconds: date, "T", time, zone.
std::optional<QDateTime> parseExpiry(const QString& text)
{
    static const QRegularExpression shape(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(Z|[+-]\d{2}:\d{2})$)"));
    if (!shape.match(text).hasMatch())
        return std::nullopt;
    const QDateTime at = QDateTime::fromString(text, Qt::ISODate);
    if (!at.isValid())
        return std::nullopt;
    return at;
}

// Percent-encodes everything but the characters a query value or fragment
// may carry literally; "&" and "=" are kept literal only in the fragment.
QString encodeComponent(const QString& value, bool fragment)
{
    const QByteArray keep = fragment ? QByteArrayLiteral("!$&'()*+,;=:@/?") : QByteArrayLiteral("!$'()*+,;:@/?");
    return QString::fromLatin1(QUrl::toPercentEncoding(value, keep));
}

} // namespace

WorkspaceCatalog::WorkspaceCatalog(QObject* parent)
    : QObject(parent)
    , m_nam(NetworkAccess::create(this))
    , m_selectionStore(QSettings().fileName(), [](const QString& file, const QByteArray& id) {
        QSettings(file, QSettings::NativeFormat).setValue(QLatin1String(kSelectionKey), QString::fromUtf8(id));
    })
{
}

void WorkspaceCatalog::setSelectedID(const QString& id)
{
    // Stored only when it changes: every reload settles the selection.
    if (!m_storedSelection) {
        const QVariant stored = QSettings().value(QLatin1String(kSelectionKey));
        m_storedSelection = stored.typeId() == QMetaType::QString ? stored.toString() : QString();
    }
    if (*m_storedSelection != id) {
        m_storedSelection = id;
        m_selectionStore.write(id.toUtf8());
    }
    if (id == m_selectedID)
        return;
    m_selectedID = id;
    emit selectionChanged();
}

std::optional<WorkspaceRecord> WorkspaceCatalog::selected() const
{
    for (const WorkspaceRecord& r : m_records) {
        if (r.id() == m_selectedID)
            return r;
    }
    if (!m_records.isEmpty())
        return m_records.first();
    return std::nullopt;
}

void WorkspaceCatalog::setPublishEndpoint(const std::optional<QString>& endpoint)
{
    m_publishEndpoint = endpoint;
}

QCoro::Task<> WorkspaceCatalog::reload(bool syncCurrent)
{
    if (syncCurrent) {
        // The tool refreshes the pairing files; what it says does not matter,
        // and a hung tool is stopped at the time limit instead of holding us.
        QPointer<WorkspaceCatalog> self(this);
        auto task = CLI::runAsync(QStringList { QStringLiteral("workspaces") }, std::nullopt, std::nullopt,
            std::nullopt, m_syncTimeLimit, this);
        co_await std::move(task);
        if (!self)
            co_return;
    }
    reloadFiles();
}

bool WorkspaceCatalog::anyPaired()
{
    return !readFiles().isEmpty();
}

QMap<QString, CLIConfig> WorkspaceCatalog::readFiles()
{
    // Keyed by workspace id: the first file seen for an id wins, and records
    // whose names compare equal come out in id order.
    QMap<QString, CLIConfig> byID;
    for (const QString& folder : TolvarinePaths::pairingFolders()) {
        const QDir d(folder + QStringLiteral("/workspaces"));
        if (!d.exists())
            continue;
        const QFileInfoList entries = d.entryInfoList(QDir::Files | QDir::Hidden, QDir::Unsorted);
        for (const QFileInfo& entry : entries) {
            if (!isPairingFile(entry.fileName()))
                continue;
            const auto config = CLIConfig::fromFile(entry.filePath());
            if (config && !byID.contains(config->workspace))
                byID.insert(config->workspace, *config);
        }
    }
    if (const auto current = CLIConfig::current())
        byID.insert(current->workspace, *current);
    return byID;
}

void WorkspaceCatalog::reloadFiles()
{
    const QMap<QString, CLIConfig> byID = readFiles();
    QList<WorkspaceRecord> records;
    for (const CLIConfig& c : std::as_const(byID))
        records.append(WorkspaceRecord { c });
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(records.begin(), records.end(), [&collator](const WorkspaceRecord& a, const WorkspaceRecord& b) {
        return collator.compare(a.config.displayName(), b.config.displayName()) < 0;
    });
    m_records = records;
    m_loaded = true;
    emit recordsChanged();

    const QVariant stored = QSettings().value(QLatin1String(kSelectionKey));
    const QString saved = stored.typeId() == QMetaType::QString ? stored.toString() : QString();
    const auto has = [this](const QString& id) {
        return std::any_of(
            m_records.cbegin(), m_records.cend(), [&id](const WorkspaceRecord& r) { return r.id() == id; });
    };
    if (has(m_selectedID))
        return;
    if (has(saved)) {
        setSelectedID(saved);
        return;
    }
    if (const auto current = CLIConfig::current()) {
        setSelectedID(current->workspace);
        return;
    }
    setSelectedID(m_records.isEmpty() ? QString() : m_records.first().id());
}

QString WorkspaceCatalog::buildPairLink(const QString& deviceId, const QString& origin, const QString& pairToken)
{
    return QStringLiteral("tolvarine://pair-device?v=1&device=") + encodeComponent(deviceId, false)
        + QStringLiteral("&api=") + encodeComponent(origin, false) + QStringLiteral("#p=")
        + encodeComponent(pairToken, true);
}

void WorkspaceCatalog::failPairLink(const QString& text)
{
    // A failed refresh never leaves an older (possibly expired) link on show.
    m_pairLink.reset();
    m_pairLinkError = text;
    emit pairLinkChanged();
}

QCoro::Task<> WorkspaceCatalog::refreshPairLink()
{
    m_pairLinkError.reset();
    if (m_records.isEmpty()) {
        failPairLink(QStringLiteral("这台机器还没有任何工作区"));
        co_return;
    }

    const CLIConfig cfg = CLIConfig::current().value_or(m_records.first().config);
    const QString device = cfg.deviceId();
    const int port = GatewayClient::port(cfg.api);
    QString origin = cfg.api;
    if (m_publishEndpoint)
        origin = *m_publishEndpoint;
    else if (const auto mdns = GatewayClient::mdnsOrigin(port, m_hostName.value_or(CLIConfig::hostname())))
        origin = *mdns;

    QJsonArray workspaces;
    for (const WorkspaceRecord& r : std::as_const(m_records))
        workspaces.append(QJsonObject { { QStringLiteral("workspace_uuid"), r.config.workspace },
            { QStringLiteral("access_token"), r.config.token } });
    const QJsonObject body { { QStringLiteral("device_id"), device }, { QStringLiteral("workspaces"), workspaces } };

    const QUrl url(origin + QStringLiteral("/api/pair/start"), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        failPairLink(QStringLiteral("网关地址不合法：") + origin);
        co_return;
    }

    QNetworkRequest request(url);
    request.setTransferTimeout(kPairTimeoutMs);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("X-Device-Id", device.toUtf8());
    // The one gateway request without a bearer token: the access tokens travel in the body,
    // so a redirect (a 307 resends the body) may not carry them to another origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    QPointer<WorkspaceCatalog> self(this);
    NetworkAccess::ReplyPtr reply(m_nam->post(request, QJsonDocument(body).toJson(QJsonDocument::Compact)));
    co_await reply.get();
    if (!self)
        co_return;

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() && reply->error() != QNetworkReply::NoError) {
        failPairLink(QStringLiteral("取配对码失败：") + reply->errorString());
        co_return;
    }
    const int code = status.isValid() ? status.toInt() : 0;
    if (code < 200 || code > 299) {
        failPairLink(QStringLiteral("服务端拒绝了配对请求（HTTP ") + QString::number(code) + QStringLiteral("）"));
        co_return;
    }

    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(reply->readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        failPairLink(QStringLiteral("取配对码失败：") + parseError.errorString());
        co_return;
    }
    // A list at the top level carries no token, like an empty object.
    const QJsonObject answer = doc.isObject() ? doc.object() : QJsonObject();
    const QJsonValue token = answer.value(QStringLiteral("pair_token"));
    if (!token.isString() || token.toString().isEmpty()) {
        failPairLink(QStringLiteral("服务端没有给出配对码"));
        co_return;
    }

    m_pairLink = buildPairLink(device, origin, token.toString());
    const QJsonValue expires = answer.value(QStringLiteral("expires_at"));
    if (expires.isString())
        m_pairLinkExpiresAt = parseExpiry(expires.toString());
    emit pairLinkChanged();
    DeskCrumbs::drop(QStringLiteral("qr.pairlink len=") + QString::number(m_pairLink->toUtf8().size())
        + QStringLiteral(" endpoint=") + origin);
}
