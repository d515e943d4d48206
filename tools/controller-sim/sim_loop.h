// The simulator's event loop on a pseudo-terminal.
#pragma once

#include <cstdio>

#include "options.h"

namespace m32::sim {

// Runs until SIGINT, SIGTERM, SIGHUP, a 'quit' command or a final hang-up.
// Prints a start line and a summary line on `out`, problems on `err`.
// Returns 0 on a normal end, 1 when the port cannot be set up.
int RunSimulator(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace m32::sim
