#include "link/link_thread.h"

namespace m32::link {

TLink::TLink(serial::SerialDevice& port, UiInvoker& ui, SharedStatus& status)
    : Worker(ui), port_(port), status_(status) {}

TLink::~TLink() {
  // The base class would join without our wake-ups, after our members are
  // gone; end the thread here. The owner has normally waited for it already.
  Terminate();
  Join();
}

void TLink::RequestPause() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pause_requested_.store(true);
  }
  cv_.notify_all();
  port_.Wake();
}

bool TLink::WaitUntilPaused() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return paused_.load() || ended_.load() || !pause_requested_.load(); });
  return paused_.load();
}

void TLink::ResumeFromPause() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pause_requested_.store(false);
  }
  cv_.notify_all();
}

void TLink::OnTerminateRequested() {
  {
    // Taking the lock orders the termination flag before any waiter's check.
    std::lock_guard<std::mutex> lock(mutex_);
  }
  cv_.notify_all();
  port_.Wake();
}

bool TLink::PausePoint() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!pause_requested_.load()) return !Terminated();
  paused_.store(true);
  cv_.notify_all();
  cv_.wait(lock, [this] { return !pause_requested_.load() || Terminated(); });
  paused_.store(false);
  if (Terminated()) {
    // Whoever holds the port still uses it: leave it alone on the way out.
    left_while_paused_ = true;
    return false;
  }
  return true;
}

void TLink::Rest(std::chrono::milliseconds d) {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait_for(lock, d, [this] { return pause_requested_.load() || Terminated(); });
}

void TLink::Execute() {
  status_.flags.LinkRunning.store(1);
  port_.Purge();
  protocol_.Start(status_);

  std::chrono::milliseconds wait_for = kStepInterval;
  while (true) {
    // Safe point: between two steps, with no port wait outstanding.
    if (!PausePoint()) break;
    SuspensionPoint();
    if (Terminated()) break;

    const auto wait_start = std::chrono::steady_clock::now();
    const unsigned events = port_.Wait(wait_for);
    if (Terminated()) break;
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

    StepOutcome outcome;
    Synchronize([this, &outcome] { outcome = protocol_.Step(port_, status_); });

    const bool woken_by_port =
        (events & (serial::kRxChar | serial::kTxEmpty | serial::kLineError)) != 0;
    if (woken_by_port && outcome.bytes_read == 0 && !outcome.frame_written) {
      Rest(kIdleRest);
      wait_for = kStepInterval - kIdleRest;
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
