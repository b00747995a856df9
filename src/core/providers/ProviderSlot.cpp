#include "core/providers/ProviderSlot.h"

#include "core/gateway/Json.h"

std::optional<ProviderSlot> ProviderSlot::fromJson(const QJsonObject& object)
{
    json::StrictReader r(object);
    ProviderSlot s;
    s.provider = r.requiredString(QStringLiteral("provider"));
    s.display = r.string(QStringLiteral("display"));
    s.keyEnvVars = r.stringList(QStringLiteral("key_env_vars"));
    s.baseURLEnvVar = r.optionalString(QStringLiteral("base_url_env_var"));
    s.modelEnvVar = r.optionalString(QStringLiteral("model_env_var"));
    if (!r.ok())
        return std::nullopt;
    return s;
}
