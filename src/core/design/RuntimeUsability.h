#pragma once

#include <QHashFunctions>
#include <QString>

// How usable one local runtime is, as the companion tool's inventory says.
enum class RuntimeUsability {
    ready,
    loginRequired,
    credentialsRequired,
    notInstalled,
    unsupported,
    userSupplied,
    degraded,
    unknown,
};

namespace RuntimeUsabilities {

// The report's word, such as "login_required".
QString rawValue(RuntimeUsability usability);

// The case whose word equals `raw` exactly (case-sensitive); any other text,
// the empty one included, is `unknown`.
RuntimeUsability fromRawValue(const QString& raw);

} // namespace RuntimeUsabilities

inline size_t qHash(RuntimeUsability usability, size_t seed = 0)
{
    return qHash(RuntimeUsabilities::rawValue(usability), seed);
}
