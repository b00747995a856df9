#pragma once

#include "core/providers/ProviderProfile.h"

#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// "provider_profiles.json" in the application's dot directory: the one writer
// of the file. Every read-modify-write holds the store's lock.
class SerialExecutor;

namespace ProviderProfileStore {

QString filePath();
// The one queue, off the GUI thread, on which the user's changes to the file
// run (call the functions below inside its jobs).
SerialExecutor& queue();
// The profiles in file order; a missing or undecodable file gives none.
QList<ProviderProfile> load();
// The same, but none unless the file lists the user's profiles for certain:
// none when it is there and cannot be read or decoded, and none while an
// earlier file is kept aside as "provider_profiles.json.bad" (a change saved
// over a damaged file leaves its profiles there until the user restores
// them). Whatever takes a profile missing here for one the user deleted (the
// bindings' prune, the legacy-key migration) reads this.
std::optional<QList<ProviderProfile>> loadChecked();
// Replaces the profile with the same id or appends it. False (with the
// reason) when the file could not be written. A change over an undecodable
// file first keeps that file as "provider_profiles.json.bad" (its profiles
// name the keys in the keyring).
bool upsert(const ProviderProfile& profile, QString* error = nullptr);
// Removes the profile with that id; true also when there was none.
bool remove(const QUuid& id, QString* error = nullptr);

} // namespace ProviderProfileStore
