#include "service/port_step_worker.h"

#include <utility>

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

void PortStepWorker::Execute() {
  OnStart();
  port_.Purge();
  while (!Terminated()) {
    SuspensionPoint();
    if (Terminated()) break;
    const unsigned events = port_.Wait(pace_);
    if (Terminated()) break;
    if ((events & (serial::kNotOpen | serial::kHangup)) != 0) {
      Pause();
      if (Terminated()) break;
    }
    Synchronize(step_);
    steps_.fetch_add(1);
  }
  port_.Purge();
  OnEnd();
}

void PortStepWorker::OnTerminateRequested() {
  port_.Wake();
  std::lock_guard<std::mutex> lock(pause_mutex_);
  pause_cv_.notify_all();
}

void PortStepWorker::Pause() {
  std::unique_lock<std::mutex> lock(pause_mutex_);
  pause_cv_.wait_for(lock, pace_, [this] { return Terminated(); });
}

void LightingWorker::OnStart() {
  status_.flags.LightingDisplayActive.store(1);
  if (on_start_) on_start_();
}

void LightingWorker::OnEnd() {
  status_.flags.LightingDisplayActive.store(0);
}

}  // namespace m32::service
