#pragma once

#include <QString>

#include <optional>

// The companion tool's verdict on whether a local runtime can take work.
enum class RuntimeUsability {
    Ready,
    LoginRequired,
    CredentialsRequired,
    NotInstalled,
    Unsupported,
    UserSupplied,
    Degraded,
    Unknown,
};

// The report's word for a verdict ("ready", "login_required", …).
QString rawWord(RuntimeUsability usability);
// Exact, case-sensitive; none for any other word.
std::optional<RuntimeUsability> runtimeUsabilityFromWord(const QString& word);
