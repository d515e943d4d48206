// The walk's runner on a board that answers late (full duplex: the answers to
// earlier frames still come in after a change went out) and its judgement of
// the readings.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "walk/walk_judge.h"
#include "walk/walk_report.h"
#include "walk/walk_runner.h"

namespace {

using namespace m32;
using walk::Bytes4;

// A mirror board whose answer to frame i comes in only once frame i + lag has
// been written (lag 0: at once), or once the walk waits for it. It may drop
// answers (every `drop_every`-th), garble them (a wrong checksum, every
// `garble_every`-th) or stay silent. The transmitter is always
// idle; waits end at once.
class LateBoard final : public serial::SerialDevice {
 public:
  explicit LateBoard(int lag, int drop_every = 0, int garble_every = 0)
      : lag_(lag), drop_every_(drop_every), garble_every_(garble_every) {}
  bool silent = false;
  std::vector<std::vector<uint8_t>> written;

  serial::OpenResult Open(const std::string&) override { return serial::OpenResult::kOk; }
  bool IsOpen() const override { return true; }
  bool Configure(const serial::LineSettings&) override { return true; }
  void Close() override {}
  bool Counts(serial::QueueCounts& out) override {
    out.rx = static_cast<uint32_t>(rx_.size());
    out.tx = 0;
    return true;
  }
  std::size_t Read(std::span<uint8_t> buf) override {
    std::size_t n = 0;
    for (; n < buf.size() && !rx_.empty(); ++n) {
      buf[n] = rx_.front();
      rx_.pop_front();
    }
    return n;
  }
  std::size_t Write(std::span<const uint8_t> bytes) override {
    written.emplace_back(bytes.begin(), bytes.end());
    pending_.push_back(written.back());
    Answer(lag_);
    return bytes.size();
  }
  void Purge() override {}
  bool Modem(serial::ModemLines&) override { return false; }
  unsigned Wait(std::chrono::milliseconds) override {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
    Answer(0);
    return serial::kTxEmpty;
  }
  void Wake() override {}

 private:
  // Answers all but the `keep` youngest frames.
  void Answer(int keep) {
    while (static_cast<int>(pending_.size()) > keep) {
      auto frame = pending_.front();
      pending_.pop_front();
      ++answered_;
      if (silent || (drop_every_ != 0 && answered_ % drop_every_ == 0)) continue;
      if (garble_every_ != 0 && answered_ % garble_every_ == 0) frame[6] ^= 1U;
      rx_.insert(rx_.end(), frame.begin(), frame.end());  // the mirror's answer
    }
  }

  int lag_;
  int drop_every_;
  int garble_every_;
  int answered_ = 0;
  std::deque<std::vector<uint8_t>> pending_;
  std::deque<uint8_t> rx_;
};

serial::LineSettings Line115200() {
  serial::LineSettings line;
  line.baud = 115200;
  return line;
}

// Legend: answer lag in frames, every n-th answer lost -> every reading of
// every hold carries that hold's outputs (an answer to a frame from before
// the change is never counted).
TEST(WalkRunner, OnlyAnswersToFramesThatCarriedTheChangeAreRead) {
  const struct {
    int lag;
    int drop_every;
  } rows[] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {2, 5}};
  for (const auto& row : rows) {
    LateBoard board(row.lag, row.drop_every);
    std::atomic<bool> stop{false};
    walk::WalkRunner runner(board, Line115200(), stop);
    const auto plan = walk::WalkPlan();
    for (std::size_t h = 0; h < 8; ++h) {
      std::vector<Bytes4> readings;
      ASSERT_EQ(runner.Hold(plan[h].outputs, 3, readings), walk::RunOutcome::kDone)
          << "lag " << row.lag;
      ASSERT_EQ(readings.size(), 3U);
      for (const auto& r : readings) {
        EXPECT_EQ(r, plan[h].outputs)
            << "lag " << row.lag << " drop " << row.drop_every << " hold " << h;
      }
    }
    EXPECT_TRUE(runner.AllOffAndDrain());
    const std::vector<uint8_t> all_off{0xA2, 0x6B, 0, 0, 0, 0, 0xF5, 0xFE};
    EXPECT_EQ(board.written.back(), all_off) << "the last frame written is all off";
  }
}

