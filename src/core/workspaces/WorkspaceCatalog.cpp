#include "core/workspaces/WorkspaceCatalog.h"

#include "core/gateway/CLI.h"
#include "core/gateway/GatewayClient.h"
#include "core/gateway/NetworkAccess.h"
#include "core/platform/CredentialRedaction.h"
#include "core/platform/DeskCrumbs.h"
#include "core/platform/HttpAddress.h"
#include "core/platform/OffMainThread.h"
#include "core/platform/TolvarinePaths.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QMap>
#include <QPointer>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QSettings>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace {

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
    , m_selectionStore(Settings::filePath(), [](const QString& file, const QByteArray& id) {
        if (const std::unique_ptr<QSettings> settings = Settings::open(file))
            Settings::workspaceSelection.write(*settings, QString::fromUtf8(id));
    })
{
}

void WorkspaceCatalog::setSelectedID(const QString& id)
{
    // A pick of the user's (or a pairing's) replaces a held selection.
    if (!m_settling)
        m_heldSelection.reset();
    select(id, true);
}

void WorkspaceCatalog::select(const QString& id, bool store)
{
    // Stored only when it differs from the stored choice (every reload
    // settles the selection); always while no reload has read that yet.
    if (store && m_storedSelection != id) {
        m_storedSelection = id;
        ++m_selectionWrites;
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

void WorkspaceCatalog::setPublishEndpoint(const std::optional<QString>& endpoint, const QString& api)
{
    m_publishEndpoint = endpoint;
    m_publishEndpointApi = api;
}

QCoro::Task<> WorkspaceCatalog::reload(bool syncCurrent)
{
    QPointer<WorkspaceCatalog> self(this);
    if (syncCurrent) {
        // The tool refreshes the pairing files; what it says does not matter,
        // and a hung tool is stopped at the time limit instead of holding us.
        auto task = CLI::runAsync(QStringList { QStringLiteral("workspaces") }, std::nullopt, std::nullopt,
            std::nullopt, m_syncTimeLimit, this);
        co_await std::move(task);
        if (!self)
            co_return;
    }

    const quint64 generation = ++m_reloadGeneration;
    // A choice of ours still on its way to the settings file is newer than
    // what the read may find there; another program's write found there wins
    // over ours.
    const bool ownWritePending = m_selectionStore.busy();
    const quint64 writes = m_selectionWrites;
    auto read = offMainThread([settingsFile = m_selectionStore.path(), hook = m_readHook] {
        FileRead r = readFiles();
        if (const std::unique_ptr<QSettings> settings = Settings::open(settingsFile))
            r.storedSelection = Settings::workspaceSelection.read(*settings);
        if (hook)
            hook();
        return r;
    });
    const FileRead files = co_await std::move(read);
    if (!self || generation != m_reloadGeneration)
        co_return;
    if (!ownWritePending && writes == m_selectionWrites)
        m_storedSelection = files.storedSelection;
    apply(files);
}

// "name.json" (case-sensitive); a bare ".json" is a hidden file without an extension.
bool WorkspaceCatalog::isPairingFile(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && QStringView(fileName).mid(dot + 1) == QLatin1String("json");
}

void WorkspaceCatalog::readPairingFiles(const std::function<bool(const CLIConfig&)>& take)
{
    for (const QString& folder : TolvarinePaths::pairingFolders()) {
        const QDir d(folder + QStringLiteral("/workspaces"));
        if (!d.exists())
            continue;
        const QFileInfoList entries = d.entryInfoList(QDir::Files | QDir::Hidden, QDir::Unsorted);
        for (const QFileInfo& entry : entries) {
            if (!isPairingFile(entry.fileName()))
                continue;
            if (const auto config = CLIConfig::fromFile(entry.filePath()); config && !take(*config))
                return;
        }
    }
}

bool WorkspaceCatalog::anyPaired()
{
    // Read before the first frame: one pairing file is enough, however many there are.
    bool found = false;
    readPairingFiles([&found](const CLIConfig&) {
        found = true;
        return false;
    });
    return found || CLIConfig::current().has_value();
}

WorkspaceCatalog::FileRead WorkspaceCatalog::readFiles()
{
    // Keyed by workspace id: the first file seen for an id wins, and records
    // whose names compare equal come out in id order.
    QMap<QString, CLIConfig> byID;
    readPairingFiles([&byID](const CLIConfig& config) {
        if (!byID.contains(config.workspace))
            byID.insert(config.workspace, config);
        return true;
    });
    std::optional<CLIConfig> current = CLIConfig::current();
    if (current)
        byID.insert(current->workspace, *current);
    return FileRead { byID, current, QString() };
}

void WorkspaceCatalog::apply(const FileRead& files)
{
    QList<WorkspaceRecord> records;
    for (const CLIConfig& c : files.byID)
        records.append(WorkspaceRecord { c });
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(records.begin(), records.end(), [&collator](const WorkspaceRecord& a, const WorkspaceRecord& b) {
        return collator.compare(a.config.displayName(), b.config.displayName()) < 0;
    });
    m_records = records;
    m_loaded = true;
    emit recordsChanged();

    const QScopedValueRollback<bool> settling(m_settling, true);
    const QString saved = m_storedSelection.value_or(files.storedSelection);
    const auto has = [this](const QString& id) {
        return std::any_of(
            m_records.cbegin(), m_records.cend(), [&id](const WorkspaceRecord& r) { return r.id() == id; });
    };
    const std::optional<QString> held = std::exchange(m_heldSelection, std::nullopt);
    if (held && has(*held)) {
        select(*held, true);
        return;
    }
    if (has(m_selectedID)) {
        // Missing at two reads in a row, the held selection is gone: what stands in becomes the choice.
        if (held)
            select(m_selectedID, true);
        return;
    }
    // The selection this read misses (before the first one, the stored choice)
    // is held for one more read, unless it was missing at the previous one too.
    QString missing = held ? QString() : (m_selectedID.isEmpty() ? saved : m_selectedID);
    if (has(missing))
        missing.clear();
    QString standIn;
    if (has(saved))
        standIn = saved;
    else if (files.current)
        standIn = files.current->workspace;
    else if (!m_records.isEmpty())
        standIn = m_records.first().id();
    // What stands in while a selection is held is shown, never stored: a quit
    // now reopens the held one.
    select(standIn, missing.isEmpty());
    if (!missing.isEmpty())
        m_heldSelection = missing;
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
    m_pairLinkWorkspaces.clear();
    m_pairLinkLeftOut.clear();
    emit pairLinkChanged();
}

std::optional<QString> WorkspaceCatalog::endpointFor(const QString& api) const
{
    // One found while the status model showed a workspace of another gateway is that gateway's.
    if (m_publishEndpoint && (m_publishEndpointApi.isEmpty() || HttpAddress::sameServer(m_publishEndpointApi, api)))
        return m_publishEndpoint;
    return std::nullopt;
}

WorkspaceCatalog::PairScope WorkspaceCatalog::pairScope() const
{
    const std::optional<WorkspaceRecord> chosen = selected();
    if (!chosen)
        return {};
    return pairScope(chosen->config.api, endpointFor(chosen->config.api).value_or(QString()));
}

WorkspaceCatalog::PairScope WorkspaceCatalog::pairScope(const QString& api, const QString& origin) const
{
    PairScope scope;
    for (const WorkspaceRecord& r : m_records) {
        const bool here = HttpAddress::sameServer(r.config.api, api)
            || (!origin.isEmpty() && HttpAddress::sameServer(r.config.api, origin));
        (here ? scope.carried : scope.otherGateway).append(r);
    }
    return scope;
}

namespace {

// One exchange with the gateway's "/api/pair/start".
struct PairAnswer {
    bool transportFailed = false; // no HTTP answer, or a 2xx one not read whole
    QString transportError;
    int code = 0; // 0: not an HTTP answer
    QByteArray body; // of a 2xx answer
    // The gateway answered and would not pair what it was asked to.
    bool refused() const { return !transportFailed && code >= 400 && code <= 499; }
};

QCoro::Task<PairAnswer> postPairStart(
    NetworkAccess::Manager* nam, QUrl url, QString device, QList<WorkspaceRecord> workspaces)
{
    QJsonArray list;
    for (const WorkspaceRecord& r : workspaces)
        list.append(QJsonObject { { QStringLiteral("workspace_uuid"), r.config.workspace },
            { QStringLiteral("access_token"), r.config.token } });
    const QJsonObject body { { QStringLiteral("device_id"), device }, { QStringLiteral("workspaces"), list } };

    NetworkAccess::Request request;
    request.url = url;
    request.verb = QByteArrayLiteral("POST");
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    request.idleMs = WorkspaceCatalog::kPairTimeoutMs;
    request.bounds = { WorkspaceCatalog::kPairReplyMaxBytes, WorkspaceCatalog::kPairTimeoutMs };
    // The one gateway request without a bearer token: the access tokens travel
    // in the body, so a redirect (a 307 resends the body) may not carry them to
    // another origin; the transport follows none there.
    request.headers = { { "Content-Type", "application/json" }, { "X-Device-Id", device.toUtf8() } };
    NetworkAccess::ReplyPtr reply(nam->send(request));
    co_await reply.get();

    PairAnswer answer;
    switch (reply->error()) {
    case NetworkAccess::Reply::Error::TooLarge:
        answer.transportFailed = true;
        answer.transportError = NetworkAccess::tooLargeText(WorkspaceCatalog::kPairReplyMaxBytes);
        co_return answer;
    case NetworkAccess::Reply::Error::Deadline:
        answer.transportFailed = true;
        answer.transportError = GatewayClient::noAnswerText(WorkspaceCatalog::kPairTimeoutMs);
        co_return answer;
    default:
        break;
    }
    answer.code = reply->status();
    const bool success = answer.code >= 200 && answer.code <= 299;
    // A 2xx whose body broke off or did not decompress is no answer either.
    if ((answer.code == 0 || success) && reply->error() != NetworkAccess::Reply::Error::None) {
        answer.transportFailed = true;
        answer.transportError = GatewayClient::transportText(*reply, WorkspaceCatalog::kPairTimeoutMs);
        co_return answer;
    }
    if (success)
        answer.body = reply->take();
    co_return answer;
}

QString otherGateway(const WorkspaceRecord& r)
{
    return QStringLiteral("在另一个网关上（%1），这个码带不走它。要连它，先在上面切到它，再开一次二维码")
        .arg(CredentialRedaction::shownAddress(r.config.api));
}

QString refusedByGateway(int code)
{
    return QStringLiteral("网关不肯带上它（HTTP %1），它可能已经不在这个网关上了。重新配对它的目录再试").arg(code);
}

} // namespace

QCoro::Task<bool> WorkspaceCatalog::refreshPairLink()
{
    const quint64 generation = ++m_pairLinkGeneration;
    // An open sheet shows its loading state again at once, not the last failure.
    if (m_pairLinkError) {
        m_pairLinkError.reset();
        emit pairLinkChanged();
    }
    const std::optional<WorkspaceRecord> chosen = selected();
    if (!chosen) {
        failPairLink(QStringLiteral("这台机器还没有任何工作区"));
        co_return true;
    }

    // The code is the selected workspace's gateway's, and carries that gateway's workspaces.
    QPointer<WorkspaceCatalog> self(this);
    const CLIConfig cfg = chosen->config;
    const QString device = cfg.deviceId();
    const int port = GatewayClient::port(cfg.api);
    QString origin = cfg.api;
    if (const std::optional<QString> endpoint = endpointFor(cfg.api)) {
        origin = *endpoint;
    } else {
        // This machine's ".local" name stands for the gateway only when the
        // configured address names this machine: the access tokens go nowhere else.
        auto naming = GatewayClient::localHostNameFor(cfg.api, m_hostName);
        const QString hostName = co_await std::move(naming);
        if (!self || generation != m_pairLinkGeneration)
            co_return false;
        const auto mdns = GatewayClient::mdnsOrigin(port, hostName);
        if (mdns && GatewayClient::namesThisMachine(cfg.api, hostName))
            origin = *mdns;
    }

    // Another gateway's access tokens never go there: its workspaces are left out, and named.
    const QList<WorkspaceRecord> all = m_records;
    const PairScope scope = pairScope(cfg.api, origin);
    QHash<QString, QString> leftOut;
    for (const WorkspaceRecord& r : scope.otherGateway)
        leftOut.insert(r.id(), otherGateway(r));

    const std::optional<QUrl> url
        = HttpAddress::join(origin, QStringLiteral("/api/pair/start"), HttpAddress::Query::Refused);
    if (!url) {
        failPairLink(QStringLiteral("网关地址不合法：") + CredentialRedaction::shownAddress(origin));
        co_return true;
    }

    QList<WorkspaceRecord> carried = scope.carried;
    auto exchange = postPairStart(m_nam, *url, device, carried);
    PairAnswer answer = co_await std::move(exchange);
    // The sheet and the entry card both ask; an older reply never lands over a newer one.
    if (!self || generation != m_pairLinkGeneration)
        co_return false;
    // One workspace the gateway refuses (one it does not know, a token it no
    // longer takes) makes it refuse them all: each is asked about alone, and
    // those it refuses are left out while the others still pair.
    if (answer.refused() && carried.size() > 1) {
        std::vector<QCoro::Task<PairAnswer>> alone;
        for (const WorkspaceRecord& r : std::as_const(carried))
            alone.push_back(postPairStart(m_nam, *url, device, { r }));
        QList<WorkspaceRecord> accepted;
        QHash<QString, QString> refused;
        for (size_t i = 0; i < alone.size(); ++i) {
            const PairAnswer single = co_await std::move(alone[i]);
            if (!self || generation != m_pairLinkGeneration)
                co_return false;
            if (single.refused())
                refused.insert(carried.at(qsizetype(i)).id(), refusedByGateway(single.code));
            else
                accepted.append(carried.at(qsizetype(i)));
        }
        if (!accepted.isEmpty() && !refused.isEmpty()) {
            leftOut.insert(refused);
            carried = accepted;
            auto again = postPairStart(m_nam, *url, device, carried);
            answer = co_await std::move(again);
            if (!self || generation != m_pairLinkGeneration)
                co_return false;
        }
    }

    if (answer.transportFailed) {
        failPairLink(QStringLiteral("取配对码失败：") + answer.transportError);
        co_return true;
    }
    if (answer.code < 200 || answer.code > 299) {
        failPairLink(
            QStringLiteral("服务端拒绝了配对请求（HTTP ") + QString::number(answer.code) + QStringLiteral("）"));
        co_return true;
    }

    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(answer.body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        failPairLink(QStringLiteral("取配对码失败：") + parseError.errorString());
        co_return true;
    }
    // A list at the top level carries no token, like an empty object.
    const QJsonObject reply = doc.isObject() ? doc.object() : QJsonObject();
    const QJsonValue token = reply.value(QStringLiteral("pair_token"));
    if (!token.isString() || token.toString().isEmpty()) {
        failPairLink(QStringLiteral("服务端没有给出配对码"));
        co_return true;
    }

    m_pairLink = buildPairLink(device, origin, token.toString());
    m_pairLinkLoopback = !GatewayClient::phoneReachable(origin);
    const QJsonValue expires = reply.value(QStringLiteral("expires_at"));
    if (expires.isString())
        m_pairLinkExpiresAt = parseExpiry(expires.toString());
    m_pairLinkWorkspaces = carried;
    m_pairLinkLeftOut.clear();
    for (const WorkspaceRecord& r : all) {
        if (leftOut.contains(r.id()))
            m_pairLinkLeftOut.append(LeftOut { r, leftOut.value(r.id()) });
    }
    emit pairLinkChanged();
    DeskCrumbs::drop(QStringLiteral("qr.pairlink len=") + QString::number(m_pairLink->toUtf8().size())
        + QStringLiteral(" endpoint=") + origin);
    co_return true;
}
