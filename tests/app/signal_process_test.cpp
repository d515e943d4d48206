// The built tool ended by signals at random moments, driven from the keyboard
// on a virtual desk against controller-sim: a termination signal inside a
// message box, a dialog, a service test or the close itself still ends the
// run cleanly with every output off; and every way of ending the process
// that can be caught (each terminating signal, a fault on any thread, the
// display lost, exit() or std::terminate, a stack overflow, a board that
// stops reading) leaves the outputs off and the line as it was.
//
// M32_SIGNAL_RUNS sets how many runs each row of random moments makes
// (default 3; the long local run uses 200).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/process_support.h"

namespace {

using namespace m32::test_support;

const std::vector<uint8_t>& AllOff() {
  static const std::vector<uint8_t> frame = LinkFrameWith({0, 0, 0, 0});
  return frame;
}
const LineFile kLine{};  // 9600 Bd 8E1 on COM1

int RunsPerRow() {
  const char* v = std::getenv("M32_SIGNAL_RUNS");  // NOLINT(concurrency-mt-unsafe): no threads yet
  const int n = v != nullptr ? std::atoi(v) : 0;
  return n > 0 ? n : 3;
}

// One desk and, for the rows with a port, one sim for all the runs of a row.
struct Bench {
  LineFile line = kLine;
  ScratchFolder dir;
  VirtualDesk desk{dir.path};
  std::unique_ptr<Sim> sim;
  std::unique_ptr<SimLog> log;

