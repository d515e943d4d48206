// TWtstkom: the raw communication test. While it is open the link is parked
// and the port belongs to the test: the bytes typed in hexadecimal are sent
// over and over while the send box is ticked, and the last 32 bytes received
// are shown while the receive box is ticked. Its worker (TZobr_kom) hands a
// refresh step to this window at every port event, at least every 500 ms.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "config/text_table.h"
#include "core/shared_status.h"
#include "link/port_connection.h"
#include "qt/ui_invoker.h"
#include "service/comm_test.h"
#include "service/port_hand_over.h"
#include "service/port_step_worker.h"

class QCheckBox;
class QLineEdit;

namespace m32 {

class TWtstkom : public QDialog {
  Q_OBJECT

 public:
  // `main_window` places the window and is its parent.
  TWtstkom(SharedStatus& status, const config::TextTable& texts, link::PortConnection& port,
           QWidget* main_window);
  // Ends a worker that is still running (processing events meanwhile).
  ~TWtstkom() override;
  TWtstkom(const TWtstkom&) = delete;
  TWtstkom& operator=(const TWtstkom&) = delete;

  // Runs whenever the window is shown; ends when it is hidden.
  void FormActivate();
  void FormDeactivate();
  // The send box was clicked or the send field left.
  void WBoxClick();
  // A key in WBox, WEdit or RBox; true when the key was used here.
  bool WBoxKeyPress(QObject* control, int key);
  // One refresh step; the worker has it run on this thread.
  void RefreshStep();

  QCheckBox* SendBox() const { return WBox; }
  QLineEdit* SendField() const { return WEdit; }
  QCheckBox* ReceiveBox() const { return RBox; }
  QLineEdit* ReceiveLine() const { return REdit; }
  const service::CommTest& Test() const { return test_; }
  bool WorkerRunning() const { return worker_ != nullptr; }
  // Refresh steps run by the current worker.
  unsigned WorkerSteps() const { return worker_ ? worker_->Steps() : 0; }
  bool HoldsLink() const { return hand_over_.Holding(); }

  // The receive line is repainted at most this often; it then shows the
  // state after the last step.
  static constexpr std::chrono::milliseconds kLineFrame{16};

 public slots:
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::string SendFieldText() const;
  void ShowSendText(const std::string& cp1250);
  void StopWorker();
  // Shows the receive line now, or when the current display frame is over.
  void ShowReceiveLine(std::string line);
  void FlushReceiveLine();

  SharedStatus& status_;
  const config::TextTable& texts_;
  link::PortConnection& port_;
  QWidget* main_window_;
  QtUiInvoker invoker_;
  service::CommTest test_;
  service::PortHandOver hand_over_;
  std::unique_ptr<service::CommWorker> worker_;
  bool active_ = false;
  bool deactivating_ = false;
  // The last step left received bytes queued (written on this thread by the
  // step, read by the worker once the step is over).
  std::atomic<bool> unread_left_{false};
  std::string line_pending_;  // the receive line after the last step
  std::string line_shown_;    // the line REdit shows
  QTimer line_timer_;         // the end of the current display frame
  QElapsedTimer line_painted_;

  QCheckBox* WBox = nullptr;
  QLineEdit* WEdit = nullptr;
  QCheckBox* RBox = nullptr;
  QLineEdit* REdit = nullptr;
};

}  // namespace m32
