#include "app/termination_qt.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <vector>

#include "link/emergency_off.h"

namespace m32 {
namespace {

int g_signal_fd[2] = {-1, -1};

extern "C" void OnTerminationSignal(int sig) {
  const int saved = errno;
  const char c = static_cast<char>(sig);
  // Nothing to do if the socket is full: a wake-up is already pending.
  [[maybe_unused]] const ssize_t n = ::write(g_signal_fd[0], &c, 1);
  errno = saved;
}

// Every signal whose default action ends the process and that asks for the
// end rather than reporting a fault.
std::vector<int> TerminationRequests() {
  std::vector<int> sigs{SIGTERM, SIGINT,    SIGHUP,  SIGUSR1, SIGUSR2,
                        SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ};
#if defined(SIGPWR)
  sigs.push_back(SIGPWR);
#endif
#if defined(SIGIO)
  sigs.push_back(SIGIO);
#endif
#if defined(SIGSTKFLT)
  sigs.push_back(SIGSTKFLT);
#endif
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigs.push_back(sig);
  return sigs;
}

void SetAction(void (*handler)(int)) {
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : TerminationRequests()) ::sigaction(sig, &sa, nullptr);
  // Ctrl+Z: the outputs go off before the process stops (StopSelf).
  ::sigaction(SIGTSTP, &sa, nullptr);
}

// Stops the process as SIGTSTP's default action would, and returns once it
// is continued.
void StopSelf() {
  (void)::raise(SIGSTOP);
}

bool OpenSignalSocket() {
  if (g_signal_fd[0] >= 0) return true;
  return ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signal_fd) == 0;
}

}  // namespace

void InstallProcessEndHandlers() {
  link::emergency::Install();
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
  if (OpenSignalSocket()) SetAction(OnTerminationSignal);
}

TerminationSignals::TerminationSignals(std::function<void()> on_signal,
                                       std::function<void()> on_stop, QObject* parent)
    : QObject(parent), on_signal_(std::move(on_signal)), on_stop_(std::move(on_stop)) {
  if (!OpenSignalSocket()) return;
  SetAction(OnTerminationSignal);
  notifier_ = new QSocketNotifier(g_signal_fd[1], QSocketNotifier::Read, this);
  // A signal that came before is waiting in the socket: the first event loop
  // that runs answers it.
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::Drain);
}

TerminationSignals::~TerminationSignals() {
  SetAction(SIG_IGN);
  if (g_signal_fd[0] >= 0) {
    ::close(g_signal_fd[0]);
    ::close(g_signal_fd[1]);
    g_signal_fd[0] = g_signal_fd[1] = -1;
  }
}

void TerminationSignals::Drain() {
  char buf[16];
  bool end = false;
  bool stop = false;
  for (ssize_t n = 0; (n = ::read(g_signal_fd[1], buf, sizeof buf)) > 0;) {
    for (ssize_t i = 0; i < n; ++i) (buf[i] == SIGTSTP ? stop : end) = true;
  }
  if (end && on_signal_) on_signal_();
  if (stop) {
    if (on_stop_) on_stop_();
    StopSelf();
  }
}

}  // namespace m32
