#include "core/workforce/RuntimeCatalog.h"

RuntimeCatalog runtimeCatalog(const QList<RuntimeRow>& rows)
{
    RuntimeCatalog catalog;
    for (const RuntimeRow& row : rows) {
        if (!catalog.contains(row.kind))
            catalog.insert(row.kind, row.display);
    }
    return catalog;
}
