#include "service/brightness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace m32::service {
namespace {

using Outcome = BrightnessReplyParser::Outcome;

TEST(BrightnessFrame, LayoutAndChecksum) {
  const BrightnessFrame f = BuildBrightnessFrame({255, 0, 0, 0, 0, 0, 0, 128}, 1);
  EXPECT_EQ(f, (BrightnessFrame{0xA2, 0x68, 0xFF, 0, 0, 0, 0, 0, 0, 0x80, 0x01, 0x78, 0xFE}));
  // The sum wraps many times over with every level full: still 0.
  unsigned sum = 0;
  for (const uint8_t b :
       BuildBrightnessFrame(Levels{255, 255, 255, 255, 255, 255, 255, 255}, 0xFF)) {
    sum += b;
  }
  EXPECT_EQ(sum % 256, 0u);
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

  Outcome Step() {
    const std::span<const uint8_t> waiting(arrived.data() + read, arrived.size() - read);
    SpanByteSource src(waiting);
    const auto outcome = parser.Pass(src, static_cast<uint32_t>(waiting.size()));
    read += waiting.size() - src.Left();
    return outcome;
  }
};

TEST(BrightnessReplyParser, WholeSplitAndBadReplies) {
  struct Case {
    const char* legend;
    std::vector<std::vector<uint8_t>> arrivals;  // bytes arriving before each step
    std::vector<Outcome> outcomes;               // outcome of each step
    std::vector<int> states;                     // state after each step
  };
  const auto r = Reply(7, 9);
  auto bad_sum = r;
  bad_sum[2] ^= 1;
  auto bad_end = r;
  bad_end[5] = 0xFD;
  bad_end[4] = static_cast<uint8_t>(bad_end[4] + 1);  // sum still 0
  const Case cases[] = {
      {"valid reply in one step", {r}, {Outcome::kValid}, {0}},
      {"wrong sum is dropped, the reply after it found",
       {bad_sum, r},
       {Outcome::kInvalid, Outcome::kValid},
       {0, 0}},
      {"wrong end mark is dropped", {bad_end}, {Outcome::kInvalid}, {0}},
      {"sync alone, then the rest",
       {{r[0]}, {r[1], r[2], r[3], r[4], r[5]}},
       {Outcome::kNone, Outcome::kValid},
       {1, 0}},
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
  const std::vector<uint8_t> only_three = {0xA2, 0x68, 0x01};
  SpanByteSource src(only_three);
  BrightnessReplyParser p;
  EXPECT_EQ(p.Pass(src, 6), Outcome::kInvalid);
  EXPECT_EQ(p.State(), 0);
  SpanByteSource empty({});
  EXPECT_EQ(p.Pass(empty, 3), Outcome::kNone);
  EXPECT_EQ(p.State(), 0);
}

TEST(LevelField, ParseAndTexts) {
  // The scan itself is ScanInt's; here the limits to 0..255 and to 31 characters.
  struct Case {
    const char* legend;
    std::string text;
    uint8_t level;
  } const cases[] = {
      {"above the range", "300", 255},
      {"negative", "-5", 0},
      {"no digits", "abc", 0},
      {"beyond int", "99999999999", 255},
      {"a digit at the 31st character counts", std::string(30, ' ') + "9", 9},
      {"a digit at the 32nd does not", std::string(31, ' ') + "9", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseLevel(c.text), c.level) << c.legend;
}

TEST(LevelField, LabelsAndButtons) {
  struct Case {
    uint8_t level;
    const char* label;  // the percentage rounds down
    const char* button;
    uint8_t toggled;
  } const cases[] = {
      {0, "00 hex        0%", ">>", 255},
      {1, "01 hex        0%", "<<", 0},
      {254, "FE hex       99%", "<<", 0},
      {255, "FF hex      100%", "<<", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LevelLabel(c.level), c.label) << int{c.level};
    EXPECT_EQ(ButtonCaption(c.level), c.button) << int{c.level};
    EXPECT_EQ(ToggledLevel(c.level), c.toggled) << int{c.level};
  }
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
