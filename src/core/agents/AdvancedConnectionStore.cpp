#include "core/agents/AdvancedConnectionStore.h"

#include "core/platform/JsonFile.h"
#include "core/platform/TolvarinePaths.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>

namespace AdvancedConnectionStore {

namespace {

QMutex& lock()
{
    static QMutex m;
    return m;
}

// What a change starts from. A file that cannot be read back is kept beside
// the new one rather than dropped unseen; nothing is written when that fails.
std::optional<QList<AdvancedConnection>> loadForChange(QString* error)
{
    const JsonFile::Stored stored = JsonFile::readStored(filePath());
    if (stored.state == JsonFile::Stored::State::Missing)
        return QList<AdvancedConnection> {};
    if (stored.state == JsonFile::Stored::State::Read) {
        if (std::optional<QList<AdvancedConnection>> list = AdvancedConnection::decodeList(stored.data))
            return list;
    }
    if (JsonFile::setAside(filePath(), stored, JsonFile::Access::Private, error))
        return QList<AdvancedConnection> {};
    return std::nullopt;
}

bool save(const QList<AdvancedConnection>& list, QString* error)
{
    QJsonArray array;
    for (const AdvancedConnection& c : list)
        array.append(c.toJson());
    return JsonFile::writeAtomically(filePath(), QJsonDocument(array), JsonFile::Access::Private, error);
}

} // namespace

QString filePath()
{
    return TolvarinePaths::dotTolvarine() + QStringLiteral("/advanced_runtimes.json");
}

QList<AdvancedConnection> load()
{
    const QMutexLocker locker(&lock());
    const JsonFile::Stored stored = JsonFile::readStored(filePath());
    if (stored.state != JsonFile::Stored::State::Read)
        return {};
    return AdvancedConnection::decodeList(stored.data).value_or(QList<AdvancedConnection> {});
}

bool upsert(const AdvancedConnection& connection, QString* error)
{
    const QMutexLocker locker(&lock());
    std::optional<QList<AdvancedConnection>> loaded = loadForChange(error);
    if (!loaded)
        return false;
    bool replaced = false;
    for (AdvancedConnection& c : *loaded) {
        if (c.id == connection.id) {
            c = connection;
            replaced = true;
            break;
        }
    }
    if (!replaced)
        loaded->append(connection);
    return save(*loaded, error);
}

bool remove(const QUuid& id, QString* error)
{
    const QMutexLocker locker(&lock());
    std::optional<QList<AdvancedConnection>> loaded = loadForChange(error);
    if (!loaded)
        return false;
    loaded->removeIf([&](const AdvancedConnection& c) { return c.id == id; });
    return save(*loaded, error);
}

} // namespace AdvancedConnectionStore
