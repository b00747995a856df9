#pragma once

#include <QColor>
#include <QHashFunctions>
#include <QString>

#include <array>
#include <optional>

// The seventeen states the interface speaks of, in their fixed order. Each has
// an English status word (the raw value), a Chinese label and a tint.
enum class TolvarineStatus {
    running,
    waitingApproval,
    waitingDependency,
    completed,
    failed,
    offline,
    loginRequired,
    authRequired,
    idle,
    stopped,
    installed,
    notInstalled,
    queued,
    dependencyFailed,
    runtimeUnavailable,
    unassigned,
    partiallyDone,
};

namespace TolvarineStatuses {

// Every case, in table order.
const std::array<TolvarineStatus, 17>& allCases();

// The English status word, such as "Waiting Approval".
QString rawValue(TolvarineStatus status);

// The case whose word equals `raw` exactly (case, spaces and all); none otherwise.
std::optional<TolvarineStatus> fromRawValue(const QString& raw);

// The Simplified Chinese label.
QString zh(TolvarineStatus status);

// The tint: a palette colour, the muted grey at 0.45 or the failure red.
QColor tint(TolvarineStatus status);

} // namespace TolvarineStatuses

inline size_t qHash(TolvarineStatus status, size_t seed = 0)
{
    return qHash(TolvarineStatuses::rawValue(status), seed);
}
