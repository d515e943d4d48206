#include "service/brightness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace m32::service {
namespace {

TEST(BrightnessFrame, LayoutAndChecksum) {
  const BrightnessFrame f = BuildBrightnessFrame({255, 0, 0, 0, 0, 0, 0, 128}, 1);
  EXPECT_EQ(f, (BrightnessFrame{0xA2, 0x68, 0xFF, 0, 0, 0, 0, 0, 0, 0x80, 0x01, 0x78, 0xFE}));

  const Levels cases[] = {{}, {1, 2, 3, 4, 5, 6, 7, 8}, {255, 255, 255, 255, 255, 255, 255, 255}};
  for (const auto& levels : cases) {
    const BrightnessFrame g = BuildBrightnessFrame(levels, 0xFF);
    unsigned sum = 0;
    for (const uint8_t b : g) sum += b;
    EXPECT_EQ(sum % 256, 0u);
    EXPECT_EQ(g[12], 0xFE);
  }
}

// A valid reply: A2 68 a b c FE with the sum 0.
std::vector<uint8_t> Reply(uint8_t a, uint8_t b) {
  const auto c = static_cast<uint8_t>(0x100 * 3 - 0xA2 - 0x68 - 0xFE - a - b);
  return {0xA2, 0x68, a, b, c, 0xFE};
}

// Runs one pass per step over what has "arrived" so far, as the refresh step does.
struct Line {
  std::vector<uint8_t> arrived;
  std::size_t read = 0;
  BrightnessReplyParser parser;

