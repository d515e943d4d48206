// Reads the rate and character format that the user of the line has set on
// the pseudo-terminal.
#pragma once

#include <cstdint>

#include "pacing.h"

namespace m32::sim {

struct ProbedLine {
  uint32_t baud = 0;  // 0: the line is hung up (B0)
  CharFormat format;
};

// False when the descriptor is not a terminal.
bool ProbeLine(int fd, ProbedLine& out);

}  // namespace m32::sim
