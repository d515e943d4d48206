// The map file: what a good file says, and a clear error naming the line for
// every bad one.
#include <gtest/gtest.h>

#include <string>

#include "walk/walk_map.h"

namespace {

using m32::walk::ParseMap;

// Legend: the file's text -> the line reported and a piece of its message.
struct BadLine {
  const char* text;
  int line;
  const char* says;
};

TEST(WalkMap, EveryBadLineIsAnErrorWithItsLineNumber) {
  const BadLine rows[] = {
      {"out1 -> in17\nout17 -> none\nbogus\n", 3, "expected \"outN -> inM\""},
      {"# wiring\n\nout33 -> in1\n", 3, "out1..out32"},
      {"out1 -> in0\n", 1, "in1..in32 or none"},
      {"out1 -> in2x\n", 1, "in1..in32 or none"},
      {"out2 -> none\nin2 = 2\n", 2, "\"inN = 0\" or \"inN = 1\""},
      {"adc 3000..1000\n", 1, "low end is above"},
      {"adc 1000-3000\n", 1, "adc LOW..HIGH"},
      {"adc 1..2\nadc 1..2\n", 2, "given twice"},
      {"out3 -> none\nout3 -> in4\n", 2, "already has a rule on line 1"},
      {"out4 -> none\nin4 = 1\nin4 = 0\n", 3, "already has a level on line 2"},
      // A second feed of an input, by a rule or by the default out k -> in k.
      {"out1 -> in17\n", 1, "in17 is fed by out1 and out17 (add \"out17 -> none\""},
      {"out1 -> in5\nout5 -> none\nout2 -> in5\n", 3, "in5 is fed by out1 (line 1) already"},
      {"in5 = 1\n", 1, "in5 is fed by out5"},
      {"out1 -> none\r\nout2 ->\r\n", 2, "in1..in32 or none"},
  };
  for (const auto& row : rows) {
    const auto parsed = ParseMap(row.text);
    ASSERT_TRUE(parsed.error.has_value()) << row.text;
    EXPECT_EQ(parsed.error->line, row.line) << row.text;
    EXPECT_NE(parsed.error->message.find(row.says), std::string::npos)
        << row.text << " -> " << parsed.error->message;
  }
}

TEST(WalkMap, RulesCommentsAndDefaults) {
  const auto parsed = ParseMap(
      "# bench harness B\n"
      "  out1 -> in17   # crossed\n"
      "out17 -> in1\n"
      "out2 -> none\n"
      "in2 = 1\n"
      "adc -100..3000\n");
  ASSERT_FALSE(parsed.error.has_value()) << m32::walk::Describe(*parsed.error);
  const auto& m = parsed.map;
  EXPECT_EQ(m.target[0], 17);
  EXPECT_EQ(m.target[16], 1);
  EXPECT_EQ(m.target[1], 0);
  EXPECT_EQ(m.target[2], 3) << "unnamed outputs keep out k -> in k";
  EXPECT_EQ(m.constant[1], std::optional<bool>(true));
  EXPECT_FALSE(m.constant[2].has_value());
  ASSERT_TRUE(m.adc.has_value());
  EXPECT_EQ(m.adc->low, -100);
  EXPECT_EQ(m.adc->high, 3000);
}

// Legend: A/D mode, map text -> why it does not fit ("" when it fits).
TEST(WalkMap, TheAdModeTakesItsInputsAway) {
  struct Row {
    int mode;
    const char* text;
    const char* says;
  } rows[] = {
      {2, "", ""},
      {2, "out3 -> none\nout17 -> in3\n", ""},
      {2, "out20 -> in20\n", "in20 carries the A/D value in A/D mode 2"},
      {1, "out20 -> in20\n", ""},
      {1, "out25 -> none\nin25 = 1\n", "in25 carries the A/D value"},
      {0, "adc 1..2\n", "A/D mode is 0"},
  };
  for (const auto& row : rows) {
    auto parsed = ParseMap(row.text);
    ASSERT_FALSE(parsed.error.has_value()) << row.text;
    const std::string why = m32::walk::FitToAdMode(parsed.map, row.mode);
    if (std::string(row.says).empty()) {
      EXPECT_EQ(why, "") << row.text;
      // Default wires to A/D inputs feed nothing.
      const int digital = m32::walk::DigitalInputs(row.mode);
      for (int t : parsed.map.target) EXPECT_LE(t, digital) << row.text;
    } else {
      EXPECT_NE(why.find(row.says), std::string::npos) << row.text << " -> " << why;
    }
  }
}

}  // namespace
