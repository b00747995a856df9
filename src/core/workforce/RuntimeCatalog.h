#pragma once

#include "core/runtimes/RuntimeRow.h"
#include "core/workforce/RuntimeName.h"

#include <QList>

// Runtime kind → display name of the local inventory, one entry per row; when
// two rows share a kind the first one's name wins. Empty without rows.
RuntimeCatalog runtimeCatalog(const QList<RuntimeRow>& rows);
