#include "service/comm_test.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "support/fake_serial_device.h"

namespace m32::service {
namespace {

using test_support::FakeSerialDevice;

TEST(ParseSendField, PairsAndRewrite) {
  struct Case {
    const char* legend;
    std::string text;
    std::vector<uint8_t> bytes;
    std::string rewritten;
  } const cases[] = {
      {"a digit pairs with the blank after it; the last stands alone",
       "1 2 3",
       {0x01, 0x02},
       "01 02 "},
      {"pairs without blanks", "414243", {0x41, 0x42, 0x43}, "41 42 43 "},
      {"no usable pair keeps the text", "xyz", {}, "xyz"},
      {"lower and upper case", "aF Fa", {0xAF, 0xFA}, "AF FA "},
      {"a non-hex letter starts no pair", "g51", {0x51}, "51 "},
      {"0x is no number, so C-style hex reads as meant", "0x1F 0X20", {0x1F, 0x20}, "1F 20 "},
      {"00 is a number", "00", {0x00}, "00 "},
      {"empty field", "", {}, ""},
      {"non-ASCII bytes and NUL are skipped like separators",
       std::string{'\xE1', '\xE9', '1', '\0', '2', '3', '\xFF'},
       {0x01, 0x23},
       "01 23 "},
  };
  for (const auto& c : cases) {
    const SendBuffer b = ParseSendField(c.text);
    EXPECT_EQ(std::vector<uint8_t>(b.View().begin(), b.View().end()), c.bytes) << c.legend;
    EXPECT_EQ(CanonicalSendText(b, c.text), c.rewritten) << c.legend;
  }
}

TEST(ParseSendField, Limits) {
  // 40 pairs: only the first 32 are sent; the rewrite has 96 characters.
  std::string forty;
  for (int i = 0; i < 40; ++i) forty += "0123456789ABCDEF"[i % 16] + std::string("0 ");
  const SendBuffer b = ParseSendField(forty);
  EXPECT_EQ(b.count, 32);
  EXPECT_EQ(b.bytes[31], 0xF0);
  EXPECT_EQ(CanonicalSendText(b, forty).size(), 96u);

  // Only the first 120 characters count: 119 blanks hide the pair "12".
  const std::string hidden = std::string(119, ' ') + "12";
  EXPECT_EQ(ParseSendField(hidden).count, 0);
  EXPECT_EQ(CanonicalSendText(ParseSendField(hidden), hidden), std::string(119, ' ') + "1");

  // A very long field never reads past 120 characters.
  const std::string huge(200000, 'z');
  EXPECT_EQ(ParseSendField(huge).count, 0);
  EXPECT_EQ(CanonicalSendText(ParseSendField(huge), huge).size(), 120u);
}

TEST(ReceiveRing, WrapsAfter32AndMarksTheSlotToBeWritten) {
  struct Case {
    const char* legend;
    int pushed;  // bytes 1, 2, 3, ... pushed from a fresh start
    uint16_t position;
    uint8_t slot0;
    uint8_t slot31;
  } const cases[] = {
      {"31 bytes: marker at the last slot", 31, 31, 1, 0},
      {"32 bytes: ring full, marker back at slot 0", 32, 0, 1, 32},
      {"33rd byte overwrites slot 0", 33, 1, 33, 32},
  };
  for (const auto& c : cases) {
    ReceiveRing ring;
    for (int i = 1; i <= c.pushed; ++i) ring.Push(static_cast<uint8_t>(i));
    EXPECT_EQ(ring.Position(), c.position) << c.legend;
    EXPECT_EQ(ring.Bytes()[0], c.slot0) << c.legend;
    EXPECT_EQ(ring.Bytes()[31], c.slot31) << c.legend;
    EXPECT_EQ(ring.Line().substr(3 * c.position, 3), " ==") << c.legend;
  }
  // The whole line: a cell " XX" per slot, the marker, one closing blank.
  ReceiveRing ring;
  ring.Push(std::array<uint8_t, 2>{0x55, 0xAA});
  std::string want = " 55 AA ==";
  for (int i = 0; i < 29; ++i) want += " 00";
  EXPECT_EQ(ring.Line(), want + " ");
}

TEST(CommTest, StepReadsAtMost32AndWritesOnlyOnAnEmptyQueue) {
  FakeSerialDevice port;
  CommTest t;
  t.StartWorker();
  t.Activate();
  FakeSerialDevice::Bytes forty(40);
  for (int i = 0; i < 40; ++i) forty[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i);
  port.Feed(forty);

  // Receive box off: the bytes stay queued.
  CommView v = t.Step(port, false, false, "");
  EXPECT_FALSE(v.receive_line.has_value());
  EXPECT_EQ(port.RxLeft(), 40u);

  // Receive box on: 32 bytes now, the other 8 at the next step.
  v = t.Step(port, false, true, "");
  ASSERT_TRUE(v.receive_line.has_value());
  EXPECT_EQ(port.RxLeft(), 8u);
  EXPECT_EQ(t.Ring().Position(), 0);
  v = t.Step(port, false, true, "");
  EXPECT_EQ(t.Ring().Position(), 8);
  EXPECT_EQ(v.receive_line->substr(0, 6), " 20 21");
  // Nothing waiting: nothing to repaint.
  EXPECT_FALSE(t.Step(port, false, true, "").receive_line.has_value());

  // Send box on: the first step rewrites the field once and writes.
  v = t.Step(port, true, false, "55aa");
  EXPECT_EQ(v.send_text, "55 AA ");
  EXPECT_EQ(port.Written(), (std::vector<uint8_t>{0x55, 0xAA}));
  v = t.Step(port, true, false, "55 AA ");
  EXPECT_FALSE(v.send_text.has_value());
  EXPECT_EQ(port.Written().size(), 4u);
  // Bytes still in the transmit queue: no new write.
  port.SetTxCount(1);
  t.Step(port, true, false, "55 AA ");
  EXPECT_EQ(port.Written().size(), 4u);
  // A field without pairs sends nothing.
  port.SetTxCount(0);
  t.Step(port, true, false, "xyz");
  EXPECT_EQ(port.Written().size(), 4u);
}

TEST(CommTest, SendBoxClick) {
  CommTest t;
  t.Activate();
  // Unticked: parsed and rewritten at once.
  EXPECT_EQ(t.SendBoxClick(false, "1 2 3"), "01 02 ");
  EXPECT_EQ(t.Send().count, 2);
  // Ticked: left to the next step, which rewrites.
  EXPECT_FALSE(t.SendBoxClick(true, "ab").has_value());
  EXPECT_TRUE(t.ReformatPending());
  FakeSerialDevice port;
  EXPECT_EQ(t.Step(port, true, false, "ab").send_text, "AB ");
  EXPECT_FALSE(t.ReformatPending());
}

TEST(CommTest, NoPortOrNoStatusMeansNoIo) {
  struct Case {
    const char* legend;
    bool open;
    bool counts_ok;
  } const cases[] = {
      {"port closed", false, true},
      {"status query fails", true, false},
  };
  for (const auto& c : cases) {
    FakeSerialDevice port(c.open);
    port.SetCountsFail(!c.counts_ok);
    port.Feed({1, 2, 3});
    CommTest t;
    t.Activate();
    const CommView v = t.Step(port, true, true, "11 22");
    EXPECT_EQ(port.Calls().read, 0) << c.legend;
    EXPECT_EQ(port.Calls().write, 0) << c.legend;
    EXPECT_FALSE(v.receive_line.has_value()) << c.legend;
    // The field is still parsed and rewritten.
    EXPECT_EQ(v.send_text, "11 22 ") << c.legend;
  }
}

TEST(CommTest, ActivationRestartsAtSlot0AndWorkerStartClearsTheRing) {
  FakeSerialDevice port;
  CommTest t;
  port.Feed({9, 9, 9});
  t.Step(port, false, true, "");
  t.Activate();
  EXPECT_EQ(t.Ring().Position(), 0);
  EXPECT_EQ(t.Ring().Bytes()[1], 9);
  t.StartWorker();
  EXPECT_EQ(t.Ring().Bytes()[1], 0);
}

}  // namespace
}  // namespace m32::service