// Legend: answer lag in frames, every n-th answer lost, every n-th garbled ->
// a walk (pipelined: N frames a hold, the next change without waiting for the
// answers) reads every hold's outputs in each of its readings; it writes
// 66 x 3 frames when every answer comes in valid, and walks again one hold at
// a time when one is lost or garbled.
TEST(WalkRunner, AWalkIsPipelinedAndNeverTakesAnAnswerForAnotherHold) {
  const struct {
    int lag;
    int drop_every;
    int garble_every;
  } rows[] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {1, 150, 0}, {2, 7, 0}, {2, 0, 100}};
  for (const auto& row : rows) {
    LateBoard board(row.lag, row.drop_every, row.garble_every);
    std::atomic<bool> stop{false};
    walk::WalkRunner runner(board, Line115200(), stop);
    walk::RunReadings run;
    ASSERT_EQ(runner.Run(3, run), walk::RunOutcome::kDone) << "lag " << row.lag;
    const auto plan = walk::WalkPlan();
    ASSERT_EQ(run.size(), plan.size());
    for (std::size_t h = 0; h < plan.size(); ++h) {
      ASSERT_EQ(run[h].size(), 3U) << "hold " << h;
      for (const auto& r : run[h]) {
        EXPECT_EQ(r, plan[h].outputs)
            << "lag " << row.lag << " drop " << row.drop_every << " hold " << h;
      }
    }
    const bool lossy = row.drop_every != 0 || row.garble_every != 0;
    EXPECT_EQ(runner.RunsWalkedAgain(), lossy ? 1 : 0) << "lag " << row.lag;
    if (!lossy) {
      EXPECT_EQ(runner.FramesWritten(), plan.size() * 3) << "lag " << row.lag;
    }
  }
}

TEST(WalkRunner, ASilentBoardEndsTheHoldAndAStopIsSeen) {
  LateBoard board(1);
  board.silent = true;
  std::atomic<bool> stop{false};
  walk::WalkRunner runner(board, Line115200(), stop);
  std::vector<Bytes4> readings;
  EXPECT_EQ(runner.Hold({1, 0, 0, 0}, 3, readings), walk::RunOutcome::kNoAnswer);
  stop = true;
  EXPECT_EQ(runner.Hold({1, 0, 0, 0}, 3, readings), walk::RunOutcome::kStopped);
}

// Readings of one run from a model harness: inputs = f(outputs) for each hold,
// `frames` a hold, and `noise` applied to the n-th reading overall.
template <typename Harness>
walk::RunReadings Simulate(Harness harness, int frames = 3,
                           const std::vector<std::pair<int, int>>& flips = {}) {
  walk::RunReadings run;
  int n = 0;
  for (const auto& hold : walk::WalkPlan()) {
    std::vector<Bytes4> readings;
    for (int f = 0; f < frames; ++f, ++n) {
      Bytes4 in = harness(hold.outputs);
      for (const auto& [at, input] : flips) {
        if (at == n) in[static_cast<std::size_t>((input - 1) / 8)] ^= 1U << ((input - 1) % 8);
      }
      readings.push_back(in);
    }
    run.push_back(readings);
  }
  return run;
}

uint32_t Word(const Bytes4& b) {
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
Bytes4 Bytes(uint32_t w) {
  return {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16),
          static_cast<uint8_t>(w >> 24)};
}

