#include "simulator.h"

#include <algorithm>
#include <cstdio>

namespace m32::sim {

LinkFrame Controller::AnswerLink(std::span<const uint8_t> frame) {
  std::array<uint8_t, 4> in{frame[2], frame[3], frame[4], frame[5]};
  if (harness) in = harness->Inputs(in);
  switch (mode) {
    case AnswerMode::kMirror:
      break;
    case AnswerMode::kFixed:
      in = fixed_inputs;
      break;
    case AnswerMode::kAdc:
      in[2] = static_cast<uint8_t>(adc & 0xFFU);
      in[3] = static_cast<uint8_t>(adc >> 8U);
      ++adc;
      break;
  }
  return MakeLinkFrame(in);
}

BrightnessReply Controller::AnswerBrightness(std::span<const uint8_t> frame) {
  ++brightness_count_;
  return MakeBrightnessReply(frame[10], brightness_count_);
}

bool FaultPlan::Chance(double pct) {
  if (pct <= 0) return false;
  if (pct >= 100) return true;
  return std::uniform_real_distribution<double>(0.0, 100.0)(rng_) < pct;
}

std::vector<uint8_t> FaultPlan::Garbage() {
  std::vector<uint8_t> bytes;
  if (!Chance(rates.garbage_pct)) return bytes;
  const auto n = std::uniform_int_distribution<int>(1, 8)(rng_);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(byte(rng_)));
  return bytes;
}

std::vector<std::size_t> FaultPlan::Pieces(std::size_t len) {
  if (len < 2 || !Chance(rates.split_pct)) return {len};
  const std::size_t count = len >= 3 ? std::uniform_int_distribution<std::size_t>(2, 3)(rng_) : 2;
  // Distinct cut points in 1..len-1, ascending.
  std::vector<std::size_t> cuts;
  while (cuts.size() + 1 < count) {
    const auto c = std::uniform_int_distribution<std::size_t>(1, len - 1)(rng_);
    if (std::find(cuts.begin(), cuts.end(), c) == cuts.end()) cuts.push_back(c);
  }
  std::sort(cuts.begin(), cuts.end());
  std::vector<std::size_t> pieces;
  std::size_t at = 0;
  for (auto c : cuts) {
    pieces.push_back(c - at);
    at = c;
  }
  pieces.push_back(len - at);
  return pieces;
}

bool FaultPlan::CorruptChecksum() {
  return Chance(rates.bad_checksum_pct);
}

bool FaultPlan::InScheduledSilence(uint64_t elapsed_ms, uint32_t silence_ms, uint32_t every_ms) {
  if (silence_ms == 0 || every_ms == 0 || elapsed_ms < every_ms) return false;
  return elapsed_ms % every_ms < silence_ms || silence_ms >= every_ms;
}

std::string FormatSummary(const Stats& s) {
  char buf[320];
  (void)std::snprintf(buf, sizeof buf,
                      "controller-sim: frames in %llu, frames out %llu, bad frames %llu, "
                      "brightness frames %llu, garbage bytes sent %llu, bytes skipped %llu, "
                      "answers dropped %llu, bytes echoed %llu",
                      static_cast<unsigned long long>(s.frames_in),
                      static_cast<unsigned long long>(s.frames_out),
                      static_cast<unsigned long long>(s.bad_frames),
                      static_cast<unsigned long long>(s.brightness_frames),
                      static_cast<unsigned long long>(s.garbage_bytes_sent),
                      static_cast<unsigned long long>(s.bytes_skipped),
                      static_cast<unsigned long long>(s.answers_dropped),
                      static_cast<unsigned long long>(s.bytes_echoed));
  return buf;
}

std::string FormatLogLine(int64_t now_us, std::string_view tag, std::span<const uint8_t> bytes) {
  std::string line = std::to_string(now_us);
  line += ' ';
  line += tag;
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (uint8_t b : bytes) {
    line += ' ';
    line += kHex[b >> 4U];
    line += kHex[b & 0xFU];
  }
  return line;
}

Simulator::Simulator(const Options& options, uint64_t seed, int64_t start_ns, LogFn log)
    : options_(options),
      log_(std::move(log)),
      start_ns_(start_ns),
      loopback_(options.loopback),
      faults_(seed) {
  controller_.mode = options.mode;
  controller_.fixed_inputs = options.inputs;
  controller_.adc = options.adc;
  if (options.harness.on)
    controller_.harness.emplace(options.harness, seed ^ 0x9E3779B97F4A7C15ULL);
  faults_.rates = {options.garbage_pct, options.split_pct, options.bad_checksum_pct};
}

bool Simulator::Silent(int64_t now) const {
  if (now < silent_until_) return true;
  const int64_t elapsed = now > start_ns_ ? now - start_ns_ : 0;
  return FaultPlan::InScheduledSilence(static_cast<uint64_t>(elapsed / 1000000),
                                       options_.silence_ms, options_.silence_every_ms);
}