  // `reopen`: after a hang-up the sim comes back on a new pseudo-terminal.
  bool StartSim(bool reopen = false) {
    std::vector<std::string> args{"--format", "8E1"};
    if (reopen) args.emplace_back("--reopen");
    sim = std::make_unique<Sim>(dir.path, args);
    if (!sim->Ready()) return false;
    log = std::make_unique<SimLog>(sim->LogPath());
    return true;
  }
  ~Bench() {
    if (sim) sim->Send("quit");
  }
  // The log lines of the LinkFrames the tool sent from `since` on.
  std::vector<LogLine> FrameLinesSince(int64_t since) const {
    std::vector<LogLine> frames;
    for (auto& l : log->All()) {
      if (l.tag == "IN" && l.us >= since && l.bytes.size() == 8 && l.bytes[1] == 0x6B) {
        frames.push_back(std::move(l));
      }
    }
    return frames;
  }
  std::vector<std::vector<uint8_t>> FramesSince(int64_t since) const {
    std::vector<std::vector<uint8_t>> frames;
    for (auto& l : FrameLinesSince(since)) frames.push_back(std::move(l.bytes));
    return frames;
  }
  // The longest time without a frame from `from` to `to`, in microseconds.
  int64_t LongestGapUs(int64_t from, int64_t to) const {
    int64_t last = from;
    int64_t gap = 0;
    for (const auto& l : FrameLinesSince(from)) {
      if (l.us > to) break;
      gap = std::max(gap, l.us - last);
      last = l.us;
    }
    return std::max(gap, to - last);
  }
  // When the sim logged an event beginning with `word`, from `since` on; -1: not yet.
  int64_t EventAt(const std::string& word, int64_t since) const {
    for (const auto& l : log->All()) {
      if (l.tag == "EVENT" && l.us >= since && l.text.rfind(word, 0) == 0) return l.us;
    }
    return -1;
  }
  static bool Received(const LogLine& l) {
    return l.tag == "IN" || l.tag == "BAD" || l.tag == "SKIP" || l.tag == "BUSY";
  }
  // Log lines of bytes the sim took off the line from `since` on.
  int ReceivedSince(int64_t since) const {
    const auto all = log->All();
    return static_cast<int>(std::count_if(
        all.begin(), all.end(), [&](const LogLine& l) { return l.us >= since && Received(l); }));
  }
  // Log lines of bytes taken off the line after the last all-off frame (a
  // frame written after it, perhaps garbled by the line's old state). One
  // that comes while the sim is still answering is logged BUSY.
  int ReceivedAfterLastAllOff() const {
    const auto all = log->All();
    const auto last = std::find_if(all.rbegin(), all.rend(), [](const LogLine& l) {
      return (l.tag == "IN" || l.tag == "BUSY") && l.bytes == AllOff();
    });
    return static_cast<int>(std::count_if(all.rbegin(), last, Received));
  }
  // Writes the settings and starts the tool; with a port, waits until the
  // exchange runs and out1 has the focus (the first frames are out).
  void Start(Child& tool, bool port) {
    ASSERT_TRUE(WriteSettings(dir.path / "merkat32.CFG", line));
    ASSERT_TRUE(StartTool(tool, dir.path, desk.Env()));
    if (!port) return;
    ASSERT_TRUE(desk.WaitWindow("^ M e r k a t - 3 2 ", 15s)) << ReadText(dir.path / "tool.out");
    const int64_t started = MonotonicUs();
    ASSERT_TRUE(WaitFor([&] { return FramesSince(started).size() >= 2; }, 15s));
  }
  // The settings file still holds the record written before the run.
  bool SettingsKept() const {
    const std::string bytes = ReadText(dir.path / "merkat32.CFG");
    return bytes.size() == 100 && static_cast<uint8_t>(bytes[0]) == line.divisor &&
           static_cast<uint8_t>(bytes[85]) == line.data_bits && bytes[86] == line.parity &&
           static_cast<uint8_t>(bytes[87]) == line.stop_bits;
  }
};

// Legend: name; whether COM1 is there (a sim behind it); the keys typed once
// the main window is up; the window whose caption must then be shown (the
// signal comes while it is); keys typed once it is (the signal races them);
// the random delay before SIGTERM; a second SIGTERM at a random moment of
// the close; the all-off frames the close must put on the line (none where
// the signal may come while the port is closed for the reopen: it stays
// closed, and the outputs went off when the settings menu opened).
struct SigtermRow {
  const char* name;
  bool port;
  std::vector<std::string> keys;
  const char* window;
  std::vector<std::string> then;
  int max_delay_ms;
  bool second_signal;
  std::size_t offs_after_signal;
};

void PrintTo(const SigtermRow& row, std::ostream* os) {
  *os << row.name;
}

const std::vector<SigtermRow>& SigtermRows() {
  // clang-format off
  static const std::vector<SigtermRow> rows{
    {"StartUpChyba01Box",   false, {},             "CHYBA 01",                    {},        150, false, 0},
    {"PortDialogOkReopen",  true,  {"alt+n", "k"}, "Konfigurace sériového portu", {"alt+o"}, 120, false, 0},
    {"CommunicationTest",   true,  {"alt+s", "k"}, "Test komunikace",             {},        300, false, 3},
    {"LightingTest",        true,  {"alt+s", "o"}, "Test osvětlení",              {},        300, false, 3},
    {"CloseSequenceItself", true,  {},             nullptr,                       {},        0,   true,  3},
  };
  // clang-format on
  return rows;
}

class Sigterm : public ::testing::TestWithParam<SigtermRow> {};

TEST_P(Sigterm, EndsWithZeroWithinThreeSecondsAllOffAndTheSettingsKept) {
  const SigtermRow& row = GetParam();
  Bench bench;
  if (!bench.desk.Available()) GTEST_SKIP() << "needs Xvfb and xdotool";
  if (row.port) {
    ASSERT_TRUE(bench.StartSim()) << "controller-sim did not put COM1 up";
  } else {
    // An unplugged adapter: COM1 is there but leads nowhere.
    fs::create_symlink(bench.dir.path / "unplugged", bench.dir.path / "COM1");
  }
  std::mt19937 random(std::random_device{}());
  const int runs = RunsPerRow();
  for (int run = 0; run < runs; ++run) {
    const int64_t run_started = MonotonicUs();
    Child tool;
    ASSERT_NO_FATAL_FAILURE(bench.Start(tool, row.port));
    for (const auto& k : row.keys) ASSERT_TRUE(bench.desk.Key(k));
    if (row.window != nullptr) {
      ASSERT_TRUE(bench.desk.WaitWindow(std::string("^") + row.window + "$", 15s))
          << "run " << run << ": no " << row.window << "; the tool ("
          << (tool.Running() ? "running" : "ended")
          << ") said: " << ReadText(bench.dir.path / "tool.out");
    }
    for (const auto& k : row.then) ASSERT_TRUE(bench.desk.Key(k));
    const int delay = std::uniform_int_distribution<int>(0, row.max_delay_ms)(random);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    const int64_t signalled = MonotonicUs();
    ::kill(tool.Pid(), SIGTERM);
    if (row.second_signal) {
      std::this_thread::sleep_for(
          std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 350)(random)));
      ::kill(tool.Pid(), SIGTERM);
    }
    const std::string what = std::string(row.name) + " run " + std::to_string(run) + ", delay " +
                             std::to_string(delay) + " ms";
    EXPECT_EQ(tool.WaitEnd(3s), std::optional<int>(0))
        << what << "; the tool said: " << ReadText(bench.dir.path / "tool.out");
    EXPECT_TRUE(bench.SettingsKept()) << what;
    if (row.port) {
      // The close offers all-off three times, 100 ms apart.
      EXPECT_GE(bench.FramesSince(signalled).size(), row.offs_after_signal) << what;
      const auto frames = bench.FramesSince(run_started);
      ASSERT_FALSE(frames.empty()) << what;
      EXPECT_EQ(frames.back(), AllOff()) << what;
    }
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Process, Sigterm, ::testing::ValuesIn(SigtermRows()),
                         [](const auto& row) { return std::string(row.param.name); });

