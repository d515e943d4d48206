#include "simulator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace m32::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(std::array<uint8_t, 4> d) {
  const auto f = MakeLinkFrame(d);
  return {f.begin(), f.end()};
}

TEST(ControllerTest, AnswersByMode) {
  struct Row {
    const char* legend;
    AnswerMode mode;
    std::array<uint8_t, 4> outputs;
    Bytes expected;  // answers to two frames in a row
  };
  const Row rows[] = {
      {"mirror: inputs = outputs", AnswerMode::kMirror, {1, 2, 3, 4}, Frame({1, 2, 3, 4})},
      {"fixed: the set inputs whatever the outputs",
       AnswerMode::kFixed,
       {1, 2, 3, 4},
       Frame({0xDE, 0xAD, 0xBE, 0xEF})},
      {"adc: bytes 0-1 mirror, 2-3 the A/D value little-endian",
       AnswerMode::kAdc,
       {1, 2, 3, 4},
       Frame({1, 2, 0x34, 0x12})},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.legend);
    Controller c;
    c.mode = r.mode;
    c.fixed_inputs = {0xDE, 0xAD, 0xBE, 0xEF};
    c.adc = 0x1234;
    const Bytes out = Frame(r.outputs);
    const auto a = c.AnswerLink(out);
    EXPECT_EQ(Bytes(a.begin(), a.end()), r.expected);
  }
}

TEST(ControllerTest, AdcValueRisesPerAnswerAndWraps) {
  Controller c;
  c.mode = AnswerMode::kAdc;
  c.adc = 0xFFFF;
  const Bytes out = Frame({0, 0, 0, 0});
  auto a = c.AnswerLink(out);
  EXPECT_EQ(a[4], 0xFF);
  EXPECT_EQ(a[5], 0xFF);
  a = c.AnswerLink(out);
  EXPECT_EQ(a[4], 0x00);
  EXPECT_EQ(a[5], 0x00);
  a = c.AnswerLink(out);
  EXPECT_EQ(a[4], 0x01);
  EXPECT_EQ(Sum8(a), 0);
}

TEST(ControllerTest, BrightnessReplyCarriesTheAddressAndIsValid) {
  Controller c;
  Bytes frame = {0xA2, 0x68, 0xFF, 0, 0, 0, 0, 0, 0, 0x80, 0x07, 0, 0xFE};
  SealChecksum(frame, 11);
  const auto r1 = c.AnswerBrightness(frame);
  const auto r2 = c.AnswerBrightness(frame);
  EXPECT_EQ(r1[2], 0x07);
  EXPECT_NE(r1[3], r2[3]);
  EXPECT_EQ(Sum8(r1), 0);
  EXPECT_EQ(Sum8(r2), 0);
  EXPECT_EQ(r2[5], kEndMark);
}

TEST(FaultPlanTest, ScheduledSilences) {
  struct Row {
    uint64_t at;
    bool silent;
  };
  // 300 ms of silence every 1000 ms, the first at 1000 ms.
  for (const Row& r : {Row{0, false}, Row{999, false}, Row{1000, true}, Row{1299, true},
                       Row{1300, false}, Row{2000, true}, Row{2999, false}}) {
    EXPECT_EQ(FaultPlan::InScheduledSilence(r.at, 300, 1000), r.silent) << r.at;
  }
  EXPECT_FALSE(FaultPlan::InScheduledSilence(5000, 0, 1000));
  EXPECT_FALSE(FaultPlan::InScheduledSilence(5000, 300, 0));
}

TEST(FaultPlanTest, SameSeedSameDecisions) {
  FaultPlan a(42);
  FaultPlan b(42);
  a.rates = b.rates = {50, 50, 50};
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(a.Garbage(), b.Garbage());
    EXPECT_EQ(a.Pieces(8), b.Pieces(8));
    EXPECT_EQ(a.CorruptChecksum(), b.CorruptChecksum());
  }
}

TEST(FaultPlanTest, PiecesCoverTheFrame) {
  FaultPlan p(7);
  p.rates.split_pct = 100;
  for (int i = 0; i < 200; ++i) {
    const auto pieces = p.Pieces(8);
    ASSERT_GE(pieces.size(), 2U);
    ASSERT_LE(pieces.size(), 3U);
    std::size_t total = 0;
    for (auto n : pieces) {
      EXPECT_GT(n, 0U);
      total += n;
    }
    EXPECT_EQ(total, 8U);
  }
  p.rates.split_pct = 0;
  EXPECT_EQ(p.Pieces(8), std::vector<std::size_t>{8});
}

// The simulator without pacing, driven with made-up times.
class SimulatorTest : public ::testing::Test {
 protected:
  void Make(Options o) {
    o.pace = false;
    sim_.emplace(o, 1, 0, [this](int64_t, std::string_view tag, std::span<const uint8_t> b) {
      log_.push_back(std::string(tag) + ":" + std::to_string(b.size()));
    });
  }
  // Everything sent in answer to `in` at time `now`.
  Bytes Feed(const Bytes& in, int64_t now = 1) {
    sim_->OnReceived(in, now);
    Bytes sent;
    std::vector<PacedOutput::Chunk> done;
    sim_->output().Take(now + 1000000000, sent, done);
    sim_->OnSent(done, now);
    return sent;
  }
  std::optional<Simulator> sim_;
  std::vector<std::string> log_;
};

