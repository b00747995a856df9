#pragma once

#include "core/providers/ProviderProfile.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

// "runtime_bindings.json": which provider profile each runtime kind launches
// with, as an object kind → profile id.
class SerialExecutor;

namespace RuntimeBindingStore {

QString filePath();
// The one queue, off the GUI thread, on which the user's changes to the file
// run (call the functions below inside its jobs).
SerialExecutor& queue();
// The file's content as bindings; values that are not ids are skipped.
QMap<QString, QUuid> decode(const QByteArray& data);
// Missing or undecodable file gives an empty map; values that are not ids are skipped.
QMap<QString, QUuid> load();
// The same, but none when the file is there and cannot be read or decoded.
std::optional<QMap<QString, QUuid>> loadChecked();
// Sets the kind's binding, or removes it when no id is given.
bool bind(const QString& kind, const std::optional<QUuid>& profile, QString* error = nullptr);
// Removes every binding to that profile (the user deleted it); true also
// when there was none.
bool unbindProfile(const QUuid& profile, QString* error = nullptr);
// Removes every binding whose profile is not among the given ones.
void prune(const QList<ProviderProfile>& keeping);
// Removes every binding whose profile `read` does not list, and returns what
// `read` gave. `read` runs under the bindings' lock: a profile is stored
// before anything binds to it, so a binding made while the profiles are read
// is never taken for a stale one. Nothing is removed when `read` gives none
// (a profiles file that could not be read cleanly lists nothing for certain).
std::optional<QList<ProviderProfile>> pruneAgainst(const std::function<std::optional<QList<ProviderProfile>>()>& read);

} // namespace RuntimeBindingStore
