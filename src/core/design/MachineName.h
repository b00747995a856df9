#pragma once

#include <QString>

// Device ids turned into short display names.
namespace MachineName {

// Drops the "cli-", "desktop-" and "agent-" prefixes (in that order) and one
// ".local" suffix, turns dashes into spaces and trims the ends; when nothing
// is left, the id itself.
QString friendly(const QString& id);

} // namespace MachineName
