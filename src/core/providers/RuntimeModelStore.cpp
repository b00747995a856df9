#include "core/providers/RuntimeModelStore.h"

#include "core/providers/StringMapStore.h"

namespace RuntimeModelStore {

namespace {
StringMapStore& store()
{
    static StringMapStore s(QStringLiteral("runtime_models.json"));
    return s;
}
} // namespace

QString filePath()
{
    return store().filePath();
}

QMap<QString, QString> load()
{
    QMap<QString, QString> out;
    const QMap<QString, QString> raw = store().load();
    for (auto it = raw.begin(); it != raw.end(); ++it) {
        const QString value = it.value().trimmed();
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
    const QString trimmed = model.value_or(QString()).trimmed();
    return store().set(kind, trimmed.isEmpty() ? std::nullopt : std::optional<QString>(trimmed), error);
}

} // namespace RuntimeModelStore
