#include "core/providers/RuntimeSetupInfo.h"

#include "core/gateway/Json.h"

#include <QJsonArray>

std::optional<ProviderSlot> RuntimeSetupInfo::slot(const QString& provider) const
{
    for (const ProviderSlot& s : providerSlots) {
        if (s.provider.compare(provider, Qt::CaseInsensitive) == 0)
            return s;
    }
    return std::nullopt;
}

std::optional<RuntimeSetupInfo> RuntimeSetupInfo::fromJson(const QJsonObject& object)
{
    json::StrictReader r(object);
    RuntimeSetupInfo s;
    s.kind = r.requiredString(QStringLiteral("kind"));
    s.display = r.optionalString(QStringLiteral("display"));
    s.installSupported = r.boolean(QStringLiteral("install_supported"));
    s.installMethod = r.optionalString(QStringLiteral("install_method"));
    s.installPackage = r.optionalString(QStringLiteral("install_package"));
    s.installSource = r.optionalString(QStringLiteral("install_source"));
    s.installWhy = r.optionalString(QStringLiteral("install_why"));
    s.authMethods = r.stringList(QStringLiteral("auth_methods"));
    s.apiKeySupported = r.boolean(QStringLiteral("api_key_supported"));
    s.apiKeyEnvVars = r.stringList(QStringLiteral("api_key_env_vars"));
    s.credentialProvider = r.optionalString(QStringLiteral("credential_provider"));
    s.credentialWhy = r.optionalString(QStringLiteral("credential_why"));
    s.uninstallSupported = r.boolean(QStringLiteral("uninstall_supported"));
    s.uninstallMethod = r.optionalString(QStringLiteral("uninstall_method"));
    s.uninstallPackage = r.optionalString(QStringLiteral("uninstall_package"));
    s.uninstallWhy = r.optionalString(QStringLiteral("uninstall_why"));
    if (const std::optional<QJsonArray> slotArray = r.optionalArray(QStringLiteral("provider_slots"))) {
        for (const QJsonValue& v : *slotArray) {
            std::optional<ProviderSlot> slot = v.isObject() ? ProviderSlot::fromJson(v.toObject()) : std::nullopt;
            if (!slot) {
                r.fail(QStringLiteral("provider_slots"));
                break;
            }
            s.providerSlots.append(*slot);
        }
    }
    if (!r.ok())
        return std::nullopt;
    return s;
}

std::optional<QList<RuntimeSetupInfo>> RuntimeSetupInfo::decodeReport(const QByteArray& data)
{
    const std::optional<QJsonObject> wrapper = json::parseObject(data);
    if (!wrapper)
        return std::nullopt;
    json::StrictReader r(*wrapper);
    const QJsonArray runtimes = r.requiredArray(QStringLiteral("runtimes"));
    if (!r.ok())
        return std::nullopt;
    QList<RuntimeSetupInfo> out;
    for (const QJsonValue& v : runtimes) {
        std::optional<RuntimeSetupInfo> info = v.isObject() ? fromJson(v.toObject()) : std::nullopt;
        if (!info)
            return std::nullopt;
        out.append(*info);
    }
    return out;
}
