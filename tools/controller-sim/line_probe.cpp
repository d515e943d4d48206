// The kernel's termios2 carries any integer rate (BOTHER); its header clashes
// with the C library's <termios.h>, so it is used in this file alone.
#include "line_probe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace m32::sim {

bool ProbeLine(int fd, ProbedLine& out) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  out.baud = t.c_ospeed;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      out.format.data_bits = 5;
      break;
    case CS6:
      out.format.data_bits = 6;
      break;
    case CS7:
      out.format.data_bits = 7;
      break;
    default:
      out.format.data_bits = 8;
      break;
  }
  if ((t.c_cflag & PARENB) == 0) {
    out.format.parity = Parity::kNone;
  } else if ((t.c_cflag & CMSPAR) != 0) {
    out.format.parity = (t.c_cflag & PARODD) != 0 ? Parity::kMark : Parity::kSpace;
  } else {
    out.format.parity = (t.c_cflag & PARODD) != 0 ? Parity::kOdd : Parity::kEven;
  }
  out.format.stop_bits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
  return true;
}

}  // namespace m32::sim
