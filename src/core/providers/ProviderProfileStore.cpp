#include "core/providers/ProviderProfileStore.h"

#include "core/platform/JsonFile.h"
#include "core/platform/TolvarinePaths.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>

namespace ProviderProfileStore {

namespace {

QMutex& lock()
{
    static QMutex m;
    return m;
}

QList<ProviderProfile> loadUnlocked()
{
    const JsonFile::Stored stored = JsonFile::readStored(filePath());
    if (stored.state != JsonFile::Stored::State::Read)
        return {};
    return ProviderProfile::decodeList(stored.data).value_or(QList<ProviderProfile> {});
}

// What a change starts from. A file that cannot be read back is not replaced
// unseen: its profiles name the keys in the keyring, so it is kept next to
// the new file first; nothing is written when that fails.
std::optional<QList<ProviderProfile>> loadForChange(QString* error)
{
    const JsonFile::Stored stored = JsonFile::readStored(filePath());
    if (stored.state == JsonFile::Stored::State::Missing)
        return QList<ProviderProfile> {};
    if (stored.state == JsonFile::Stored::State::Read) {
        if (std::optional<QList<ProviderProfile>> profiles = ProviderProfile::decodeList(stored.data))
            return profiles;
    }
    if (JsonFile::setAside(filePath(), stored, JsonFile::Access::Private, error))
        return QList<ProviderProfile> {};
    return std::nullopt;
}

bool save(const QList<ProviderProfile>& profiles, QString* error)
{
    QJsonArray array;
    for (const ProviderProfile& p : profiles)
        array.append(p.toJson());
    return JsonFile::writeAtomically(filePath(), QJsonDocument(array), JsonFile::Access::Private, error);
}

} // namespace

QString filePath()
{
    return TolvarinePaths::dotTolvarine() + QStringLiteral("/provider_profiles.json");
}

QList<ProviderProfile> load()
{
    const QMutexLocker locker(&lock());
    return loadUnlocked();
}

bool upsert(const ProviderProfile& profile, QString* error)
{
    const QMutexLocker locker(&lock());
    std::optional<QList<ProviderProfile>> loaded = loadForChange(error);
    if (!loaded)
        return false;
    QList<ProviderProfile>& profiles = *loaded;
    bool replaced = false;
    for (ProviderProfile& p : profiles) {
        if (p.id == profile.id) {
            p = profile;
            replaced = true;
            break;
        }
    }
    if (!replaced)
        profiles.append(profile);
    return save(profiles, error);
}

bool remove(const QUuid& id, QString* error)
{
    const QMutexLocker locker(&lock());
    std::optional<QList<ProviderProfile>> loaded = loadForChange(error);
    if (!loaded)
        return false;
    QList<ProviderProfile>& profiles = *loaded;
    profiles.removeIf([&](const ProviderProfile& p) { return p.id == id; });
    return save(profiles, error);
}

} // namespace ProviderProfileStore
