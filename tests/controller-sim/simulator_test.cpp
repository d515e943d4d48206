#include "simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

namespace m32::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(std::array<uint8_t, 4> d) {
  const auto f = MakeLinkFrame(d);
  return {f.begin(), f.end()};
}

TEST(FaultPlanTest, ScheduledSilences) {
  // 300 ms of silence every 1000 ms, the first at 1000 ms: the edges of the first two.
  const auto silent = [](uint64_t at) { return FaultPlan::InScheduledSilence(at, 300, 1000); };
  EXPECT_FALSE(silent(999));
  EXPECT_TRUE(silent(1000));
  EXPECT_TRUE(silent(1299));
  EXPECT_FALSE(silent(1300));
  EXPECT_TRUE(silent(2000));
  EXPECT_FALSE(FaultPlan::InScheduledSilence(5000, 0, 1000)) << "no length: never silent";
  EXPECT_FALSE(FaultPlan::InScheduledSilence(5000, 300, 0)) << "no period: never silent";
}

TEST(FaultPlanTest, DecisionsFollowTheSeedAndSplitPiecesCoverTheFrame) {
  EXPECT_EQ(FaultPlan(1).Pieces(8), std::vector<std::size_t>{8}) << "no splitting asked";
  FaultPlan a(42);
  FaultPlan b(42);
  a.rates = b.rates = {50, 100, 50};
  for (int i = 0; i < 100; ++i) {
    const auto pieces = a.Pieces(8);
    EXPECT_EQ(pieces, b.Pieces(8));
    EXPECT_TRUE(pieces.size() == 2 || pieces.size() == 3) << pieces.size();
    EXPECT_EQ(std::count(pieces.begin(), pieces.end(), 0U), 0);
    EXPECT_EQ(std::accumulate(pieces.begin(), pieces.end(), std::size_t{0}), 8U);
    EXPECT_EQ(a.Garbage(), b.Garbage());
    EXPECT_EQ(a.CorruptChecksum(), b.CorruptChecksum());
  }
}

// The simulator with no pacing, driven with made-up times and commands as
// they come from the control FIFO; its log kept as "TAG:byte count".
class SimulatorTest : public ::testing::Test {
 protected:
  Simulator::Action Send(const char* line, int64_t now = 1) {
    std::string error;
    const auto c = ParseCommand(line, error);
    EXPECT_TRUE(c.has_value()) << line << ": " << error;
    return c ? sim_.Apply(*c, now) : Simulator::Action::kNone;
  }
  // Everything sent in answer to `in` at time `now`.
  Bytes Feed(const Bytes& in, int64_t now = 1) {
    sim_.OnReceived(in, now);
    Bytes sent;
    std::vector<PacedOutput::Chunk> done;
    sim_.output().Take(now + 1000000000, sent, done);
    sim_.OnSent(done, now);
    return sent;
  }
  std::vector<std::string> log_;
  Simulator sim_{Options{}, 1, 0,
                 [this](int64_t, std::string_view tag, std::span<const uint8_t> b) {
                   log_.push_back(std::string(tag) + ":" + std::to_string(b.size()));
                 }};
};

TEST_F(SimulatorTest, AnswersEachValidFrameAndLogsIt) {
  const Bytes out = Frame({1, 0, 0, 0});
  EXPECT_EQ(Feed(out), out);
  EXPECT_EQ(Feed(Bytes{0x00, 0x11}), Bytes{});
  Bytes bad = out;
  bad[6] ^= 1U;
  EXPECT_EQ(Feed(bad), Bytes{});
  EXPECT_EQ(sim_.stats().frames_in, 1U);
  EXPECT_EQ(sim_.stats().frames_out, 1U);
  EXPECT_EQ(sim_.stats().bad_frames, 1U);
  EXPECT_EQ(sim_.stats().bytes_skipped, 2U);
  EXPECT_EQ(log_, (std::vector<std::string>{"IN:8", "OUT:8", "SKIP:2", "BAD:8"}));
}

TEST_F(SimulatorTest, GarbageBeforeAndASpoiledChecksumAreSentAndLogged) {
  Send("garbage 100");
  Send("bad-checksum 100");
  const Bytes out = Frame({9, 8, 7, 6});
  const Bytes sent = Feed(out);
  ASSERT_GT(sent.size(), 8U);
  ASSERT_LE(sent.size(), 16U);
  const Bytes answer(sent.end() - 8, sent.end());
  EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 6), Bytes(out.begin(), out.begin() + 6));
  EXPECT_NE(Sum8(answer), 0);
  EXPECT_EQ(answer[7], kEndMark);
  EXPECT_EQ(sim_.stats().garbage_bytes_sent, sent.size() - 8);
  EXPECT_EQ(sim_.stats().frames_out, 1U);
  EXPECT_EQ(log_, (std::vector<std::string>{"IN:8", "GARBAGE:" + std::to_string(sent.size() - 8),
                                            "CORRUPT:8"}));
}

TEST_F(SimulatorTest, SplitAnswerGoesOutInPiecesAndIsLoggedOnceWhole) {
  Send("split 100");
  const Bytes out = Frame({1, 2, 3, 4});
  sim_.OnReceived(out, 0);
  Bytes sent;
  std::vector<PacedOutput::Chunk> done;
  sim_.output().Take(0, sent, done);  // unpaced: the first piece at once, the rest after 5 ms
  ASSERT_GT(sent.size(), 0U);
  ASSERT_LT(sent.size(), 8U);
  sim_.OnSent(done, 0);
  const Bytes rest = Feed({});
  sent.insert(sent.end(), rest.begin(), rest.end());
  EXPECT_EQ(sent, out);
  EXPECT_EQ(log_, (std::vector<std::string>{"IN:8", "OUT:8"}));
  EXPECT_EQ(sim_.stats().frames_out, 1U);
}

TEST_F(SimulatorTest, CommandsChangeTheAnswers) {
  const Bytes out = Frame({1, 2, 3, 4});
  Send("inputs ff 00 FF 00");
  EXPECT_EQ(Feed(out), Frame({0xFF, 0, 0xFF, 0}));
  Send("adc 4863");  // 0x12FF, sent little-endian; it rises by one per answer
  EXPECT_EQ(Feed(out), Frame({1, 2, 0xFF, 0x12}));
  EXPECT_EQ(Feed(out), Frame({1, 2, 0x00, 0x13}));
  Send("mode mirror");
  EXPECT_EQ(Feed(out), out);
  Send("silence 100", 0);
  EXPECT_EQ(Feed(out, 99999999), Bytes{});
  EXPECT_EQ(sim_.stats().answers_dropped, 1U);
  EXPECT_EQ(Feed(out, 100000000), out) << "silence over";
  EXPECT_EQ(Send("quit"), Simulator::Action::kQuit);
  EXPECT_EQ(Send("hangup"), Simulator::Action::kHangup);
}

TEST_F(SimulatorTest, LoopbackEchoesEveryByte) {
  sim_.OnReceived(Bytes{0xA2, 0x6B, 0x01}, 1);  // half a frame, forgotten on a switch
  Send("loopback on");
  const Bytes raw = {0x55, 0xAA, 0xA2, 0x6B};
  EXPECT_EQ(Feed(raw), raw);
  EXPECT_EQ(sim_.stats().bytes_echoed, 4U);
  Send("loopback off");
  const Bytes out = Frame({1, 2, 3, 4});
  EXPECT_EQ(Feed(out), out) << "the receiver starts afresh";
  EXPECT_EQ(sim_.stats().frames_in, 1U);
}

}  // namespace
}  // namespace m32::sim
