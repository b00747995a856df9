#pragma once

#include <QString>

// The application's append-only breadcrumb log: "HH:mm:ss.SSS message" lines in
// ~/.tolvarine/desktop.log. Never fails towards its caller.
namespace DeskCrumbs {

void drop(const QString& message);

// The log file's path (in the real home, whatever TOLVARINE_HOME says).
QString logPath();

} // namespace DeskCrumbs
