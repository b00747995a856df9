#include "providers/RuntimeBindingStore.h"

#include "gateway/Json.h"
#include "platform/JsonFile.h"
#include "providers/TolvarinePaths.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSet>

namespace RuntimeBindingStore {

namespace {

QMutex& lock()
{
    static QMutex m;
    return m;
}

QJsonObject readObject()
{
    QFile f(filePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return json::parseObject(f.readAll()).value_or(QJsonObject {});
}

} // namespace

QString filePath()
{
    return TolvarinePaths::dotTolvarine() + QStringLiteral("/runtime_bindings.json");
}

QMap<QString, QUuid> load()
{
    QJsonObject object;
    {
        const QMutexLocker locker(&lock());
        object = readObject();
    }
    QMap<QString, QUuid> out;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString())
            continue;
        const QUuid id = QUuid::fromString(it.value().toString());
        if (!id.isNull())
            out.insert(it.key(), id);
    }
    return out;
}

bool bind(const QString& kind, const std::optional<QUuid>& profile, QString* error)
{
    const QMutexLocker locker(&lock());
    QJsonObject object = readObject();
    if (profile)
        object.insert(kind, profile->toString(QUuid::WithoutBraces).toUpper());
    else
        object.remove(kind);
    return JsonFile::writeAtomically(filePath(), QJsonDocument(object), JsonFile::Access::Private, error);
}

void prune(const QList<ProviderProfile>& keeping)
{
    QSet<QUuid> ids;
    for (const ProviderProfile& p : keeping)
        ids.insert(p.id);
    const QMap<QString, QUuid> bindings = load();
    for (auto it = bindings.begin(); it != bindings.end(); ++it) {
        if (!ids.contains(it.value()))
            RuntimeBindingStore::bind(it.key(), std::nullopt);
    }
}

} // namespace RuntimeBindingStore
