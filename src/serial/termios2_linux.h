// The kernel's own line state (struct termios2), which carries any integer
// rate. Its header clashes with the C library's <termios.h>, so only
// termios2_linux.cpp sees it; everyone else uses this plain mirror. The flag
// bits are the same numbers as the C library's (CS8, PARENB, CSTOPB...).
#pragma once

#include <array>
#include <cstdint>

namespace m32::serial::detail {

struct KernelLine {
  uint32_t iflag = 0;
  uint32_t oflag = 0;
  uint32_t cflag = 0;
  uint32_t lflag = 0;
  uint8_t discipline = 0;
  std::array<uint8_t, 32> cc{};  // the kernel's control characters, rest zero
  uint32_t ispeed = 0;           // Bd
  uint32_t ospeed = 0;           // Bd

  bool operator==(const KernelLine&) const = default;
};

// Both return 0 or the errno of the failed call.
int GetKernelLine(int fd, KernelLine& out);
int SetKernelLine(int fd, const KernelLine& line);

// Asks for `baud` as a plain number in both directions (not a table rate).
void SetKernelRate(KernelLine& line, uint32_t baud);

}  // namespace m32::serial::detail
