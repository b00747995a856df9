#include "core/providers/ProviderProfile.h"

#include "core/gateway/GatewayTime.h"
#include "core/gateway/Json.h"
#include "core/platform/UuidText.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

std::optional<QDateTime> dateField(json::StrictReader& r, const QString& key, bool required)
{
    const std::optional<QString> text
        = required ? std::optional<QString>(r.requiredString(key)) : r.optionalString(key);
    if (!r.ok() || !text)
        return std::nullopt;
    const std::optional<QDateTime> date = GatewayTime::parse(text);
    if (!date)
        r.fail(key);
    return date;
}

} // namespace

QString ProviderProfile::isoDate(const QDateTime& date)
{
    return date.toUTC().toString(Qt::ISODate);
}

QJsonObject ProviderProfile::toJson() const
{
    QJsonObject o;
    o.insert(QStringLiteral("id"), UuidText::stored(id));
    o.insert(QStringLiteral("provider"), provider);
    o.insert(QStringLiteral("name"), name);
    o.insert(QStringLiteral("createdAt"), isoDate(createdAt));
    if (baseURL)
        o.insert(QStringLiteral("baseURL"), *baseURL);
    if (defaultModel)
        o.insert(QStringLiteral("defaultModel"), *defaultModel);
    if (lastVerifiedAt)
        o.insert(QStringLiteral("lastVerifiedAt"), isoDate(*lastVerifiedAt));
    if (lastVerifyOK)
        o.insert(QStringLiteral("lastVerifyOK"), *lastVerifyOK);
    if (lastVerifyDetail)
        o.insert(QStringLiteral("lastVerifyDetail"), *lastVerifyDetail);
    return o;
}

std::optional<ProviderProfile> ProviderProfile::fromJson(const QJsonObject& object)
{
    json::StrictReader r(object);
    ProviderProfile p;
    p.id = QUuid::fromString(r.requiredString(QStringLiteral("id")));
    if (r.ok() && p.id.isNull())
        r.fail(QStringLiteral("id"));
    p.provider = r.requiredString(QStringLiteral("provider"));
    p.name = r.requiredString(QStringLiteral("name"));
    p.baseURL = r.optionalString(QStringLiteral("baseURL"));
    p.defaultModel = r.optionalString(QStringLiteral("defaultModel"));
    if (const auto created = dateField(r, QStringLiteral("createdAt"), true))
        p.createdAt = *created;
    p.lastVerifiedAt = dateField(r, QStringLiteral("lastVerifiedAt"), false);
    p.lastVerifyOK = r.optionalBool(QStringLiteral("lastVerifyOK"));
    p.lastVerifyDetail = r.optionalString(QStringLiteral("lastVerifyDetail"));
    if (!r.ok())
        return std::nullopt;
    return p;
}

std::optional<QList<ProviderProfile>> ProviderProfile::decodeList(const QByteArray& data)
{
    const std::optional<QJsonArray> array = json::parseArray(data);
    if (!array)
        return std::nullopt;
    QList<ProviderProfile> out;
    for (const QJsonValue& v : *array) {
        if (!v.isObject())
            return std::nullopt;
        std::optional<ProviderProfile> p = fromJson(v.toObject());
        if (!p)
            return std::nullopt;
        out.append(*p);
    }
    return out;
}

QByteArray ProviderProfile::encodeList(const QList<ProviderProfile>& profiles)
{
    QJsonArray array;
    for (const ProviderProfile& p : profiles)
        array.append(p.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}
