#include "sim_frames.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
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
Bytes Bright() {
  return {0xA2, 0x68, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x01, 0x78, 0xFE};
}

TEST(SimFramesTest, SealedFramesMatchTheWorkedExamples) {
  const LinkFrame f = MakeLinkFrame({0x01, 0x02, 0x00, 0x80});
  EXPECT_EQ(Bytes(f.begin(), f.end()), Good());
  const LinkFrame off = MakeLinkFrame({0, 0, 0, 0});
  EXPECT_EQ(off[6], 0xF5);
  const LinkFrame in = MakeLinkFrame({0x05, 0x00, 0x34, 0x12});
  EXPECT_EQ(in[6], 0xAA);
  EXPECT_EQ(Sum8(Bright()), 0);
}

TEST(SimFramesTest, BrightnessReplyIsValidForAnyContent) {
  for (const auto& [b2, b3] :
       {std::pair<uint8_t, uint8_t>{0, 0}, {1, 1}, {0xFF, 0xFF}, {0xA2, 0x5D}}) {
    const BrightnessReply r = MakeBrightnessReply(b2, b3);
    SCOPED_TRACE(std::to_string(b2) + "/" + std::to_string(b3));
    EXPECT_EQ(r[0], kSync);
    EXPECT_EQ(r[1], kBrightnessType);
    EXPECT_EQ(r[2], b2);
    EXPECT_EQ(r[3], b3);
    EXPECT_EQ(r[5], kEndMark);
    EXPECT_EQ(Sum8(r), 0);
  }
}

struct RxCase {
  const char* legend;
  std::vector<Bytes> pieces;   // fed one after another
  std::vector<RxKind> events;  // kinds reported, in order
  uint64_t skipped;
};

void PrintTo(const RxCase& c, std::ostream* os) {
  *os << c.legend;
}

class FrameReceiverTest : public ::testing::TestWithParam<RxCase> {};

TEST_P(FrameReceiverTest, RecognisesFrames) {
  const RxCase& c = GetParam();
  FrameReceiver rx;
  std::vector<RxKind> events;
  std::vector<Bytes> frames;
  for (const auto& piece : c.pieces) {
    for (uint8_t b : piece) {
      const RxKind k = rx.Push(b);
      if (k == RxKind::kNone) continue;
      events.push_back(k);
      frames.emplace_back(rx.Frame().begin(), rx.Frame().end());
    }
  }
  EXPECT_EQ(events, c.events);
  EXPECT_EQ(rx.SkippedTotal(), c.skipped);
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (events[i] == RxKind::kBadFrame) continue;
    EXPECT_EQ(frames[i].size(),
              events[i] == RxKind::kBrightnessFrame ? kBrightnessFrameSize : kLinkFrameSize);
    EXPECT_EQ(Sum8(frames[i]), 0);
  }
  EXPECT_EQ(rx.Pending(), 0U) << "no half frame left over";
}

// The legend as a test name: letters and digits, the rest as underscores.
std::string CaseName(const ::testing::TestParamInfo<RxCase>& p) {
  std::string name;
  for (const char* c = p.param.legend; *c != '\0'; ++c) {
    name += std::isalnum(static_cast<unsigned char>(*c)) != 0 ? *c : '_';
  }
  return name;
}

Bytes BadEnd() {
  return {0xA2, 0x6B, 0x01, 0x02, 0x00, 0x80, 0x72, 0xFD};
}
Bytes BadSum() {
  return {0xA2, 0x6B, 0x01, 0x02, 0x00, 0x80, 0x73, 0xFE};
}
Bytes BadBrightness() {
  Bytes b = Bright();
  b[5] = 0x01;
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FrameReceiverTest,
    ::testing::Values(
        RxCase{"valid LinkFrame", {Good()}, {RxKind::kLinkFrame}, 0},
        RxCase{"split 1+1+6",
               {{0xA2}, {0x6B}, {0x01, 0x02, 0x00, 0x80, 0x72, 0xFE}},
               {RxKind::kLinkFrame},
               0},
        RxCase{"garbage before", {{0x00, 0xFF, 0x6B, 0xFE}, Good()}, {RxKind::kLinkFrame}, 4},
        RxCase{"A2 A2 6B: the first sync byte is noise",
               {Cat({{0xA2}, Good()})},
               {RxKind::kLinkFrame},
               1},
        RxCase{"sync then unknown type, then a frame",
               {Cat({{0xA2, 0x10}, Good()})},
               {RxKind::kLinkFrame},
               2},
        RxCase{"bad end mark is dropped whole", {BadEnd()}, {RxKind::kBadFrame}, 0},
        RxCase{"bad checksum is dropped whole", {BadSum()}, {RxKind::kBadFrame}, 0},
        RxCase{"a bad frame does not spoil the next",
               {BadSum(), Good()},
               {RxKind::kBadFrame, RxKind::kLinkFrame},
               0},
        RxCase{"two frames back to back",
               {Cat({Good(), Good()})},
               {RxKind::kLinkFrame, RxKind::kLinkFrame},
               0},
        RxCase{"BrightnessFrame valid", {Bright()}, {RxKind::kBrightnessFrame}, 0},
        RxCase{"BrightnessFrame with a wrong sum", {BadBrightness()}, {RxKind::kBadFrame}, 0},
        RxCase{"BrightnessFrame then LinkFrame",
               {Bright(), Good()},
               {RxKind::kBrightnessFrame, RxKind::kLinkFrame},
               0}),
    CaseName);

TEST(FrameReceiverTest, HalfFrameIsPendingUntilComplete) {
  FrameReceiver rx;
  const Bytes f = Good();
  for (std::size_t i = 0; i + 1 < f.size(); ++i) EXPECT_EQ(rx.Push(f[i]), RxKind::kNone);
  EXPECT_EQ(rx.Pending(), f.size() - 1);
  rx.Reset();
  EXPECT_EQ(rx.Push(f.back()), RxKind::kNone) << "after a reset the tail is noise";
  EXPECT_EQ(rx.TakeSkipped(), Bytes{0xFE});
  EXPECT_TRUE(rx.TakeSkipped().empty());
}

}  // namespace
}  // namespace m32::sim
