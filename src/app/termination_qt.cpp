#include "app/termination_qt.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace m32 {
namespace {

int g_signal_fd[2] = {-1, -1};

extern "C" void OnTerminationSignal(int sig) {
  const int saved = errno;
  const char c = static_cast<char>(sig);
  // Nothing to do if the pipe is full: a wake-up is already pending.
  [[maybe_unused]] const ssize_t n = ::write(g_signal_fd[0], &c, 1);
  errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> on_signal, QObject* parent)
    : QObject(parent), on_signal_(std::move(on_signal)) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signal_fd) != 0) {
    return;
  }
  notifier_ = new QSocketNotifier(g_signal_fd[1], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::Drain);
  struct sigaction sa = {};
  sa.sa_handler = OnTerminationSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

TerminationSignals::~TerminationSignals() {
  struct sigaction sa = {};
  sa.sa_handler = SIG_IGN;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
  if (g_signal_fd[0] >= 0) {
    ::close(g_signal_fd[0]);
    ::close(g_signal_fd[1]);
    g_signal_fd[0] = g_signal_fd[1] = -1;
  }
}

void TerminationSignals::Drain() {
  char buf[16];
  bool any = false;
  while (::read(g_signal_fd[1], buf, sizeof buf) > 0) any = true;
  if (any && on_signal_) on_signal_();
}

}  // namespace m32
