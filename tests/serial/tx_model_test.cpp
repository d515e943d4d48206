#include "serial/tx_model.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <utility>

namespace m32::serial {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using TimePoint = TxModel::TimePoint;

constexpr TimePoint kT0 = TimePoint{} + std::chrono::hours(1);

TEST(BitsPerChar, CountsStartDataParityAndStopBits) {
  struct Row {
    const char* legend;
    LineSettings line;
    uint32_t bits;
  };
  const Row rows[] = {
      {"8N1: start + 8 + stop", {9600, 8, Parity::kNone, 1, false}, 10},
      {"8E1: the parity bit adds one", {9600, 8, Parity::kEven, 1, false}, 11},
      {"7M2: mark parity is a bit like any other; two stop bits", {9600, 7, Parity::kMark, 2}, 11},
  };
  for (const Row& r : rows) EXPECT_EQ(BitsPerChar(r.line), r.bits) << r.legend;
}

TEST(TxModel, DrainsOneCharacterPerCharacterTimeAtRateOverBits) {
  TxModel m;
  m.SetLine(9600, 10);  // 960 characters a second
  m.OnWrite(96, kT0);
  const nanoseconds c = m.CharTime();
  struct Row {
    const char* legend;
    nanoseconds elapsed;
    uint32_t pending;
  };
  const Row rows[] = {
      {"the character on the wire still counts", c / 2, 96},
      {"one character time: one byte gone", c, 95},
      {"the last character is on the wire", c * 95 + c / 2, 1},
      {"the last character has left", c * 96, 0},
  };
  for (const Row& r : rows) EXPECT_EQ(m.Pending(kT0 + r.elapsed), r.pending) << r.legend;
  EXPECT_EQ(m.TimeUntilEmpty(kT0 + c * 100), nanoseconds(0));
  // 96 characters take 100 ms; the character time is rounded up, never down.
  EXPECT_EQ(m.TimeUntilEmpty(kT0), c * 96);
  EXPECT_GE(m.TimeUntilEmpty(kT0), milliseconds(100));
  EXPECT_LT(m.TimeUntilEmpty(kT0), milliseconds(100) + nanoseconds(100));

  // 16457 Bd with 11-bit characters: 1496 characters a second.
  TxModel odd;
  odd.SetLine(16457, 11);
  odd.OnWrite(1496, kT0);
  EXPECT_EQ(odd.Pending(kT0 + milliseconds(500)), 748u);
  EXPECT_EQ(odd.Pending(kT0 + milliseconds(1000)), 0u);
}

TEST(TxModel, WritesQueueBehindTheBytesStillGoingOut) {
  struct Row {
    const char* legend;
    int second_write_at;  // in character times after the first write of 10
    int look_at;          // in character times after the first write
    uint32_t pending;
  };
  const Row rows[] = {
      {"second write while 5 are left: 5 + 10", 5, 5, 15},
      {"second write queues after the first", 5, 19, 1},
      {"both gone after 20 character times", 5, 20, 0},
      {"second write after the drain starts afresh", 30, 30, 10},
      {"afresh: gone 10 character times later", 30, 40, 0},
  };
  for (const Row& r : rows) {
    TxModel m;
    m.SetLine(115200, 10);
    const nanoseconds c = m.CharTime();
    m.OnWrite(10, kT0);
    m.OnWrite(10, kT0 + c * r.second_write_at);
    EXPECT_EQ(m.Pending(kT0 + c * r.look_at), r.pending) << r.legend;
  }
}

TEST(TxModel, RateOrBitsZeroSwitchTheModelOff) {
  for (const auto& [baud, bits] : {std::pair<uint32_t, uint32_t>{0, 10}, {9600, 0}}) {
    TxModel m;
    m.SetLine(baud, bits);
    m.OnWrite(100, kT0);
    EXPECT_EQ(m.Pending(kT0), 0u) << baud << " Bd, " << bits << " bits";
    EXPECT_EQ(m.TimeUntilEmpty(kT0), nanoseconds(0)) << baud << " Bd, " << bits << " bits";
  }
}

TEST(TxModel, HugeWritesAtTheSlowestRateStayBounded) {
  TxModel m;
  m.SetLine(1, 12);  // 12 s a character
  m.OnWrite(std::numeric_limits<std::size_t>::max(), kT0);
  m.OnWrite(std::numeric_limits<std::size_t>::max(), kT0);
  EXPECT_GT(m.Pending(kT0), 0u);
  EXPECT_LE(m.TimeUntilEmpty(kT0), std::chrono::hours(24));
}

}  // namespace
}  // namespace m32::serial