void Simulator::Event(int64_t now, std::string_view text) {
  if (log_) log_(now, "EVENT", {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

void Simulator::ResetLine() {
  rx_.Reset();
  out_.Clear();
}

void Simulator::OnReceived(std::span<const uint8_t> bytes, int64_t now) {
  if (bytes.empty()) return;
  if (loopback_) {
    if (log_) log_(now, "RAW", bytes);
    if (Silent(now)) return;
    out_.Enqueue({{bytes.begin(), bytes.end()}, "ECHO", {bytes.begin(), bytes.end()}}, now);
    return;
  }
  for (uint8_t b : bytes) {
    const RxKind kind = rx_.Push(b);
    if (kind == RxKind::kNone) continue;
    if (auto skipped = rx_.TakeSkipped(); !skipped.empty() && log_) log_(now, "SKIP", skipped);
    const auto frame = rx_.Frame();
    if (kind == RxKind::kBadFrame) {
      ++stats_.bad_frames;
      if (log_) log_(now, "BAD", frame);
      continue;
    }
    ++stats_.frames_in;
    if (log_) log_(now, "IN", frame);
    if (kind == RxKind::kLinkFrame) {
      const auto answer = controller_.AnswerLink(frame);
      Answer(answer, 6, now);
    } else {
      ++stats_.brightness_frames;
      const auto answer = controller_.AnswerBrightness(frame);
      Answer(answer, 4, now);
    }
  }
  // A run of noise is logged in one line once a sync byte ends it (or it gets long).
  if (rx_.Pending() > 0 || rx_.SkippedKept() >= 16) {
    if (auto skipped = rx_.TakeSkipped(); !skipped.empty() && log_) log_(now, "SKIP", skipped);
  }
  stats_.bytes_skipped = rx_.SkippedTotal();
}

void Simulator::Answer(std::span<const uint8_t> answer, std::size_t checksum_at, int64_t now) {
  if (Silent(now) || out_.Backlog() > kMaxBacklog) {
    ++stats_.answers_dropped;
    if (log_) log_(now, "BUSY", answer);
    return;
  }
  if (auto garbage = faults_.Garbage(); !garbage.empty()) {
    auto copy = garbage;
    out_.Enqueue({std::move(garbage), "GARBAGE", std::move(copy)}, now);
  }
  std::vector<uint8_t> bytes(answer.begin(), answer.end());
  std::string tag = "OUT";
  if (faults_.CorruptChecksum()) {
    bytes[checksum_at] = static_cast<uint8_t>(bytes[checksum_at] + 1U);
    tag = "CORRUPT";
  }
  const auto pieces = faults_.Pieces(bytes.size());
  const int64_t gap = static_cast<int64_t>(options_.split_gap_ms) * 1000000;
  std::size_t at = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    PacedOutput::Chunk chunk;
    chunk.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(at + pieces[i]));
    if (i + 1 == pieces.size()) {
      chunk.tag = tag;
      chunk.whole = bytes;
    }
    out_.Enqueue(std::move(chunk), now, i == 0 ? 0 : gap);
    at += pieces[i];
  }
}

void Simulator::OnSent(std::vector<PacedOutput::Chunk>& done, int64_t now) {
  for (auto& c : done) {
    if (c.tag == "GARBAGE") stats_.garbage_bytes_sent += c.bytes.size();
    if (c.tag == "OUT" || c.tag == "CORRUPT") ++stats_.frames_out;
    if (c.tag == "ECHO") stats_.bytes_echoed += c.bytes.size();
    if (!c.tag.empty() && log_) log_(now, c.tag, c.whole);
  }
  done.clear();
}

Simulator::Action Simulator::Apply(const Command& c, int64_t now) {
  using K = Command::Kind;
  switch (c.kind) {
    case K::kInputs:
      controller_.mode = AnswerMode::kFixed;
      controller_.fixed_inputs = c.bytes;
      break;
    case K::kAdc:
      controller_.mode = AnswerMode::kAdc;
      controller_.adc = static_cast<uint16_t>(c.value);
      break;
    case K::kMode:
      controller_.mode = c.mode;
      break;
    case K::kGarbage:
      faults_.rates.garbage_pct = c.percent;
      break;
    case K::kSplit:
      faults_.rates.split_pct = c.percent;
      break;
    case K::kBadChecksum:
      faults_.rates.bad_checksum_pct = c.percent;
      break;
    case K::kSilence:
      silent_until_ = now + static_cast<int64_t>(c.value) * 1000000;
      break;
    case K::kLoopback:
      loopback_ = c.on;
      rx_.Reset();
      break;
    case K::kHangup:
      return Action::kHangup;
    case K::kStopReading:
      return Action::kStopReading;
    case K::kStats:
      return Action::kStats;
    case K::kQuit:
      return Action::kQuit;
  }
  return Action::kNone;
}

}  // namespace m32::sim
