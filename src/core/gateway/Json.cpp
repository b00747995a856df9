#include "core/gateway/Json.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace json {

std::optional<QJsonObject> parseObject(const QByteArray& data)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

std::optional<QJsonArray> parseArray(const QByteArray& data)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &err);
    if (err.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    return doc.array();
}

std::optional<qint64> integral(const QJsonValue& v)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    // 2^63 is exactly representable; anything at or past it does not fit.
    if (!std::isfinite(d) || std::trunc(d) != d || d >= 9223372036854775808.0 || d < -9223372036854775808.0)
        return std::nullopt;
    return static_cast<qint64>(d);
}

std::optional<QJsonValue> StrictReader::present(const QString& key) const
{
    const auto it = m_object.constFind(key);
    if (it == m_object.constEnd() || it->isNull() || it->isUndefined())
        return std::nullopt;
    return *it;
}

void StrictReader::fail(const QString& key)
{
    if (m_error.isEmpty())
        m_error = key;
}

QString StrictReader::requiredString(const QString& key)
{
    auto v = optionalString(key);
    if (!v)
        fail(key);
    return v.value_or(QString());
}

qint64 StrictReader::requiredInt(const QString& key)
{
    auto v = optionalInt(key);
    if (!v)
        fail(key);
    return v.value_or(0);
}

bool StrictReader::requiredBool(const QString& key)
{
    auto v = optionalBool(key);
    if (!v)
        fail(key);
    return v.value_or(false);
}

QJsonArray StrictReader::requiredArray(const QString& key)
{
    auto v = optionalArray(key);
    if (!v)
        fail(key);
    return v.value_or(QJsonArray());
}

QJsonObject StrictReader::requiredObject(const QString& key)
{
    auto v = optionalObject(key);
    if (!v)
        fail(key);
    return v.value_or(QJsonObject());
}

std::optional<QString> StrictReader::optionalString(const QString& key)
{
    const auto v = present(key);
    if (!v)
        return std::nullopt;
    if (!v->isString()) {
        fail(key);
        return std::nullopt;
    }
    return v->toString();
}

std::optional<qint64> StrictReader::optionalInt(const QString& key)
{
    const auto v = present(key);
    if (!v)
        return std::nullopt;
    const auto n = integral(*v);
    if (!n)
        fail(key);
    return n;
}

std::optional<bool> StrictReader::optionalBool(const QString& key)
{
    const auto v = present(key);
    if (!v)
        return std::nullopt;
    if (!v->isBool()) {
        fail(key);
        return std::nullopt;
    }
    return v->toBool();
}

std::optional<QJsonArray> StrictReader::optionalArray(const QString& key)
{
    const auto v = present(key);
    if (!v)
        return std::nullopt;
    if (!v->isArray()) {
        fail(key);
        return std::nullopt;
    }
    return v->toArray();
}

std::optional<QJsonObject> StrictReader::optionalObject(const QString& key)
{
    const auto v = present(key);
    if (!v)
        return std::nullopt;
    if (!v->isObject()) {
        fail(key);
        return std::nullopt;
    }
    return v->toObject();
}

std::optional<QStringList> StrictReader::optionalStringList(const QString& key)
{
    const auto arr = optionalArray(key);
    if (!arr)
        return std::nullopt;
    QStringList out;
    out.reserve(arr->size());
    for (const QJsonValue& e : *arr) {
        if (!e.isString()) {
            fail(key);
            return std::nullopt;
        }
        out << e.toString();
    }
    return out;
}

QString LenientReader::string(const QString& key, const QString& fallback) const
{
    return optionalString(key).value_or(fallback);
}

std::optional<QString> LenientReader::optionalString(const QString& key) const
{
    const QJsonValue v = m_object.value(key);
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

qint64 LenientReader::integer(const QString& key, qint64 fallback) const
{
    return optionalInt(key).value_or(fallback);
}

std::optional<qint64> LenientReader::optionalInt(const QString& key) const
{
    return integral(m_object.value(key));
}

bool LenientReader::boolean(const QString& key, bool fallback) const
{
    return optionalBool(key).value_or(fallback);
}

std::optional<bool> LenientReader::optionalBool(const QString& key) const
{
    const QJsonValue v = m_object.value(key);
    if (!v.isBool())
        return std::nullopt;
    return v.toBool();
}

QJsonArray LenientReader::array(const QString& key) const
{
    const QJsonValue v = m_object.value(key);
    return v.isArray() ? v.toArray() : QJsonArray();
}

QStringList LenientReader::stringList(const QString& key) const
{
    QStringList out;
    for (const QJsonValue& e : array(key)) {
        if (e.isString())
            out << e.toString();
    }
    return out;
}

QJsonObject LenientReader::object(const QString& key) const
{
    const QJsonValue v = m_object.value(key);
    return v.isObject() ? v.toObject() : QJsonObject();
}

QStringList LenientReader::wholeStringList(const QString& key) const
{
    QStringList out;
    for (const QJsonValue& e : array(key)) {
        if (!e.isString())
            return {};
        out << e.toString();
    }
    return out;
}

QMap<QString, bool> LenientReader::wholeBoolMap(const QString& key) const
{
    QMap<QString, bool> out;
    const QJsonObject map = object(key);
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (!it.value().isBool())
            return {};
        out.insert(it.key(), it.value().toBool());
    }
    return out;
}

} // namespace json
