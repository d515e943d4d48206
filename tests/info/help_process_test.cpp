// The built tool on a virtual desk against controller-sim, out1 switched on
// from the keyboard, while the help viewer loads a plain help file of many
// short lines: the UI thread stays free, so Escape in the main window still
// switches the outputs off, and SIGTERM ends the run within 3 s with the last
// frame all-off.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <random>
#include <string>

#include "support/process_support.h"

namespace {

using namespace m32::test_support;

// Legend: the help file; whether Escape is typed in the main window first
// (the outputs must go off while the tool runs on). The signal comes at a
// random moment of the load (a random delay after the viewer's window is up).
struct HelpFileRow {
  const char* name;
  std::string content;
  bool escape_first;
};

std::string ShortLines() {
  std::string text;
  for (int i = 0; i < 699'050; ++i) text += "Vstup 12 je zapnut: ano\n";
  return text;
}

void PrintTo(const HelpFileRow& row, std::ostream* os) {
  *os << row.name;
}

class SigtermDuringHelpLoad : public ::testing::TestWithParam<HelpFileRow> {};

TEST_P(SigtermDuringHelpLoad, EndsWithinThreeSecondsAllOff) {
  ScratchFolder dir;
  VirtualDesk desk(dir.path);
  if (!desk.Available()) GTEST_SKIP() << "needs Xvfb and xdotool";
  Sim sim(dir.path, {"--format", "8E1"});
  ASSERT_TRUE(sim.Ready()) << "controller-sim did not put COM1 up";
  SimLog log(sim.LogPath());
  ASSERT_TRUE(WriteSettings(dir.path / "merkat32.CFG", LineFile{}));
  {
    std::ofstream help(dir.path / "merkat32.HLP", std::ios::binary);
    help << GetParam().content;
  }
  Child tool;
  const int64_t started = MonotonicUs();
  ASSERT_TRUE(StartTool(tool, dir.path, desk.Env()));
  ASSERT_TRUE(desk.WaitWindow("^ M e r k a t - 3 2 ", 15s)) << ReadText(dir.path / "tool.out");
  const auto out1 = LinkFrameWith({1, 0, 0, 0});
  ASSERT_TRUE(WaitFor(
      [&] {
        desk.Key("space");
        return WaitFor(
            [&] {
              const auto frames = LinkFramesSince(log, started);
              return !frames.empty() && frames.back() == out1;
            },
            1s);
      },
      10s, 10ms))
      << "out1 never went on";
  // Help, its first item (again should the item's key come before its menu).
  ASSERT_TRUE(WaitFor(
      [&] {
        desk.Key("alt+p");
        std::this_thread::sleep_for(300ms);
        desk.Key("t");
        return desk.WaitWindow("^Nápověda$", 3s);
      },
      30s, 10ms))
      << ReadText(dir.path / "tool.out");
  const auto all_off = LinkFrameWith({0, 0, 0, 0});
  if (GetParam().escape_first) {
    // The viewer stays open and loading; the main window gets the keyboard.
    ASSERT_TRUE(desk.Run({"search", "--name", "^ M e r k a t - 3 2 ", "windowactivate"},
                         dir.path / "xdotool.out"));
    ASSERT_TRUE(desk.Key("Escape"));
    EXPECT_TRUE(WaitFor(
        [&] {
          const auto frames = LinkFramesSince(log, started);
          return !frames.empty() && frames.back() == all_off;
        },
        3s))
        << "Escape did not switch the outputs off";
    EXPECT_TRUE(tool.Running());
  }
  std::mt19937 random(std::random_device{}());
  std::this_thread::sleep_for(
      std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 300)(random)));
  ::kill(tool.Pid(), SIGTERM);
  EXPECT_EQ(tool.WaitEnd(3s), std::optional<int>(0)) << ReadText(dir.path / "tool.out");
  const auto frames = LinkFramesSince(log, started);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back(), all_off);
  sim.Send("quit");
}

INSTANTIATE_TEST_SUITE_P(Process, SigtermDuringHelpLoad,
                         ::testing::Values(HelpFileRow{"SixteenMibOfEmptyLines",
                                                       std::string(16U << 20U, '\n'), false},
                                           HelpFileRow{"ShortLines699050", ShortLines(), false},
                                           HelpFileRow{"EscapeInTheMainWindowFirst",
                                                       std::string(16U << 20U, '\n'), true}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
