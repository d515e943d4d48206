#include "options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace m32::sim {
namespace {

// A command line as one text, split at spaces.
ParsedOptions Parse(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> args;
  for (std::string a; in >> a;) args.push_back(a);
  return ParseOptions(args);
}

TEST(OptionsTest, ValuesAreTaken) {
  // The silence options are only accepted together.
  const auto r =
      Parse("--port=3 --baud 19200 --garbage 2.5 --seed 9 --silence-ms 1 --silence-every 2");
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.options.port, 3U);
  EXPECT_EQ(r.options.baud, 19200U);
  EXPECT_DOUBLE_EQ(r.options.garbage_pct, 2.5);
  EXPECT_EQ(r.options.seed, 9U);
  const auto h = Parse("--stuck0 5 --short 9,10 --swap 7,8 --wire 1:0 --flicker 12:5%");
  ASSERT_EQ(h.error, "");
  EXPECT_TRUE(h.options.harness.on);
  EXPECT_EQ(h.options.harness.stuck0, 1U << 4);
  EXPECT_EQ(h.options.harness.wire[6], 8);
  EXPECT_EQ(h.options.harness.wire[0], 0);
  ASSERT_EQ(h.options.harness.flicker.size(), 1U);
  EXPECT_DOUBLE_EQ(h.options.harness.flicker[0].second, 5.0);
}

TEST(OptionsTest, BadCommandLinesAreRefused) {
  for (const char* line :
       {"--port 0", "--port x", "--baud" /* no value */, "--format 8Q1", "--mode echo",
        "--inputs 0102", "--garbage 101", "--garbage -1", "--adc 65536", "--hangup-after-ms 0",
        "--what", "--dir=", "--silence-ms 100" /* alone */, "--silence-every 5" /* alone */,
        // The harness's faults.
        "--stuck0 33", "--short 3,3", "--swap 7", "--wire 1:33", "--flicker 12:101%",
        "--flicker 12", "--stuck1" /* no value */}) {
    EXPECT_NE(Parse(line).error, "") << line;
  }
}

TEST(CommandTest, BadLinesAreRefusedAndBlankOnesPassed) {
  for (const char* line :
       {"inputs 01 02 03", "adc 70000", "mode loud", "loopback maybe", "quit now", "dance"}) {
    std::string error;
    EXPECT_FALSE(ParseCommand(line, error).has_value()) << line;
    EXPECT_FALSE(error.empty()) << line;
  }
  for (const char* line : {"", "# note"}) {
    std::string error = "left over";
    EXPECT_FALSE(ParseCommand(line, error).has_value()) << line;
    EXPECT_TRUE(error.empty()) << "not an error: '" << line << "'";
  }
  std::string error;
  const auto c = ParseCommand("  stats  ", error);
  ASSERT_TRUE(c.has_value()) << error;
  EXPECT_EQ(c->kind, Command::Kind::kStats);
}

}  // namespace
}  // namespace m32::sim