// The line state the port has before the tool opens it: one the tool never
// sets (canonical input, output upper-cased), so that what an end gives back
// is told apart from the tool's own; a frame written under it is garbled
// ("k" and the end mark upper-cased).
bool SetLineBefore(const fs::path& tty) {
  const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t{};
  const bool ok = fd >= 0 && ::tcgetattr(fd, &t) == 0 && [&] {
    cfmakeraw(&t);
    t.c_oflag |= OPOST | OLCUC;
    t.c_lflag |= ICANON;
    cfsetspeed(&t, B115200);
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
  }();
  if (fd >= 0) ::close(fd);
  return ok;
}

bool LineGivenBack(const fs::path& tty) {
  const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t{};
  const bool ok = fd >= 0 && ::tcgetattr(fd, &t) == 0 && (t.c_oflag & OLCUC) != 0 &&
                  (t.c_lflag & ICANON) != 0 && cfgetospeed(&t) == B115200;
  if (fd >= 0) ::close(fd);
  return ok;
}

// Whether process `pid` has a handler for `sig` (its SigCgt mask).
bool Catches(pid_t pid, int sig) {
  std::istringstream status(ReadText("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) == 0) {
      return ((std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1U) != 0;
    }
  }
  return false;
}

// The link thread of process `pid`, by the name it gives itself.
std::optional<pid_t> LinkThreadOf(pid_t pid) {
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    if (ReadText(task.path() / "comm") == "m32-link\n") {
      return static_cast<pid_t>(std::stol(task.path().filename().string()));
    }
  }
  return std::nullopt;
}

enum class Way : uint8_t {
  kAtStart,       // the signal sent 0 to 40 ms into main (no outputs on yet)
  kSignal,        // the signal sent to the process
  kLinkThread,    // the signal sent to the link thread, at a random moment
  kPipeThenTerm,  // the signal (ignored), then SIGTERM
  kDisplayLost,   // the X server killed under the tool
  kHook,          // the test build ends itself (end_hooks.cpp)
  kStall,         // the board stops reading until the queue is full, then the signal
  kAfterClose,    // the port closed by the port dialog (COM1 gone), then the signal
  kHoldUi,        // the test build holds its UI thread for 2 s, then the signal
  kXStopped,      // the X server stopped (SIGSTOP) for 3 s, then the signal
  kCtrlZ,         // SIGTSTP, SIGCONT, a key switches out2 on again, then the signal
  kLineReturns,   // the sim hangs up and comes back behind COM1 (a new device), then the signal
  kNewBoard,      // the sim hangs up and ends, COM1 goes; another sim makes it anew
  kReturnUnderCommTest,  // the hang-up and return while the communication test holds the port
};

