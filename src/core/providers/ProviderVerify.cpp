#include "core/providers/ProviderVerify.h"

#include "core/gateway/NetworkAccess.h"
#include "core/gateway/Replies.h"
#include "core/platform/CredentialRedaction.h"
#include "core/platform/HttpAddress.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>

#include <algorithm>

namespace ProviderVerify {

namespace {

constexpr qsizetype kExcerpt = 200;

QString defaultModelsAddress(const QString& provider)
{
    static const QHash<QString, QString> table {
        { QStringLiteral("anthropic"), QStringLiteral("https://api.anthropic.com/v1/models") },
        { QStringLiteral("openai"), QStringLiteral("https://api.openai.com/v1/models") },
        { QStringLiteral("openrouter"), QStringLiteral("https://openrouter.ai/api/v1/models") },
        { QStringLiteral("google"), QStringLiteral("https://generativelanguage.googleapis.com/v1beta/models") },
        { QStringLiteral("dashscope"), QStringLiteral("https://dashscope.aliyuncs.com/compatible-mode/v1/models") },
        { QStringLiteral("moonshot"), QStringLiteral("https://api.moonshot.cn/v1/models") },
    };
    return table.value(provider.toLower());
}

// Whether a list entry is a model: an object with an id (OpenAI-style "id",
// Google's "name").
bool isModel(const QJsonValue& entry)
{
    const QJsonObject model = entry.toObject();
    for (const QString& key : { QStringLiteral("id"), QStringLiteral("name") }) {
        const QJsonValue id = model.value(key);
        if (id.isString() && !id.toString().trimmed().isEmpty())
            return true;
    }
    return false;
}

// Whether a reply names an error: an "error" that is not null or false. Some
// proxies answer 200 with an error body, and a list beside it.
bool namesError(const QJsonObject& reply)
{
    const QJsonValue error = reply.value(QStringLiteral("error"));
    return !error.isUndefined() && !error.isNull() && error != QJsonValue(false);
}

// The number of models a list reply names ("data" or "models" array) when
// every entry is a model.
std::optional<qsizetype> modelCount(const QJsonObject& reply)
{
    for (const QString& key : { QStringLiteral("data"), QStringLiteral("models") }) {
        if (!reply.value(key).isArray())
            continue;
        const QJsonArray list = reply.value(key).toArray();
        if (!std::all_of(list.begin(), list.end(), isModel))
            return std::nullopt;
        return list.size();
    }
    return std::nullopt;
}

// What a refusal says: the message of a JSON error body ({"error":{"message"}},
// {"error": "…"}, {"message"}), else the body itself.
QString said(const QByteArray& body)
{
    const QJsonObject o = QJsonDocument::fromJson(body).object();
    const QJsonValue error = o.value(QStringLiteral("error"));
    for (const QJsonValue& v :
        { error.toObject().value(QStringLiteral("message")), error, o.value(QStringLiteral("message")) }) {
        if (v.isString() && !v.toString().trimmed().isEmpty())
            return v.toString();
    }
    return QString::fromUtf8(body);
}

// A provider's words, without the key it may echo or anything shaped like one.
QString clean(const QString& text, const QString& key)
{
    QString masked = text;
    if (!key.isEmpty())
        masked.replace(key, QStringLiteral("****"));
    return CredentialRedaction::redact(masked.simplified().left(kExcerpt));
}

// What broke off the transfer, in the user's words; empty when the answer came whole.
QString transferError(const NetworkAccess::Reply& reply)
{
    switch (reply.error()) {
    case NetworkAccess::Reply::Error::None:
        return QString();
    case NetworkAccess::Reply::Error::Dropped:
        return QStringLiteral("没发完就断开了");
    case NetworkAccess::Reply::Error::Malformed: // also a body that cannot be decompressed
        return QStringLiteral("数据坏了，读不出来");
    case NetworkAccess::Reply::Error::Refused:
        if (reply.proxyUnreached())
            return QStringLiteral("代理 %1 连不上（%2）")
                .arg(CredentialRedaction::shownAddress(reply.proxy()), reply.errorString());
        return reply.errorString();
    default:
        return reply.errorString();
    }
}

} // namespace

std::optional<QUrl> modelsURL(const QString& provider, const std::optional<QString>& baseURL)
{
    const QString base = baseURL.value_or(QString()).trimmed();
    if (!base.isEmpty()) {
        // "https://h/v1/?x=1" asks "https://h/v1/models?x=1".
        const qsizetype query = base.indexOf(QLatin1Char('?'));
        QString path = query < 0 ? base : base.left(query);
        while (path.endsWith(QLatin1Char('/')))
            path.chop(1);
        return HttpAddress::join(path + (query < 0 ? QString() : base.mid(query)), QStringLiteral("/models"),
            HttpAddress::Query::KeptAfterPath);
    }
    const QString address = defaultModelsAddress(provider);
    if (address.isEmpty())
        return std::nullopt;
    return HttpAddress::join(address, QString(), HttpAddress::Query::KeptAfterPath);
}

std::optional<QString> baseURLProblem(const QString& baseURL)
{
    HttpAddress::Problem problem = HttpAddress::Problem::NotHttp;
    if (baseURL.isEmpty() || HttpAddress::join(baseURL, QString(), HttpAddress::Query::KeptAfterPath, &problem))
        return std::nullopt;
    switch (problem) {
    case HttpAddress::Problem::NotHttp:
    case HttpAddress::Problem::HasQuery: // kept for a base URL
        break;
    case HttpAddress::Problem::NoHost:
        return QStringLiteral("Base URL 里少了主机名，比如 https://api.example.com/v1");
    case HttpAddress::Problem::Fragment:
        return QStringLiteral("Base URL 不能带 # 和它后面的部分（服务收不到）");
    case HttpAddress::Problem::Malformed:
        return QStringLiteral("Base URL 写得不对：主机名、端口或路径里有网址不能用的字符");
    }
    return QStringLiteral("Base URL 要以 http:// 或 https:// 开头");
}

NetworkAccess::Request request(const QUrl& url, const QString& provider, const QString& key, int timeLimitMs)
{
    NetworkAccess::Request r;
    r.url = url;
    // The time limit holds for the whole answer too, however slowly it comes.
    // The key does not follow a redirect to another origin: none is followed.
    r.bounds = { kMaxReplyBytes, timeLimitMs };
    r.idleMs = timeLimitMs;
    const QString p = provider.toLower();
    if (p == QLatin1String("anthropic")) {
        r.headers = { { "x-api-key", key.toUtf8() }, { "anthropic-version", "2023-06-01" } };
    } else if (p == QLatin1String("google")) {
        r.headers = { { "x-goog-api-key", key.toUtf8() } };
    } else {
        r.headers = { { "Authorization", "Bearer " + key.toUtf8() } };
    }
    return r;
}

Outcome interpret(int status, const QByteArray& body, const QString& networkError, bool timedOut, const QString& key)
{
    if (status == 0) {
        if (timedOut)
            return { false, QStringLiteral("没有在时限内应答") };
        return { false, QStringLiteral("连不上：") + clean(networkError, key) };
    }
    const QString code = QStringLiteral("HTTP %1").arg(status);
    if (status >= 200 && status < 300) {
        // Only a whole answer that lists models says the key works: a login
        // page or a web server's own page answers 200 to anything.
        if (!networkError.isEmpty())
            return { false, code + QStringLiteral(" · 回复没有收全：") + clean(networkError, key) };
        const QJsonObject reply = QJsonDocument::fromJson(body).object();
        if (namesError(reply))
            return { false, code + QStringLiteral(" · 回复里报了错：") + clean(said(body), key) };
        if (const std::optional<qsizetype> n = modelCount(reply))
            return { true, code + QStringLiteral("，列出了 %1 个模型").arg(*n) };
        const QString words = clean(QString::fromUtf8(body), key);
        return { false,
            code + QStringLiteral(" · 回复不是模型列表")
                + (words.isEmpty() ? QString() : QStringLiteral("：") + words) };
    }
    QString detail = code;
    if (status == 401 || status == 403)
        detail += QStringLiteral("：Key 被拒");
    const QString words = clean(said(body), key);
    if (!words.isEmpty())
        detail += QStringLiteral(" · ") + words;
    return { false, detail };
}

bool refusedKey(const QString& detail)
{
    static const QRegularExpression refusal(QStringLiteral("^HTTP 40[13](?!\\d)"));
    return refusal.match(detail).hasMatch();
}

QCoro::Task<Outcome> check(NetworkAccess::Manager* nam, ProviderProfile profile, QString key, int timeLimitMs)
{
    const std::optional<QUrl> url = modelsURL(profile.provider, profile.baseURL);
    if (!url) {
        const std::optional<QString> problem = baseURLProblem(profile.baseURL.value_or(QString()).trimmed());
        co_return Outcome { false,
            QStringLiteral("不知道去哪验证：")
                + problem.value_or(QStringLiteral("填上 Base URL（http 或 https）再试")) };
    }
    NetworkAccess::ReplyPtr reply(nam->send(request(*url, profile.provider, key, timeLimitMs)));
    QPointer<NetworkAccess::Reply> watched(reply.get());
    co_await reply.get();
    if (!watched || reply->error() == NetworkAccess::Reply::Error::Canceled) {
        if (!watched)
            (void)reply.release();
        co_return Outcome { false, QStringLiteral("验证被取消") };
    }
    switch (reply->error()) {
    case NetworkAccess::Reply::Error::TooLarge:
        co_return Outcome { false, NetworkAccess::tooLargeText(kMaxReplyBytes) };
    case NetworkAccess::Reply::Error::Deadline:
    case NetworkAccess::Reply::Error::Idle:
        // Also after a 2xx status line: an answer not read whole is none.
        co_return interpret(0, QByteArray(), QString(), true, key);
    default:
        break;
    }
    // A model list may run to megabytes: it is read off the GUI thread.
    auto judging = replies::decodeOn(replies::decodePool(), reply->take(),
        [status = reply->status(), error = transferError(*reply), key](
            const QByteArray& body) { return interpret(status, body, error, false, key); });
    co_return co_await std::move(judging);
}

} // namespace ProviderVerify
