#pragma once

#include <sys/types.h>

#include <functional>

// Ends a process that is not the application's own QProcess child.
namespace ProcessSignals {

// SIGTERM, then a check every 0.1 s; SIGKILL (with a breadcrumb) when it is
// still there after the grace. Blocks the caller meanwhile. PIDs below 2 are
// never signalled. The process is held by a pidfd from the first look on, so
// neither signal can reach a later process that reuses the pid; `isSame`, when
// given, is asked once that hold is taken and a false answer signals nothing.
// Returns whether the process was signalled.
bool terminate(pid_t pid, double graceSeconds, const std::function<bool()>& isSame = {});
// The process exists and is not a zombie waiting for its parent.
bool isAlive(pid_t pid);

} // namespace ProcessSignals