// Legend: what the harness does -> the verdict text of the channels named
// (every other channel passes). The process table covers the common faults
// end to end; these are the rules it cannot reach.
TEST(WalkJudge, VerdictsFromModelHarnesses) {
  auto map = walk::WalkMap::Default();
  {  // Wired-AND short of 3 and 4: each alone does nothing, off together.
    const auto r = walk::Judge(map, 0, {Simulate([](Bytes4 o) {
                                 uint32_t w = Word(o);
                                 const bool both = (w & 0xC) == 0xC;
                                 return Bytes(both ? w : w & ~0xCU);
                               })});
    EXPECT_EQ(walk::VerdictText(r.channels[2]), "short to out4");
    EXPECT_EQ(walk::VerdictText(r.channels[3]), "short to out3");
    EXPECT_EQ(r.Failures(), 2);
  }
  {  // A late input: in6 follows one frame after the others. Not a fault.
    Bytes4 last{};
    const auto r = walk::Judge(map, 0, {Simulate([&last](Bytes4 o) {
                                 const uint32_t w = (Word(o) & ~0x20U) | (Word(last) & 0x20U);
                                 last = o;
                                 return Bytes(w);
                               })});
    EXPECT_TRUE(r.Passed()) << walk::HumanReport(r, {});
  }
  {  // One glitch of in12 mid-hold while out12 is on: intermittent, one flicker;
     // and a glitch of in12 in the last two readings of another channel's
     // hold is no evidence against that channel.
    const auto r = walk::Judge(map, 0,
                               {Simulate([](Bytes4 o) { return o; }, 3,
                                         {{12 * 3 + 1, 12}, {20 * 3 + 1, 12}, {20 * 3 + 2, 12}})});
    EXPECT_EQ(walk::VerdictText(r.channels[11]), "intermittent (1 flicker)");
    EXPECT_EQ(r.Failures(), 1) << walk::HumanReport(r, {});
  }
  {  // out2 -> none, but in30 (unwired) follows it; in31 must stay 1 and does not.
    auto m = walk::ParseMap("out2 -> none\nout30 -> none\nout31 -> none\nin31 = 1\n").map;
    const auto r = walk::Judge(m, 0, {Simulate([](Bytes4 o) {
                                 uint32_t w = Word(o) & ~2U & ~(1U << 29) & ~(1U << 30);
                                 if ((Word(o) & 2U) != 0) w |= 1U << 29;
                                 return Bytes(w);
                               })});
    EXPECT_EQ(walk::VerdictText(r.channels[1]), "wrong input: in30 followed instead");
    EXPECT_EQ(walk::VerdictText(r.channels[30]), "stuck at 0");
    EXPECT_EQ(r.Failures(), 2) << walk::HumanReport(r, {});
  }
  {  // Two runs that disagree: intermittent.
    const auto good = Simulate([](Bytes4 o) { return o; });
    const auto bad = Simulate([](Bytes4 o) { return Bytes(Word(o) & ~(1U << 7)); });
    const auto r = walk::Judge(map, 0, {good, bad});
    EXPECT_EQ(walk::VerdictText(r.channels[7]), "intermittent");
    EXPECT_EQ(r.Failures(), 1);
  }
  {  // A/D mode 2: in17..in32 carry the value; the range is checked on every reading.
    auto m = walk::ParseMap("adc 1000..2000\n").map;
    ASSERT_EQ(walk::FitToAdMode(m, 2), "");
    const auto r = walk::Judge(m, 2, {Simulate([](Bytes4 o) {
                                 return Bytes4{o[0], o[1], 0xD0, 0x07};  // 2000
                               })});
    EXPECT_TRUE(r.Passed()) << walk::HumanReport(r, {});
    const auto out = walk::Judge(m, 2, {Simulate([](Bytes4 o) {
                                   return Bytes4{o[0], o[1], 0xD1, 0x07};  // 2001
                                 })});
    ASSERT_TRUE(out.adc.has_value());
    EXPECT_EQ(out.adc->outside, out.adc->readings);
    EXPECT_EQ(out.Failures(), 1);
  }
}

}  // namespace
