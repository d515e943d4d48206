#include "app/ui_invoker_qt.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <mutex>

namespace m32 {

void QtUiInvoker::RunOnUi(const std::function<void()>& step) {
  if (QThread::currentThread() == target_->thread()) {
    step();
    return;
  }
  QMetaObject::invokeMethod(
      target_, [&step] { step(); }, Qt::BlockingQueuedConnection);
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
