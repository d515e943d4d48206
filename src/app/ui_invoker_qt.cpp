#include "app/ui_invoker_qt.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace m32 {

// Lives on the UI thread; a posted event to it means "look at the queue". It
// never reads the event, which another thread allocated.
class QtUiInvoker::Receiver final : public QObject {
 public:
  explicit Receiver(QtUiInvoker& owner, QObject* ui_object) : owner_(owner) {
    moveToThread(ui_object->thread());
  }

 protected:
  void customEvent(QEvent* /*wake*/) override { owner_.RunPending(); }

 private:
  QtUiInvoker& owner_;
};

QtUiInvoker::QtUiInvoker(QObject* ui_object)
    : receiver_(std::make_unique<Receiver>(*this, ui_object)) {}

QtUiInvoker::~QtUiInvoker() = default;

void QtUiInvoker::RunOnUi(const std::function<void()>& step) {
  if (QThread::currentThread() == receiver_->thread()) {
    step();
    return;
  }
  Request request{&step};
  {
    const std::lock_guard lock(mutex_);
    pending_.push_back(&request);
  }
  QCoreApplication::postEvent(receiver_.get(), new QEvent(QEvent::User));
  std::unique_lock lock(mutex_);
  done_.wait(lock, [&request] { return request.done; });
}

void QtUiInvoker::RunPending() {
  for (;;) {
    Request* request = nullptr;
    {
      const std::lock_guard lock(mutex_);
      if (pending_.empty()) return;
      request = pending_.front();
      pending_.pop_front();
    }
    // The worker waits until the step is done, also when it throws.
    struct MarkDone {
      QtUiInvoker& invoker;
      Request& request;
      ~MarkDone() {
        {
          const std::lock_guard lock(invoker.mutex_);
          request.done = true;
        }
        invoker.done_.notify_all();
      }
    } mark{*this, *request};
    (*request->step)();
  }
}

void PumpOnce() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void PumpFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

void PumpUntil(const std::function<bool()>& done) {
  if (done()) return;
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(2);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start();
  loop.exec();
}

}  // namespace m32
