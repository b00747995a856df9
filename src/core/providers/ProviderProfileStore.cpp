#include "core/providers/ProviderProfileStore.h"

#include "core/platform/JsonListFile.h"
#include "core/platform/TolvarinePaths.h"

namespace ProviderProfileStore {

namespace {

JsonListFile<ProviderProfile>& file()
{
    static JsonListFile<ProviderProfile> f(filePath);
    return f;
}

} // namespace

SerialExecutor& queue()
{
    return file().queue();
}

QString filePath()
{
    return TolvarinePaths::dotTolvarine() + QStringLiteral("/provider_profiles.json");
}

QList<ProviderProfile> load()
{
    return file().load();
}

std::optional<QList<ProviderProfile>> loadChecked()
{
    return file().readWhole();
}

bool upsert(const ProviderProfile& record, QString* error)
{
    return file().upsert(record, error);
}

bool remove(const QUuid& id, QString* error)
{
    return file().remove(id, error);
}

} // namespace ProviderProfileStore
