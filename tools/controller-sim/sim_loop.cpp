#include "sim_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "line_probe.h"
#include "pacing.h"
#include "pty_port.h"
#include "simulator.h"

namespace m32::sim {
namespace {

volatile sig_atomic_t g_stop_signal = 0;

void OnStopSignal(int sig) {
  g_stop_signal = sig;
}

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SleepMs(int ms) {
  timespec ts{0, static_cast<long>(ms) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR && g_stop_signal == 0) {
  }
}

// Collects text from a descriptor and hands out whole lines.
struct LineSource {
  int fd = -1;
  std::string pending;
  bool open() const { return fd >= 0; }
  // False at end of input or on an error.
  bool ReadInto(std::vector<std::string>& lines) {
    char buf[512];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    pending.append(buf, static_cast<std::size_t>(n));
    std::size_t nl = 0;
    while ((nl = pending.find('\n')) != std::string::npos) {
      lines.push_back(pending.substr(0, nl));
      pending.erase(0, nl + 1);
    }
    if (pending.size() > 4096) pending.clear();  // no line end in sight: noise
    return true;
  }
};

class Runner {
 public:
  Runner(const Options& o, std::FILE* out, std::FILE* err) : o_(o), out_(out), err_(err) {}
  int Run();

 private:
  bool OpenPort();
  void ClosePort();
  void Hangup(int64_t now);
  void RefreshLine(int64_t now);
  void HandleCommand(const std::string& line, int64_t now);
  void Log(int64_t now_ns, std::string_view tag, std::span<const uint8_t> bytes);
  void Summary(std::FILE* f);
  bool SetUpControl();
  bool OpenLog();
  // Holds the stop signals back except while waiting in ppoll.
  void HoldStopSignals();
  void Started(uint64_t seed, int64_t start);
  // One pass of the loop: false when the simulator must end with an error.
  bool Pass();
  bool Reopen(int64_t now);
  // Hands the line what it has had time for; true when the master is in trouble.
  bool Transmit(int64_t now);
  int64_t NextDeadline(int64_t now);
  // Waits for the next byte due, a readable source or a timer, then reads.
  void WaitAndRead(int64_t now, bool master_trouble);
  void Finish(bool started);

