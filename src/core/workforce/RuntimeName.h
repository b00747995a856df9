#pragma once

#include <QHash>
#include <QString>

// Runtime kind (as the companion tool names it) → display name of the local
// runtime inventory.
using RuntimeCatalog = QHash<QString, QString>;

// Commands and device readings carry the gateway's runtime ids
// ("claude-code"); the local inventory uses the tool's kinds ("claude").
namespace RuntimeName {

// Gateway runtime id → runtime kind; an id without a row is its own kind.
const QHash<QString, QString>& serverToCLIKind();

// A display name for a runtime id: trimmed of blanks, mapped to its kind,
// then the catalogue's name, a built-in name, or the trimmed id itself.
// An id that is blank gives an empty name.
QString friendly(const QString& id, const RuntimeCatalog& catalog);

} // namespace RuntimeName
