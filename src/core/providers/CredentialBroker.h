#pragma once

#include "core/providers/ProviderProfile.h"
#include "core/providers/RuntimeSetupInfo.h"

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

// Model-provider keys in the secret store (SecretStore::shared(), service
// "tolvarine-desktop"). Two forms of item: the older one per provider (account
// = the provider name in lower case) and one per provider profile.
//
// Everything here that reaches the secret store blocks its caller, possibly
// for ever (the Secret Service may wait on a prompt or a stalled daemon):
// call it off the GUI thread, through SecretStore::queue().
namespace CredentialBroker {

QString service();
QString legacyAccount(const QString& provider);
QString profileAccount(const QUuid& profile);

// A legacy item exists for the provider; an empty name gives false.
bool isConfigured(const QString& provider);
// The secret store holds the profile's key.
bool isConfigured(const QUuid& profile);
// Those of the profiles whose key the secret store holds.
QSet<QUuid> keyedProfiles(const QList<QUuid>& among);
// Those of the names (unchanged, empty ones skipped) that have a legacy item.
QSet<QString> configuredProviders(const QStringList& among);

// Moves the provider's legacy key to the profile's item, only when the profile
// has no key yet. True when the key now sits under the profile and the legacy
// item is gone; on any failure nothing has moved.
bool adoptLegacy(const QString& provider, const QUuid& into);

// Stores (or replaces) a profile's key; false with a message on failure.
bool storeKey(const QUuid& profile, const QString& key, QString* error = nullptr);
// Deletes a profile's key; true also when there was none.
bool deleteKey(const QUuid& profile, QString* error = nullptr);
// A profile's key (trimmed); none when there is none or it is empty.
std::optional<QString> profileKey(const QUuid& profile);

// The environment a runtime is launched with for a bound profile: the key
// variables of the runtime's slot for the profile's provider get the profile's
// key, its base-URL variable the trimmed base URL, its model variable the
// kind's model override or else the profile's default model. Missing pieces
// give missing entries.
QMap<QString, QString> launchEnv(
    const ProviderProfile& profile, const RuntimeSetupInfo& setup, const std::optional<QString>& kind);
// Every listed variable mapped to the provider's legacy key; empty when
// there is no provider, no name or no key.
QMap<QString, QString> launchEnv(const QString& provider, const QStringList& envVars);
// Whether a launch with this contract and bound profile reads the key store
// through one of the two above; a launch that does not never waits on it.
bool readsKey(const std::optional<RuntimeSetupInfo>& setup, const std::optional<ProviderProfile>& profile);

} // namespace CredentialBroker
