// The built tool ended by signals at random moments, driven from the keyboard
// on a virtual desk against controller-sim: a termination signal inside a
// message box, a dialog, a service test or the close itself still ends the
// run cleanly with every output off; a fatal signal still puts an all-off
// frame on the line before the process dies.
//
// M32_SIGNAL_RUNS sets how many runs each row makes (default 3; the long
// local run uses 30).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>
#include <memory>
#include <ostream>
#include <random>
#include <string>
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
  ScratchFolder dir;
  VirtualDesk desk{dir.path};
  std::unique_ptr<Sim> sim;
  std::unique_ptr<SimLog> log;

  bool StartSim() {
    sim = std::make_unique<Sim>(dir.path, std::vector<std::string>{"--format", "8E1"});
    if (!sim->Ready()) return false;
    log = std::make_unique<SimLog>(sim->LogPath());
    return true;
  }
  ~Bench() {
    if (sim) sim->Send("quit");
  }
  // The LinkFrames the tool sent from `since` on.
  std::vector<std::vector<uint8_t>> FramesSince(int64_t since) const {
    std::vector<std::vector<uint8_t>> frames;
    for (const auto& l : log->All()) {
      if (l.tag == "IN" && l.us >= since && l.bytes.size() == 8 && l.bytes[1] == 0x6B) {
        frames.push_back(l.bytes);
      }
    }
    return frames;
  }
  // Writes the settings and starts the tool; with a port, waits until the
  // exchange runs and out1 has the focus (the first frames are out).
  void Start(Child& tool, bool port) {
    ASSERT_TRUE(WriteSettings(dir.path / "merkat32.CFG", kLine));
    ASSERT_TRUE(StartTool(tool, dir.path, desk.Env()));
    if (!port) return;
    ASSERT_TRUE(desk.WaitWindow("^ M e r k a t - 3 2 ", 15s)) << ReadText(dir.path / "tool.out");
    const int64_t started = MonotonicUs();
    ASSERT_TRUE(WaitFor([&] { return FramesSince(started).size() >= 2; }, 15s));
  }
  // The settings file still holds the record written before the run.
  bool SettingsKept() const {
    const std::string bytes = ReadText(dir.path / "merkat32.CFG");
    return bytes.size() == 100 && static_cast<uint8_t>(bytes[0]) == kLine.divisor &&
           static_cast<uint8_t>(bytes[85]) == kLine.data_bits && bytes[86] == kLine.parity &&
           static_cast<uint8_t>(bytes[87]) == kLine.stop_bits;
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

// Legend: the fatal signal sent while out1, switched on from the keyboard, is
// on at the board.
class FatalSignal : public ::testing::TestWithParam<int> {};

TEST_P(FatalSignal, PutsAnAllOffFrameOnTheLineAndKeepsItsDefaultCourse) {
  const int sig = GetParam();
  Bench bench;
  if (!bench.desk.Available()) GTEST_SKIP() << "needs Xvfb and xdotool";
  ASSERT_TRUE(bench.StartSim()) << "controller-sim did not put COM1 up";
  // No core file from the child: only its end matters here.
  const rlimit no_core{0, 0};
  ASSERT_EQ(::setrlimit(RLIMIT_CORE, &no_core), 0);
  const int64_t started = MonotonicUs();
  Child tool;
  ASSERT_NO_FATAL_FAILURE(bench.Start(tool, true));
  const auto out1 = LinkFrameWith({1, 0, 0, 0});
  ASSERT_TRUE(WaitFor(
      [&] {
        // out1 has the focus once the display runs; a key the first time
        // round might come before it.
        bench.desk.Key("space");
        return WaitFor(
            [&] {
              const auto frames = bench.FramesSince(started);
              return !frames.empty() && frames.back() == out1;
            },
            1s);
      },
      10s, 10ms))
      << "out1 never went on";
  const int64_t signalled = MonotonicUs();
  ::kill(tool.Pid(), sig);
  const std::optional<int> end = tool.WaitEnd(5s);
#if defined(__SANITIZE_ADDRESS__)
  // The signal goes on to the sanitizer's handler, whose report ends in abort.
  EXPECT_TRUE(end == 128 + sig || end == 128 + SIGABRT) << "not ended by the signal";
#elif defined(__SANITIZE_THREAD__)
  // ThreadSanitizer reports a deadly signal and exits with its own status, 66.
  EXPECT_TRUE(end == 128 + sig || end == 66) << "not ended by the signal";
#else
  EXPECT_EQ(end, std::optional<int>(128 + sig)) << "not ended by the signal";
#endif
  // The sim logs what it has taken off the line; give it a moment.
  std::this_thread::sleep_for(200ms);
  const auto frames = bench.FramesSince(signalled);
  ASSERT_FALSE(frames.empty()) << "nothing sent after the signal";
  EXPECT_EQ(frames.back(), AllOff());
}

INSTANTIATE_TEST_SUITE_P(Process, FatalSignal, ::testing::Values(SIGABRT, SIGSEGV),
                         [](const auto& sig) { return std::string(sigabbrev_np(sig.param)); });

}  // namespace
