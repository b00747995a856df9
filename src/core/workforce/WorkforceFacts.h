#pragma once

#include "core/design/TolvarineStatus.h"
#include "core/gateway/Records.h"
#include "core/workforce/RuntimeAttribution.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the workforce views know about one employee, derived from the roster
// and the command list at each refresh.
struct WorkforceFacts {
    QString employeeID;
    TolvarineStatus status = TolvarineStatus::unassigned;
    bool hasReading = false; // has a device whose liveness is known
    QList<CommandBrief> running;
    QList<CommandBrief> blockedMine;
    QList<CommandBrief> blockedQueue; // blocked work of no employee, the same for everyone
    QList<CommandBrief> dependencyFailedMine;
    // Its work (or its machine's) that waits for the user's approval, in list order.
    QList<CommandBrief> awaitingApproval;
    std::optional<CommandBrief> lastFinished;
    RuntimeAttribution runtime;
    bool ambiguousOwnership = false;
    QStringList waitingOnNames;
    QStringList failedUpstreamNames;
    std::optional<QString> machineWorkLine;

    // The record shown where an employee has none.
    static WorkforceFacts placeholder() { return {}; }

    bool operator==(const WorkforceFacts&) const = default;
};
