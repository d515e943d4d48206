#include "serial/tx_model.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <tuple>

namespace m32::serial {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using TimePoint = TxModel::TimePoint;

constexpr TimePoint kT0 = TimePoint{} + std::chrono::hours(1);

TEST(BitsPerChar, CountsStartDataParityAndStopBits) {
  const std::tuple<const char*, LineSettings, uint32_t> rows[] = {
      {"8N1: start + 8 + stop", {9600, 8, Parity::kNone, 1, false}, 10},
      {"8E1: the parity bit adds one", {9600, 8, Parity::kEven, 1, false}, 11},
      {"7M2: mark parity is a bit like any other; two stop bits", {9600, 7, Parity::kMark, 2}, 11},
  };
  for (const auto& [legend, line, bits] : rows) EXPECT_EQ(BitsPerChar(line), bits) << legend;
}

// (How many characters are pending a whole number of character times after a
// write is seen through the device, in serial_device_test.)
TEST(TxModel, DrainsOneCharacterPerCharacterTimeAtRateOverBits) {
  TxModel m;
  m.SetLine(9600, 10);  // 960 characters a second
  m.OnWrite(96, kT0);
  const nanoseconds c = m.CharTime();
  EXPECT_EQ(m.Pending(kT0 + c / 2), 96u) << "the character on the wire still counts";
  EXPECT_EQ(m.Pending(kT0 + c * 95 + c / 2), 1u) << "the last character is on the wire";
  EXPECT_EQ(m.TimeUntilEmpty(kT0 + c * 100), nanoseconds(0));
  // 96 characters take 100 ms; the character time is rounded up, never down.
  EXPECT_GE(m.TimeUntilEmpty(kT0), milliseconds(100));
  EXPECT_LT(m.TimeUntilEmpty(kT0), milliseconds(100) + nanoseconds(100));

  // 16457 Bd with 11-bit characters: 1496 characters a second.
  m.SetLine(16457, 11);
  m.OnWrite(1496, kT0 + c * 100);
  EXPECT_EQ(m.Pending(kT0 + c * 100 + milliseconds(500)), 748u);
  EXPECT_EQ(m.Pending(kT0 + c * 100 + milliseconds(1000)), 0u);
}

TEST(TxModel, WritesQueueBehindTheBytesStillGoingOut) {
  // Legend; second write of 10, then look, in character times after a first of 10.
  const std::tuple<const char*, int, int, uint32_t> rows[] = {
      {"second write while 5 are left: 5 + 10", 5, 5, 15},
      {"second write queues after the first", 5, 19, 1},
      {"both gone after 20 character times", 5, 20, 0},
      {"second write after the drain starts afresh", 30, 30, 10},
      {"afresh: gone 10 character times later", 30, 40, 0},
  };
  for (const auto& [legend, second_write_at, look_at, pending] : rows) {
    TxModel m;
    m.SetLine(115200, 10);
    const nanoseconds c = m.CharTime();
    m.OnWrite(10, kT0);
    m.OnWrite(10, kT0 + c * second_write_at);
    EXPECT_EQ(m.Pending(kT0 + c * look_at), pending) << legend;
  }
}

TEST(TxModel, RateOrBitsZeroSwitchTheModelOffAndHugeWritesStayBounded) {
  for (const auto& [baud, bits] : {std::pair<uint32_t, uint32_t>{0, 10}, {9600, 0}}) {
    TxModel m;
    m.SetLine(baud, bits);
    m.OnWrite(100, kT0);
    EXPECT_EQ(m.Pending(kT0), 0u) << baud << " Bd, " << bits << " bits";
    EXPECT_EQ(m.TimeUntilEmpty(kT0), nanoseconds(0)) << baud << " Bd, " << bits << " bits";
  }
  TxModel m;
  m.SetLine(1, 12);  // 12 s a character
  m.OnWrite(std::numeric_limits<std::size_t>::max(), kT0);
  m.OnWrite(std::numeric_limits<std::size_t>::max(), kT0);
  EXPECT_GT(m.Pending(kT0), 0u);
  EXPECT_LE(m.TimeUntilEmpty(kT0), std::chrono::hours(24));
}

}  // namespace
}  // namespace m32::serial
