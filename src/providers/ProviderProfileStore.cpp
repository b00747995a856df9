#include "providers/ProviderProfileStore.h"

#include "platform/JsonFile.h"
#include "providers/TolvarinePaths.h"

#include <QFile>
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
    QFile f(filePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return ProviderProfile::decodeList(f.readAll()).value_or(QList<ProviderProfile> {});
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
    QList<ProviderProfile> profiles = loadUnlocked();
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
    QList<ProviderProfile> profiles = loadUnlocked();
    profiles.removeIf([&](const ProviderProfile& p) { return p.id == id; });
    return save(profiles, error);
}

} // namespace ProviderProfileStore