// Legend: name; the way the run ends; the signal (or the hook's action); the
// end expected: kOrderly (status 0 after the close sequence), kDefault (the
// signal's own course, 128 + signal) or an exit status; runs (0: one; 1: the
// number of M32_SIGNAL_RUNS, for the rows that hit random moments).
// Every row starts with out1 and out2 on and checks that the last frame on
// the line is all-off (kAfterClose: that no frame comes after the close), that
// the line has the state it had before the tool (not where the device went
// away and came back), and that the settings file is whole. The rows that
// live through something first check the frames meanwhile (LiveThrough).
constexpr int kOrderly = 0;
constexpr int kDefault = -1;
#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer defers a signal to a point it chooses, which a fault raised
// by the running code itself (a stack overflow, abort) does not wait for, and
// it takes the test build's hand-over to Qt's queue for a race.
constexpr bool kUnderThreadSanitizer = true;
#else
constexpr bool kUnderThreadSanitizer = false;
#endif
struct EndRow {
  const char* name;
  Way way;
  int sig;
  const char* hook;
  int end;
  int runs;
};

void PrintTo(const EndRow& row, std::ostream* os) {
  *os << row.name;
}

std::vector<EndRow> EndRows() {
  // clang-format off
  std::vector<EndRow> rows{
    {"SIGTERMAtStart",     Way::kAtStart,      SIGTERM,   nullptr,     kOrderly, 1},
    {"SIGTERM",            Way::kSignal,       SIGTERM,   nullptr,     kOrderly, 0},
    {"SIGINT",             Way::kSignal,       SIGINT,    nullptr,     kOrderly, 0},
    {"SIGHUP",             Way::kSignal,       SIGHUP,    nullptr,     kOrderly, 0},
    {"SIGUSR1",            Way::kSignal,       SIGUSR1,   nullptr,     kOrderly, 0},
    {"SIGUSR2",            Way::kSignal,       SIGUSR2,   nullptr,     kOrderly, 0},
    {"SIGALRM",            Way::kSignal,       SIGALRM,   nullptr,     kOrderly, 0},
    {"SIGVTALRM",          Way::kSignal,       SIGVTALRM, nullptr,     kOrderly, 0},
    {"SIGPROF",            Way::kSignal,       SIGPROF,   nullptr,     kOrderly, 0},
    {"SIGPWR",             Way::kSignal,       SIGPWR,    nullptr,     kOrderly, 0},
    {"SIGXCPU",            Way::kSignal,       SIGXCPU,   nullptr,     kOrderly, 0},
    {"SIGXFSZ",            Way::kSignal,       SIGXFSZ,   nullptr,     kOrderly, 0},
    {"SIGIO",              Way::kSignal,       SIGIO,     nullptr,     kOrderly, 0},
    {"SIGSTKFLT",          Way::kSignal,       SIGSTKFLT, nullptr,     kOrderly, 0},
    {"SIGRTMIN",           Way::kSignal,       SIGRTMIN,  nullptr,     kOrderly, 0},
    {"SIGRTMAX",           Way::kSignal,       SIGRTMAX,  nullptr,     kOrderly, 0},
    {"SIGPIPEThenSIGTERM", Way::kPipeThenTerm, SIGPIPE,   nullptr,     kOrderly, 0},
    {"SIGSEGV",            Way::kSignal,       SIGSEGV,   nullptr,     kDefault, 0},
    {"SIGABRT",            Way::kSignal,       SIGABRT,   nullptr,     kDefault, 0},
    {"SIGBUS",             Way::kSignal,       SIGBUS,    nullptr,     kDefault, 0},
    {"SIGFPE",             Way::kSignal,       SIGFPE,    nullptr,     kDefault, 1},
    {"SIGILL",             Way::kSignal,       SIGILL,    nullptr,     kDefault, 0},
    {"SIGTRAP",            Way::kSignal,       SIGTRAP,   nullptr,     kDefault, 0},
    {"SIGSYS",             Way::kSignal,       SIGSYS,    nullptr,     kDefault, 0},
    {"SIGQUIT",            Way::kSignal,       SIGQUIT,   nullptr,     kDefault, 0},
    {"SIGFPEToLinkThread", Way::kLinkThread,   SIGFPE,    nullptr,     kDefault, 1},
    {"SIGSEGVToLinkThread",Way::kLinkThread,   SIGSEGV,   nullptr,     kDefault, 0},
    {"XServerKilled",      Way::kDisplayLost,  0,         nullptr,     1,        0},
    {"StackOverflow",      Way::kHook,         SIGSEGV,   "overflow",  kDefault, 0},
    {"ExitFromALibrary",   Way::kHook,         0,         "exit",      3,        0},
    {"StdTerminate",       Way::kHook,         SIGABRT,   "terminate", kDefault, 0},
    {"BoardStopsReading",  Way::kStall,        SIGTERM,   nullptr,     kOrderly, 0},
    {"FaultWhileBoardStopsReading", Way::kStall, SIGABRT,   nullptr,     kDefault, 0},
    {"FaultAfterAClose",   Way::kAfterClose,   SIGABRT,   nullptr,     kDefault, 0},
    {"UiThreadHeld",       Way::kHoldUi,       SIGTERM,   "hold-ui",   kOrderly, 0},
    {"XServerStopped",     Way::kXStopped,     SIGTERM,   nullptr,     kOrderly, 0},
    {"CtrlZ",              Way::kCtrlZ,        SIGTERM,   nullptr,     kOrderly, 0},
    {"LineReturns",        Way::kLineReturns,  SIGTERM,   nullptr,     kOrderly, 0},
    {"NewBoardOnTheLink",  Way::kNewBoard,     SIGTERM,   nullptr,     kOrderly, 0},
    {"ReturnUnderCommTest",Way::kReturnUnderCommTest, SIGTERM, nullptr, kOrderly, 0},
  };
  // clang-format on
  return rows;
}

