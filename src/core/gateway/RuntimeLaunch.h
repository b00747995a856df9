#pragma once

#include <QString>

// What to run as a runtime worker: the runtime kind (for example "claude", or
// "generic" for a custom agent), the command that starts the runtime, and the
// name shown to the user. The companion-tool runner reads `kind` and `command`
// (it hands them to the worker as TOLVARINE_RUNTIME_KIND and TOLVARINE_RUNTIME).
struct RuntimeLaunch {
    QString kind;
    QString command;
    QString display;

    bool operator==(const RuntimeLaunch&) const = default;
};
