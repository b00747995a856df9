#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <sys/types.h>

#include <optional>

// One worker the application started and has not yet seen end.
struct RuntimeChildRecord {
    qint32 pid = 0;
    QString exe;
    QString workspace;
    QString kind;
    qint32 ownerPID = 0;
    // The owner's start (ProcessTable::Entry::startTicks), so that its pid
    // taken by a later process is not read as the owner still running; 0 in
    // records written before it was kept.
    quint64 ownerStart = 0;
    // The PID namespace the owner's pid belongs to (the inode of its
    // /proc/self/ns/pid), and the product home whose instance lock the owner
    // holds: an owner in another namespace is judged by that lock, not by a
    // pid that means something else here. 0 and empty in records written
    // before they were kept.
    quint64 ownerPidNs = 0;
    QString ownerHome;
    QDateTime startedAt;
    // The mark its environment carries (TOLVARINE_LAUNCH). The record is
    // written before the worker is started, with pid 0 until the worker has
    // one: a launch cut short by a crash is still found by its mark.
    QString launch;

    bool operator==(const RuntimeChildRecord&) const = default;

    QJsonObject toJson() const;
    // All six keys but "launch", "ownerStart", "ownerPidNs" and "ownerHome" required with their types; none otherwise,
    // with the failing key.
    static std::optional<RuntimeChildRecord> fromJson(const QJsonObject& object, QString* error = nullptr);
};
