#include "link/emergency_off.h"

#if !defined(_WIN32)

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <memory>

namespace m32::link::emergency {
namespace {

// Faults, and SIGQUIT (asked for by a user whose tool no longer answers, so
// it gets the frame at once rather than a close that needs the event loop).
constexpr std::array<int, 8> kFatalSignals{SIGSEGV, SIGABRT, SIGBUS, SIGFPE,
                                           SIGILL,  SIGTRAP, SIGSYS, SIGQUIT};

// Published state. The descriptors are cleared before the rest changes and
// set after it, so a switch-off reads a line state that belongs to them.
std::atomic<int> g_port_fd{-1};   // the device's own descriptor
std::atomic<int> g_write_fd{-1};  // our duplicate of it, written by the switch-off
std::atomic<bool> g_line_valid{false};
termios g_line{};
// 0: not switched off; 1: under way; 2: done. Once only per process.
std::atomic<int> g_switch_state{0};
// What each fatal signal did before Install: it takes its course after ours
// (the default action, or a sanitizer's report).
std::array<struct sigaction, kFatalSignals.size()> g_previous{};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

// Big enough for our handler and for a sanitizer's report chained after it.
constexpr std::size_t kAltStackSize = 128 * 1024;
alignas(16) char g_main_alt_stack[kAltStackSize];

void SetAltStack(void* base) {
  stack_t ss{};
  ss.ss_sp = base;
  ss.ss_size = kAltStackSize;
  ss.ss_flags = 0;
  ::sigaltstack(&ss, nullptr);
}

void SleepMs(long ms) {
  timespec ts{0, ms * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// Waits (bounded) until a switch-off under way on another thread is done.
void AwaitSwitchOff() {
  for (int i = 0; i < 300 && g_switch_state.load() == 1; ++i) SleepMs(10);
}

// Writes the bytes whole, waiting (bounded) while the driver's buffer is full.
template <std::size_t N>
void WriteAll(int fd, const std::array<uint8_t, N>& bytes) {
  std::size_t done = 0;
  int full_waits = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && full_waits++ < 50) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 20);
      continue;
    }
    return;  // the line is gone
  }
}

extern "C" void OnFatalSignal(int sig) {
  const int saved_errno = errno;
  SwitchOff();
  // Back to what the signal did before (the handler was reset on entry all
  // the same); the signal is blocked while this runs, so raised again it
  // takes that course on return, also when it was sent by kill() rather
  // than raised by a fault.
  for (std::size_t i = 0; i < kFatalSignals.size(); ++i) {
    if (kFatalSignals[i] == sig) ::sigaction(sig, &g_previous[i], nullptr);
  }
  errno = saved_errno;
  (void)::raise(sig);
}

extern "C" void OnExit() {
  SwitchOff();
}

// A thread's own alternate signal stack, given back when the thread ends.
struct ThreadAltStack {
  std::unique_ptr<char[]> memory{new char[kAltStackSize]};
  ThreadAltStack() { SetAltStack(memory.get()); }
  ~ThreadAltStack() {
    stack_t ss{};
    ss.ss_flags = SS_DISABLE;
    ::sigaltstack(&ss, nullptr);
  }
  ThreadAltStack(const ThreadAltStack&) = delete;
  ThreadAltStack& operator=(const ThreadAltStack&) = delete;
};

}  // namespace

void SwitchOff() {
  int expected = 0;
  if (!g_switch_state.compare_exchange_strong(expected, 1)) {
    AwaitSwitchOff();
    return;
  }
  const int fd = g_write_fd.load();
  const int port = g_port_fd.load();
  if (fd >= 0) {
    // From here on another thread's writes to the port go nowhere.
    const int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd >= 0) {
      if (port >= 0) ::dup3(null_fd, port, O_CLOEXEC);
      ::close(null_fd);
    }
    // Stale frames still queued would hold ours up, or refuse it.
    ::tcflush(fd, TCOFLUSH);
    WriteAll(fd, kAllOffAfterPurge);
    (void)::tcdrain(fd);
    // Once more: a write another thread had begun before its descriptor was
    // silenced may have landed after the first.
    WriteAll(fd, kAllOffFrame);
    // Give the line back only once the frame has left: a change of rate
    // under a frame would garble it.
    if (::tcdrain(fd) == 0 && g_line_valid.load()) ::tcsetattr(fd, TCSANOW, &g_line);
    // Others may open it now, as after an orderly close.
    ::ioctl(fd, TIOCNXCL);
  }
  g_switch_state.store(2);
}

bool Install() {
  SetAltStack(g_main_alt_stack);
  struct sigaction sa {};
  sa.sa_handler = OnFatalSignal;
  // A second fault while this one is handled ends the process at once.
  sigemptyset(&sa.sa_mask);
  for (int sig : kFatalSignals) sigaddset(&sa.sa_mask, sig);
  sa.sa_flags = SA_RESETHAND | SA_ONSTACK;
  bool ok = true;
  for (std::size_t i = 0; i < kFatalSignals.size(); ++i) {
    ok = ::sigaction(kFatalSignals[i], &sa, &g_previous[i]) == 0 && ok;
  }
  return std::atexit(OnExit) == 0 && ok;
}

void PrepareThread() {
  thread_local ThreadAltStack stack;
}

bool Arm(int fd) {
  Disarm();
  if (fd < 0 || ::isatty(fd) != 1) return false;
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return false;
  termios line{};
  const bool valid = ::tcgetattr(fd, &line) == 0;
  g_line = line;
  g_line_valid.store(valid);
  g_port_fd.store(fd);
  g_write_fd.store(copy);
  return true;
}

void Disarm() {
  // Cleared first: a switch-off that starts after this sees nothing armed.
  const int copy = g_write_fd.exchange(-1);
  g_port_fd.store(-1);
  g_line_valid.store(false);
  if (copy < 0) return;
  // A switch-off under way on another thread may still use both descriptors:
  // the port is let go only once it is done (the process is ending then).
  if (g_switch_state.load() != 0) {
    AwaitSwitchOff();
    return;
  }
  ::close(copy);
}

}  // namespace m32::link::emergency

#else  // _WIN32: the Windows port brings its own handler.

namespace m32::link::emergency {
bool Install() {
  return false;
}
void PrepareThread() {}
bool Arm(int /*fd*/) {
  return false;
}
void Disarm() {}
void SwitchOff() {}
}  // namespace m32::link::emergency

#endif
