// Qt side of the worker hand-off: a step queued for the UI thread, the worker
// waiting until it has run there, and the pumping waits the UI thread uses while a worker may be
// waiting for it.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "core/worker.h"

namespace m32 {

// Hands a step to the UI thread and waits until it has run there.
//
// The step and its completion travel through a queue under a std::mutex; the
// posted Qt event only wakes the UI thread and carries nothing. Every step's
// effects are therefore ordered with the worker through that mutex, which the
// thread sanitizer sees (Qt's own blocking connection synchronises through
// futexes inside an uninstrumented Qt, which it does not).
//
// Construct and destroy on the UI thread; RunOnUi() may be called from any
// other thread (never the UI thread itself, which would wait for its own
// step), by several workers at once. No worker may be waiting in RunOnUi()
// when the invoker is destroyed.
class QtUiInvoker final : public UiInvoker {
 public:
  explicit QtUiInvoker(QObject* ui_object);
  ~QtUiInvoker() override;
  QtUiInvoker(const QtUiInvoker&) = delete;
  QtUiInvoker& operator=(const QtUiInvoker&) = delete;

  void RunOnUi(const std::function<void()>& step) override;

 private:
  class Receiver;
  struct Request {
    const std::function<void()>* step;
    bool done = false;
  };
  // Queues the request and wakes the UI thread.
  void Post(Request& request);
  // On the UI thread: runs every step waiting in the queue.
  void RunPending();

  std::unique_ptr<Receiver> receiver_;
  std::mutex mutex_;
  std::condition_variable done_;
  std::deque<Request*> pending_;
};

// Processes pending events once.
void PumpOnce();
// Keeps processing events for ms milliseconds.
void PumpFor(int ms);
// Keeps processing events until done() is true.
void PumpUntil(const std::function<bool()>& done);

}  // namespace m32
