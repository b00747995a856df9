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
    QDateTime startedAt;

    bool operator==(const RuntimeChildRecord&) const = default;

    QJsonObject toJson() const;
    // All six keys required with their types; none otherwise, with the failing key.
    static std::optional<RuntimeChildRecord> fromJson(const QJsonObject& object, QString* error = nullptr);
};
