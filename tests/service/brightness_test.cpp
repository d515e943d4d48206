#include "service/brightness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace m32::service {
namespace {

using Outcome = BrightnessReplyParser::Outcome;
constexpr Outcome kNone = Outcome::kNone, kValid = Outcome::kValid, kInvalid = Outcome::kInvalid;

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

// Bytes written as hex pairs, "A2 68 ...".
std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 3) {
    out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

TEST(BrightnessReplyParser, WholeSplitAndBadReplies) {
  // One pass per step over what has arrived so far, as the refresh step does.
  struct Step {
    const char* arrives;
    Outcome outcome;
    int state;
  };
  struct Case {
    const char* legend;
    std::vector<Step> steps;
  };
  // A2 68 07 09 E8 FE is a valid reply (sum 0).
  const Case cases[] = {
      {"valid reply in one step", {{"A2 68 07 09 E8 FE", kValid, 0}}},
      {"wrong sum is dropped, the reply after it found",
       {{"A2 68 06 09 E8 FE", kInvalid, 0}, {"A2 68 07 09 E8 FE", kValid, 0}}},
      {"wrong end mark is dropped (sum still 0)", {{"A2 68 07 09 E9 FD", kInvalid, 0}}},
      {"sync alone, then the rest", {{"A2", kNone, 1}, {"68 07 09 E8 FE", kValid, 0}}},
      {"state 2 waits until 4 bytes are there",
       {{"A2 68 07", kNone, 2}, {"09", kNone, 2}, {"E8", kNone, 2}, {"FE", kValid, 0}}},
      {"one stray byte dropped per step",
       {{"11 22 A2 68 07 09 E8 FE", kNone, 0}, {"", kNone, 0}, {"", kValid, 0}}},
      {"wrong type restarts the search; the reply after it is found",
       {{"A2 00 A2 68 07 09 E8 FE", kNone, 0}, {"", kValid, 0}}},
      {"A2 A2: the second A2 is taken as a wrong type",
       {{"A2 A2 68", kNone, 0}, {"", kNone, 0}, {"", kNone, 0}}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> arrived;
    std::size_t read = 0;
    BrightnessReplyParser parser;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const auto bytes = Hex(c.steps[i].arrives);
      arrived.insert(arrived.end(), bytes.begin(), bytes.end());
      const std::span<const uint8_t> waiting(arrived.data() + read, arrived.size() - read);
      SpanByteSource src(waiting);
      EXPECT_EQ(parser.Pass(src, static_cast<uint32_t>(waiting.size())), c.steps[i].outcome)
          << c.legend << ", step " << i;
      EXPECT_EQ(parser.State(), c.steps[i].state) << c.legend << ", step " << i;
      read += waiting.size() - src.Left();
    }
  }
}

TEST(BrightnessReplyParser, ShortReadDropsTheReply) {
  // The source delivers fewer bytes than it reported as waiting.
  const std::vector<uint8_t> only_three = {0xA2, 0x68, 0x01};
  SpanByteSource src(only_three);
  BrightnessReplyParser p;
  EXPECT_EQ(p.Pass(src, 6), kInvalid);
  EXPECT_EQ(p.State(), 0);
  SpanByteSource empty({});
  EXPECT_EQ(p.Pass(empty, 3), kNone);
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
