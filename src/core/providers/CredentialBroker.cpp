#include "core/providers/CredentialBroker.h"

#include "core/platform/SecretStore.h"
#include "core/platform/UuidText.h"
#include "core/providers/RuntimeModelStore.h"

namespace CredentialBroker {

namespace {

std::optional<QString> readKey(const QString& account)
{
    const std::optional<QByteArray> secret = SecretStore::shared()->read(service(), account);
    if (!secret)
        return std::nullopt;
    const QString key = QString::fromUtf8(*secret).trimmed();
    if (key.isEmpty())
        return std::nullopt;
    return key;
}

QString profileLabel(const QUuid& profile)
{
    return QStringLiteral("Tolvarine 模型服务密钥（%1）").arg(UuidText::plain(profile));
}

} // namespace

QString service()
{
    return QStringLiteral("tolvarine-desktop");
}

QString legacyAccount(const QString& provider)
{
    return provider.toLower();
}

QString profileAccount(const QUuid& profile)
{
    return QStringLiteral("profile:") + UuidText::plain(profile);
}

bool isConfigured(const QString& provider)
{
    if (provider.isEmpty())
        return false;
    return SecretStore::shared()->contains(service(), legacyAccount(provider));
}

bool isConfigured(const QUuid& profile)
{
    return SecretStore::shared()->contains(service(), profileAccount(profile));
}

QSet<QUuid> keyedProfiles(const QList<QUuid>& among)
{
    QSet<QUuid> keyed;
    for (const QUuid& id : among) {
        if (isConfigured(id))
            keyed.insert(id);
    }
    return keyed;
}

QSet<QString> configuredProviders(const QStringList& among)
{
    QSet<QString> out;
    for (const QString& provider : among) {
        if (!provider.isEmpty() && isConfigured(provider))
            out.insert(provider);
    }
    return out;
}

bool adoptLegacy(const QString& provider, const QUuid& into)
{
    if (provider.isEmpty() || into.isNull())
        return false;
    const std::shared_ptr<SecretStore> keys = SecretStore::shared();
    SecretStore& store = *keys;
    if (store.contains(service(), profileAccount(into)))
        return false;
    const std::optional<QByteArray> secret = store.read(service(), legacyAccount(provider));
    if (!secret)
        return false;
    if (!store.write(service(), profileAccount(into), *secret, profileLabel(into)))
        return false;
    if (!store.remove(service(), legacyAccount(provider))) {
        // Two copies would make the provider look unmigrated next time and
        // migrate it again; keep the original and take the copy back.
        store.remove(service(), profileAccount(into));
        return false;
    }
    return true;
}

bool storeKey(const QUuid& profile, const QString& key, QString* error)
{
    const QString trimmed = key.trimmed();
    if (trimmed.isEmpty()) {
        if (error)
            *error = QStringLiteral("Key 是空的");
        return false;
    }
    QString reason;
    if (SecretStore::shared()->write(
            service(), profileAccount(profile), trimmed.toUtf8(), profileLabel(profile), &reason))
        return true;
    if (error)
        *error = QStringLiteral("存不进系统的密码库：") + reason;
    return false;
}

bool deleteKey(const QUuid& profile, QString* error)
{
    QString reason;
    if (SecretStore::shared()->remove(service(), profileAccount(profile), &reason))
        return true;
    if (error)
        *error = QStringLiteral("删不掉系统密码库里的 Key：") + reason;
    return false;
}

std::optional<QString> profileKey(const QUuid& profile)
{
    return readKey(profileAccount(profile));
}

QMap<QString, QString> launchEnv(
    const ProviderProfile& profile, const RuntimeSetupInfo& setup, const std::optional<QString>& kind)
{
    QMap<QString, QString> env;
    const std::optional<ProviderSlot> slot = setup.slot(profile.provider);
    if (!slot)
        return env;
    if (const std::optional<QString> key = readKey(profileAccount(profile.id))) {
        for (const QString& var : slot->keyEnvVars) {
            if (!var.isEmpty())
                env.insert(var, *key);
        }
    }
    const QString baseURL = profile.baseURL.value_or(QString()).trimmed();
    if (slot->baseURLEnvVar && !slot->baseURLEnvVar->isEmpty() && !baseURL.isEmpty())
        env.insert(*slot->baseURLEnvVar, baseURL);
    if (slot->modelEnvVar && !slot->modelEnvVar->isEmpty()) {
        std::optional<QString> model = kind ? RuntimeModelStore::model(*kind) : std::nullopt;
        if (!model) {
            const QString fallback = profile.defaultModel.value_or(QString()).trimmed();
            if (!fallback.isEmpty())
                model = fallback;
        }
        if (model)
            env.insert(*slot->modelEnvVar, *model);
    }
    return env;
}

bool readsKey(const std::optional<RuntimeSetupInfo>& setup, const std::optional<ProviderProfile>& profile)
{
    if (!setup)
        return false;
    if (profile)
        return setup->slot(profile->provider).has_value();
    return setup->credentialProvider && !setup->credentialProvider->isEmpty() && !setup->apiKeyEnvVars.isEmpty();
}

QMap<QString, QString> launchEnv(const QString& provider, const QStringList& envVars)
{
    QMap<QString, QString> env;
    if (provider.isEmpty() || envVars.isEmpty())
        return env;
    const std::optional<QString> key = readKey(legacyAccount(provider));
    if (!key)
        return env;
    for (const QString& var : envVars) {
        if (!var.isEmpty())
            env.insert(var, *key);
    }
    return env;
}

} // namespace CredentialBroker
