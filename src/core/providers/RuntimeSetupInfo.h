#pragma once

#include "core/providers/ProviderSlot.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the companion tool says about installing a runtime and giving it
// credentials; carried by the same `runtimes --json` report as the inventory.
struct RuntimeSetupInfo {
    QString kind;
    std::optional<QString> display;
    bool installSupported = false;
    std::optional<QString> installMethod;
    std::optional<QString> installPackage;
    std::optional<QString> installSource;
    std::optional<QString> installWhy;
    QStringList authMethods;
    bool apiKeySupported = false;
    QStringList apiKeyEnvVars;
    std::optional<QString> credentialProvider;
    std::optional<QString> credentialWhy;
    bool uninstallSupported = false;
    std::optional<QString> uninstallMethod;
    std::optional<QString> uninstallPackage;
    std::optional<QString> uninstallWhy;
    QList<ProviderSlot> providerSlots;

    bool operator==(const RuntimeSetupInfo&) const = default;

    // The slot for a provider, matched without regard to case; none when the
    // runtime does not take that provider.
    std::optional<ProviderSlot> slot(const QString& provider) const;

    // Only "kind" is required; a present key of the wrong type fails the contract.
    static std::optional<RuntimeSetupInfo> fromJson(const QJsonObject& object);
    // The report's wrapper object: {"runtimes": [contract, …]}. Any bad
    // contract fails the whole list (none).
    static std::optional<QList<RuntimeSetupInfo>> decodeReport(const QByteArray& data);
};
