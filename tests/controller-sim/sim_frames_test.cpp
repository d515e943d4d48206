#include "sim_frames.h"

#include <gtest/gtest.h>

#include <vector>

namespace m32::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Good() {
  return {0xA2, 0x6B, 0x01, 0x02, 0x00, 0x80, 0x72, 0xFE};
}

TEST(SimFramesTest, MakersSealTheWorkedExamples) {
  const LinkFrame f = MakeLinkFrame({0x01, 0x02, 0x00, 0x80});
  EXPECT_EQ(Bytes(f.begin(), f.end()), Good());
  const BrightnessReply r = MakeBrightnessReply(0x07, 0xFF);
  EXPECT_EQ(Bytes(r.begin(), r.end()), (Bytes{0xA2, 0x68, 0x07, 0xFF, 0xF2, 0xFE}));
}

TEST(FrameReceiverTest, Table) {
  const Bytes g = Good();
  Bytes bad_end = g;
  bad_end[6] = 0x73;  // the sum still 0
  bad_end[7] = 0xFD;
  Bytes bad_sum = g;
  bad_sum[6] ^= 1U;
  const Bytes bright = {0xA2, 0x68, 0xFF, 0, 0, 0, 0, 0, 0, 0x80, 0x01, 0x78, 0xFE};
  constexpr RxKind kL = RxKind::kLinkFrame;
  constexpr RxKind kB = RxKind::kBrightnessFrame;
  constexpr RxKind kBad = RxKind::kBadFrame;
  struct Row {
    const char* legend;
    Bytes in;                   // pushed byte by byte
    std::vector<RxKind> kinds;  // reported, in order
    uint64_t skipped;           // thrown away while hunting
  };
  const Row rows[] = {
      {"noise before a frame", Cat({{0x00, 0xFF, 0x6B, 0xFE}, g}), {kL}, 4},
      {"A2 A2 6B: the first sync byte is noise", Cat({{0xA2}, g}), {kL}, 1},
      {"sync, an unknown type, then a frame", Cat({{0xA2, 0x10}, g}), {kL}, 2},
      {"a bad end mark drops the frame whole", bad_end, {kBad}, 0},
      {"a bad checksum does not spoil the next frame", Cat({bad_sum, g}), {kBad, kL}, 0},
      {"BrightnessFrame, then a LinkFrame", Cat({bright, g}), {kB, kL}, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.legend);
    FrameReceiver rx;
    std::vector<RxKind> kinds;
    for (uint8_t b : r.in) {
      const RxKind k = rx.Push(b);
      if (k == RxKind::kNone) continue;
      kinds.push_back(k);
      if (k == kBad) continue;
      EXPECT_EQ(rx.Frame().size(), k == kB ? kBrightnessFrameSize : kLinkFrameSize);
      EXPECT_EQ(Sum8(rx.Frame()), 0);
    }
    EXPECT_EQ(kinds, r.kinds);
    EXPECT_EQ(rx.SkippedTotal(), r.skipped);
    EXPECT_EQ(rx.Pending(), 0U) << "no half frame left over";
  }
}

}  // namespace
}  // namespace m32::sim
