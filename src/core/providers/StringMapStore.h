#pragma once

#include "core/platform/SerialExecutor.h"

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// A small store in the application's folder: one JSON object whose values are
// strings, read whole and rewritten whole (atomically, mode 0600) under its own
// lock. A missing or undecodable file reads as empty (an undecodable one is kept
// as "<file>.bad" before the next write); values of other types are skipped.
class StringMapStore {
public:
    explicit StringMapStore(QString fileName)
        : m_fileName(std::move(fileName))
    {
    }

    QString filePath() const;
    // The one queue, off the GUI thread, for the changes a user makes.
    SerialExecutor& queue() { return m_queue; }
    QMap<QString, QString> load() const;
    // The same, but none when the file is there and cannot be read or is not
    // a JSON object, for a caller that must not take it for an empty one.
    std::optional<QMap<QString, QString>> read() const;
    // The string values of the file's content; empty unless it is a JSON object.
    static QMap<QString, QString> decode(const QByteArray& data);
    // Sets the key's value, or removes the key when the value is none.
    bool set(const QString& key, const std::optional<QString>& value, QString* error = nullptr);
    // Removes, in one rewrite, the keys that `pick` names from the string
    // values as the file has them. `pick` runs under the lock (always once),
    // so whatever it reads to decide cannot go stale through a `set` in the
    // meantime. A file that cannot be read has nothing to remove and is left
    // as it is.
    bool removeKeys(const std::function<QStringList(const QMap<QString, QString>&)>& pick, QString* error = nullptr);

private:
    QString m_fileName;
    mutable QMutex m_mutex;
    SerialExecutor m_queue;
};
