#include "core/design/RuntimeUsability.h"

namespace RuntimeUsabilities {

namespace {
constexpr const char* kRaw[] = {
    "ready",
    "login_required",
    "credentials_required",
    "not_installed",
    "unsupported",
    "user_supplied",
    "degraded",
    "unknown",
};
} // namespace

QString rawValue(RuntimeUsability usability)
{
    return QString::fromLatin1(kRaw[static_cast<int>(usability)]);
}

RuntimeUsability fromRawValue(const QString& raw)
{
    for (int i = 0; i < int(std::size(kRaw)); ++i) {
        if (raw == QLatin1String(kRaw[i]))
            return static_cast<RuntimeUsability>(i);
    }
    return RuntimeUsability::unknown;
}

} // namespace RuntimeUsabilities
