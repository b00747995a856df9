#include "providers/RuntimeModelStore.h"

#include "gateway/Json.h"
#include "platform/JsonFile.h"
#include "providers/TolvarinePaths.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>

namespace RuntimeModelStore {

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
    return TolvarinePaths::dotTolvarine() + QStringLiteral("/runtime_models.json");
}

QMap<QString, QString> load()
{
    QJsonObject object;
    {
        const QMutexLocker locker(&lock());
        object = readObject();
    }
    QMap<QString, QString> out;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString value = it.value().isString() ? it.value().toString().trimmed() : QString();
        if (!value.isEmpty())
            out.insert(it.key(), value);
    }
    return out;
}

std::optional<QString> model(const QString& kind)
{
    const QMap<QString, QString> models = load();
    const auto it = models.constFind(kind);
    if (it == models.cend())
        return std::nullopt;
    return *it;
}

bool setModel(const QString& kind, const std::optional<QString>& model, QString* error)
{
    const QMutexLocker locker(&lock());
    QJsonObject object = readObject();
    const QString trimmed = model.value_or(QString()).trimmed();
    if (trimmed.isEmpty())
        object.remove(kind);
    else
        object.insert(kind, trimmed);
    return JsonFile::writeAtomically(filePath(), QJsonDocument(object), JsonFile::Access::Private, error);
}

} // namespace RuntimeModelStore