// out1 has the focus once the display runs (a key the first time round
// might come before it); Tab moves on to out2.
bool SwitchOut1And2On(Bench& bench, int64_t since) {
  const auto last_is = [&](const std::vector<uint8_t>& frame) {
    const auto frames = bench.FramesSince(since);
    return !frames.empty() && frames.back() == frame;
  };
  const auto out1 = LinkFrameWith({1, 0, 0, 0});
  const bool one = WaitFor(
      [&] {
        bench.desk.Key("space");
        return WaitFor([&] { return last_is(out1); }, 1s);
      },
      10s, 10ms);
  return one && bench.desk.Key("Tab") && bench.desk.Key("space") &&
         WaitFor(
             [&] {
               return last_is(LinkFrameWith({3, 0, 0, 0}));
             },
             5s);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto kEndLimit = 20s;  // the sanitizer's report of the signal first
#else
constexpr auto kEndLimit = 5s;
#endif

bool EndedAsExpected(const EndRow& row, std::optional<int> end) {
  if (row.end != kDefault) return end == row.end;
#if defined(__SANITIZE_ADDRESS__)
  // The signal goes on to the sanitizer's handler, whose report ends in abort.
  return end == 128 + row.sig || end == 128 + SIGABRT || end == 1;
#elif defined(__SANITIZE_THREAD__)
  // ThreadSanitizer reports a deadly signal and exits with its own status, 66.
  return end == 128 + row.sig || end == 66;
#else
  return end == 128 + row.sig;
#endif
}

bool LineComesBack(Way way) {
  return way == Way::kLineReturns || way == Way::kNewBoard || way == Way::kReturnUnderCommTest;
}

// The process state letter of `pid` ('T' while stopped).
char ProcessState(pid_t pid) {
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
}

// At 9600 Bd a frame takes 9.2 ms: frames that keep coming leave no longer gap.
constexpr int64_t kFramesKeepComingGapUs = 60000;

// The line came back at `back`: frames again within 1.5 s, every one all-off
// for a second (no output comes back by itself), and the panel is live: a key
// switches out2 (it has the focus) on again.
void ExpectReturnAllOff(Bench& bench, int64_t back, bool key, const std::string& what) {
  ASSERT_TRUE(WaitFor([&] { return !bench.FrameLinesSince(back).empty(); }, 5s))
      << what << ": no frames after the return";
  EXPECT_LE(bench.FrameLinesSince(back).front().us - back, 1500000) << what;
  std::this_thread::sleep_for(1s);
  for (const auto& f : bench.FramesSince(back)) ASSERT_EQ(f, AllOff()) << what;
  if (!key) return;
  const int64_t pressed = MonotonicUs();
  ASSERT_TRUE(bench.desk.Key("space"));
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto f = bench.FramesSince(pressed);
        return !f.empty() && f.back() == LinkFrameWith({2, 0, 0, 0});
      },
      5s))
      << what << ": the key switched nothing on";
}