  const Options& o_;
  std::FILE* out_;
  std::FILE* err_;
  std::FILE* log_ = nullptr;
  std::string link_;
  std::string linked_target_;
  PtyPort pty_;
  std::optional<Simulator> sim_;
  PacedInput rx_;
  std::vector<uint8_t> unwritten_;
  int64_t hangup_at_ = 0;      // 0: none
  int64_t reopen_at_ = 0;      // 0: none
  int64_t read_again_at_ = 0;  // the line is not read before this (stop-reading)
  int64_t last_char_ns_ = -1;
  std::string last_line_text_;
  bool quit_ = false;
  LineSource stdin_;
  LineSource control_;
  bool created_fifo_ = false;
  sigset_t stop_set_{};
  sigset_t wait_mask_{};
  std::vector<uint8_t> due_;
  std::vector<PacedOutput::Chunk> done_;
  std::vector<std::string> lines_;
};

void Runner::Log(int64_t now_ns, std::string_view tag, std::span<const uint8_t> bytes) {
  if (log_ == nullptr) return;
  std::string line;
  if (tag == "EVENT") {
    line = std::to_string(now_ns / 1000) + " EVENT " +
           std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  } else {
    line = FormatLogLine(now_ns / 1000, tag, bytes);
  }
  line += '\n';
  (void)std::fputs(line.c_str(), log_);
  (void)std::fflush(log_);
}

void Runner::Summary(std::FILE* f) {
  (void)std::fprintf(f, "%s\n", FormatSummary(sim_->stats()).c_str());
  (void)std::fflush(f);
}

bool Runner::OpenPort() {
  std::string error;
  if (!pty_.Open(error)) {
    (void)std::fprintf(err_, "controller-sim: %s\n", error.c_str());
    return false;
  }
  if (!PointLink(link_, pty_.slave_path(), o_.force || !linked_target_.empty(), error)) {
    (void)std::fprintf(err_, "controller-sim: %s\n", error.c_str());
    pty_.Close();
    return false;
  }
  linked_target_ = pty_.slave_path();
  last_char_ns_ = -1;
  return true;
}

void Runner::ClosePort() {
  RemoveLinkIfOurs(link_, linked_target_);
  pty_.Close();
  rx_.Clear();
  unwritten_.clear();
  if (sim_) sim_->ResetLine();
}

void Runner::Hangup(int64_t now) {
  sim_->Event(now, "hangup");
  ClosePort();
  hangup_at_ = 0;
  if (o_.reopen) {
    reopen_at_ = now + static_cast<int64_t>(o_.reopen_delay_ms) * 1000000 + 1;
  } else {
    quit_ = true;
  }
}

void Runner::RefreshLine(int64_t now) {
  ProbedLine line;
  if (!ProbeLine(pty_.slave(), line)) line.baud = 9600;
  if (line.baud == 0) line.baud = 9600;  // B0: keep timing plausible
  const uint32_t baud = o_.baud.value_or(line.baud);
  const CharFormat format = o_.format.value_or(line.format);
  const int64_t char_ns = o_.pace ? CharTimeNs(baud, format) : 0;
  if (char_ns == last_char_ns_) return;
  last_char_ns_ = char_ns;
  rx_.SetCharTime(char_ns);
  sim_->output().SetCharTime(char_ns);
  sim_->Event(now, o_.pace ? "line " + std::to_string(baud) + " " + FormatCharFormat(format)
                           : std::string("line unpaced"));
}

bool Runner::SetUpControl() {
  if (o_.read_stdin) stdin_.fd = STDIN_FILENO;
  if (o_.control_path.empty()) return true;
  struct stat st {};
  if (stat(o_.control_path.c_str(), &st) != 0) {
    if (mkfifo(o_.control_path.c_str(), 0600) != 0) {
      (void)std::fprintf(err_, "controller-sim: mkfifo %s: %s\n", o_.control_path.c_str(),
                         std::generic_category().message(errno).c_str());
      return false;
    }
    created_fifo_ = true;
  } else if (!S_ISFIFO(st.st_mode)) {
    (void)std::fprintf(err_, "controller-sim: %s is not a FIFO\n", o_.control_path.c_str());
    return false;
  }
  // Opened for writing too, so that the FIFO never reports an end while no
  // writer is connected; writers may come and go.
  control_.fd = open(o_.control_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (control_.fd < 0) {
    (void)std::fprintf(err_, "controller-sim: open %s: %s\n", o_.control_path.c_str(),
                       std::generic_category().message(errno).c_str());
    return false;
  }
  return true;
}

void Runner::HandleCommand(const std::string& line, int64_t now) {
  std::string error;
  const auto cmd = ParseCommand(line, error);
  if (!cmd) {
    if (!error.empty()) {
      (void)std::fprintf(err_, "controller-sim: %s\n", error.c_str());
      sim_->Event(now, "rejected " + line);
    }
    return;
  }
  sim_->Event(now, "command " + line);
  switch (sim_->Apply(*cmd, now)) {
    case Simulator::Action::kNone:
      break;
    case Simulator::Action::kStats:
      Summary(out_);
      break;
    case Simulator::Action::kQuit:
      quit_ = true;
      break;
    case Simulator::Action::kHangup:
      if (pty_.IsOpen()) Hangup(now);
      break;
    case Simulator::Action::kStopReading:
      read_again_at_ = now + static_cast<int64_t>(cmd->value) * 1000000;
      break;
  }
}

bool Runner::OpenLog() {
  if (o_.log_path.empty()) return true;
  log_ = std::fopen(o_.log_path.c_str(), "w");
  if (log_ != nullptr) return true;
  (void)std::fprintf(err_, "controller-sim: cannot write %s: %s\n", o_.log_path.c_str(),
                     std::generic_category().message(errno).c_str());
  return false;
}

void Runner::HoldStopSignals() {
  // A signal never slips in between the loop's check and the wait.
  sigemptyset(&stop_set_);
  sigaddset(&stop_set_, SIGINT);
  sigaddset(&stop_set_, SIGTERM);
  sigaddset(&stop_set_, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_set_, &wait_mask_);
  sigdelset(&wait_mask_, SIGINT);
  sigdelset(&wait_mask_, SIGTERM);
  sigdelset(&wait_mask_, SIGHUP);
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  sigaction(SIGTTIN, &ignore, nullptr);  // reading a terminal from the background: EIO, no stop
}

void Runner::Started(uint64_t seed, int64_t start) {
  (void)std::fprintf(out_, "controller-sim: %s -> %s, seed %llu\n", link_.c_str(),
                     pty_.slave_path().c_str(), static_cast<unsigned long long>(seed));
  (void)std::fflush(out_);
  sim_->Event(start,
              "start " + link_ + " -> " + pty_.slave_path() + " seed " + std::to_string(seed));
  if (o_.hangup_after_ms != 0) {
    hangup_at_ = start + static_cast<int64_t>(o_.hangup_after_ms) * 1000000;
  }
}

int Runner::Run() {
  const uint64_t seed = o_.seed ? *o_.seed : std::random_device{}();
  link_ = o_.dir + "/COM" + std::to_string(o_.port);
  const int64_t start = NowNs();
  if (!OpenLog()) return 1;
  sim_.emplace(o_, seed, start,
               [this](int64_t t, std::string_view tag, auto bytes) { Log(t, tag, bytes); });
  HoldStopSignals();

  int rc = 0;
  bool started = false;
  if (!SetUpControl() || !OpenPort()) {
    rc = 1;
  } else {
    started = true;
    Started(seed, start);
  }
  while (rc == 0 && !quit_ && g_stop_signal == 0) {
    if (!Pass()) rc = 1;
  }
  Finish(started);
  return rc;
}

bool Runner::Pass() {
  const int64_t now = NowNs();
  if (pty_.IsOpen()) {
    RefreshLine(now);
    if (hangup_at_ != 0 && now >= hangup_at_) {
      Hangup(now);
      return true;
    }
  } else if (reopen_at_ != 0 && now >= reopen_at_) {
    return Reopen(now);
  }

  // The receiver sees bytes as they would arrive on the line.
  due_.clear();
  rx_.Take(now, due_);
  sim_->OnReceived(due_, now);

  const bool master_trouble = Transmit(now);
  WaitAndRead(now, master_trouble);
  return true;
}

bool Runner::Reopen(int64_t now) {
  reopen_at_ = 0;
  if (!OpenPort()) return false;
  sim_->Event(now, "reopen " + link_ + " -> " + pty_.slave_path());
  (void)std::fprintf(out_, "controller-sim: %s -> %s (reopened)\n", link_.c_str(),
                     pty_.slave_path().c_str());
  (void)std::fflush(out_);
  if (o_.hangup_after_ms != 0) {
    hangup_at_ = now + static_cast<int64_t>(o_.hangup_after_ms) * 1000000;
  }
  return true;
}

bool Runner::Transmit(int64_t now) {
  // The transmitter sends what the line has had time for.
  if (unwritten_.empty()) {
    sim_->output().Take(now, unwritten_, done_);
    sim_->OnSent(done_, now);
  }
  if (unwritten_.empty() || !pty_.IsOpen()) return false;
  const ssize_t n = write(pty_.master(), unwritten_.data(), unwritten_.size());
  if (n > 0) {
    unwritten_.erase(unwritten_.begin(), unwritten_.begin() + n);
  } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
    unwritten_.clear();  // nobody can take them
    return true;
  }
  return false;
}

int64_t Runner::NextDeadline(int64_t now) {
  int64_t deadline = now + 200000000;  // re-read the line settings at least this often
  auto earlier = [&](std::optional<int64_t> t) {
    if (t && *t < deadline) deadline = *t;
  };
  earlier(rx_.NextDue());
  if (unwritten_.empty()) earlier(sim_->output().NextDue());
  if (hangup_at_ != 0) earlier(hangup_at_);
  if (reopen_at_ != 0) earlier(reopen_at_);
  if (read_again_at_ > now) earlier(read_again_at_);
  return deadline;
}

void Runner::WaitAndRead(int64_t now, bool master_trouble) {
  const int64_t deadline = NextDeadline(now);
  pollfd fds[3];
  nfds_t nfds = 0;
  int master_idx = -1;
  int stdin_idx = -1;
  int control_idx = -1;
  if (pty_.IsOpen()) {
    short ev = 0;
    if (rx_.Pending() < 256 && now >= read_again_at_) ev |= POLLIN;
    if (!unwritten_.empty()) ev |= POLLOUT;
    master_idx = static_cast<int>(nfds);
    fds[nfds++] = {pty_.master(), ev, 0};
  }
  if (stdin_.open()) {
    stdin_idx = static_cast<int>(nfds);
    fds[nfds++] = {stdin_.fd, POLLIN, 0};
  }
  if (control_.open()) {
    control_idx = static_cast<int>(nfds);
    fds[nfds++] = {control_.fd, POLLIN, 0};
  }
  const int64_t wait = deadline > now ? deadline - now : 0;
  timespec ts{static_cast<time_t>(wait / 1000000000), static_cast<long>(wait % 1000000000)};
  const int ready = ppoll(fds, nfds, &ts, &wait_mask_);
  if (ready < 0) return;  // a signal: the loop test sees it
  now = NowNs();

  if (master_idx >= 0) {
    const short rev = fds[master_idx].revents;
    if ((rev & POLLIN) != 0) {
      uint8_t buf[256];
      const std::size_t room = 256 - rx_.Pending();
      const ssize_t n = read(pty_.master(), buf, room);
      if (n > 0) {
        rx_.Add({buf, static_cast<std::size_t>(n)}, now);
      } else if (n < 0 && errno == EIO) {
        master_trouble = true;
      }
    } else if ((rev & (POLLHUP | POLLERR)) != 0) {
      master_trouble = true;
    }
  }
  // No slave open on the other end: the master reports a hang-up at once
  // on every poll. Wait calmly until someone opens it again.
  if (master_trouble) SleepMs(10);

  lines_.clear();
  if (stdin_idx >= 0 && fds[stdin_idx].revents != 0 && !stdin_.ReadInto(lines_)) {
    stdin_.fd = -1;  // end of standard input: no more commands from there
  }
  if (control_idx >= 0 && fds[control_idx].revents != 0) control_.ReadInto(lines_);
  for (const auto& line : lines_) HandleCommand(line, now);
}

void Runner::Finish(bool started) {
  const int64_t end = NowNs();
  if (g_stop_signal != 0) sim_->Event(end, "signal " + std::to_string(g_stop_signal));
  ClosePort();
  if (control_.open()) close(control_.fd);
  if (created_fifo_) unlink(o_.control_path.c_str());
  sim_->Event(end, FormatSummary(sim_->stats()));
  if (started) Summary(out_);
  if (log_ != nullptr) (void)std::fclose(log_);
  pthread_sigmask(SIG_UNBLOCK, &stop_set_, nullptr);
}

}  // namespace

int RunSimulator(const Options& options, std::FILE* out, std::FILE* err) {
  g_stop_signal = 0;
  Runner runner(options, out, err);
  return runner.Run();
}

}  // namespace m32::sim
