#include "walk/walk_runner.h"

#include <algorithm>

#include "serial/tx_model.h"

namespace m32::walk {

using std::chrono::ceil;
using std::chrono::microseconds;
using std::chrono::milliseconds;

WalkRunner::WalkRunner(serial::SerialDevice& device, const serial::LineSettings& line,
                       const std::atomic<bool>& stop)
    : device_(device), stop_(stop) {
  frame_time_ =
      ceil<microseconds>(serial::CharTime(line.baud, serial::BitsPerChar(line)) * link::kFrameSize);
  // Forty frame times, at least two seconds: a board that answers at all
  // answers well within that, also on a busy machine.
  answer_timeout_ = std::max(milliseconds(2000), ceil<milliseconds>(frame_time_ * 40));
  answer_age_ = answer_timeout_ * 3;
  protocol_.Start(status_);
}

void WalkRunner::ForgetLostFrames(Clock::time_point now) {
  while (!unanswered_.empty() && now - unanswered_.front().at > answer_age_) {
    unanswered_.pop_front();
    ++frames_given_up_;
  }
}

WalkRunner::StepResult WalkRunner::Step(bool may_send, int hold) {
  StepResult r;
  r.out = protocol_.Step(device_, status_, may_send);
  const auto now = Clock::now();
  if (r.out.bytes_read > 0) last_rx_ = now;
  if (r.out.frame_valid || r.out.frame_bad) {
    ForgetLostFrames(now);
    if (!unanswered_.empty()) {
      r.answered = unanswered_.front();
      unanswered_.pop_front();
    }
  }
  // Every frame is taken here; none waits for a consumer.
  status_.flags.InputsReceived.store(0);
  if (r.out.frame_written) unanswered_.push_back({next_seq_++, now, hold});
  return r;
}

uint32_t WalkRunner::BytesToFrame() const {
  if (protocol_.Phase() == link::ReceivePhase::kSeekLetter) return link::kFrameSize - 1;
  if (protocol_.Phase() == link::ReceivePhase::kAwaitBody) return link::kFrameSize - 2;
  return link::kFrameSize;
}

bool WalkRunner::WaitForLine(std::size_t readings, int frames) {
  const uint32_t need = BytesToFrame();
  // First while the transmitter is busy, then once it has run empty.
  for (int round = 0; round < 2; ++round) {
    serial::QueueCounts counts;
    if (!device_.Counts(counts)) {
      // A closed or vanished device: sleep; the answer time-out ends the hold.
      device_.Wait(milliseconds(10));
      return true;
    }
    ForgetLostFrames(Clock::now());
    const bool window_full = unanswered_.size() >= kWindow;
    if (counts.rx >= need) return !window_full;
    if (window_full) {
      // Only an answer (or giving them up for lost) opens the window.
      const auto quiet_since = std::max(last_rx_, unanswered_.back().at);
      if (counts.rx == 0 &&
          Clock::now() - quiet_since > std::max<microseconds>(kQuiet, frame_time_ * 10)) {
        frames_given_up_ += unanswered_.size();
        unanswered_.clear();
        return true;
      }
      device_.WaitFor(milliseconds(10), need);
      return false;
    }
    if (counts.tx != 0) {
      device_.WaitFor(milliseconds(50), need);
      continue;
    }
    // The hold's last answer is on its way: a frame written now would still
    // carry the old outputs, and the next chance to write comes a frame time
    // later. Waiting up to that long for the answer is never slower; once it
    // is in, the next step only takes it, and the next hold's first frame
    // carries the change.
    const bool last_answer_due = readings + 1 == static_cast<std::size_t>(frames) &&
                                 !change_pending_ && !unanswered_.empty() &&
                                 unanswered_.back().seq >= change_seq_;
    if (!last_answer_due) return true;
    // Woken by every byte: a wait for the whole frame would sleep through
    // the rest by the line's pace and wake a character late.
    const auto until = Clock::now() + std::max<microseconds>(milliseconds(2), frame_time_);
    while (device_.Counts(counts)) {
      if (counts.rx >= need) return false;
      const auto now = Clock::now();
      if (now >= until) break;
      device_.WaitFor(ceil<milliseconds>(until - now), 1);
    }
    return true;
  }
  return true;
}

RunOutcome WalkRunner::HoldLine(const Bytes4& outputs, int frames, std::vector<Bytes4>& readings,
                                bool stoppable) {
  readings.clear();
  status_.OutputBytes.Put(outputs);
  status_.flags.OutputsChanged.store(1);
  change_pending_ = true;
  auto last_answer = Clock::now();
  std::size_t seen = 0;
  bool may_send = true;
  while (true) {
    if (stoppable && stop_.load()) return RunOutcome::kStopped;
    const bool carries_change = status_.flags.OutputsChanged.load() != 0;
    const StepResult step = Step(may_send, -1);
    const link::StepOutcome& out = step.out;
    // Only valid answers to the frame that carried the change or to a later
    // one count (a change still pending: the frame answered is older).
    if (out.frame_accepted && step.answered && !change_pending_ &&
        step.answered->seq >= change_seq_) {
      readings.push_back(status_.InputBytes.Get());
    }
    if (out.frame_written && carries_change) {
      change_seq_ = next_seq_ - 1;
      change_pending_ = false;
    }
    if (readings.size() >= static_cast<std::size_t>(frames)) return RunOutcome::kDone;
    const auto now = Clock::now();
    if (readings.size() > seen) {
      seen = readings.size();
      last_answer = now;
    } else if (out.rx_left == 0 && now - last_answer > answer_timeout_) {
      // Only once everything received is looked at: after this process
      // itself was held up, the answers may be waiting.
      return RunOutcome::kNoAnswer;
    }
    may_send = WaitForLine(readings.size(), frames);
  }
}

RunOutcome WalkRunner::Hold(const Bytes4& outputs, int frames, std::vector<Bytes4>& readings) {
  return HoldLine(outputs, frames, readings, true);
}

std::optional<RunOutcome> WalkRunner::RunPipelined(const std::vector<walk::Hold>& plan, int frames,
                                                   RunReadings& readings) {
  const uint64_t given_up = frames_given_up_;
  const auto hold_frames = static_cast<std::size_t>(frames);
  const auto quiet = std::max<microseconds>(kQuiet, frame_time_ * 10);
  // Frames written before the walk are answered first (nothing is written
  // meanwhile), so the walk's first frame is the oldest unanswered one.
  bool started = unanswered_.empty();
  std::size_t next_hold = 0;
  int written = frames;  // frames written with the current hold's outputs
  bool may_send = true;
  auto last_answer = Clock::now();
  while (true) {
    if (stop_.load()) return RunOutcome::kStopped;
    const bool more = next_hold < plan.size() || written < frames;
    if (started && more && written == frames) {
      status_.OutputBytes.Put(plan[next_hold++].outputs);
      status_.flags.OutputsChanged.store(1);
      written = 0;
    }
    const bool sending = started && more;
    const StepResult step = Step(may_send && sending, static_cast<int>(next_hold) - 1);
    const auto now = Clock::now();
    if (step.out.frame_written) ++written;
    if (step.answered && step.out.frame_accepted) {
      last_answer = now;
      if (step.answered->hold >= 0) {
        readings[static_cast<std::size_t>(step.answered->hold)].push_back(status_.InputBytes.Get());
      }
    }
    if (unanswered_.empty()) {
      if (!more) break;
      started = true;
    }
    if (step.out.rx_left == 0) {
      if (now - last_answer > answer_timeout_) return RunOutcome::kNoAnswer;
      // Nothing more to write and the line quiet with frames unanswered:
      // an answer was lost.
      if (!sending && !unanswered_.empty() &&
          now - std::max(last_rx_, unanswered_.back().at) > quiet) {
        return std::nullopt;
      }
    }
    if (sending) {
      may_send = WaitForLine(0, 0);
    } else {
      device_.WaitFor(milliseconds(10), BytesToFrame());
    }
  }
  // Every frame answered once and every answer valid: no answer can have
  // been taken for another frame's. A garbled answer leaves its hold short;
  // a stray frame made of line noise takes the place of an answer and so
  // leaves the hold of that place short too.
  if (frames_given_up_ != given_up) return std::nullopt;
  for (const auto& list : readings) {
    if (list.size() != hold_frames) return std::nullopt;
  }
  return RunOutcome::kDone;
}

RunOutcome WalkRunner::Run(int hold_frames, RunReadings& readings) {
  const auto plan = WalkPlan();
  readings.assign(plan.size(), {});
  if (const auto r = RunPipelined(plan, hold_frames, readings)) return *r;
  // A garbled or lost answer: the pipelined readings may be shifted by one.
  // One hold at a time, an answer is never taken for a younger frame's.
  ++runs_walked_again_;
  readings.assign(plan.size(), {});
  for (std::size_t h = 0; h < plan.size(); ++h) {
    const RunOutcome r = Hold(plan[h].outputs, hold_frames, readings[h]);
    if (r != RunOutcome::kDone) return r;
  }
  return RunOutcome::kDone;
}

bool WalkRunner::AllOffAndDrain() {
  std::vector<Bytes4> readings;
  const bool answered = HoldLine({0, 0, 0, 0}, 1, readings, false) == RunOutcome::kDone;
  // Nothing is written from here on: wait until the last all-off frame has left.
  const auto end = Clock::now() + milliseconds(500);
  serial::QueueCounts counts;
  while (device_.Counts(counts) && counts.tx != 0 && Clock::now() < end) {
    device_.WaitFor(milliseconds(10), serial::kNoRxWake);
  }
  return answered;
}

}  // namespace m32::walk
