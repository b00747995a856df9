#include "core/providers/StringMapStore.h"

#include "core/gateway/Json.h"
#include "core/platform/JsonFile.h"
#include "core/platform/TolvarinePaths.h"

#include <QJsonObject>

namespace {
QJsonObject readObject(const QString& path)
{
    const JsonFile::Stored stored = JsonFile::readStored(path);
    return json::parseObject(stored.data).value_or(QJsonObject {});
}
} // namespace

QString StringMapStore::filePath() const
{
    return TolvarinePaths::dotTolvarine() + QLatin1Char('/') + m_fileName;
}

QMap<QString, QString> StringMapStore::load() const
{
    QJsonObject object;
    {
        const QMutexLocker locker(&m_mutex);
        object = readObject(filePath());
    }
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
