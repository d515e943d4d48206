// The one file that includes the kernel's terminal header (see the header).
#include "serial/termios2_linux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>

namespace m32::serial::detail {

static_assert(sizeof(termios2{}.c_cc) <= sizeof(KernelLine{}.cc));

int GetKernelLine(int fd, KernelLine& out) {
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
  out = KernelLine{};
  out.iflag = t.c_iflag;
  out.oflag = t.c_oflag;
  out.cflag = t.c_cflag;
  out.lflag = t.c_lflag;
  out.discipline = t.c_line;
  std::copy(std::begin(t.c_cc), std::end(t.c_cc), out.cc.begin());
  out.ispeed = t.c_ispeed;
  out.ospeed = t.c_ospeed;
  return 0;
}

int SetKernelLine(int fd, const KernelLine& line) {
  termios2 t{};
  t.c_iflag = line.iflag;
  t.c_oflag = line.oflag;
  t.c_cflag = line.cflag;
  t.c_lflag = line.lflag;
  t.c_line = line.discipline;
  std::copy_n(line.cc.begin(), sizeof(t.c_cc), std::begin(t.c_cc));
  t.c_ispeed = line.ispeed;
  t.c_ospeed = line.ospeed;
  // Immediate: waiting for the output to drain could block for ever.
  if (::ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}

void SetKernelRate(KernelLine& line, uint32_t baud) {
  // BOTHER in both the output and the input field: the rates are plain numbers.
  line.cflag &= ~static_cast<uint32_t>(CBAUD | (CBAUD << IBSHIFT));
  line.cflag |= static_cast<uint32_t>(BOTHER | (BOTHER << IBSHIFT));
  line.ispeed = baud;
  line.ospeed = baud;
}

}  // namespace m32::serial::detail
