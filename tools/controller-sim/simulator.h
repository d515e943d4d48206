// The board's behaviour, free of any I/O: what it answers, which faults it
// injects, and what it logs. The pty loop feeds it received bytes (already
// paced) and sends what it queues on its PacedOutput.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "options.h"
#include "pacing.h"
#include "sim_frames.h"

namespace m32::sim {

// How the board answers; the A/D counter goes up by one per LinkFrame answered.
class Controller {
 public:
  AnswerMode mode = AnswerMode::kMirror;
  std::array<uint8_t, 4> fixed_inputs{};
  uint16_t adc = 0;
  // Between the outputs received and the inputs answered, when set.
  std::optional<Harness> harness;

  // `frame` is a valid LinkFrame.
  LinkFrame AnswerLink(std::span<const uint8_t> frame);
  // `frame` is a valid BrightnessFrame. The reply carries the address from
  // the frame and a count of brightness frames answered.
  BrightnessReply AnswerBrightness(std::span<const uint8_t> frame);

 private:
  uint8_t brightness_count_ = 0;
};

struct FaultRates {
  double garbage_pct = 0;
  double split_pct = 0;
  double bad_checksum_pct = 0;
};

// Fault decisions, reproducible from a seed.
class FaultPlan {
 public:
  explicit FaultPlan(uint64_t seed) : rng_(seed) {}
  FaultRates rates;

  // Empty, or 1..8 random bytes to send before an answer.
  std::vector<uint8_t> Garbage();
  // Sizes of the pieces to send a frame of `len` bytes in: {len} when it is
  // not split, else 2 or 3 non-empty pieces.
  std::vector<std::size_t> Pieces(std::size_t len);
  bool CorruptChecksum();

  // Scheduled silences: the first starts `every_ms` after the start, each
  // lasts `silence_ms`, and they repeat every `every_ms`.
  static bool InScheduledSilence(uint64_t elapsed_ms, uint32_t silence_ms, uint32_t every_ms);

 private:
  bool Chance(double pct);
  std::mt19937_64 rng_;
};

struct Stats {
  uint64_t frames_in = 0;          // valid LinkFrames and BrightnessFrames received
  uint64_t frames_out = 0;         // answers sent (with a good or a spoiled checksum)
  uint64_t bad_frames = 0;         // complete frames received with a wrong end mark or sum
  uint64_t brightness_frames = 0;  // valid BrightnessFrames received
  uint64_t garbage_bytes_sent = 0;
  uint64_t bytes_skipped = 0;    // received bytes thrown away while hunting for a frame
  uint64_t answers_dropped = 0;  // not answered: silence or a full transmitter
  uint64_t bytes_echoed = 0;
};

std::string FormatSummary(const Stats& s);
// "<us> <TAG> <hex bytes>" without a line end.
std::string FormatLogLine(int64_t now_us, std::string_view tag, std::span<const uint8_t> bytes);

class Simulator {
 public:
  // now_ns is the time of the event; text lines (EVENT) carry their text as bytes.
  using LogFn =
      std::function<void(int64_t now_ns, std::string_view tag, std::span<const uint8_t> bytes)>;

  // Answers are not queued while more than this many bytes wait to be sent.
  static constexpr std::size_t kMaxBacklog = 64;

  Simulator(const Options& options, uint64_t seed, int64_t start_ns, LogFn log);

  // Bytes as they arrive at the board's receiver.
  void OnReceived(std::span<const uint8_t> bytes, int64_t now);
  // Bytes that left the line: logs and counts the completed chunks.
  void OnSent(std::vector<PacedOutput::Chunk>& done, int64_t now);

  enum class Action : uint8_t { kNone, kHangup, kQuit, kStats, kStopReading };
  Action Apply(const Command& c, int64_t now);

  bool Silent(int64_t now) const;
  void Event(int64_t now, std::string_view text);

  PacedOutput& output() { return out_; }
  const Stats& stats() const { return stats_; }
  Controller& controller() { return controller_; }
  FaultPlan& faults() { return faults_; }
  bool loopback() const { return loopback_; }
  // Forget a half-assembled frame and anything queued (a new connection).
  void ResetLine();

 private:
  void Answer(std::span<const uint8_t> answer, std::size_t checksum_at, int64_t now);

  Options options_;
  LogFn log_;
  int64_t start_ns_;
  int64_t silent_until_ = 0;
  bool loopback_;
  Controller controller_;
  FaultPlan faults_;
  FrameReceiver rx_;
  PacedOutput out_;
  Stats stats_;
};

}  // namespace m32::sim