  BrightnessReplyParser::Outcome Step() {
    const std::span<const uint8_t> waiting(arrived.data() + read, arrived.size() - read);
    SpanByteSource src(waiting);
    const auto outcome = parser.Pass(src, static_cast<uint32_t>(waiting.size()));
    read += waiting.size() - src.Left();
    return outcome;
  }
};

using Outcome = BrightnessReplyParser::Outcome;

TEST(BrightnessReplyParser, AcceptsAndRejectsWholeReplies) {
  auto bad_sum = Reply(1, 2);
  bad_sum[2] ^= 1;
  auto bad_end = Reply(1, 2);
  bad_end[5] = 0xFD;
  bad_end[4] = static_cast<uint8_t>(bad_end[4] + 1);  // sum still 0
  struct Case {
    const char* legend;
    std::vector<uint8_t> bytes;
    Outcome outcome;
  } const cases[] = {
      {"valid reply in one step", Reply(1, 2), Outcome::kValid},
      {"valid reply with zero contents", Reply(0, 0), Outcome::kValid},
      {"wrong sum is dropped", bad_sum, Outcome::kInvalid},
      {"wrong end mark is dropped", bad_end, Outcome::kInvalid},
  };
  for (const auto& c : cases) {
    Line l;
    l.arrived = c.bytes;
    EXPECT_EQ(l.Step(), c.outcome) << c.legend;
    EXPECT_EQ(l.parser.State(), 0) << c.legend;
    EXPECT_EQ(l.read, 6u) << c.legend;
  }
}

TEST(BrightnessReplyParser, SplitRepliesNoiseAndWrongType) {
  struct Case {
    const char* legend;
    std::vector<std::vector<uint8_t>> arrivals;  // bytes arriving before each step
    std::vector<Outcome> outcomes;               // outcome of each step
    std::vector<int> states;                     // state after each step
  };
  const auto r = Reply(7, 9);
  const Case cases[] = {
      {"sync alone, then the rest",
       {{r[0]}, {r[1], r[2], r[3], r[4], r[5]}},
       {Outcome::kNone, Outcome::kValid},
       {1, 0}},
      {"sync and type, then the rest",
       {{r[0], r[1]}, {r[2], r[3], r[4], r[5]}},
       {Outcome::kNone, Outcome::kValid},
       {2, 0}},
      {"state 2 waits until 4 bytes are there",
       {{r[0], r[1], r[2]}, {r[3]}, {r[4]}, {r[5]}},
       {Outcome::kNone, Outcome::kNone, Outcome::kNone, Outcome::kValid},
       {2, 2, 2, 0}},
      {"one stray byte dropped per step",
       {{0x11, 0x22, r[0], r[1], r[2], r[3], r[4], r[5]}, {}, {}},
       {Outcome::kNone, Outcome::kNone, Outcome::kValid},
       {0, 0, 0}},
      {"wrong type restarts the search; the reply after it is found",
       {{0xA2, 0x00, r[0], r[1], r[2], r[3], r[4], r[5]}, {}},
       {Outcome::kNone, Outcome::kValid},
       {0, 0}},
      {"A2 A2: the second A2 is taken as a wrong type",
       {{0xA2, 0xA2, 0x68}, {}, {}},
       {Outcome::kNone, Outcome::kNone, Outcome::kNone},
       {0, 0, 0}},
  };
  for (const auto& c : cases) {
    Line l;
    for (std::size_t i = 0; i < c.arrivals.size(); ++i) {
      l.arrived.insert(l.arrived.end(), c.arrivals[i].begin(), c.arrivals[i].end());
      EXPECT_EQ(l.Step(), c.outcomes[i]) << c.legend << ", step " << i;
      EXPECT_EQ(l.parser.State(), c.states[i]) << c.legend << ", step " << i;
    }
  }
}

TEST(BrightnessReplyParser, ShortReadDropsTheReply) {
  // The source delivers fewer bytes than it reported as waiting.
  const std::vector<uint8_t> only_two = {0xA2, 0x68, 0x01};
  SpanByteSource src(only_two);
  BrightnessReplyParser p;
  EXPECT_EQ(p.Pass(src, 6), Outcome::kInvalid);
  EXPECT_EQ(p.State(), 0);
  SpanByteSource empty({});
  EXPECT_EQ(p.Pass(empty, 3), Outcome::kNone);
  EXPECT_EQ(p.State(), 0);
}

TEST(LevelField, ParseAndTexts) {
  struct Case {
    const char* legend;
    const char* text;
    uint8_t level;
  } const cases[] = {
      {"above the range", "300", 255}, {"negative", "-5", 0},
      {"no digits", "abc", 0},         {"digits then letters", "12abc", 12},
      {"leading blank", " 7", 7},      {"hex prefix reads the 0", "0x10", 0},
      {"huge", "99999999999", 255},    {"full", "255", 255},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseLevel(c.text), c.level) << c.legend;
  // Only the first 31 characters count.
  EXPECT_EQ(ParseLevel(std::string(30, ' ') + "9"), 9);
  EXPECT_EQ(ParseLevel(std::string(31, ' ') + "9"), 0);
}

TEST(LevelField, LabelsAndButtons) {
  struct Case {
    uint8_t level;
    const char* label;
    const char* button;
  } const cases[] = {
      {0, "00 hex        0%", ">>"},   {1, "01 hex        0%", "<<"},
      {127, "7F hex       49%", "<<"}, {128, "80 hex       50%", "<<"},
      {254, "FE hex       99%", "<<"}, {255, "FF hex      100%", "<<"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LevelLabel(c.level), c.label) << int{c.level};
    EXPECT_EQ(ButtonCaption(c.level), c.button) << int{c.level};
    EXPECT_EQ(LevelText(c.level), std::to_string(c.level));
  }
  EXPECT_EQ(ToggledLevel(0), 255);
  EXPECT_EQ(ToggledLevel(1), 0);
  EXPECT_EQ(ToggledLevel(255), 0);
  EXPECT_EQ(GroupCaption("Jas", 1), " Jas &1 : ");
  EXPECT_EQ(GroupCaption("Jas", 8), " Jas &8 : ");
}

TEST(AcceptLevelChange, OneChangeUntilItIsSent) {
  SharedStatus status;
  Levels levels{};
  EXPECT_TRUE(AcceptLevelChange(levels, status, 2, 200));
  EXPECT_EQ(levels[2], 200);
  EXPECT_EQ(status.flags.OutputsChanged.load(), 1);
  EXPECT_EQ(status.LightingSendCountdown.load(), kSendAfterChange);
  // A second change before the send is ignored.
  status.LightingSendCountdown.store(3);
  EXPECT_FALSE(AcceptLevelChange(levels, status, 3, 9));
  EXPECT_EQ(levels[3], 0);
  EXPECT_EQ(status.LightingSendCountdown.load(), 3);
  // After the send it is accepted again.
  status.flags.OutputsChanged.store(0);
  EXPECT_TRUE(AcceptLevelChange(levels, status, 3, 9));
  EXPECT_EQ(levels[3], 9);
  // A channel beyond the row changes nothing.
  status.flags.OutputsChanged.store(0);
  EXPECT_FALSE(AcceptLevelChange(levels, status, 8, 1));
  EXPECT_FALSE(AcceptLevelChange(levels, status, -1, 1));
  EXPECT_EQ(status.flags.OutputsChanged.load(), 0);
}

}  // namespace
}  // namespace m32::service
