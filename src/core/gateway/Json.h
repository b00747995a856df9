#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// The two ways every reply, tool output and store is decoded.
//
// StrictReader: required keys must be present and not null; every key that is
// present (and not null) must have the declared JSON type. The first violation
// marks the reader failed and the caller drops the whole record or reply.
//
// LenientReader: a missing, null or mistyped key gives the field's empty value.
namespace json {

// Parses a JSON document whose top level is an object; none on any error.
std::optional<QJsonObject> parseObject(const QByteArray& data);
// Parses a JSON document whose top level is an array; none on any error.
std::optional<QJsonArray> parseArray(const QByteArray& data);

// A JSON number that is integral and within the 64-bit range.
std::optional<qint64> integral(const QJsonValue& v);

class StrictReader {
public:
    explicit StrictReader(const QJsonObject& object)
        : m_object(object)
    {
    }

    bool ok() const { return m_error.isEmpty(); }
    // The first key that failed, for diagnostics.
    QString error() const { return m_error; }

    QString requiredString(const QString& key);
    qint64 requiredInt(const QString& key);
    bool requiredBool(const QString& key);
    QJsonArray requiredArray(const QString& key);
    QJsonObject requiredObject(const QString& key);

    std::optional<QString> optionalString(const QString& key);
    std::optional<qint64> optionalInt(const QString& key);
    std::optional<bool> optionalBool(const QString& key);
    std::optional<QJsonArray> optionalArray(const QString& key);
    std::optional<QJsonObject> optionalObject(const QString& key);
    // An array whose elements must all be strings.
    std::optional<QStringList> optionalStringList(const QString& key);

    QString string(const QString& key, const QString& fallback = {}) { return optionalString(key).value_or(fallback); }
    qint64 integer(const QString& key, qint64 fallback = 0) { return optionalInt(key).value_or(fallback); }
    bool boolean(const QString& key, bool fallback = false) { return optionalBool(key).value_or(fallback); }
    QStringList stringList(const QString& key) { return optionalStringList(key).value_or(QStringList {}); }

    // Marks the reader failed (for checks the typed getters cannot express).
    void fail(const QString& key);

private:
    // The value of a present, non-null key; none when missing or null.
    std::optional<QJsonValue> present(const QString& key) const;

    QJsonObject m_object;
    QString m_error;
};

class LenientReader {
public:
    explicit LenientReader(const QJsonObject& object)
        : m_object(object)
    {
    }

    QString string(const QString& key, const QString& fallback = {}) const;
    std::optional<QString> optionalString(const QString& key) const;
    qint64 integer(const QString& key, qint64 fallback = 0) const;
    std::optional<qint64> optionalInt(const QString& key) const;
    bool boolean(const QString& key, bool fallback = false) const;
    std::optional<bool> optionalBool(const QString& key) const;
    QJsonArray array(const QString& key) const;
    QJsonObject object(const QString& key) const;
    // The string elements of an array; other elements are skipped.
    QStringList stringList(const QString& key) const;

    // Lists and maps taken whole or not at all: one element of another type
    // makes the whole value mistyped, so it reads as empty.
    QStringList wholeStringList(const QString& key) const;
    QMap<QString, bool> wholeBoolMap(const QString& key) const;
    // `decode` turns one element (a QJsonValue) into an optional T.
    template <typename T, typename Decode> QList<T> wholeList(const QString& key, Decode decode) const
    {
        QList<T> out;
        for (const QJsonValue& e : array(key)) {
            std::optional<T> item = decode(e);
            if (!item)
                return {};
            out.append(std::move(*item));
        }
        return out;
    }

private:
    QJsonObject m_object;
};

} // namespace json
