#include "service/service_test_window.h"

#include <QHideEvent>
#include <QShowEvent>

namespace m32::service {

ServiceTestWindow::ServiceTestWindow(SharedStatus& status, link::PortConnection& port,
                                     QWidget* main_window, Qt::WindowFlags flags)
    : QDialog(main_window, flags),
      status_(status),
      port_(port),
      main_window_(main_window),
      invoker_(this),
      hand_over_(port) {
  setModal(true);
}

ServiceTestWindow::~ServiceTestWindow() {
  // Never leave the worker waiting for a window that is gone. The link is
  // left to its owner, who stops it when the port closes.
  StopWorker();
}

void ServiceTestWindow::Activate() {
  if (active_) return;
  active_ = true;
  OnActivate();
  // The link parks between two of its steps; the worker waits for that
  // before it touches the port.
  if (status_.flags.LinkRunning.load() != 0 || port_.Link() != nullptr) hand_over_.Take();
  StopWorker();  // a worker of an earlier opening is long gone; be sure
  worker_ = MakeWorker();
  if (worker_) {
    worker_->SetTakeOver([this] { hand_over_.WaitForLink(); });
    worker_->Start();
  }
  OnWorkerStarted();
}

void ServiceTestWindow::Deactivate() {
  if (!active_) return;
  active_ = false;
  // The worker purges the port on its way out; only then may the link have it back.
  StopWorker();
  OnDeactivate();
  hand_over_.Give();
}

void ServiceTestWindow::StopWorker() {
  if (!worker_) return;
  worker_->Terminate();
  PumpUntil([this] { return worker_->Finished(); });
  worker_->Join();
  worker_.reset();
}

void ServiceTestWindow::done(int result) {
  if (deactivating_) return;  // a second close while the first still waits
  deactivating_ = true;
  Deactivate();
  deactivating_ = false;
  QDialog::done(result);
}

void ServiceTestWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) Activate();
}

void ServiceTestWindow::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  // Closing goes through done(); this catches a plain hide().
  if (!event->spontaneous() && !deactivating_) Deactivate();
}

}  // namespace m32::service
