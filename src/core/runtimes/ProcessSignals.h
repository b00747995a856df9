#pragma once

#include <QList>

#include <functional>

#include <sys/types.h>

// Ends a process that is not the application's own QProcess child.
namespace ProcessSignals {

// SIGTERM, then a check every 0.1 s; SIGKILL (with a breadcrumb) when it is
// still there after the grace. Blocks the caller meanwhile. PIDs below 2 are
// never signalled. The process is held by a pidfd from the first look on, so
// neither signal can reach a later process that reuses the pid; `isSame`, when
// given, is asked once that hold is taken and a false answer signals nothing.
// A process that leads a group of its own is signalled with its group, and
// what is left of the group once it has gone gets the rest of the grace,
// then SIGKILL. Returns whether the process was signalled.
bool terminate(pid_t pid, double graceSeconds, const std::function<bool()>& isSame = {});
// The same for several processes at once: each is held, asked `isSame` and
// sent SIGTERM, and whichever is still there after the one grace gets SIGKILL.
// Returns how many were signalled.
int terminateEach(const QList<pid_t>& pids, double graceSeconds, const std::function<bool(pid_t)>& isSame);
// The process exists and is not a zombie waiting for its parent.
bool isAlive(pid_t pid);

} // namespace ProcessSignals
