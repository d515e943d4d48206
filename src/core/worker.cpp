#include "core/worker.h"

namespace m32 {

Worker::~Worker() {
  // The owner ends the thread before it lets go of it; joining here only
  // catches a thread that was never asked to end.
  if (thread_.joinable()) {
    Terminate();
    thread_.join();
  }
}

void Worker::Start() {
  thread_ = std::thread([this] {
    Execute();
    finished_.store(true);
  });
}

void Worker::Terminate() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    terminated_.store(true);
  }
  cv_.notify_all();
  OnTerminateRequested();
}

void Worker::Resume() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    suspend_requested_.store(false);
  }
  cv_.notify_all();
}

void Worker::Join() {
  if (thread_.joinable()) thread_.join();
}

void Worker::SuspendSelf() {
  std::unique_lock<std::mutex> lock(mutex_);
  suspend_requested_.store(true);
  parked_.store(true);
  cv_.wait(lock, [this] { return !suspend_requested_.load() || terminated_.load(); });
  parked_.store(false);
}

}  // namespace m32
