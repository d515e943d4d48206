#include "pacing.h"

#include <gtest/gtest.h>

namespace m32::sim {
namespace {

using Bytes = std::vector<uint8_t>;

// A character's length on the line in bits and, at 9600 Bd, in nanoseconds
// rounded to the nearest (8N1: 1041666.7 ns), not cut.
TEST(PacingTest, CharacterFormatsAndTimes) {
  struct Row {
    const char* text;
    unsigned bits;  // start bit + data bits + parity bit (if any) + stop bits
    const char* shown;
    int64_t ns_at_9600;
  };
  for (const Row& r : {Row{"8E1", 11, "8E1", 1145833}, Row{"8n1", 10, "8N1", 1041667},
                       Row{"7o2", 11, "7O2", 1145833}, Row{"5M1", 8, "5M1", 833333},
                       Row{"8s2", 12, "8S2", 1250000}}) {
    SCOPED_TRACE(r.text);
    const auto f = ParseCharFormat(r.text);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(BitsPerChar(*f), r.bits);
    EXPECT_EQ(FormatCharFormat(*f), r.shown);
    EXPECT_EQ(CharTimeNs(9600, *f), r.ns_at_9600);
    EXPECT_EQ(CharTimeNs(0, *f), 0) << "rate 0 means no pacing";
  }
  for (const char* bad : {"", "9N1", "4N1", "8X1", "8N3"}) {
    EXPECT_FALSE(ParseCharFormat(bad).has_value()) << bad;
  }
}

TEST(PacedOutputTest, EachByteLeavesWhenItsLastBitIsOut) {
  PacedOutput out;
  out.SetCharTime(1000);
  out.Enqueue({{1, 2}, "A", {1, 2}}, 0);
  out.Enqueue({{3}, "", {}}, 0, 5000);  // a piece after a 5 char-time pause
  out.Enqueue({{4}, "B", {4}}, 500);    // queued later, still follows on
  Bytes sent;
  std::vector<PacedOutput::Chunk> done;
  out.Take(999, sent, done);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(out.NextDue(), 1000);
  out.Take(1500, sent, done);
  EXPECT_EQ(sent, Bytes{1});
  EXPECT_TRUE(done.empty()) << "a chunk is done with its last byte";
  EXPECT_EQ(out.Backlog(), 3U);
  out.Take(7999, sent, done);
  EXPECT_EQ(sent, (Bytes{1, 2}));
  ASSERT_EQ(done.size(), 1U);
  EXPECT_EQ(done[0].tag, "A");
  EXPECT_EQ(out.NextDue(), 8000);  // 2000 + 5000 gap + 1000
  out.Take(9000, sent, done);
  EXPECT_EQ(sent, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(done.size(), 3U);
  EXPECT_FALSE(out.NextDue().has_value());
  // An idle line starts again from the time of queueing, not from the past.
  out.Enqueue({{5}, "", {}}, 50000);
  EXPECT_EQ(out.NextDue(), 51000);
}

TEST(PacedInputTest, BytesArriveOneCharTimeApart) {
  PacedInput in;
  in.SetCharTime(1000);
  const Bytes burst = {0xA2, 0x6B, 0x00};
  in.Add(burst, 100);
  Bytes got;
  in.Take(1099, got);
  EXPECT_TRUE(got.empty());
  in.Take(2100, got);
  EXPECT_EQ(got, (Bytes{0xA2, 0x6B}));
  in.Add(burst, 2200);  // read while the first burst is still crossing: queued behind it
  in.Take(4099, got);
  EXPECT_EQ(got.size(), 3U) << "the second burst's first byte is due at 4100";
  in.Take(6100, got);
  EXPECT_EQ(got.size(), 6U);
  in.Add(burst, 100000);  // after a quiet spell the clock starts from now
  EXPECT_EQ(in.NextDue(), 101000);
}

}  // namespace
}  // namespace m32::sim
