#include "qt/ui_invoker.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>

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

void QtUiInvoker::Post(Request& request) {
  {
    const std::lock_guard lock(mutex_);
    pending_.push_back(&request);
  }
  QCoreApplication::postEvent(receiver_.get(), new QEvent(QEvent::User));
}

void QtUiInvoker::RunOnUi(const std::function<void()>& step) {
  Q_ASSERT(QThread::currentThread() != receiver_->thread());  // it would wait for itself
  Request request{&step};
  Post(request);
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

// An event loop returns at once once the application has been told to quit
// (QCoreApplication::exit marks every loop of the thread). The waits below
// must still last their time: they then go on processing events by hand,
// resting a little between rounds so that they never spin.
namespace {

constexpr std::chrono::milliseconds kHandRound{2};

void PumpByHand(std::chrono::milliseconds at_most) {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  std::this_thread::sleep_for(std::min(at_most, kHandRound));
}

}  // namespace

void PumpFor(int ms) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  for (auto left = end - Clock::now(); left > Clock::duration::zero(); left = end - Clock::now()) {
    const auto left_ms = std::chrono::ceil<std::chrono::milliseconds>(left);
    QEventLoop loop;
    QTimer::singleShot(left_ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    if (loop.exec() != 0) PumpByHand(left_ms);
  }
}

void PumpUntil(const std::function<bool()>& done) {
  while (!done()) {
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (done()) loop.quit();
    });
    poll.start();
    if (loop.exec() != 0) PumpByHand(kHandRound);
  }
}

}  // namespace m32
