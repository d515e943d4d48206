#include "pacing.h"

#include <gtest/gtest.h>

namespace m32::sim {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(PacingTest, BitsPerCharacter) {
  struct Row {
    const char* format;
    unsigned bits;
  };
  for (const Row& r : {Row{"8E1", 11}, Row{"8N1", 10}, Row{"7O2", 11}, Row{"5N1", 7},
                       Row{"8M2", 12}, Row{"8s1", 11}, Row{"7E1", 10}}) {
    SCOPED_TRACE(r.format);
    const auto f = ParseCharFormat(r.format);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(BitsPerChar(*f), r.bits);
  }
}

TEST(PacingTest, FormatTextRoundTripsAndRejectsNonsense) {
  EXPECT_EQ(FormatCharFormat(*ParseCharFormat("7o2")), "7O2");
  for (const char* bad : {"", "8E", "9N1", "4N1", "8X1", "8N3", "8N10", "E81"}) {
    EXPECT_FALSE(ParseCharFormat(bad).has_value()) << bad;
  }
}

TEST(PacingTest, CharactersPerSecond) {
  const CharFormat e81 = *ParseCharFormat("8E1");
  const CharFormat n81 = *ParseCharFormat("8N1");
  EXPECT_NEAR(CharsPerSecond(9600, e81), 872.727, 0.001);
  EXPECT_NEAR(CharsPerSecond(9600, e81) / 8.0, 109.09, 0.01);  // LinkFrames per second
  EXPECT_DOUBLE_EQ(CharsPerSecond(9600, n81), 960.0);
  EXPECT_DOUBLE_EQ(CharsPerSecond(115200, n81), 11520.0);
  EXPECT_NEAR(CharsPerSecond(115200, e81), 10472.73, 0.01);
  EXPECT_EQ(CharTimeNs(9600, e81), 1145833);
  EXPECT_EQ(CharTimeNs(115200, n81), 86806);
  EXPECT_EQ(CharTimeNs(0, n81), 0) << "rate 0 means no pacing";
}

TEST(PacedOutputTest, ReleasesEachByteWhenItsLastBitIsOut) {
  PacedOutput out;
  out.SetCharTime(1000);
  out.Enqueue({{1, 2, 3}, "OUT", {1, 2, 3}}, 10000);
  Bytes sent;
  std::vector<PacedOutput::Chunk> done;
  out.Take(10999, sent, done);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(out.NextDue(), 11000);
  out.Take(12500, sent, done);
  EXPECT_EQ(sent, (Bytes{1, 2}));
  EXPECT_TRUE(done.empty());
  EXPECT_EQ(out.Backlog(), 1U);
  out.Take(13000, sent, done);
  EXPECT_EQ(sent, (Bytes{1, 2, 3}));
  ASSERT_EQ(done.size(), 1U);
  EXPECT_EQ(done[0].tag, "OUT");
  EXPECT_FALSE(out.NextDue().has_value());
}

TEST(PacedOutputTest, QueuedChunksFollowBackToBackAndGapsAreKept) {
  PacedOutput out;
  out.SetCharTime(1000);
  out.Enqueue({{1, 2}, "", {}}, 0);
  out.Enqueue({{3}, "", {}}, 0, 5000);  // a piece after a 5 char-time pause
  out.Enqueue({{4}, "", {}}, 500);      // queued later, still follows on
  Bytes sent;
  std::vector<PacedOutput::Chunk> done;
  out.Take(7999, sent, done);
  EXPECT_EQ(sent, (Bytes{1, 2}));
  EXPECT_EQ(out.NextDue(), 8000);  // 2000 + 5000 gap + 1000
  out.Take(9000, sent, done);
  EXPECT_EQ(sent, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(done.size(), 3U);
  // An idle line starts again from the time of queueing, not from the past.
  out.Enqueue({{5}, "", {}}, 50000);
  EXPECT_EQ(out.NextDue(), 51000);
}

TEST(PacedOutputTest, NoPacingReleasesAtOnce) {
  PacedOutput out;
  out.Enqueue({{1, 2, 3}, "", {}}, 7);
  Bytes sent;
  std::vector<PacedOutput::Chunk> done;
  out.Take(7, sent, done);
  EXPECT_EQ(sent.size(), 3U);
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
  EXPECT_EQ(in.NextDue(), 3100);
  in.Take(6100, got);
  EXPECT_EQ(got.size(), 6U);
  in.Add(burst, 100000);  // after a quiet spell the clock starts from now
  EXPECT_EQ(in.NextDue(), 101000);
}

}  // namespace
}  // namespace m32::sim