// The rows that live through a stall, a stop or a line that goes away before
// their signal: what the line shows meanwhile.
void LiveThrough(const EndRow& row, Bench& bench, Child& tool, const fs::path& hook_file,
                 const std::string& what) {
  const int64_t t0 = MonotonicUs();
  switch (row.way) {
    case Way::kHoldUi:
    case Way::kXStopped: {
      if (row.way == Way::kHoldUi) {
        std::ofstream(hook_file) << row.hook << "\n";
      } else {
        ::kill(bench.desk.ServerPid(), SIGSTOP);
      }
      std::this_thread::sleep_for(row.way == Way::kHoldUi ? 2s : 3s);
      if (row.way == Way::kXStopped) ::kill(bench.desk.ServerPid(), SIGCONT);
      // The hold begins within the hook's 20 ms poll.
      const int64_t from = t0 + 100000;
      const int64_t to = t0 + 1900000;
      EXPECT_LE(bench.LongestGapUs(from, to), kFramesKeepComingGapUs) << what;
      for (const auto& l : bench.FrameLinesSince(from)) {
        if (l.us > to) break;
        ASSERT_EQ(l.bytes, LinkFrameWith({3, 0, 0, 0})) << what;
      }
      break;
    }
    case Way::kCtrlZ: {
      ::kill(tool.Pid(), SIGTSTP);
      ASSERT_TRUE(WaitFor([&] { return ProcessState(tool.Pid()) == 'T'; }, 5s)) << what;
      std::this_thread::sleep_for(300ms);
      const int64_t stopped = MonotonicUs();
      const auto before = bench.FramesSince(t0);
      ASSERT_FALSE(before.empty()) << what;
      EXPECT_EQ(before.back(), AllOff()) << what << ": the last frame before the stop";
      std::this_thread::sleep_for(500ms);
      EXPECT_TRUE(bench.FramesSince(stopped).empty()) << what << ": frames while stopped";
      ::kill(tool.Pid(), SIGCONT);
      ExpectReturnAllOff(bench, MonotonicUs(), true, what);
      break;
    }
    case Way::kLineReturns:
    case Way::kReturnUnderCommTest: {
      if (row.way == Way::kReturnUnderCommTest) {
        ASSERT_TRUE(bench.desk.Key("alt+s") && bench.desk.Key("k"));
        ASSERT_TRUE(bench.desk.WaitWindow("^Test komunikace$", 15s)) << what;
      }
      ASSERT_TRUE(bench.sim->Send("hangup"));
      int64_t back = -1;
      ASSERT_TRUE(WaitFor([&] { return (back = bench.EventAt("reopen", t0)) >= 0; }, 10s))
          << what << ": the sim did not come back";
      if (row.way == Way::kReturnUnderCommTest) {
        // The window holds the port: nothing is reopened under it.
        std::this_thread::sleep_for(1500ms);
        EXPECT_TRUE(bench.FramesSince(back).empty()) << what << ": reopened under the window";
        ASSERT_TRUE(bench.desk.Key("Escape") && bench.desk.Key("alt+t"));
        back = MonotonicUs();
      }
      ExpectReturnAllOff(bench, back, row.way == Way::kLineReturns, what);
      break;
    }
    case Way::kNewBoard: {
      ASSERT_TRUE(bench.sim->Send("hangup"));
      ASSERT_TRUE(bench.sim->Process().WaitEnd(10s).has_value()) << what;
      std::error_code ec;
      fs::remove(bench.dir.path / "COM1", ec);
      std::this_thread::sleep_for(1s);
      ASSERT_TRUE(tool.Running()) << what;
      ASSERT_TRUE(bench.StartSim()) << what;
      ExpectReturnAllOff(bench, MonotonicUs(), true, what);
      break;
    }
    default:
      break;
  }
}

