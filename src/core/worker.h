// Worker threads. Most do their work by handing steps to the user-interface
// thread and waiting until each step has run there; the link runs its steps
// on its own thread and never hands one over.
//
// Thread-safety contract:
//  - Terminate(), Resume(), Terminated(), Suspended() and Finished()
//    may be called from any thread.
//  - Synchronize() is called only from the worker's own thread, of a worker
//    made with a UiInvoker; the step runs on the UI thread (through the
//    UiInvoker) while the worker waits.
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
  virtual ~UiInvoker() = default;
  virtual void RunOnUi(const std::function<void()>& step) = 0;
};

// Runs steps in place, on the calling thread. For tests and tools without a UI.
class InlineInvoker final : public UiInvoker {
 public:
  void RunOnUi(const std::function<void()>& step) override { step(); }
};

class Worker {
 public:
  // A worker whose steps run on the UI thread (Synchronize).
  explicit Worker(UiInvoker& ui) : ui_(&ui) {}
  // A worker that runs all its work on its own thread and never calls
  // Synchronize.
  Worker() = default;
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
  // Runs the step on the UI thread and waits for it. Only for a worker made
  // with a UiInvoker.
  void Synchronize(const std::function<void()>& step) { ui_->RunOnUi(step); }
  // Parks the thread until Resume() or Terminate().
  void SuspendSelf();

 private:
  UiInvoker* ui_ = nullptr;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> suspend_requested_{false};
  std::atomic<bool> parked_{false};
  std::atomic<bool> finished_{false};
};

}  // namespace m32
