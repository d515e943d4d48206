#include "service/port_step_worker.h"

#include <utility>

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace m32::service {

PortStepWorker::PortStepWorker(UiInvoker& ui, serial::SerialDevice& port,
                               std::chrono::milliseconds pace, std::function<void()> step)
    : Worker(ui), port_(port), pace_(pace), step_(std::move(step)) {}

// Derived destructors join first: the thread must not outlive the members it uses.
PortStepWorker::~PortStepWorker() {
  Terminate();
  Join();
}
CommWorker::~CommWorker() {
  Terminate();
  Join();
}
LightingWorker::~LightingWorker() {
  Terminate();
  Join();
}

void LowerCurrentThreadPriority() {
#if defined(__linux__)
  // Linux keeps a nice value per thread, addressed by the thread's id.
  const auto tid = static_cast<id_t>(gettid());
  errno = 0;
  const int nice_now = getpriority(PRIO_PROCESS, tid);
  if (errno == 0 && nice_now < 19) (void)setpriority(PRIO_PROCESS, tid, nice_now + 1);
#endif
}

void PortStepWorker::Execute() {
  if (take_over_) take_over_();
  OnStart();
  port_.Purge();
  while (!Terminated()) {
    const auto began = std::chrono::steady_clock::now();
    const unsigned events = WaitForEvent();
    if (Terminated()) break;
    const auto rest = RestAfterWait(events, std::chrono::steady_clock::now() - began, pace_);
    if (rest > std::chrono::nanoseconds::zero()) {
      PauseUntil(began + pace_);
      if (Terminated()) break;
    }
    unsigned ran = 0;
    Synchronize([this, &ran] { ran = RunSteps(); });
    steps_.fetch_add(ran);
  }
  port_.Purge();
  OnEnd();
}

void PortStepWorker::OnTerminateRequested() {
  port_.Wake();
  std::lock_guard<std::mutex> lock(pause_mutex_);
  pause_cv_.notify_all();
}

void PortStepWorker::PauseUntil(std::chrono::steady_clock::time_point until) {
  std::unique_lock<std::mutex> lock(pause_mutex_);
  pause_cv_.wait_until(lock, until, [this] { return Terminated(); });
}

std::chrono::nanoseconds RestAfterWait(unsigned events, std::chrono::nanoseconds waited,
                                       std::chrono::milliseconds pace) {
  if ((events & (serial::kNotOpen | serial::kHangup)) == 0) return std::chrono::nanoseconds::zero();
  const std::chrono::nanoseconds left = pace - waited;
  return left > std::chrono::nanoseconds::zero() ? left : std::chrono::nanoseconds::zero();
}

unsigned CommWorker::WaitForEvent() {
  // Read after the last step has finished; it wrote the mark on the UI thread.
  // Bytes left unread are no news to the port: gather on from them.
  if (Unread() > 0) return serial::kRxChar | Port().WaitFor(kGather, kGatherBytes);
  unsigned events = Port().Wait(kPace);
  if (events == serial::kRxChar) events |= Port().WaitFor(kGather, kGatherBytes);
  return events;
}

unsigned CommWorker::RunSteps() {
  // Read on this thread, where the steps write it.
  unsigned ran = 0;
  do {
    Step();
    ++ran;
  } while (ran < kStepsPerTrip && Unread() >= kStepBytes);
  return ran;
}

unsigned LightingWorker::WaitForEvent() {
  // Read after the last step has finished; it wrote the mark on the UI thread.
  const bool sending = frame_sent_ && frame_sent_();
  return Port().WaitFor(kPace, sending ? serial::kNoRxWake : kReplyBytes);
}

void LightingWorker::OnStart() {
  status_.flags.LightingDisplayActive.store(1);
  if (on_start_) on_start_();
}

void LightingWorker::OnEnd() {
  status_.flags.LightingDisplayActive.store(0);
}

}  // namespace m32::service
