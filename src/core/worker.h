// Worker threads that do their work by handing steps to the user-interface
// thread and waiting until each step has run there.
//
// Thread-safety contract:
//  - Terminate(), Resume(), Terminated(), Suspended() and Finished()
//    may be called from any thread.
//  - Synchronize() is called only from the worker's own thread; the step runs
//    on the UI thread (through the UiInvoker) while the worker waits.
//  - The UI thread must never block on a worker without processing events:
//    the worker may be waiting in Synchronize(). Use a pumping wait.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace m32 {

// Runs a step on the user-interface thread and returns when it has run there.
// The Qt implementation queues the step under a mutex, wakes the UI thread
// with an empty posted event and waits on a condition variable; tests may run
// the step in place.
class UiInvoker {
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~UiInvoker() = default;
  virtual void RunOnUi(const std::function<void()>& step) = 0;
  // For a caller with nothing to do before `until` whatever the step does:
  // runs the step on the UI thread and returns once it has run and `until`
  // has passed. One wake-up serves both, where the step's end would otherwise
  // wake the caller only for it to go back to sleep. `until` is kept short
  // (a frame's time): the caller can be neither paused nor ended before it.
  virtual void RunOnUiThenRest(const std::function<void()>& step, Clock::time_point until) {
    RunOnUi(step);
    std::this_thread::sleep_until(until);
  }
};

// Runs steps in place, on the calling thread. For tests and tools without a UI.
class InlineInvoker final : public UiInvoker {
 public:
  void RunOnUi(const std::function<void()>& step) override { step(); }
};

class Worker {
 public:
  explicit Worker(UiInvoker& ui) : ui_(ui) {}
  virtual ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Starts the thread running. Call once.
  void Start();
  // Asks the thread to leave its loop; also wakes it from a suspension.
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  // Lets a thread that suspended itself go on.
  void Resume();
  // True while the thread is parked in SuspendSelf().
  bool Suspended() const { return parked_.load(); }
  // True once Execute() has returned.
  bool Finished() const { return finished_.load(); }
  // Joins the thread. Only safe when Finished() or when the thread never
  // waits for the UI thread that calls this.
  void Join();

 protected:
  virtual void Execute() = 0;
  // Called when Terminate() is requested, on the requesting thread; wakes any
  // wait of the thread (a port wait, say).
  virtual void OnTerminateRequested() {}
  // Runs the step on the UI thread and waits for it.
  void Synchronize(const std::function<void()>& step) { ui_.RunOnUi(step); }
  // The same, returning no earlier than `until` (see UiInvoker::RunOnUiThenRest).
  void SynchronizeThenRest(const std::function<void()>& step, UiInvoker::Clock::time_point until) {
    ui_.RunOnUiThenRest(step, until);
  }
  // Parks the thread until Resume() or Terminate().
  void SuspendSelf();

 private:
  UiInvoker& ui_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> suspend_requested_{false};
  std::atomic<bool> parked_{false};
  std::atomic<bool> finished_{false};
};

}  // namespace m32
