#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

enum class TolvarineStatus;

// The plain values the status model reads from the workspace gateway and
// publishes to the views.

// One command (task) of the workspace, as the gateway lists it.
struct CommandBrief {
    QString id;
    QString text;
    QString status; // "claimed", "pending", "blocked", "waiting_approval", "dependency_failed",
                    // "runtime_unavailable", "done", "failed", "unsupported", or another word
    QString claimedBy;
    QString summary;
    QString error;
    std::optional<QDateTime> issuedAt;
    std::optional<QDateTime> completedAt;
    std::optional<bool> filesTouched;
    QString employeeID;
    QStringList dependsOn;
    QString ranRuntime;
    QString executionID;
    std::optional<QDateTime> claimedAt;
    QString verdict;

    // The interface's status for the gateway's word; none for a word it does not know.
    std::optional<TolvarineStatus> tolvarineStatus() const;
    // The issue time as "HH:mm" in local time; "" when there is none.
    QString issuedAtHHmm() const;

    bool operator==(const CommandBrief&) const = default;
};

// A runner device and the age of its last heartbeat.
struct RunnerInfo {
    QString deviceID;
    qint64 secondsAgo = 0;

    bool operator==(const RunnerInfo&) const = default;
};

// Whether this computer's runner is there.
struct AgentPresence {
    enum class Kind { Online, Stale, Unknown, Never };
    Kind kind = Kind::Unknown;
    qint64 seconds = 0; // Online, Stale
    QString reason; // Unknown
    // Unknown: the runner list was read (none of it is this machine), rather
    // than not read at all.
    bool runnersRead = false;

    static AgentPresence online(qint64 s) { return { Kind::Online, s, {}, true }; }
    static AgentPresence stale(qint64 s) { return { Kind::Stale, s, {}, true }; }
    static AgentPresence unknown(const QString& why, bool runnersRead = false)
    {
        return { Kind::Unknown, 0, why, runnersRead };
    }
    static AgentPresence never() { return { Kind::Never, 0, {}, true }; }
    // Nothing read yet for the workspace shown.
    static AgentPresence notRead() { return unknown(QStringLiteral("还没读过")); }

    bool operator==(const AgentPresence&) const = default;
};

// One progress event of a command.
struct ProgressLine {
    qint64 seq = 0;
    QString kind; // "other" when the gateway gave none
    QString action;
    QString detail;
    std::optional<QDateTime> at;

    bool operator==(const ProgressLine&) const = default;
};

enum class PermState { Granted, Pending, Denied };

// One permission tier of the workspace.
struct PermRow {
    QString key;
    QString title;
    QString detail;
    PermState state = PermState::Denied;

    bool operator==(const PermRow&) const = default;
};

// Whether the followed command's progress shows a tier in use.
struct PermUse {
    enum class Kind { Used, NotSeen, NotExpressed, Unknown };
    Kind kind = Kind::Unknown;
    QString reason; // Unknown

    static PermUse used() { return { Kind::Used, {} }; }
    static PermUse notSeen() { return { Kind::NotSeen, {} }; }
    static PermUse notExpressed() { return { Kind::NotExpressed, {} }; }
    static PermUse unknown(const QString& why) { return { Kind::Unknown, why }; }

    bool operator==(const PermUse&) const = default;
};

// One AI employee of the workspace.
struct TeammateBrief {
    QString id;
    QString name;
    QString role; // Chinese template title, " · ", role title
    QString status;
    QString device;
    QString deviceTask;
    QString templateName; // Chinese title of the template
    QString templateKey; // the template's English name as received
    QString roleTitle;
    QStringList skills;
    QString deviceTaskID;
    std::optional<bool> deviceAlive;
    std::optional<qint64> deviceSecondsAgo;
    QString deviceRuntime;
    QString runtimeFit;
    QString deviceTier;
    qint64 doneTodayOnDevice = 0;

    bool operator==(const TeammateBrief&) const = default;
};

// One feed item as the approvals and failed-task sheets show it.
struct FeedApprovalItem {
    QString id;
    QString taskID;
    QString category;
    QString title;
    QString subtitle;
    QString command;
    QString originDevice;
    QString outcome;

    bool operator==(const FeedApprovalItem&) const = default;
};

// What the workspace's runner is doing now and, when nothing, why.
struct RuntimeState {
    enum class Kind { Unknown, Running, AwaitingGrant, Queued, LastFailed, LastDone, Idle, NoRunner };
    Kind kind = Kind::Unknown;
    QString reason; // Unknown
    CommandBrief command; // Running, Queued, LastFailed, LastDone
    bool byThisMachine = false; // Running
    QStringList grants; // AwaitingGrant
    bool hasRunner = false; // Queued
    std::optional<QString> blockedByAssignee; // Queued
    qint64 seconds = 0; // Idle
    AgentPresence presence; // NoRunner

    bool operator==(const RuntimeState&) const = default;
};
