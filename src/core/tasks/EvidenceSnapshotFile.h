#pragma once

#include "core/gateway/Records.h"
#include "core/gateway/TaskEvidence.h"
#include "core/platform/JsonFile.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>

// "desktop_evidence.json" in the user's own ~/.tolvarine (TOLVARINE_HOME does
// not move it): one entry per command, the latest fetch of the last evidence
// view that fetched it, for automated acceptance checks.
//
// Every live evidence view rewrites its entry every two seconds, so the
// read-merge-write runs in the thread pool, one batch at a time and in order;
// entries put while a batch is being written go together into the next one,
// the latest entry of a command winning. The file is replaced atomically and
// only when its content changes. It stays small enough to be read back: the
// oldest entries give way to new ones.
class EvidenceSnapshotFile : public QObject {
    Q_OBJECT
public:
    // The one writer of the process (GUI thread).
    static EvidenceSnapshotFile& shared();

    // ~/.tolvarine/desktop_evidence.json of the user's home as it is now.
    static QString path();

    // One command's entry.
    static QJsonObject entry(const CommandBrief& command, const TaskEvidenceState& state, qint64 polls,
        const QString& origin, const QString& changesState);

    // `existing` (a file's bytes) with `entries` set, other members kept;
    // anything but a JSON object starts from an empty one. Pretty-printed,
    // keys sorted.
    //
    // A file larger than `limit` would not be read back, and the next write
    // would start afresh, so the oldest entries are left out instead: the
    // newest that fit are kept, `entries` before the others, then by
    // `recency` (command id → a number that grows with each put; an entry
    // without one is older than every entry with one). An entry too large
    // for the file on its own is left out, and the command's earlier entry
    // with it; the others are kept as they fit.
    static QByteArray merged(const QByteArray& existing, const QHash<QString, QJsonObject>& entries,
        const QHash<QString, quint64>& recency = {}, qint64 limit = JsonFile::kMaxStoredBytes);

    // Sets a command's entry in the file at path() (written soon, off the GUI thread).
    void put(const QString& commandId, const QJsonObject& entry);

    // Nothing waits to be written and no write is under way.
    bool idle() const { return !m_writing && m_pending.isEmpty(); }

private:
    EvidenceSnapshotFile() = default;
    void startNext();

    // Target path → command id → entry.
    QHash<QString, QHash<QString, QJsonObject>> m_pending;
    // Target path → command id → when its entry was last put, for leaving
    // out the oldest when the file grows too large.
    QHash<QString, QHash<QString, quint64>> m_recency;
    quint64 m_puts = 0;
    bool m_writing = false;
};
