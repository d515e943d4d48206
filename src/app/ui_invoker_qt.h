// Qt side of the worker hand-off: a blocking queued invocation onto the UI
// thread, and the pumping waits the UI thread uses while a worker may be
// waiting for it.
#pragma once

#include <QObject>
#include <functional>

#include "app/worker.h"

namespace m32 {

class QtUiInvoker final : public UiInvoker {
 public:
  explicit QtUiInvoker(QObject* ui_object) : target_(ui_object) {}
  void RunOnUi(const std::function<void()>& step) override;

 private:
  QObject* target_;
};

// Processes pending events once.
void PumpOnce();
// Keeps processing events for ms milliseconds.
void PumpFor(int ms);
// Keeps processing events until done() is true.
void PumpUntil(const std::function<bool()>& done);

}  // namespace m32
