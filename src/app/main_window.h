// TWmenu: the main window. Its menu reaches every dialog and test window, its
// 55 ms timer paces the I/O display and ages the countdowns, and its close
// sequence switches every output off before the port is let go.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <vector>

#include "app/app_context.h"
#include "core/heartbeat.h"
#include "iopanel/io_panel_window.h"
#include "iopanel/io_refresh_thread.h"
#include "qt/ui_invoker.h"

class QAction;
class QMenu;

namespace m32 {

// The other seven windows, created after the main window.
struct ChildWindows {
  QDialog* jazyk = nullptr;           // language dialog
  QDialog* konst = nullptr;           // constants dialog
  QDialog* komunikace = nullptr;      // serial port dialog
  QDialog* tstkom = nullptr;          // communication test
  QWidget* help = nullptr;            // help viewer (not modal)
  QDialog* oprog = nullptr;           // about window
  QDialog* jas = nullptr;             // lighting test
  std::function<bool()> help_failed;  // the help viewer's failure mark
};

class TWmenu final : public QMainWindow {
  Q_OBJECT
 public:
  explicit TWmenu(AppContext& ctx, QWidget* parent = nullptr);
  ~TWmenu() override;

  // Creates the seven other windows, hidden, in their fixed order.
  void CreateChildWindows();
  const ChildWindows& Windows() const { return windows_; }

  // Start-up: caption, settings, texts, panel layout, show, port, display.
  void FormCreate();
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

  // Menu handlers.
  void Nast_paraClick();
  void ServisClick();
  void MereniClick();
  void Nast_jazClick();
  void Nast_konstClick();
  void Nast_komClick();
  void Nast_tiskClick();
  void Test_komClick();
  void Test_jasClick();
  void HelpClick();
  void OprogramuClick();
  void KonecClick();
  void Timer1Timer();

  // Re-captions the menu from the texts (after a language file was loaded).
  void RecaptionMenu();

  iopanel::IoPanel* Panel() const { return panel_; }
  QTimer* Timer1() const { return timer1_; }
  UiInvoker& Invoker() { return invoker_; }
  AppContext& Context() { return ctx_; }
  bool DisplayThreadAlive() const { return io_thread_ != nullptr; }
  int DisplayThreadsStarted() const { return threads_started_; }
  QMenu* SettingsMenu() const { return nast_para_; }
  QMenu* ServiceMenu() const { return servis_; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void BuildMenu();
  void StartDisplay();
  void StopDisplay();
  void ReapDisplayThreads();
  void ShowModal(QDialog* d);
  void EndModalWindows();
  bool Ending() const { return closing_ || close_requested_; }
  void MakePort();

  AppContext& ctx_;
  QtUiInvoker invoker_;
  Heartbeat heartbeat_;
  QTimer* timer1_;
  iopanel::IoPanel* panel_;
  ChildWindows windows_;
  std::unique_ptr<iopanel::TZobr_io> io_thread_;
  std::vector<std::unique_ptr<iopanel::TZobr_io>> retired_;
  int threads_started_ = 0;
  bool closed_ = false;
  bool closing_ = false;
  bool close_requested_ = false;
  bool focus_pending_ = false;

  QMenu* nast_para_ = nullptr;
  QMenu* servis_ = nullptr;
  QMenu* napoveda_ = nullptr;
  QAction* mereni_ = nullptr;
  QAction* konec_ = nullptr;
  QAction* nast_jaz_ = nullptr;
  QAction* nast_konst_ = nullptr;
  QAction* nast_kom_ = nullptr;
  QAction* nast_tisk_ = nullptr;
  QAction* test_kom_ = nullptr;
  QAction* test_jas_ = nullptr;
  QAction* help_ = nullptr;
  QAction* oprogramu_ = nullptr;
};

}  // namespace m32
