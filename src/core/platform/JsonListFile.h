#pragma once

#include "core/platform/JsonFile.h"
#include "core/platform/SerialExecutor.h"

#include <QJsonArray>
#include <QList>
#include <QMutex>
#include <QUuid>

#include <algorithm>
#include <optional>

// A JSON array of records kept by id in one file, written by one store:
// replaced atomically with mode 0600, every read-modify-write under the
// file's lock. Changes asked for from the GUI thread run on the file's own
// queue. T has `QUuid id`, `QJsonObject toJson() const` and
// `static std::optional<QList<T>> decodeList(const QByteArray&)`.
template <typename T> class JsonListFile {
public:
    // `path` is asked on every use: the home folder can change (tests).
    explicit JsonListFile(QString (*path)())
        : m_path(path)
    {
    }

    // The one queue, off the GUI thread, for the changes a user makes.
    SerialExecutor& queue() { return m_queue; }

    // The records in file order; a missing or undecodable file gives none.
    QList<T> load() { return read().value_or(QList<T> {}); }

    // The records in file order, an empty list when the file is missing;
    // none when it is there but cannot be read or decoded.
    std::optional<QList<T>> read()
    {
        const QMutexLocker locker(&m_lock);
        return readLocked();
    }

    // The same, but none also while an earlier file is kept aside beside
    // this one ("<file>.bad"): records that the user did not remove may be
    // in there, so the file does not list them all for certain.
    std::optional<QList<T>> readWhole()
    {
        const QMutexLocker locker(&m_lock);
        if (JsonFile::hasAside(m_path()))
            return std::nullopt;
        return readLocked();
    }

    // Replaces the record with the same id or appends it. False (with the
    // reason) when the file could not be written.
    bool upsert(const T& record, QString* error)
    {
        const QMutexLocker locker(&m_lock);
        std::optional<QList<T>> records = loadForChange(error);
        if (!records)
            return false;
        const auto same = std::find_if(records->begin(), records->end(), [&](const T& r) { return r.id == record.id; });
        if (same != records->end())
            *same = record;
        else
            records->append(record);
        return save(*records, error);
    }

    // Removes the record with that id; true also when there was none.
    bool remove(const QUuid& id, QString* error)
    {
        const QMutexLocker locker(&m_lock);
        std::optional<QList<T>> records = loadForChange(error);
        if (!records)
            return false;
        records->removeIf([&](const T& r) { return r.id == id; });
        return save(*records, error);
    }

private:
    std::optional<QList<T>> readLocked()
    {
        const JsonFile::Stored stored = JsonFile::readStored(m_path());
        if (stored.state == JsonFile::Stored::State::Missing)
            return QList<T> {};
        if (stored.state != JsonFile::Stored::State::Read)
            return std::nullopt;
        return T::decodeList(stored.data);
    }

    // What a change starts from. A file that cannot be read back is kept
    // beside the new one as "<file>.bad" rather than dropped unseen; nothing
    // is written when that fails.
    std::optional<QList<T>> loadForChange(QString* error)
    {
        const JsonFile::Stored stored = JsonFile::readStored(m_path());
        if (stored.state == JsonFile::Stored::State::Missing)
            return QList<T> {};
        if (stored.state == JsonFile::Stored::State::Read) {
            if (std::optional<QList<T>> records = T::decodeList(stored.data))
                return records;
        }
        if (JsonFile::setAside(m_path(), stored, JsonFile::Access::Private, error))
            return QList<T> {};
        return std::nullopt;
    }

    bool save(const QList<T>& records, QString* error)
    {
        QJsonArray array;
        for (const T& r : records)
            array.append(r.toJson());
        return JsonFile::writeAtomically(m_path(), QJsonDocument(array), JsonFile::Access::Private, error);
    }

    QString (*m_path)();
    QMutex m_lock;
    SerialExecutor m_queue;
};
