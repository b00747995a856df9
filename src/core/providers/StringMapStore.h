#pragma once

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QString>

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
    QMap<QString, QString> load() const;
    // The string values of the file's content; empty unless it is a JSON object.
    static QMap<QString, QString> decode(const QByteArray& data);
    // Sets the key's value, or removes the key when the value is none.
    bool set(const QString& key, const std::optional<QString>& value, QString* error = nullptr);

private:
    QString m_fileName;
    mutable QMutex m_mutex;
};
