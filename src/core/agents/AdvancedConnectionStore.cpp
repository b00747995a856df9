#include "core/agents/AdvancedConnectionStore.h"

#include "core/platform/JsonListFile.h"
#include "core/platform/TolvarinePaths.h"

namespace AdvancedConnectionStore {

namespace {

JsonListFile<AdvancedConnection>& file()
{
    static JsonListFile<AdvancedConnection> f(filePath);
    return f;
}

} // namespace

SerialExecutor& queue()
{
    return file().queue();
}

QString filePath()
{
    return TolvarinePaths::dotTolvarine() + QStringLiteral("/advanced_runtimes.json");
}

QList<AdvancedConnection> load()
{
    return file().load();
}

bool upsert(const AdvancedConnection& record, QString* error)
{
    return file().upsert(record, error);
}

bool remove(const QUuid& id, QString* error)
{
    return file().remove(id, error);
}

} // namespace AdvancedConnectionStore
