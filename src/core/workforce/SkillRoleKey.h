#pragma once

#include <QString>

#include <optional>

// The role key the companion tool knows for an employee's template title:
// trimmed of blanks (not line breaks) and lower-cased, then looked up; a
// title that already is a role key maps to itself. None for anything else.
std::optional<QString> skillRoleKey(const QString& title);
