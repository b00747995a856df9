#pragma once

#include "core/gateway/Failure.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The change summary the gateway serves for a task, the evidence state the
// task evidence view holds, and the texts derived from it. Decoded leniently:
// a missing or mistyped key gives the field's empty value.

// One changed file of a task.
struct DeskFileChange {
    QString path; // as shown: cut, direction controls written out
    qint64 added = 0;
    qint64 deleted = 0;
    QString hunk; // whole; the diff block cuts what it shows
    bool binary = false;
    QString hash; // key of the uploaded copy; empty when none was uploaded
    qint64 size = 0;
    QString artifactNote;
    bool attributed = false;
    QString baselineNote;
    QString gatewayPath; // the path as the gateway sent it, for the snapshot file

    bool operator==(const DeskFileChange&) const = default;
    // None when "path" is not a string.
    static std::optional<DeskFileChange> fromJson(const QJsonValue& value);
};

// A task's whole change set.
struct DeskChangeSet {
    QList<DeskFileChange> files;
    qint64 added = 0;
    qint64 deleted = 0;
    QString unavailable;
    bool truncated = false;
    bool artifactsTruncated = false;
    QString reconciliation;
    qint64 externalCount = 0;
    QStringList externalPaths;
    QString attributionNote;

    bool operator==(const DeskChangeSet&) const = default;
    static DeskChangeSet fromJson(const QJsonObject& object);
    // The files with an uploaded copy, in list order.
    QList<DeskFileChange> viewable() const;
};

// The reply of the change-summary request.
struct DeskChangesResponse {
    bool hasChanges = false;
    std::optional<DeskChangeSet> changes;
    QString changesState;

    // None when the body is not a JSON object.
    static std::optional<DeskChangesResponse> fromJson(const QByteArray& body);
};

// What the evidence view knows about a task's artifacts.
struct TaskEvidenceState {
    enum class Kind { Artifacts, NoArtifacts, Unlisted, Failed, Loading };
    Kind kind = Kind::Loading;
    QString text; // NoArtifacts, Unlisted, Failed
    QList<DeskFileChange> viewable; // Artifacts
    DeskChangeSet changes; // Artifacts

    static TaskEvidenceState artifacts(const QList<DeskFileChange>& viewable, const DeskChangeSet& changes);
    static TaskEvidenceState noArtifacts(const QString& why);
    static TaskEvidenceState unlisted(const QString& why);
    static TaskEvidenceState failed(const QString& why);

    bool operator==(const TaskEvidenceState&) const = default;
    QString diagnostics() const;
};

// The result of one change-summary fetch.
struct TaskEvidenceSnapshot {
    TaskEvidenceState state;
    QString changesState; // empty when the fetch failed

    bool operator==(const TaskEvidenceSnapshot&) const = default;
};

namespace EvidenceLive {

QString headline(const TaskEvidenceState& state, bool live);
QString originLine(
    const QString& employeeName, const QString& claimedBy, const QString& thisMachine, const QString& executionID);

// The snapshot for the reply (or failure) of a change-summary request.
TaskEvidenceSnapshot snapshot(const QString& commandId, const Result<QByteArray>& reply);

} // namespace EvidenceLive
