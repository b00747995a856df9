#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// One model-provider account: which provider, what the user called it, where it
// answers and what it last said when its key was checked. The key itself lives
// in the secret store (CredentialBroker), never in this record.
struct ProviderProfile {
    QUuid id;
    QString provider;
    QString name;
    std::optional<QString> baseURL;
    std::optional<QString> defaultModel;
    QDateTime createdAt;
    std::optional<QDateTime> lastVerifiedAt;
    std::optional<bool> lastVerifyOK;
    std::optional<QString> lastVerifyDetail;

    bool operator==(const ProviderProfile&) const = default;

    QJsonObject toJson() const;
    // None when a required key is missing or any key has the wrong type.
    static std::optional<ProviderProfile> fromJson(const QJsonObject& object);

    // The profiles file: a JSON array of profiles. One bad element makes the
    // whole file unreadable (none).
    static std::optional<QList<ProviderProfile>> decodeList(const QByteArray& data);
    static QByteArray encodeList(const QList<ProviderProfile>& profiles);

    // ISO 8601 in whole seconds, UTC.
    static QString isoDate(const QDateTime& date);
};
