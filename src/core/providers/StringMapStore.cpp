#include "core/providers/StringMapStore.h"

#include "core/gateway/Json.h"
#include "core/platform/JsonFile.h"
#include "core/platform/TolvarinePaths.h"

#include <QJsonObject>

QString StringMapStore::filePath() const
{
    return TolvarinePaths::dotTolvarine() + QLatin1Char('/') + m_fileName;
}

QMap<QString, QString> StringMapStore::load() const
{
    QByteArray data;
    {
        const QMutexLocker locker(&m_mutex);
        data = JsonFile::readStored(filePath()).data;
    }
    return decode(data);
}

std::optional<QMap<QString, QString>> StringMapStore::read() const
{
    const QMutexLocker locker(&m_mutex);
    const JsonFile::Stored stored = JsonFile::readStored(filePath());
    if (stored.state == JsonFile::Stored::State::Missing)
        return QMap<QString, QString> {};
    if (stored.state != JsonFile::Stored::State::Read || !json::parseObject(stored.data))
        return std::nullopt;
    return decode(stored.data);
}

QMap<QString, QString> StringMapStore::decode(const QByteArray& data)
{
    const QJsonObject object = json::parseObject(data).value_or(QJsonObject {});
    QMap<QString, QString> out;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.value().isString())
            out.insert(it.key(), it.value().toString());
    }
    return out;
}

bool StringMapStore::set(const QString& key, const std::optional<QString>& value, QString* error)
{
    const QMutexLocker locker(&m_mutex);
    QJsonObject object;
    const JsonFile::Stored stored = JsonFile::readStored(filePath());
    if (const auto decoded = json::parseObject(stored.data); decoded && stored.state == JsonFile::Stored::State::Read)
        object = *decoded;
    else if (!JsonFile::setAside(filePath(), stored, JsonFile::Access::Private, error))
        return false;
    if (value)
        object.insert(key, *value);
    else
        object.remove(key);
    return JsonFile::writeAtomically(filePath(), QJsonDocument(object), JsonFile::Access::Private, error);
}

bool StringMapStore::removeKeys(const std::function<QStringList(const QMap<QString, QString>&)>& pick, QString* error)
{
    const QMutexLocker locker(&m_mutex);
    const JsonFile::Stored stored = JsonFile::readStored(filePath());
    std::optional<QJsonObject> object;
    if (stored.state == JsonFile::Stored::State::Read)
        object = json::parseObject(stored.data);
    // Asked even when there is nothing to remove: the caller may want what it read.
    const QStringList keys = pick(object ? decode(stored.data) : QMap<QString, QString> {});
    if (!object)
        return true;
    bool removed = false;
    for (const QString& key : keys) {
        if (object->contains(key)) {
            object->remove(key);
            removed = true;
        }
    }
    if (!removed)
        return true;
    return JsonFile::writeAtomically(filePath(), QJsonDocument(*object), JsonFile::Access::Private, error);
}
