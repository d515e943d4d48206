// A UiInvoker for tests of workers: RunOnUi() queues the step and blocks the
// worker until the test thread, playing the UI thread, runs it with RunOne()
// or RunPending(). So a test decides when steps happen, and sees a worker
// that waits in Synchronize just as it would under the real UI.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "core/worker.h"

namespace m32::test_support {

class QueueInvoker final : public UiInvoker {
 public:
  void RunOnUi(const std::function<void()>& step) override {
    Job job{&step, false};
    std::unique_lock<std::mutex> lock(m_);
    queue_.push_back(&job);
    cv_.notify_all();
    cv_.wait(lock, [&job] { return job.done; });
  }

  // Runs the next step, waiting up to `timeout` for one. False if none came.
  bool RunOne(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_);
    if (!cv_.wait_for(lock, timeout, [this] { return !queue_.empty(); })) return false;
    Job* job = queue_.front();
    queue_.pop_front();
    lock.unlock();
    (*job->step)();
    lock.lock();
    job->done = true;
    ++runs_;
    cv_.notify_all();
    return true;
  }

  // Runs whatever is queued now, without waiting (an event pump).
  int RunPending() {
    int n = 0;
    while (RunOne(std::chrono::milliseconds(0))) ++n;
    return n;
  }

  // Runs steps as they come until `done`, for up to about 3 s.
  template <typename Pred>
  bool RunUntil(Pred done) {
    for (int i = 0; i < 3000 && !done(); ++i) {
      if (RunPending() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
  }

  std::size_t Queued() const {
    std::lock_guard<std::mutex> lock(m_);
    return queue_.size();
  }
  int Runs() const {
    std::lock_guard<std::mutex> lock(m_);
    return runs_;
  }

 private:
  struct Job {
    const std::function<void()>* step;
    bool done;
  };
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::deque<Job*> queue_;
  int runs_ = 0;
};

}  // namespace m32::test_support
