#include "link/link_thread.h"

#include <algorithm>

#include "link/emergency_off.h"

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace m32::link {

LinkThread::LinkThread(serial::SerialDevice& port, SharedStatus& status)
    : port_(port), status_(status) {}

LinkThread::~LinkThread() {
  // The base class would join without our wake-ups, after our members are
  // gone; end the thread here. The owner has normally waited for it already.
  Terminate();
  Join();
}

void LinkThread::RequestPause() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pause_requested_.store(true);
  }
  cv_.notify_all();
  port_.Wake();
}

bool LinkThread::WaitUntilPaused() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return paused_.load() || ended_.load() || !pause_requested_.load(); });
  return paused_.load();
}

void LinkThread::ResumeFromPause() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pause_requested_.store(false);
  }
  cv_.notify_all();
}

void LinkThread::OnTerminateRequested() {
  {
    // Taking the lock orders the termination flag before any waiter's check.
    std::lock_guard<std::mutex> lock(mutex_);
  }
  cv_.notify_all();
  port_.Wake();
}

bool LinkThread::PausePoint() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!pause_requested_.load()) return !Terminated();
  if (watch_ != nullptr) watch_->Parked();
  paused_.store(true);
  cv_.notify_all();
  cv_.wait(lock, [this] { return !pause_requested_.load() || Terminated(); });
  paused_.store(false);
  if (!Terminated() && watch_ != nullptr) watch_->Resumed();
  if (Terminated()) {
    // Whoever holds the port still uses it: leave it alone on the way out.
    left_while_paused_ = true;
    return false;
  }
  return true;
}

void LinkThread::Rest(std::chrono::microseconds d) {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait_for(lock, d, [this] { return pause_requested_.load() || Terminated(); });
}

std::optional<std::chrono::microseconds> LinkThread::IdleFor() {
  // Read between steps, on the link thread, which is the port's only user
  // then; the protocol state was last changed by a step that has finished.
  serial::QueueCounts c;
  if (!port_.Counts(c)) return std::nullopt;  // let the step see the failure
  if (c.tx == 0) return std::nullopt;         // a frame is due
  uint32_t missing = 0;                       // bytes still to come before a step would read
  switch (protocol_.Phase()) {
    case ReceivePhase::kAwaitBody:
      if (c.rx >= 6) return std::nullopt;
      missing = 6 - c.rx;
      break;
    default:
      if (c.rx != 0) return std::nullopt;
      missing = static_cast<uint32_t>(kFrameSize);
      break;
  }
  return char_time_ * std::min(missing, c.tx);
}

uint32_t LinkThread::RxGoal(const StepOutcome& last) const {
  // Our frame is leaving the line: the step at its end takes whatever has
  // come in by then, so received bytes alone are not worth a wake-up.
  if (last.frame_written) return serial::kNoRxWake;
  // Otherwise wake when a step can take a whole frame.
  return RxForFrame();
}

uint32_t LinkThread::RxForFrame() const {
  switch (protocol_.Phase()) {
    case ReceivePhase::kAwaitBody:
      return static_cast<uint32_t>(kFrameSize - kDataOffset);
    case ReceivePhase::kSeekLetter:
      return static_cast<uint32_t>(kFrameSize - 1);
    default:
      return static_cast<uint32_t>(kFrameSize);
  }
}

std::chrono::milliseconds LinkThread::RestWhileIdle(std::chrono::microseconds idle,
                                                    Clock::time_point wait_start,
                                                    Clock::time_point last_step, int& quick_noops) {
  const auto waited = Clock::now() - wait_start;
  quick_noops = waited < std::chrono::milliseconds(1) ? quick_noops + 1 : 0;
  std::chrono::microseconds rest = idle;
  if (quick_noops >= kQuickNoops) {
    quick_noops = 0;
    rest = std::max<std::chrono::microseconds>(rest, kIdleRest);
  }
  // Never past the time the next step is due.
  const auto since_step =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - last_step);
  const std::chrono::microseconds left =
      since_step < kStepInterval ? kStepInterval - since_step : std::chrono::microseconds(0);
  if (rest > left) rest = left;
  if (rest.count() > 0) Rest(rest);
  const auto after =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last_step);
  return after < kStepInterval ? kStepInterval - after : std::chrono::milliseconds(0);
}

void LinkThread::RunStep(StepOutcome& outcome, bool hung_up) {
  outcome = protocol_.Step(port_, status_);
  if (outcome.frame_written) frames_written_.fetch_add(1);
  if (watch_ != nullptr) watch_->AfterStep(outcome, protocol_, hung_up, LineClock::now());
}

void LinkThread::Execute() {
  // A stack overflow here still gets the all-off frame.
  emergency::PrepareThread();
  status_.flags.LinkRunning.store(1);
#if defined(__linux__)
  // The wait ends when the frame has left the line; at high rates a frame
  // lasts under a millisecond, so the thread's timers must not be let slip.
  (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  // Named, so that it can be told apart from outside (a debugger, ps -L).
  (void)prctl(PR_SET_NAME, "m32-link", 0UL, 0UL, 0UL);
#endif
  port_.Purge();
  protocol_.Start(status_);

  std::chrono::milliseconds wait_for = kStepInterval;
  auto last_step = std::chrono::steady_clock::now();
  int quick_noops = 0;
  StepOutcome outcome;
  while (true) {
    // Safe point: between two steps, with no port wait outstanding.
    if (!PausePoint()) break;

    const auto wait_start = std::chrono::steady_clock::now();
    // Read between steps, on the link thread: the last step has finished.
    const unsigned events = port_.WaitFor(wait_for, RxGoal(outcome));
    if (Terminated()) break;
    const bool hung_up = (events & serial::kHangup) != 0;
    if ((events & (serial::kNotOpen | serial::kHangup)) != 0) {
      // Nothing will come from such a port; should its wait answer at once,
      // rest out the interval rather than spin.
      const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - wait_start);
      if (waited < wait_for) Rest(wait_for - waited);
      if (Terminated()) break;
    }
    wait_for = kStepInterval;
    if (PauseRequested()) continue;

    // A wake-up for a byte of a frame still coming in, while our own frame
    // is still going out, changes nothing: run no step, and sleep until the
    // frame is in or ours is out rather than wake per byte.
    // (With the transmit queue just drained a frame is due: no need to look.)
    const bool woken_by_port =
        (events & serial::kTxEmpty) == 0 && (events & (serial::kRxChar | serial::kLineError)) != 0;
    const auto idle = woken_by_port ? IdleFor() : std::nullopt;
    if (idle) {
      wait_for = RestWhileIdle(*idle, wait_start, last_step, quick_noops);
      continue;
    }
    quick_noops = 0;

    RunStep(outcome, hung_up);
    last_step = std::chrono::steady_clock::now();
    // A step takes one frame at most. Another whole frame already queued (the
    // replies ran ahead, say after a pause) is taken at once rather than with
    // the next frame sent, so the inputs shown never lag behind the line.
    // (Only after a step that did read: one that could not must not spin.)
    if (outcome.bytes_read > 0 && outcome.rx_left >= RxForFrame()) {
      wait_for = std::chrono::milliseconds(0);
    }
  }

  status_.flags.LinkRunning.store(0);
  if (!left_while_paused_) port_.Purge();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_.store(true);
  }
  cv_.notify_all();
}

}  // namespace m32::link