TEST_F(SimulatorTest, AnswersEachValidFrameAndLogsIt) {
  Make({});
  const Bytes out = Frame({1, 0, 0, 0});
  EXPECT_EQ(Feed(out), out);
  EXPECT_EQ(Feed(Bytes{0x00, 0x11}), Bytes{});
  Bytes bad = out;
  bad[6] ^= 1;
  EXPECT_EQ(Feed(bad), Bytes{});
  EXPECT_EQ(sim_->stats().frames_in, 1U);
  EXPECT_EQ(sim_->stats().frames_out, 1U);
  EXPECT_EQ(sim_->stats().bad_frames, 1U);
  EXPECT_EQ(sim_->stats().bytes_skipped, 2U);
  EXPECT_EQ(log_, (std::vector<std::string>{"IN:8", "OUT:8", "SKIP:2", "BAD:8"}));
}

TEST_F(SimulatorTest, AnswersBrightnessFrames) {
  Make({});
  Bytes frame = {0xA2, 0x68, 1, 2, 3, 4, 5, 6, 7, 8, 0x01, 0, 0xFE};
  SealChecksum(frame, 11);
  const Bytes reply = Feed(frame);
  ASSERT_EQ(reply.size(), kBrightnessReplySize);
  EXPECT_EQ(Sum8(reply), 0);
  EXPECT_EQ(sim_->stats().brightness_frames, 1U);
  EXPECT_EQ(sim_->stats().frames_in, 1U);
}

TEST_F(SimulatorTest, GarbageComesBeforeTheAnswer) {
  Options o;
  o.garbage_pct = 100;
  Make(o);
  const Bytes out = Frame({9, 8, 7, 6});
  const Bytes sent = Feed(out);
  ASSERT_GT(sent.size(), 8U);
  ASSERT_LE(sent.size(), 16U);
  EXPECT_EQ(Bytes(sent.end() - 8, sent.end()), out);
  EXPECT_EQ(sim_->stats().garbage_bytes_sent, sent.size() - 8);
  EXPECT_EQ(log_.at(1), "GARBAGE:" + std::to_string(sent.size() - 8));
}

TEST_F(SimulatorTest, SpoiledChecksumIsSentAndLoggedAsCorrupt) {
  Options o;
  o.bad_checksum_pct = 100;
  Make(o);
  const Bytes sent = Feed(Frame({0, 0, 0, 0}));
  ASSERT_EQ(sent.size(), 8U);
  EXPECT_NE(Sum8(sent), 0);
  EXPECT_EQ(sent[7], kEndMark);
  EXPECT_EQ(log_.back(), "CORRUPT:8");
}

TEST_F(SimulatorTest, SplitAnswerIsLoggedOnceWhole) {
  Options o;
  o.split_pct = 100;
  o.split_gap_ms = 0;
  Make(o);
  const Bytes out = Frame({1, 2, 3, 4});
  EXPECT_EQ(Feed(out), out);
  EXPECT_EQ(log_, (std::vector<std::string>{"IN:8", "OUT:8"}));
  EXPECT_EQ(sim_->stats().frames_out, 1U);
}

TEST_F(SimulatorTest, CommandsChangeTheAnswers) {
  Make({});
  const Bytes out = Frame({1, 2, 3, 4});
  std::string error;
  sim_->Apply(*ParseCommand("inputs FF 00 FF 00", error), 1);
  EXPECT_EQ(Feed(out), Frame({0xFF, 0, 0xFF, 0}));
  sim_->Apply(*ParseCommand("adc 258", error), 1);
  EXPECT_EQ(Feed(out), Frame({1, 2, 0x02, 0x01}));
  sim_->Apply(*ParseCommand("mode mirror", error), 1);
  EXPECT_EQ(Feed(out), out);
  EXPECT_EQ(sim_->Apply(*ParseCommand("quit", error), 1), Simulator::Action::kQuit);
  EXPECT_EQ(sim_->Apply(*ParseCommand("hangup", error), 1), Simulator::Action::kHangup);
}

TEST_F(SimulatorTest, SilenceDropsAnswersUntilItEnds) {
  Make({});
  std::string error;
  sim_->Apply(*ParseCommand("silence 100", error), 0);
  const Bytes out = Frame({1, 2, 3, 4});
  EXPECT_EQ(Feed(out, 50000000), Bytes{});
  EXPECT_EQ(sim_->stats().answers_dropped, 1U);
  EXPECT_EQ(Feed(out, 100000000), out);
}

TEST_F(SimulatorTest, LoopbackEchoesEveryByte) {
  Options o;
  o.loopback = true;
  Make(o);
  const Bytes raw = {0x55, 0xAA, 0xA2, 0x6B};
  EXPECT_EQ(Feed(raw), raw);
  EXPECT_EQ(sim_->stats().bytes_echoed, 4U);
  EXPECT_EQ(sim_->stats().frames_in, 0U);
  std::string error;
  sim_->Apply(*ParseCommand("loopback off", error), 1);
  const Bytes out = Frame({1, 2, 3, 4});
  EXPECT_EQ(Feed(out), out);
}

TEST(SimulatorLogTest, LineFormat) {
  const Bytes b = {0xA2, 0x6B, 0x01, 0x00, 0x00, 0x00, 0xF4, 0xFE};
  EXPECT_EQ(FormatLogLine(123456, "IN", b), "123456 IN A2 6B 01 00 00 00 F4 FE");
  EXPECT_EQ(FormatLogLine(7, "SKIP", {}), "7 SKIP");
}

}  // namespace
}  // namespace m32::sim
