// The brightness frame and reply, the level fields, and the lighting
// window's refresh step over a fake port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/brightness.h"
#include "service/lighting_refresh.h"
#include "support/fake_serial_device.h"

namespace m32::service {
namespace {

using test_support::FakeSerialDevice;
using Outcome = BrightnessReplyParser::Outcome;
constexpr Outcome kNone = Outcome::kNone, kValid = Outcome::kValid, kInvalid = Outcome::kInvalid;

// The layout is checked byte for byte where the refresh step writes it.
TEST(BrightnessFrame, ChecksumHoldsWhenTheSumWraps) {
  EXPECT_EQ(BuildBrightnessFrame(Levels{255, 255, 255, 255, 255, 255, 255, 255}, 0xFF),
            (BrightnessFrame{0xA2, 0x68, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01,
                             0xFE}));
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

struct Bench {
  FakeSerialDevice port;
  SharedStatus status;
  Levels levels{255, 0, 0, 0, 0, 0, 0, 128};
  LightingRefresh refresh;

  Bench() {
    status.flags.InputsReceived.store(1);
    status.flags.OutputsChanged.store(1);
    refresh.Start(status, 1);
  }
  LightingView Step() { return refresh.Step(port, status, levels); }
};

TEST(LightingRefresh, StartResetsTheHandshake) {
  Bench b;  // both flags were set before its start
  EXPECT_EQ(b.status.flags.InputsReceived.load(), 0);
  EXPECT_EQ(b.status.flags.OutputsChanged.load(), 0);
  EXPECT_EQ(b.status.LightingSendCountdown.load(), kSendAfterStart);
  // A reply half found when the worker ended is not carried into the next start.
  b.port.Feed({0xA2});
  b.Step();
  ASSERT_EQ(b.refresh.ReplyState(), 1);
  b.refresh.Start(b.status, 1);
  EXPECT_EQ(b.refresh.ReplyState(), 0);
}

TEST(LightingRefresh, ModemPanelsRepaintOnlyOnChange) {
  struct Step {
    const char* legend;
    serial::ModemLines lines;  // ri, dcd, cts, dsr
    bool modem_ok;
    std::array<std::optional<bool>, 4> painted;
  } const steps[] = {
      {"first step paints every panel",
       {false, true, false, false},
       true,
       {false, true, false, false}},
      {"no change, no paint", {false, true, false, false}, true, {}},
      {"CTS comes on", {false, true, true, false}, true, {std::nullopt, std::nullopt, true, {}}},
      {"status unavailable: panels kept", {true, true, true, true}, false, {}},
      {"RI and DSR on, DCD off",
       {true, false, true, true},
       true,
       {true, false, std::nullopt, true}},
  };
  Bench b;
  for (const auto& s : steps) {
    b.port.SetModem(s.lines, s.modem_ok);
    EXPECT_EQ(b.Step().panels, s.painted) << s.legend;
  }
  // A new worker start paints every panel again.
  b.refresh.Start(b.status, 1);
  const auto v = b.Step();
  for (const auto& p : v.panels) EXPECT_TRUE(p.has_value());
}

TEST(LightingRefresh, SendsWhileTheCountdownLastsAndTheQueueIsEmpty) {
  Bench b;
  b.status.flags.OutputsChanged.store(1);  // activation's change mark
  LightingView v = b.Step();
  EXPECT_TRUE(v.frame_sent);
  EXPECT_EQ(b.port.Written(),
            (std::vector<uint8_t>{0xA2, 0x68, 0xFF, 0, 0, 0, 0, 0, 0, 0x80, 0x01, 0x78, 0xFE}));
  EXPECT_EQ(b.status.flags.OutputsChanged.load(), 0);

  // Transmit queue still busy: nothing sent.
  b.port.SetTxCount(5);
  EXPECT_FALSE(b.Step().frame_sent);
  EXPECT_EQ(b.port.Written().size(), 13u);

  // A change goes out with the new level at the next empty queue.
  b.port.SetTxCount(0);
  ASSERT_TRUE(AcceptLevelChange(b.levels, b.status, 0, 0));
  EXPECT_TRUE(b.Step().frame_sent);
  EXPECT_EQ(b.port.Written()[13 + 2], 0);
  EXPECT_EQ(b.status.flags.OutputsChanged.load(), 0);

  // Countdown over: the port stays quiet.
  b.status.LightingSendCountdown.store(0);
  EXPECT_FALSE(b.Step().frame_sent);
  EXPECT_EQ(b.port.Written().size(), 26u);
}

TEST(LightingRefresh, ValidReplySetsInputsReceivedOnlyWhenClear) {
  Bench b;
  b.status.LightingSendCountdown.store(0);
  b.port.Feed(Hex("33 A2 68 01 02 F5 FE"));
  EXPECT_FALSE(b.Step().reply_valid);  // the stray byte
  EXPECT_EQ(b.status.flags.InputsReceived.load(), 0);
  EXPECT_TRUE(b.Step().reply_valid);
  EXPECT_EQ(b.status.flags.InputsReceived.load(), 1);
  // A reply with a wrong sum changes nothing.
  b.status.flags.InputsReceived.store(0);
  b.port.Feed(Hex("A2 68 01 02 F6 FE"));
  EXPECT_FALSE(b.Step().reply_valid);
  EXPECT_EQ(b.status.flags.InputsReceived.load(), 0);
}

// Counts that cannot be read count as zero: nothing is read, and a waiting
// change is taken (written where there is a port), so changes keep flowing.
TEST(LightingRefresh, UnreadableCountsCountAsZero) {
  struct Case {
    const char* legend;
    bool open;
    bool counts_ok;
    int writes;
    bool panels_painted;
  } const cases[] = {
      {"port closed: nothing read or written, the change taken", false, true, 0, false},
      {"status query fails: the frame goes out, modem lines shown", true, false, 1, true},
  };
  for (const auto& c : cases) {
    Bench b;
    if (!c.open) b.port.Close();
    b.port.SetCountsFail(!c.counts_ok);
    b.port.Feed({0xA2, 0x68, 0, 0, 0, 0});
    b.status.flags.OutputsChanged.store(1);
    const LightingView v = b.Step();
    EXPECT_EQ(b.port.Calls().read, 0) << c.legend;
    EXPECT_EQ(b.port.Calls().write, c.writes) << c.legend;
    EXPECT_EQ(v.frame_sent, c.writes == 1) << c.legend;
    EXPECT_FALSE(v.reply_valid) << c.legend;
    EXPECT_EQ(v.panels[0].has_value(), c.panels_painted) << c.legend;
    EXPECT_EQ(b.status.flags.OutputsChanged.load(), 0) << c.legend;
  }
}

}  // namespace
}  // namespace m32::service
