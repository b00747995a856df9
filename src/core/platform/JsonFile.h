#pragma once

#include <QJsonDocument>
#include <QString>

#include <optional>

// Stores and snapshots on disk.
namespace JsonFile {

enum class Access { Default, Private };

// Pretty-printed (object keys come out sorted), written to a temporary file and
// renamed over the target; Private gives the file mode 0600. Creates the
// folder when missing. False when anything failed (the old file is then kept).
bool writeAtomically(const QString& path, const QJsonDocument& doc, Access access = Access::Default,
                     QString* error = nullptr);

// Keeps bytes that could not be read back beside their file, as "<path>.bad",
// so that the next write does not throw them away unseen. False when that fails.
bool keepAside(const QString& path, const QByteArray& data, Access access, QString* error = nullptr);

// None when the file is missing, unreadable or not JSON.
std::optional<QJsonDocument> read(const QString& path);

} // namespace JsonFile
