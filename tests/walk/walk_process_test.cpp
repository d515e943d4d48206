// merkat32-walk against controller-sim's harness, as processes: each fault
// put in by the sim -> the walk's verdict for its channels and its exit
// status, a JUnit file that parses, and all outputs off in the last frame the
// board got. The walk is copied into a scratch folder, so that it reads the
// settings file (115200 Bd 8E1) and finds COM1 beside itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "support/process_support.h"

namespace {

using namespace m32::test_support;

const std::vector<uint8_t> kAllOff{0xA2, 0x6B, 0x00, 0x00, 0x00, 0x00, 0xF5, 0xFE};

struct WalkRun {
  ScratchFolder dir;
  std::optional<int> exit;
  std::string out;  // stdout and stderr
  std::vector<LogLine> log;

  // The sim with `sim_args` (none: no board at all), then the walk.
  // `signal`: sent to the walk once the board has seen a frame with an output on.
  void Start(const std::vector<std::string>& sim_args, const std::vector<std::string>& walk_args,
             bool board = true, int signal = 0) {
    ASSERT_TRUE(
        WriteSettings(dir.path / "merkat32.CFG", LineFile{.divisor = signal != 0 ? 12U : 1U}));
    const fs::path exe = dir.path / "merkat32-walk";
    std::error_code ec;
    fs::copy_file(M32_WALK, exe, ec);
    ASSERT_FALSE(ec) << ec.message();
    std::unique_ptr<Sim> sim;
    if (board) {
      std::vector<std::string> args{"--format", "8E1", "--seed", "11"};
      args.insert(args.end(), sim_args.begin(), sim_args.end());
      sim = std::make_unique<Sim>(dir.path, args);
      ASSERT_TRUE(sim->Ready()) << "controller-sim did not put COM1 up";
    }
    std::vector<std::string> argv{exe.string(), "--junit", (dir.path / "walk.xml").string()};
    argv.insert(argv.end(), walk_args.begin(), walk_args.end());
    Child walk;
    ASSERT_TRUE(walk.Start(argv, dir.path / "walk.out"));
    if (signal != 0) {
      SimLog live(sim->LogPath());
      std::vector<LogLine> seen;
      ASSERT_TRUE(WaitFor(
          [&] {
            for (auto& l : live.Poll()) seen.push_back(std::move(l));
            return std::any_of(seen.begin(), seen.end(), [](const LogLine& l) {
              return l.tag == "IN" && l.bytes.size() == 8 && l.bytes[3] != 0;
            });
          },
          std::chrono::seconds(30)))
          << "the walk never reached out9";
      ::kill(walk.Pid(), signal);
    }
    exit = walk.WaitEnd(std::chrono::seconds(60));
    out = ReadText(dir.path / "walk.out");
    if (sim) log = SimLog(sim->LogPath()).All();
  }
  // The verdict text of channel k in the human report.
  std::string Verdict(int k) const {
    const std::regex line("(^|\n)out" + std::to_string(k) + " -> [^\n]*?  +([^\n]*)");
    std::smatch m;
    return std::regex_search(out, m, line) ? m[2].str() : "(no line)";
  }
  std::vector<uint8_t> LastFrameIn() const {
    for (auto it = log.rbegin(); it != log.rend(); ++it) {
      if (it->tag == "IN") return it->bytes;
    }
    return {};
  }
  // "testcases failures tests failures" as python3's XML parser reads them.
  std::string JunitCounts() {
    const std::string python = Which("python3");
    if (python.empty()) return "(python3 is missing)";
    Child p;
    const std::string script =
        "import sys, xml.etree.ElementTree as E\n"
        "s = E.parse(sys.argv[1]).getroot().find('testsuite')\n"
        "cases = s.findall('testcase')\n"
        "print(len(cases), sum(1 for c in cases if c.find('failure') is not None),"
        " s.get('tests'), s.get('failures'))\n";
    EXPECT_TRUE(
        p.Start({python, "-c", script, (dir.path / "walk.xml").string()}, dir.path / "py.out"));
    p.WaitEnd(std::chrono::seconds(20));
    return ReadText(dir.path / "py.out");
  }
};

// Legend: sim faults, walk options -> exit status; channels with their
// verdict (the rest must pass); the JUnit counts "cases failed tests failures".
struct Row {
  std::vector<std::string> sim;
  std::vector<std::string> walk;
  int exit;
  std::vector<std::pair<int, std::string>> verdicts;
  const char* junit;
};

TEST(WalkProcess, EachFaultGetsItsVerdictAndTheOutputsEndOff) {
  const Row rows[] = {
      {{"--harness"}, {}, 0, {}, "32 0 32 0\n"},
      {{"--stuck0", "5", "--short", "9,10"},
       {},
       1,
       {{5, "stuck at 0"}, {9, "short to out10"}, {10, "short to out9"}},
       "32 3 32 3\n"},
      {{"--stuck1", "9"}, {}, 1, {{9, "stuck at 1"}}, "32 1 32 1\n"},
      {{"--swap", "7,8"},
       {},
       1,
       {{7, "wrong input: in8 followed instead"}, {8, "wrong input: in7 followed instead"}},
       "32 2 32 2\n"},
      {{"--flicker", "12:30%"}, {"--repeat", "2"}, 1, {{12, "intermittent"}}, "32 1 32 1\n"},
  };
  for (const auto& row : rows) {
    std::string name;
    for (const auto& a : row.sim) name += a + " ";
    SCOPED_TRACE(name);
    WalkRun run;
    run.Start(row.sim, row.walk);
    ASSERT_EQ(run.exit, std::optional<int>(row.exit)) << run.out;
    for (int k = 1; k <= 32; ++k) {
      std::string want = "pass";
      for (const auto& [channel, verdict] : row.verdicts) {
        if (channel == k) want = verdict;
      }
      const std::string got = run.Verdict(k);
      EXPECT_EQ(got.substr(0, want.size()), want) << "channel " << k << "\n" << run.out;
    }
    EXPECT_EQ(run.LastFrameIn(), kAllOff) << "the board was left with outputs on";
    EXPECT_EQ(run.JunitCounts(), row.junit);
  }
}

// Legend: no board on the line, a port that is not there, a bad option -> exit
// 2 with the reason on stderr; SIGTERM mid-walk -> killed by it. No report,
// and no output left on.
TEST(WalkProcess, NoBoardNoPortOrASignalEndTheWalkWithTheOutputsOff) {
  {
    WalkRun run;
    run.Start({"--silence-ms", "100000", "--silence-every", "1"}, {});
    EXPECT_EQ(run.exit, std::optional<int>(2)) << run.out;
    EXPECT_NE(run.out.find("no board answered on COM1"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(run.dir.path / "walk.xml"));
    EXPECT_EQ(run.LastFrameIn(), kAllOff);
  }
  {
    WalkRun run;
    run.Start({}, {"--port", "COM7"}, false);
    EXPECT_EQ(run.exit, std::optional<int>(2)) << run.out;
    EXPECT_NE(run.out.find("cannot open the serial port COM7"), std::string::npos) << run.out;
  }
  {
    // Stopped mid-walk (out9..out16 stepping): outputs off, then the signal's own end.
    WalkRun run;
    run.Start({"--harness"}, {"--repeat", "50"}, true, SIGTERM);
    EXPECT_EQ(run.exit, std::optional<int>(128 + SIGTERM)) << run.out;
    EXPECT_EQ(run.LastFrameIn(), kAllOff) << "the walk left an output on";
    EXPECT_FALSE(fs::exists(run.dir.path / "walk.xml"));
  }
  {
    WalkRun run;
    run.Start({}, {"--hold", "zero"}, false);
    EXPECT_EQ(run.exit, std::optional<int>(2)) << run.out;
    EXPECT_NE(run.out.find("--hold: expected 1..100 frames"), std::string::npos) << run.out;
  }
}

}  // namespace
