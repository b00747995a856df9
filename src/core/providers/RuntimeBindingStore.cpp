#include "core/providers/RuntimeBindingStore.h"

#include "core/platform/UuidText.h"
#include "core/providers/StringMapStore.h"

#include <QSet>

namespace RuntimeBindingStore {

namespace {
StringMapStore& store()
{
    static StringMapStore s(QStringLiteral("runtime_bindings.json"));
    return s;
}

QMap<QString, QUuid> ids(const QMap<QString, QString>& raw)
{
    QMap<QString, QUuid> out;
    for (auto it = raw.begin(); it != raw.end(); ++it) {
        const QUuid id = QUuid::fromString(it.value());
        if (!id.isNull())
            out.insert(it.key(), id);
    }
    return out;
}

// The runtime kinds whose bound profile `matches` picks.
template <typename Matches> QStringList boundWhere(const QMap<QString, QString>& raw, Matches matches)
{
    QStringList kinds;
    const QMap<QString, QUuid> bindings = ids(raw);
    for (auto it = bindings.begin(); it != bindings.end(); ++it) {
        if (matches(it.value()))
            kinds.append(it.key());
    }
    return kinds;
}
} // namespace

SerialExecutor& queue()
{
    return store().queue();
}

QString filePath()
{
    return store().filePath();
}

QMap<QString, QUuid> decode(const QByteArray& data)
{
    return ids(StringMapStore::decode(data));
}

QMap<QString, QUuid> load()
{
    return ids(store().load());
}

std::optional<QMap<QString, QUuid>> loadChecked()
{
    const std::optional<QMap<QString, QString>> raw = store().read();
    if (!raw)
        return std::nullopt;
    return ids(*raw);
}

bool bind(const QString& kind, const std::optional<QUuid>& profile, QString* error)
{
    return store().set(kind, profile ? std::optional<QString>(UuidText::stored(*profile)) : std::nullopt, error);
}

bool unbindProfile(const QUuid& profile, QString* error)
{
    return store().removeKeys(
        [&profile](const QMap<QString, QString>& raw) {
            return boundWhere(raw, [&profile](const QUuid& id) { return id == profile; });
        },
        error);
}

void prune(const QList<ProviderProfile>& keeping)
{
    pruneAgainst([&keeping] { return std::optional<QList<ProviderProfile>>(keeping); });
}

std::optional<QList<ProviderProfile>> pruneAgainst(const std::function<std::optional<QList<ProviderProfile>>()>& read)
{
    std::optional<QList<ProviderProfile>> profiles;
    store().removeKeys([&](const QMap<QString, QString>& raw) {
        QStringList stale;
        profiles = read();
        if (!profiles)
            return stale;
        QSet<QUuid> kept;
        for (const ProviderProfile& p : std::as_const(*profiles))
            kept.insert(p.id);
        return boundWhere(raw, [&kept](const QUuid& id) { return !kept.contains(id); });
    });
    return profiles;
}

} // namespace RuntimeBindingStore
