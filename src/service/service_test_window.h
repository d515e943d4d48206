// ServiceTestWindow: what the communication test and the lighting test share.
// While such a window is open the link is parked and the port belongs to the
// window's worker, which hands a refresh step to this thread at every port
// event.
//
// The lifecycle, one for both windows:
//   - showing the window activates it: OnActivate() (captions, placement,
//     the controls' state), the link is asked to park, the window's worker
//     (MakeWorker()) is started and first waits there for the link, then
//     OnWorkerStarted();
//   - closing it (done(), the close box, Escape, the main window's close
//     sequence) or a plain hide() deactivates it: the worker ends and purges
//     the port, OnDeactivate() runs, and only then the link has the port back;
//   - destroying it ends a worker that still runs (the derived window calls
//     StopWorker() in its destructor, while its step can still run).
#pragma once

#include <QDialog>
#include <memory>

#include "core/shared_status.h"
#include "link/port_connection.h"
#include "qt/ui_invoker.h"
#include "service/port_hand_over.h"
#include "service/port_step_worker.h"

namespace m32::service {

class ServiceTestWindow : public QDialog {
  Q_OBJECT

 public:
  ServiceTestWindow(SharedStatus& status, link::PortConnection& port, QWidget* main_window,
                    Qt::WindowFlags flags);
  ~ServiceTestWindow() override;
  ServiceTestWindow(const ServiceTestWindow&) = delete;
  ServiceTestWindow& operator=(const ServiceTestWindow&) = delete;

  // Runs whenever the window is shown; ends when it is hidden.
  void Activate();
  void Deactivate();

  bool WorkerRunning() const { return worker_ != nullptr; }
  // Refresh steps run by the current worker.
  unsigned WorkerSteps() const { return worker_ ? worker_->Steps() : 0; }
  bool HoldsLink() const { return hand_over_.Holding(); }

 public slots:
  void done(int result) override;

 protected:
  // Before the link is asked to park.
  virtual void OnActivate() = 0;
  // The worker for this opening, or none.
  virtual std::unique_ptr<PortStepWorker> MakeWorker() = 0;
  // Once the worker has been started.
  virtual void OnWorkerStarted() {}
  // Once the worker has ended, before the link has the port back.
  virtual void OnDeactivate() {}

  // Ends the worker, processing events meanwhile: it may be waiting for this
  // thread to run its step.
  void StopWorker();

  bool Active() const { return active_; }
  SharedStatus& Status() { return status_; }
  link::PortConnection& Port() { return port_; }
  QWidget* MainWindow() const { return main_window_; }
  UiInvoker& Invoker() { return invoker_; }

  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  SharedStatus& status_;
  link::PortConnection& port_;
  QWidget* main_window_;
  QtUiInvoker invoker_;
  PortHandOver hand_over_;
  std::unique_ptr<PortStepWorker> worker_;
  bool active_ = false;
  bool deactivating_ = false;
};

}  // namespace m32::service