class ProcessEnd : public ::testing::TestWithParam<EndRow> {};

TEST_P(ProcessEnd, LeavesTheOutputsOffTheLineGivenBackAndTheSettingsWhole) {
  const EndRow& row = GetParam();
  Bench bench;
  if (!bench.desk.Available()) GTEST_SKIP() << "needs Xvfb and xdotool";
  if (row.hook != nullptr && kUnderThreadSanitizer) {
    GTEST_SKIP() << "the test build's own ends are not run under ThreadSanitizer";
  }
  // 115200 Bd: the stalled board's queue fills in 2 s; the UI thread writes a
  // frame every 0.7 ms, so one slipping in after the link thread's fault
  // would show.
  if (row.way == Way::kStall || row.way == Way::kLinkThread) bench.line.divisor = 1;
  ASSERT_TRUE(bench.StartSim(row.way == Way::kLineReturns || row.way == Way::kReturnUnderCommTest))
      << "controller-sim did not put COM1 up";
  const fs::path tty = fs::read_symlink(bench.dir.path / "COM1");
  if (row.hook != nullptr) {
    ASSERT_TRUE(fs::copy_file(M32_END_HOOKS_EXE, bench.dir.path / "merkat32"));
  }
  // No core file from the child: only its end matters here.
  const rlimit no_core{0, 0};
  ASSERT_EQ(::setrlimit(RLIMIT_CORE, &no_core), 0);
  std::mt19937 random(std::random_device{}());
  const int runs = row.runs == 0 ? 1 : RunsPerRow();
  for (int run = 0; run < runs; ++run) {
    const std::string what = std::string(row.name) + " run " + std::to_string(run);
    ASSERT_TRUE(SetLineBefore(tty)) << what;
    const int64_t started = MonotonicUs();
    Child tool;
    const fs::path hook_file = bench.dir.path / "end.hook";
    fs::remove(hook_file);
    std::vector<std::string> env = bench.desk.Env();
    env.push_back("M32_END_HOOK=" + hook_file.string());
    ASSERT_TRUE(WriteSettings(bench.dir.path / "merkat32.CFG", bench.line));
    ASSERT_TRUE(StartTool(tool, bench.dir.path, env)) << what;
    if (row.way != Way::kAtStart) {
      ASSERT_TRUE(bench.desk.WaitWindow("^ M e r k a t - 3 2 ", 15s))
          << what << ": " << ReadText(bench.dir.path / "tool.out");
      ASSERT_TRUE(SwitchOut1And2On(bench, started)) << what << ": out1 and out2 never went on";
    }
    int64_t closed = 0;
    std::chrono::steady_clock::time_point stall_ends;
    switch (row.way) {
      case Way::kAtStart:
        // From the first line of main on (the fault handlers are set up
        // there too): the system's loading of the program and its libraries
        // comes before any handler can be. SIGTRAP, since a sanitizer's
        // runtime catches SIGSEGV itself before main.
        ASSERT_TRUE(WaitFor([&] { return Catches(tool.Pid(), SIGTRAP); }, 5s, 1ms));
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 40)(random)));
        ::kill(tool.Pid(), row.sig);
        break;
      case Way::kSignal:
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 200)(random)));
        ::kill(tool.Pid(), row.sig);
        break;
      case Way::kLinkThread: {
        const auto link = LinkThreadOf(tool.Pid());
        ASSERT_TRUE(link) << what << ": no link thread";
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 200)(random)));
        ::syscall(SYS_tgkill, tool.Pid(), *link, row.sig);
        break;
      }
      case Way::kPipeThenTerm:
        ::kill(tool.Pid(), row.sig);
        std::this_thread::sleep_for(500ms);
        ASSERT_TRUE(tool.Running()) << what << ": ended by SIGPIPE";
        ::kill(tool.Pid(), SIGTERM);
        break;
      case Way::kDisplayLost:
        bench.desk.KillServer();
        break;
      case Way::kHook: {
        std::ofstream(hook_file) << row.hook << "\n";
        break;
      }
      case Way::kStall: {
        // A fault's frame gets through a queue that stays full longer than
        // the switch-off waits for room (twice 1 s) only by purging it first.
        const auto stall = row.end == kDefault ? 6s : 4s;
        ASSERT_TRUE(bench.sim->Send("stop-reading " + std::to_string(stall.count() * 1000)));
        stall_ends = std::chrono::steady_clock::now() + stall;
        std::this_thread::sleep_for(3s);
        ::kill(tool.Pid(), row.sig);
        break;
      }
      case Way::kHoldUi:
      case Way::kXStopped:
      case Way::kCtrlZ:
      case Way::kLineReturns:
      case Way::kNewBoard:
      case Way::kReturnUnderCommTest:
        ASSERT_NO_FATAL_FAILURE(LiveThrough(row, bench, tool, hook_file, what));
        ::kill(tool.Pid(), row.sig);
        break;
      case Way::kAfterClose:
        // The port dialog's O. K. closes the port and opens COM1 again,
        // which now leads nowhere.
        ASSERT_TRUE(bench.desk.Key("alt+n") && bench.desk.Key("k"));
        ASSERT_TRUE(bench.desk.WaitWindow("^Konfigurace sériového portu$", 15s)) << what;
        fs::remove(bench.dir.path / "COM1");
        fs::create_symlink(bench.dir.path / "unplugged", bench.dir.path / "COM1");
        ASSERT_TRUE(bench.desk.Key("alt+o"));
        ASSERT_TRUE(bench.desk.WaitWindow("^CHYBA 01$", 15s)) << what;
        std::this_thread::sleep_for(300ms);  // the last frames are in the sim's log
        closed = MonotonicUs();
        ::kill(tool.Pid(), row.sig);
        break;
    }
    const std::optional<int> end = tool.WaitEnd(kEndLimit);
    EXPECT_TRUE(EndedAsExpected(row, end))
        << what << ": ended with " << (end ? std::to_string(*end) : std::string("nothing"))
        << "; the tool said: " << ReadText(bench.dir.path / "tool.out");
    // The sim logs what it takes off the line (the stalled board reads again
    // 4 s after it stopped): wait until nothing more comes.
    if (row.way == Way::kStall) {
      std::this_thread::sleep_until(stall_ends);
    }
    std::size_t seen = 0;
    WaitFor(
        [&] {
          const std::size_t now = bench.log->All().size();
          return std::exchange(seen, now) == now;
        },
        10s, 700ms);
    const auto frames = bench.FramesSince(started);
    if (row.way == Way::kAfterClose) {
      // Not a byte: the line has its old state back, which may garble one.
      EXPECT_EQ(bench.ReceivedSince(closed), 0) << what << ": bytes after the close";
    } else if (row.way == Way::kAtStart) {
      if (!frames.empty()) {
        EXPECT_EQ(frames.back(), AllOff()) << what;
      }
    } else {
      ASSERT_FALSE(frames.empty()) << what;
      EXPECT_EQ(frames.back(), AllOff()) << what;
      EXPECT_EQ(bench.ReceivedAfterLastAllOff(), 0) << what << ": bytes after the all-off frame";
    }
    if (!LineComesBack(row.way)) {
      EXPECT_TRUE(LineGivenBack(tty)) << what << ": the line keeps the tool's state";
    }
    EXPECT_TRUE(bench.SettingsKept()) << what;
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Process, ProcessEnd, ::testing::ValuesIn(EndRows()),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
