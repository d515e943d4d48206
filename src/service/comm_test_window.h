// CommTestWindow (form TWtstkom): the raw communication test. While it is
// open the link is parked and the port belongs to the test: the bytes typed in
// hexadecimal are sent over and over while the send box is ticked, and the
// last 32 bytes received are shown while the receive box is ticked. Its worker
// (CommWorker) hands a refresh step to this window at every port event, at
// least every 500 ms.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "config/text_table.h"
#include "service/comm_test.h"
#include "service/service_test_window.h"

class QCheckBox;
class QKeyEvent;
class QLineEdit;

namespace m32::service {

class CommTestWindow : public ServiceTestWindow {
  Q_OBJECT

 public:
  // `main_window` places the window and is its parent.
  CommTestWindow(SharedStatus& status, const config::TextTable& texts, link::PortConnection& port,
                 QWidget* main_window);
  ~CommTestWindow() override;
  CommTestWindow(const CommTestWindow&) = delete;
  CommTestWindow& operator=(const CommTestWindow&) = delete;

  // The send box was clicked or the send field left.
  void OnSendBoxClicked();
  // A key in the send box, the send field or the receive box; true when the
  // key was used here.
  bool OnControlKey(QObject* control, int key);
  // One refresh step; the worker has it run on this thread.
  void RefreshStep();

  QCheckBox* SendBox() const { return send_box_; }
  QLineEdit* SendField() const { return send_field_; }
  QCheckBox* ReceiveBox() const { return receive_box_; }
  QLineEdit* ReceiveLine() const { return receive_line_; }
  const CommTest& Test() const { return test_; }

  // The receive line is repainted at most this often; it then shows the
  // state after the last step.
  static constexpr std::chrono::milliseconds kLineFrame{16};

 protected:
  void OnActivate() override;
  std::unique_ptr<PortStepWorker> MakeWorker() override;
  void OnDeactivate() override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Keys no control took (the receive line has none of its own): Escape does
  // not close the window there.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The send field's text in Windows-1250, converted again only after the
  // field has changed (the refresh step reads it at every step).
  const std::string& SendFieldText();
  void ShowSendText(const std::string& cp1250);
  // Shows the receive line now, or when the current display frame is over.
  void ShowReceiveLine(std::string line);
  void FlushReceiveLine();

  const config::TextTable& texts_;
  CommTest test_;
  // Received bytes the last step left queued (written on this thread by the
  // step, read by the worker once the step is over).
  std::atomic<uint32_t> unread_{0};
  std::string line_pending_;  // the receive line after the last step
  std::string line_shown_;    // the line the receive line shows
  std::string send_text_;     // SendFieldText()
  bool send_text_stale_ = true;
  QTimer line_timer_;  // the end of the current display frame
  QElapsedTimer line_painted_;

  QCheckBox* send_box_ = nullptr;      // WBox
  QLineEdit* send_field_ = nullptr;    // WEdit
  QCheckBox* receive_box_ = nullptr;   // RBox
  QLineEdit* receive_line_ = nullptr;  // REdit
};

}  // namespace m32::service
