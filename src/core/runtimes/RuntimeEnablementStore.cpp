#include "core/runtimes/RuntimeEnablementStore.h"

#include "core/gateway/Json.h"
#include "core/platform/JsonFile.h"
#include "core/platform/SerialExecutor.h"
#include "core/platform/TolvarinePaths.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>

namespace RuntimeEnablementStore {

std::optional<QMap<QString, bool>> decode(const QByteArray& data)
{
    const std::optional<QJsonObject> object = json::parseObject(data);
    if (!object)
        return std::nullopt;
    QMap<QString, bool> out;
    for (auto it = object->begin(); it != object->end(); ++it) {
        if (!it.value().isBool())
            return std::nullopt;
        out.insert(it.key(), it.value().toBool());
    }
    return out;
}

SerialExecutor& queue()
{
    static SerialExecutor q;
    return q;
}

QString filePath()
{
    return TolvarinePaths::dotTolvarine() + QStringLiteral("/runtime_enabled.json");
}

QMap<QString, bool> load()
{
    const JsonFile::Stored stored = JsonFile::readStored(filePath());
    if (stored.state != JsonFile::Stored::State::Read)
        return {};
    return decode(stored.data).value_or(QMap<QString, bool> {});
}

bool setEnabled(const QString& kind, bool enabled, QString* error)
{
    static QMutex mutex;
    const QMutexLocker locker(&mutex);
    const QString path = filePath();
    QMap<QString, bool> flags;
    const JsonFile::Stored stored = JsonFile::readStored(path);
    const auto decoded = stored.state == JsonFile::Stored::State::Read ? decode(stored.data) : std::nullopt;
    if (decoded) {
        flags = *decoded;
    } else if (!JsonFile::setAside(path, stored, JsonFile::Access::Default, error)) {
        // Whatever the user or another version left there is not thrown
        // away unseen: it stays next to the new file, or nothing is written.
        return false;
    }
    flags.insert(kind, enabled);
    QJsonObject object;
    for (auto it = flags.begin(); it != flags.end(); ++it)
        object.insert(it.key(), it.value());
    return JsonFile::writeAtomically(path, QJsonDocument(object), JsonFile::Access::Default, error);
}

} // namespace RuntimeEnablementStore
