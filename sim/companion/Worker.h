#pragma once

#include "Steering.h"

// `run`: a runtime worker. Prints a start line naming its runtime and
// workspace, then a line at every interval, until SIGTERM (exit 0).
namespace Worker {

int run(const Steering& steering);

} // namespace Worker
