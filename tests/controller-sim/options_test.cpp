#include "options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace m32::sim {
namespace {

ParsedOptions Parse(std::vector<std::string> args) {
  return ParseOptions(args);
}

TEST(OptionsTest, ValuesAreTaken) {
  const auto r = Parse({"--dir", "/tmp/x",       "--port=3",    "--baud",
                        "19200", "--format",     "8E1",         "--mode",
                        "fixed", "--inputs",     "01 02 03 04", "--garbage",
                        "2.5",   "--silence-ms", "100",         "--silence-every",
                        "1000",  "--seed",       "9",           "--hangup-after-ms",
                        "500",   "--reopen",     "--log",       "l.txt"});
  ASSERT_EQ(r.error, "");
  const Options& o = r.options;
  EXPECT_EQ(o.dir, "/tmp/x");
  EXPECT_EQ(o.port, 3U);
  EXPECT_EQ(o.baud, 19200U);
  ASSERT_TRUE(o.format.has_value());
  EXPECT_EQ(BitsPerChar(*o.format), 11U);
  EXPECT_EQ(o.mode, AnswerMode::kFixed);
  EXPECT_EQ(o.inputs, (std::array<uint8_t, 4>{1, 2, 3, 4}));
  EXPECT_DOUBLE_EQ(o.garbage_pct, 2.5);
  EXPECT_EQ(o.seed, 9U);
  EXPECT_TRUE(o.reopen);
  EXPECT_EQ(o.log_path, "l.txt");
}

TEST(OptionsTest, BadCommandLinesAreRefused) {
  const std::vector<std::vector<std::string>> bad = {
      {"--port", "0"},
      {"--port", "x"},
      {"--baud"},
      {"--format", "8Q1"},
      {"--mode", "echo"},
      {"--inputs", "0102"},
      {"--garbage", "101"},
      {"--garbage", "-1"},
      {"--adc", "65536"},
      {"--silence-ms", "100"},
      {"--silence-every", "5"},
      {"--hangup-after-ms", "0"},
      {"--what"},
      {"--dir="},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_NE(Parse(args).error, "") << joined;
  }
  EXPECT_TRUE(Parse({"--help"}).options.help);
}

TEST(CommandTest, Table) {
  struct Row {
    const char* line;
    bool ok;
    Command::Kind kind;
  };
  using K = Command::Kind;
  const Row rows[] = {
      {"inputs FF FF FF FF", true, K::kInputs},
      {"inputs 01020304", true, K::kInputs},
      {"inputs 01 02 03", false, K::kInputs},
      {"adc 1234", true, K::kAdc},
      {"adc 70000", false, K::kAdc},
      {"mode adc", true, K::kMode},
      {"mode loud", false, K::kMode},
      {"garbage 5", true, K::kGarbage},
      {"split 10", true, K::kSplit},
      {"bad-checksum 1", true, K::kBadChecksum},
      {"silence 250", true, K::kSilence},
      {"loopback on", true, K::kLoopback},
      {"loopback maybe", false, K::kLoopback},
      {"hangup", true, K::kHangup},
      {"stats", true, K::kStats},
      {"  quit  ", true, K::kQuit},
      {"quit now", false, K::kQuit},
      {"dance", false, K::kQuit},
  };
  for (const Row& r : rows) {
    std::string error;
    const auto c = ParseCommand(r.line, error);
    EXPECT_EQ(c.has_value(), r.ok) << r.line;
    EXPECT_EQ(error.empty(), r.ok) << r.line;
    if (c) {
      EXPECT_EQ(c->kind, r.kind) << r.line;
    }
  }
  std::string error;
  EXPECT_EQ(ParseCommand("inputs ff 00 a5 5A", error)->bytes,
            (std::array<uint8_t, 4>{0xFF, 0x00, 0xA5, 0x5A}));
  EXPECT_FALSE(ParseCommand("", error).has_value());
  EXPECT_TRUE(error.empty()) << "blank lines are not errors";
  EXPECT_FALSE(ParseCommand("# note", error).has_value());
  EXPECT_TRUE(error.empty());
}

}  // namespace
}  // namespace m32::sim
