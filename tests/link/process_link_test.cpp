// The built tool on a live line: copied into a scratch folder, started headless,
// talking to controller-sim (or to a bare pseudo-terminal held here) on COM1,
// ended with SIGTERM. Time limits are generous; nothing here measures speed.
#include <asm/termbits.h>  // termios2: the line's rate and flags as the kernel holds them
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/process_support.h"
#include "support/pty_pair.h"

namespace {

using namespace m32::test_support;

// The frame with every output off, as the tool sends it.
const std::vector<uint8_t>& AllOff() {
  static const std::vector<uint8_t> frame{0xA2, 0x6B, 0x00, 0x00, 0x00, 0x00, 0xF5, 0xFE};
  return frame;
}

struct LiveLine {
  ScratchFolder dir;
  std::unique_ptr<Sim> sim;
  Child tool;
  std::unique_ptr<SimLog> log;
  std::vector<LogLine> lines;  // everything read from the sim's log so far

  // Settings for 9600 Bd 8E1 on COM1, the sim with `sim_args`, then the tool.
  void Start(const std::vector<std::string>& sim_args) {
    ASSERT_TRUE(WriteSettings(dir.path / "merkat32.CFG", LineFile{}));
    std::vector<std::string> args{"--format", "8E1"};
    args.insert(args.end(), sim_args.begin(), sim_args.end());
    sim = std::make_unique<Sim>(dir.path, args);
    ASSERT_TRUE(sim->Ready()) << "controller-sim did not put COM1 up";
    log = std::make_unique<SimLog>(sim->LogPath());
    ASSERT_TRUE(StartTool(tool, dir.path));
  }
  int Count(const std::string& tag, const std::vector<uint8_t>* bytes = nullptr) {
    for (auto& l : log->Poll()) lines.push_back(std::move(l));
    return CountTagged(lines, tag, bytes);
  }
  bool WaitCount(const std::string& tag, int n, std::chrono::milliseconds limit,
                 const std::vector<uint8_t>* bytes = nullptr) {
    return WaitFor([&] { return Count(tag, bytes) >= n; }, limit, 20ms);
  }
};

TEST(ProcessLink, AllOffFramesGoOnThroughNoiseAndAHangUpLeavesTheToolCalm) {
  LiveLine line;
  line.Start({"--garbage", "30", "--split", "20", "--seed", "7"});
  ASSERT_TRUE(line.WaitCount("GARBAGE", 5, 15s)) << "the sim sent no noise";
  // Frames keep coming long after the noise began.
  const int before = line.Count("IN");
  ASSERT_TRUE(line.WaitCount("IN", before + 50, 15s, &AllOff()))
      << "the sim saw " << line.Count("IN") << " frames";
  EXPECT_EQ(line.Count("IN"), line.Count("IN", &AllOff())) << "an output was switched on";
  EXPECT_GT(line.Count("OUT"), 0) << "the sim never answered";
  EXPECT_EQ(line.Count("BAD"), 0) << "the tool sent a malformed frame";
  EXPECT_EQ(line.Count("SKIP"), 0) << "bytes between frames";

  ASSERT_TRUE(line.sim->Send("hangup"));
  ASSERT_TRUE(line.sim->Process().WaitEnd(10s).has_value()) << "the sim did not hang up";
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(line.tool.Running()) << "the tool ended when the line went away";
  // No busy loop: a tool spinning on the dead port would take most of a core.
  const auto c0 = CpuSeconds(line.tool.Pid());
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(3s);
  const auto c1 = CpuSeconds(line.tool.Pid());
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  ASSERT_TRUE(c0 && c1);
  EXPECT_LT((*c1 - *c0) / wall, 0.25) << "CPU share of one core after the hang-up";
  EXPECT_EQ(line.tool.Stop(SIGTERM, 10s), std::optional<int>(0));
}

constexpr tcflag_t kLineFlags = CSTOPB | PARODD | CMSPAR;

TEST(ProcessLink,
     StoredLineIsOnThePortWhileOpenAndAfterSigtermTheOldLineIsBackAndTheSettingsSaved) {
  ScratchFolder dir;
  m32::test_support::PtyPair pty;  // a bare pseudo-terminal as COM1: its line state can be read
  ASSERT_TRUE(pty.ok());
  const auto get = [&pty](termios2& t) { return ::ioctl(pty.master(), TCGETS2, &t) == 0; };
  // What the port had before: 4800 Bd, one stop bit, no odd/mark flags.
  termios2 before{};
  ASSERT_TRUE(get(before));
  before.c_cflag &= ~(CBAUD | kLineFlags);
  before.c_cflag |= B4800 | CLOCAL;
  before.c_ispeed = before.c_ospeed = 4800;
  ASSERT_EQ(::ioctl(pty.master(), TCSETS2, &before), 0);
  ASSERT_TRUE(get(before));
  ASSERT_EQ(before.c_ospeed, 4800U);

  fs::create_symlink(pty.slave_path(), dir.path / "COM1");
  // Divisor 7 (16457 Bd), two stop bits; a file too long, with fields out of
  // range (9 data bits, parity 'm', language 12) and reserved bytes set.
  std::vector<uint8_t> cfg(150, 0);
  cfg[0] = 7;
  cfg[50] = 0xAB;  // reserved
  cfg[85] = 9;     // DataBits -> 8
  cfg[86] = 'm';   // -> 'M'
  cfg[87] = 2;
  cfg[88] = 12;    // Language -> 0
  cfg[98] = 0xCD;  // reserved
  std::ofstream(dir.path / "merkat32.CFG", std::ios::binary)
      .write(reinterpret_cast<const char*>(cfg.data()), static_cast<std::streamsize>(cfg.size()));
  Child tool;
  ASSERT_TRUE(StartTool(tool, dir.path));
  termios2 open{};
  const bool set = WaitFor(
      [&] {
        pty.Receive(1 << 16, 20ms);  // drained, so the tool's writes never back up
        return get(open) && open.c_ospeed == 16457;
      },
      15s, 20ms);
  ASSERT_TRUE(set) << "rate on the port: " << open.c_ospeed;
  // A pseudo-terminal keeps 8 data bits and drops PARENB; the rest stays.
  EXPECT_EQ(open.c_cflag & kLineFlags, kLineFlags) << std::hex << open.c_cflag;
  EXPECT_FALSE(pty.Receive(1, 10s).empty()) << "no frames on the line";

  ASSERT_EQ(tool.Stop(SIGTERM, 10s), std::optional<int>(0));
  termios2 after{};
  ASSERT_TRUE(get(after));
  EXPECT_EQ(after.c_ospeed, 4800U);
  EXPECT_EQ(after.c_cflag & (kLineFlags | CRTSCTS | CLOCAL),
            before.c_cflag & (kLineFlags | CRTSCTS | CLOCAL))
      << std::hex << after.c_cflag << " vs " << before.c_cflag;
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  // The settings were read clamped and written back, 100 bytes, with the
  // reserved bytes as they were.
  std::vector<uint8_t> want(cfg.begin(), cfg.begin() + 100);
  want[85] = 8;
  want[86] = 'M';
  want[88] = 0;
  const std::string saved = ReadText(dir.path / "merkat32.CFG");
  EXPECT_EQ(std::vector<uint8_t>(saved.begin(), saved.end()), want);
}

// A message box cannot be seen offscreen, so the second instance runs on a
// virtual X server and the box is looked for by its caption.
TEST(ProcessLink, SecondInstanceOnTheSamePortShowsChyba01) {
  LiveLine line;
  VirtualDesk desk(line.dir.path);
  if (!desk.Available()) GTEST_SKIP() << "needs Xvfb and xdotool";
  line.Start({});
  ASSERT_TRUE(line.WaitCount("IN", 10, 15s));

  Child second;
  ASSERT_TRUE(StartTool(second, line.dir.path, desk.Env(), "second.out"));
  EXPECT_TRUE(desk.WaitWindow("^CHYBA 01$", 20s))
      << "no window captioned CHYBA 01; second instance said: "
      << ReadText(line.dir.path / "second.out");
  // The first instance keeps its port and its exchange.
  const int before = line.Count("IN");
  EXPECT_TRUE(line.WaitCount("IN", before + 5, 10s));
  EXPECT_EQ(second.Stop(SIGTERM, 10s), std::optional<int>(0))
      << ReadText(line.dir.path / "second.out");
  EXPECT_EQ(line.tool.Stop(SIGTERM, 10s), std::optional<int>(0));
}

}  // namespace
