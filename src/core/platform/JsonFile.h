#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

#include <optional>

// Stores and snapshots on disk.
namespace JsonFile {

enum class Access { Default, Private };

// The one way a store, the ledger or a snapshot reaches the disk: `bytes`
// written to a temporary file that is renamed over `path` only when every
// byte was written and flushed; Private gives the file mode 0600. Creates the
// folder when missing. False (with the reason) when anything failed: the old
// file is then kept as it was.
bool replaceFile(
    const QString& path, const QByteArray& bytes, Access access = Access::Default, QString* error = nullptr);

// Pretty-printed (object keys come out sorted), through replaceFile().
bool writeAtomically(
    const QString& path, const QJsonDocument& doc, Access access = Access::Default, QString* error = nullptr);

// Keeps bytes that could not be read back beside their file, as "<path>.bad",
// so that the next write does not throw them away unseen. False when that fails.
bool keepAside(const QString& path, const QByteArray& data, Access access, QString* error = nullptr);

// Where keepAside() and setAside() keep a file: "<path>.bad".
QString asidePath(const QString& path);
// Whether a copy of the file is kept there (the user has not dealt with it yet).
bool hasAside(const QString& path);

// No store or pairing file comes near this size; a larger one is not read.
inline constexpr qint64 kMaxStoredBytes = 4 * 1024 * 1024;

// A stored file as read: missing, read whole, or there but not readable (with
// the reason in the user's words: a folder in its place, too large, no access).
struct Stored {
    enum class State { Missing, Read, Unreadable };
    State state = State::Missing;
    QByteArray data;
    QString reason;
    // A folder stands where the file should be.
    bool isFolder = false;
};
Stored readStored(const QString& path, qint64 limit = kMaxStoredBytes);
// Why a file that is there may not be opened, seen without opening it: a
// folder or anything but a plain file in its place, or more than `limit`
// bytes. None when it may (or is missing).
std::optional<QString> whyNotOpened(const QString& path, qint64 limit = kMaxStoredBytes);

// Before a store replaces a file it could not read: its bytes are kept as
// "<path>.bad" (keepAside) when they were read, else the file itself is
// renamed to that. A folder in its place is never moved: false with the reason,
// and the store must not write. True when there was nothing to keep.
bool setAside(const QString& path, const Stored& stored, Access access, QString* error = nullptr);

// None when the file is missing, unreadable or not JSON.
std::optional<QJsonDocument> read(const QString& path);

} // namespace JsonFile
