#include "link/emergency_off.h"

#if !defined(_WIN32)

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace m32::link::emergency {
namespace {

constexpr std::array<int, 5> kFatalSignals{SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};

// Published state. g_fd is cleared before the rest changes and set after it,
// so the handler reads a line state that belongs to the descriptor it sees.
std::atomic<int> g_fd{-1};
std::atomic<bool> g_line_valid{false};
termios g_line{};
std::atomic<bool> g_fired{false};
// What each fatal signal did before Install: it takes its course after ours
// (the default action, or a sanitizer's report).
std::array<struct sigaction, kFatalSignals.size()> g_previous{};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

// Writes the whole frame, waiting (bounded) while the driver's buffer is full.
void WriteFrame(int fd) {
  std::size_t done = 0;
  int full_waits = 0;
  while (done < kAllOffFrame.size()) {
    const ssize_t n = ::write(fd, kAllOffFrame.data() + done, kAllOffFrame.size() - done);
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
  const int fd = g_fd.load(std::memory_order_acquire);
  // A fault inside this handler (or a second thread's) must not send again.
  if (fd >= 0 && !g_fired.exchange(true)) {
    WriteFrame(fd);
    // Give the line back only once the frame has left: a change of rate
    // under a frame would garble it.
    if (::tcdrain(fd) == 0 && g_line_valid.load(std::memory_order_acquire)) {
      ::tcsetattr(fd, TCSANOW, &g_line);
    }
  }
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

}  // namespace

bool Install() {
  struct sigaction sa {};
  sa.sa_handler = OnFatalSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;
  bool ok = true;
  for (std::size_t i = 0; i < kFatalSignals.size(); ++i) {
    ok = ::sigaction(kFatalSignals[i], &sa, &g_previous[i]) == 0 && ok;
  }
  return ok;
}

bool Arm(int fd) {
  Disarm();
  if (fd < 0 || ::isatty(fd) != 1) return false;
  termios line{};
  const bool valid = ::tcgetattr(fd, &line) == 0;
  g_line = line;
  g_line_valid.store(valid, std::memory_order_release);
  g_fd.store(fd, std::memory_order_release);
  return true;
}

void Disarm() {
  g_fd.store(-1, std::memory_order_release);
  g_line_valid.store(false, std::memory_order_release);
}

int ArmedDescriptor() {
  return g_fd.load(std::memory_order_acquire);
}

}  // namespace m32::link::emergency

#else  // _WIN32: the Windows port brings its own handler.

namespace m32::link::emergency {
bool Install() {
  return false;
}
bool Arm(int /*fd*/) {
  return false;
}
void Disarm() {}
int ArmedDescriptor() {
  return -1;
}
}  // namespace m32::link::emergency

#endif
