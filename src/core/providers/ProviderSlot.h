#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

// One model provider a runtime accepts, and the environment variables through
// which the runtime reads that provider's key, base URL and model.
struct ProviderSlot {
    QString provider;
    QString display;
    QStringList keyEnvVars;
    std::optional<QString> baseURLEnvVar;
    std::optional<QString> modelEnvVar;

    bool operator==(const ProviderSlot&) const = default;

    // "provider" is required; a key of the wrong type fails the slot.
    static std::optional<ProviderSlot> fromJson(const QJsonObject& object);
};
