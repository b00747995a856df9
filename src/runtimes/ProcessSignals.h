#pragma once

#include <sys/types.h>

// Ends a process that is not the application's own QProcess child.
namespace ProcessSignals {

// SIGTERM, then a check every 0.1 s; SIGKILL (with a breadcrumb) when it is
// still there after the grace. Blocks the caller meanwhile. PIDs below 2 are
// never signalled.
void terminate(pid_t pid, double graceSeconds);
// The process exists and is not a zombie waiting for its parent.
bool isAlive(pid_t pid);

} // namespace ProcessSignals
