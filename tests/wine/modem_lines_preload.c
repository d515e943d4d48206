/* Preloaded into wine for the tests: gives pseudo-terminals the modem lines
 * that a serial port has and that wine's serial code asks for. A pty slave
 * refuses the modem-line ioctls; here they are answered from a per-process
 * record instead (DTR and RTS as last set, the inputs RI, DCD, CTS and DSR
 * off, no line errors counted). Every other call, every failure on a device
 * that is not a pty slave, and the EIO of a hung-up pty pass through
 * unchanged, so a vanished far end still shows as one.
 * Built for the host: cc -shared -fPIC -o modem_lines_preload.so THIS -ldl */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

enum { kMaxFd = 1024 };

/* DTR and RTS per descriptor. Wine calls these from more than one thread;
 * an int store is atomic enough for lines that nobody reads electrically. */
static int g_lines[kMaxFd];

typedef int (*IoctlFn)(int, unsigned long, ...);

static int IsPtySlave(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  const unsigned major_no = major(st.st_rdev);
  return major_no >= 136 && major_no <= 143; /* Unix98 pty slaves */
}

int ioctl(int fd, unsigned long request, ...) {
  static IoctlFn real;
  if (!real) real = (IoctlFn)dlsym(RTLD_NEXT, "ioctl");
  va_list ap;
  va_start(ap, request);
  void *arg = va_arg(ap, void *);
  va_end(ap);

  const int r = real(fd, request, arg);
  if (r == 0 || (errno != EINVAL && errno != ENOTTY)) return r;
  if (fd < 0 || fd >= kMaxFd || arg == NULL || !IsPtySlave(fd)) return r;
  const int saved_errno = errno;
  int *bits = (int *)arg;
  switch (request) {
    case TIOCMGET:
      *bits = g_lines[fd] & (TIOCM_DTR | TIOCM_RTS);
      return 0;
    case TIOCMSET:
      g_lines[fd] = *bits & (TIOCM_DTR | TIOCM_RTS);
      return 0;
    case TIOCMBIS:
      g_lines[fd] |= *bits & (TIOCM_DTR | TIOCM_RTS);
      return 0;
    case TIOCMBIC:
      g_lines[fd] &= ~*bits;
      return 0;
    case TIOCGICOUNT:
      memset(arg, 0, sizeof(struct serial_icounter_struct));
      return 0;
    default:
      errno = saved_errno;
      return r;
  }
}
