#pragma once

#include "core/gateway/Records.h"
#include "core/runtimes/RuntimeRow.h"
#include "core/workforce/RuntimeServingMap.h"
#include "core/workforce/WorkforceFacts.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

#include <optional>

class AgentServiceHealth;
class RuntimeController;
class RuntimeInventoryStore;
class Status;
class WorkspaceCatalog;
struct WorkforceSnapshot;

// How healthy the selected workspace is, in counts and flags: what the summary
// bar shows and what "desktop_summary.json" holds for tools outside the window.
// A plain value; recompute it from the window's models whenever one changes.
struct WorkspaceSummary {
    qint64 employeesTotal = 0;
    qint64 employeesWorking = 0; // a reading and at least one running task
    qint64 employeesIdle = 0; // a reading and nothing running
    qint64 employeesNoReading = 0; // no reading, or no facts at all
    qint64 runtimesInstalled = 0;
    qint64 runtimesConfigured = 0; // usable, plus switched-off rows that would be ready
    qint64 runtimesUsable = 0;
    qint64 runtimesRunning = 0; // our worker runs in the selected workspace
    qint64 runtimesDisabled = 0; // installed and switched off
    qint64 pendingApprovals = 0; // distinct waiting task ids
    qint64 failedTasks = 0;
    qint64 runtimesNeedingLogin = 0;
    bool workspaceUnavailable = false; // a workspace is selected and its folder is gone
    bool agentOffline = false; // the local runner is anything but online
    bool runtimeInventoryLoaded = false; // rows, or a refresh has finished
    bool teamLoaded = false; // a roster load has finished without error
    std::optional<qint64> runtimeAgeSeconds; // since the last inventory refresh; never negative
    std::optional<bool> agentServiceRunning; // none until the service has answered a probe
    // How far the runner list was read: `agentOffline` tells of the runners
    // only when they were read.
    enum class Runners { read, notYetRead, unreadable };
    Runners runners = Runners::read;
    // The last inventory refresh failed: the counts are not this machine's now.
    bool runtimeInventoryUnreadable = false;

    bool operator==(const WorkspaceSummary&) const = default;

    // Everything the computation reads, as plain values.
    struct Inputs {
        // The selected workspace's id (its configuration's "workspace"); none when nothing is selected.
        std::optional<QString> workspaceID;
        // Whether the selected workspace's folder exists (ignored when none is selected).
        bool workspaceFolderExists = false;

        QList<TeammateBrief> team;
        std::optional<QString> teamError;
        // A roster load has finished (with or without an error).
        bool teamLoadFinished = false;
        QSet<QString> waitingTaskIDs;
        qint64 failedFeedItems = 0;
        AgentPresence presence;

        // Employee id → facts; an employee without an entry has no reading.
        QHash<QString, WorkforceFacts> workforceFacts;
        // Runtime kind → the work it serves.
        QHash<QString, QList<RuntimeServing>> runtimeServing;

        QList<RuntimeRow> inventoryRows;
        bool inventoryLoading = false;
        // When the last inventory refresh finished (successfully or not); none before the first.
        std::optional<QDateTime> inventoryStamp;
        // The last refresh could not read the inventory.
        bool inventoryFailed = false;
        // Runtime kind → enabled; a kind that is missing is enabled.
        QMap<QString, bool> runtimeEnabled;
        // Kinds whose worker runs in the selected workspace.
        QSet<QString> runningKinds;

        std::optional<bool> agentServiceRunning;

        // Reads the window's models as they are now; the workforce facts and
        // the serving map are the shared derivation's.
        static Inputs gather(const Status& status, const WorkspaceCatalog& catalog,
            const RuntimeInventoryStore& inventory, const QMap<QString, bool>& runtimeEnabled,
            const RuntimeController& runtimes, const AgentServiceHealth& serviceHealth,
            const WorkforceSnapshot& workforce);
    };

    // Pure: the summary of `in` at time `now` (for the runtime age).
    static WorkspaceSummary compute(const Inputs& in, const QDateTime& now);
    // Convenience for the window: gather() then compute() at the current time.
    static WorkspaceSummary compute(const Status& status, const WorkspaceCatalog& catalog,
        const RuntimeInventoryStore& inventory, const QMap<QString, bool>& runtimeEnabled,
        const RuntimeController& runtimes, const AgentServiceHealth& serviceHealth, const WorkforceSnapshot& workforce);

    // The snapshot's 19 entries (absent age -1, absent service state false
    // with "agent_service_known" false).
    QJsonObject toJson() const;
    // "desktop_summary.json" in ~/.tolvarine of the real home (TOLVARINE_HOME does not move it).
    static QString snapshotPath();
    // The snapshot file's content (pretty-printed, keys sorted). The bytes are
    // made where the summary lives; writing them is a SerialFileWriter's job,
    // off the GUI thread.
    QByteArray snapshotBytes() const;
};
