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
  while (!unanswered_.empty() && now - unanswered_.front().at > answer_age_)
    unanswered_.pop_front();
}

link::StepOutcome WalkRunner::Step(std::vector<Bytes4>& readings, bool may_send) {
  const bool carries_change = status_.flags.OutputsChanged.load() != 0;
  const link::StepOutcome out = protocol_.Step(device_, status_, may_send);
  const auto now = Clock::now();
  if (out.bytes_read > 0) last_rx_ = now;
  if (out.frame_valid || out.frame_bad) {
    ForgetLostFrames(now);
    bool answers_change = false;
    if (!unanswered_.empty()) {
      answers_change = !change_pending_ && unanswered_.front().seq >= change_seq_;
      unanswered_.pop_front();
    }
    if (out.frame_accepted && answers_change) readings.push_back(status_.InputBytes.Get());
  }
  // Every frame is taken here; none waits for a consumer.
  status_.flags.InputsReceived.store(0);
  if (out.frame_written) {
    if (carries_change) {
      change_seq_ = next_seq_;
      change_pending_ = false;
    }
    unanswered_.push_back({next_seq_++, now});
  }
  return out;
}

bool WalkRunner::WaitForLine(std::size_t readings, int frames) {
  uint32_t need = link::kFrameSize;
  if (protocol_.Phase() == link::ReceivePhase::kSeekLetter) need = link::kFrameSize - 1;
  if (protocol_.Phase() == link::ReceivePhase::kAwaitBody) need = link::kFrameSize - 2;
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
    const link::StepOutcome out = Step(readings, may_send);
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

RunOutcome WalkRunner::Run(int hold_frames, RunReadings& readings) {
  const auto plan = WalkPlan();
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
