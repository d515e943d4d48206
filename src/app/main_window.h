// The main window. Its menu reaches every dialog and test window, its
// 55 ms timer paces the I/O display and ages the countdowns, and its close
// sequence switches every output off before the port is let go.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <memory>
#include <vector>

#include "app/app_context.h"
#include "core/heartbeat.h"
#include "iopanel/io_panel_window.h"
#include "iopanel/io_refresh_thread.h"
#include "qt/ui_invoker.h"

class QAction;
class QMenu;

namespace m32::app {

// The other seven windows, created after the main window.
struct ChildWindows {
  QDialog* language = nullptr;        // language dialog
  QDialog* constants = nullptr;       // constants dialog
  QDialog* port = nullptr;            // serial port dialog
  QDialog* comm_test = nullptr;       // communication test
  QWidget* help = nullptr;            // help viewer (not modal)
  QDialog* about = nullptr;           // about window
  QDialog* lighting = nullptr;        // lighting test
  std::function<bool()> help_failed;  // the help viewer's failure mark
};

class MainWindow final : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(AppContext& ctx, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Creates the seven other windows, hidden, in their fixed order.
  void CreateChildWindows();
  const ChildWindows& Windows() const { return windows_; }

  // Start-up: caption, settings, texts, panel layout, show, port, display.
  void StartUp();
  // The orderly close; runs once, never refused.
  void CloseSequence();
  bool Closed() const { return closed_; }
  // A termination signal asks for the close: the open modal windows and
  // message boxes are ended (a service test hands the port back to the link
  // on its way out), no port is opened any more and no window opens. The
  // caller runs CloseSequence once every event loop this may be nested in
  // has returned. A second request changes nothing.
  void RequestClose();
  bool CloseRequested() const { return close_requested_; }
  // The system ends the process as soon as this returns (the end of the
  // Windows session): the close has run by then. A close already under way
  // further up this thread's stack cannot be waited for (it goes on only once
  // this returns), so the outputs are switched off and the settings saved
  // here; it finishes the rest should the process live on.
  void CloseNow();
  // Ctrl+Z: the process stops once this returns. A service test window is
  // closed (its worker stops sending and the link has the port back), every
  // output is switched off on the panel and the all-off frame put on the
  // line, waited for at most kStopSwitchOffLimit. After SIGCONT the outputs
  // stay off until the technician switches one on.
  void SwitchOffForStop();
  static constexpr std::chrono::milliseconds kStopSwitchOffLimit{100};

  // Menu handlers.
  void OnSettingsMenuOpened();
  void OnServiceMenuOpened();
  void StartIoDisplay();
  void ShowLanguageDialog();
  void ShowConstantsDialog();
  void ShowPortDialog();
  void ShowPrinterDialog();
  void ShowCommTest();
  void ShowLightingTest();
  void ShowHelp();
  void ShowAbout();
  void OnExitChosen();
  void OnHeartbeatTick();

  // Re-captions the menu from the texts (after a language file was loaded).
  void RecaptionMenu();

  iopanel::IoPanel* Panel() const { return panel_; }
  UiInvoker& Invoker() { return invoker_; }
  AppContext& Context() { return ctx_; }
  bool DisplayThreadAlive() const { return display_thread_ != nullptr; }
  int DisplayThreadsStarted() const { return threads_started_; }
  QMenu* ServiceMenu() const { return service_menu_; }

 protected:
  void closeEvent(QCloseEvent* e) override;
#if defined(Q_OS_WIN)
  // WM_ENDSESSION with the session ending: CloseNow before it is answered.
  bool nativeEvent(const QByteArray& type, void* message, qintptr* result) override;
#endif

 private:
  void BuildMenu();
  void StartDisplay();
  void StopDisplay();
  // What the refresh thread has run on this thread at each pass.
  iopanel::IoPanelSteps DisplaySteps();
  void RefreshDisplay();
  // Joins the refresh threads that have ended (all of them once closed).
  void ReapDisplayThreads();
  static void EndDisplayThread(iopanel::IoRefreshThread& thread);
  void ShowModal(QDialog* d);
  void EndModalWindows();
  bool Ending() const {
    return closing_ || close_requested_;
  }
  void MakePort();

  AppContext& ctx_;
  QtUiInvoker invoker_;
  Heartbeat heartbeat_;
  QTimer* heartbeat_timer_;
  iopanel::IoPanel* panel_;
  ChildWindows windows_;
  std::unique_ptr<iopanel::IoRefreshThread> display_thread_;
  std::vector<std::unique_ptr<iopanel::IoRefreshThread>> retired_threads_;
  int threads_started_ = 0;
  bool closed_ = false;
  bool closing_ = false;
  bool close_requested_ = false;
  bool focus_pending_ = false;

  QMenu* settings_menu_ = nullptr;
  QMenu* service_menu_ = nullptr;
  QMenu* help_menu_ = nullptr;
  QAction* test_action_ = nullptr;
  QAction* exit_action_ = nullptr;
  QAction* language_action_ = nullptr;
  QAction* constants_action_ = nullptr;
  QAction* port_action_ = nullptr;
  QAction* printer_action_ = nullptr;
  QAction* comm_test_action_ = nullptr;
  QAction* lighting_test_action_ = nullptr;
  QAction* help_action_ = nullptr;
  QAction* about_action_ = nullptr;
};

}  // namespace m32::app
