#include "service/lighting_refresh.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/fake_serial_device.h"

namespace m32::service {
namespace {

using test_support::FakeSerialDevice;

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
  const uint8_t c = static_cast<uint8_t>(0x300 - 0xA2 - 0x68 - 0xFE - 1 - 2);
  b.port.Feed({0x33, 0xA2, 0x68, 1, 2, c, 0xFE});
  EXPECT_FALSE(b.Step().reply_valid);  // the stray byte
  EXPECT_EQ(b.status.flags.InputsReceived.load(), 0);
  EXPECT_TRUE(b.Step().reply_valid);
  EXPECT_EQ(b.status.flags.InputsReceived.load(), 1);
  // A reply with a wrong sum changes nothing.
  b.status.flags.InputsReceived.store(0);
  b.port.Feed({0xA2, 0x68, 1, 2, static_cast<uint8_t>(c + 1), 0xFE});
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
