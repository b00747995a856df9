#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

// "runtime_enabled.json" in the application's dot directory: one boolean per
// runtime kind, true = enabled; a kind that is not listed is enabled.
class SerialExecutor;

namespace RuntimeEnablementStore {

QString filePath();
// The one queue, off the GUI thread, on which the user's changes to the file
// run (call setEnabled() inside its jobs).
SerialExecutor& queue();
// The file's content as flags; none unless it is a JSON object of booleans.
std::optional<QMap<QString, bool>> decode(const QByteArray& data);
// The flags in the file; empty when it is missing, unreadable or not an object of booleans.
QMap<QString, bool> load();
// Sets one kind's flag, replacing the file atomically. An undecodable file is
// kept beside it as "runtime_enabled.json.bad" before it is replaced. False
// with the reason when the file cannot be written.
bool setEnabled(const QString& kind, bool enabled, QString* error = nullptr);

} // namespace RuntimeEnablementStore
