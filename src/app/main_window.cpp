#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>

#if defined(Q_OS_WIN)
#include <windows.h>
#endif

#include "app/close_sequence.h"
#include "dialogs/constants_dialog.h"
#include "dialogs/language_dialog.h"
#include "dialogs/port_dialog.h"
#include "info/about_window.h"
#include "info/help_window.h"
#include "qt/window_frame.h"
#include "qt/window_support.h"
#include "service/comm_test_window.h"
#include "service/lighting_window.h"

namespace m32::app {

namespace {
// A close nested in one under way offers all-off this long (two link steps at least).
constexpr int kNestedCloseOffers = 200;
}  // namespace

MainWindow::MainWindow(AppContext& ctx, QWidget* parent)
    : QMainWindow(parent), ctx_(ctx), invoker_(this), heartbeat_timer_(new QTimer(this)) {
  setObjectName("TWmenu");
  // The sizes are the outer ones, frame included.
  qt::SetOuterSize(this, {420, 452});
  qt::SetOuterMinimumSize(this, {300, 315});
  panel_ = new iopanel::IoPanel(ctx_.status, ctx_.settings, ctx_.texts, this);
  setCentralWidget(panel_);
  BuildMenu();
  connect(heartbeat_timer_, &QTimer::timeout, this, &MainWindow::OnHeartbeatTick);
}

MainWindow::~MainWindow() {
  // Never leave a thread waiting for this window.
  if (!closed_) CloseSequence();
  ReapDisplayThreads();
}

void MainWindow::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("Menu1");
  settings_menu_ = bar->addMenu(QString::fromUtf8(" &Nastavení parametrů "));
  settings_menu_->setObjectName("Nast_para");
  connect(settings_menu_, &QMenu::aboutToShow, this, &MainWindow::OnSettingsMenuOpened);
  language_action_ =
      settings_menu_->addAction(QString::fromUtf8("&Jazyk"), this, &MainWindow::ShowLanguageDialog);
  constants_action_ = settings_menu_->addAction(QString::fromUtf8("K&onstanty"), this,
                                                &MainWindow::ShowConstantsDialog);
  settings_menu_->addSeparator()->setObjectName("N1");
  port_action_ = settings_menu_->addAction(QString::fromUtf8("&Komunikace"), this,
                                           &MainWindow::ShowPortDialog);
  printer_action_ = settings_menu_->addAction(QString::fromUtf8("&Tiskárna"), this,
                                              &MainWindow::ShowPrinterDialog);

  test_action_ = bar->addAction(QString::fromUtf8(" &T e s t "), this, &MainWindow::StartIoDisplay);
  test_action_->setObjectName("Mereni");

  service_menu_ = bar->addMenu(QString::fromUtf8(" &Servis "));
  service_menu_->setObjectName("Servis");
  connect(service_menu_, &QMenu::aboutToShow, this, &MainWindow::OnServiceMenuOpened);
  comm_test_action_ = service_menu_->addAction(QString::fromUtf8("Test &komunikace"), this,
                                               &MainWindow::ShowCommTest);
  lighting_test_action_ = service_menu_->addAction(QString::fromUtf8("&Osvětlení"), this,
                                                   &MainWindow::ShowLightingTest);

  help_menu_ = bar->addMenu(QString::fromUtf8(" Ná&pověda "));
  help_menu_->setObjectName("Napoveda");
  help_action_ = help_menu_->addAction(QString::fromUtf8("&Test v/v"), this, &MainWindow::ShowHelp);
  about_action_ =
      help_menu_->addAction(QString::fromUtf8("&O programu"), this, &MainWindow::ShowAbout);

  exit_action_ = bar->addAction(QString::fromUtf8(" &Konec "), this, &MainWindow::OnExitChosen);
  exit_action_->setObjectName("Konec");

  language_action_->setObjectName("Nast_jaz");
  constants_action_->setObjectName("Nast_konst");
  port_action_->setObjectName("Nast_kom");
  printer_action_->setObjectName("Nast_tisk");
  comm_test_action_->setObjectName("Test_kom");
  lighting_test_action_->setObjectName("Test_jas");
  help_action_->setObjectName("Help");
  about_action_->setObjectName("Oprogramu");
}

void MainWindow::RecaptionMenu() {
  const config::TextTable& t = ctx_.texts;
  namespace text = config::text;
  settings_menu_->setTitle(qt::FromCp1250(t.Get(text::kMenuSettings)));
  test_action_->setText(qt::FromCp1250(t.Get(text::kMenuTest)));
  service_menu_->setTitle(qt::FromCp1250(t.Get(text::kMenuService)));
  help_menu_->setTitle(qt::FromCp1250(t.Get(text::kMenuHelp)));
  exit_action_->setText(qt::FromCp1250(t.Get(text::kMenuExit)));
  language_action_->setText(qt::FromCp1250(t.Get(text::kMenuLanguage)));
  constants_action_->setText(qt::FromCp1250(t.Get(text::kMenuConstants)));
  port_action_->setText(qt::FromCp1250(t.Get(text::kMenuPort)));
  printer_action_->setText(qt::FromCp1250(t.Get(text::kMenuPrinter)));
  comm_test_action_->setText(qt::FromCp1250(t.Get(text::kMenuCommTest)));
  lighting_test_action_->setText(qt::FromCp1250(t.Get(text::kMenuLightingTest)));
  help_action_->setText(qt::FromCp1250(t.Get(text::kMenuDocumentation)));
  about_action_->setText(qt::FromCp1250(t.Get(text::kMenuAbout)));
}

void MainWindow::StartUp() {
  setWindowTitle(qt::FromCp1250(ctx_.texts.TitleText()));
  ctx_.module.Derive(ctx_.exe_path.empty() ? config::ModulePath::PlatformExecutablePath()
                                           : ctx_.exe_path);
  ctx_.module.UseSettingsFolder(
      config::SettingsFolderFor(ctx_.module, config::ModulePath::PlatformUserConfigFolder()));
  config::LoadSettings(ctx_.module, ctx_.settings);
  ctx_.PublishAdMode();
  ctx_.status.ClearIoBytes();
  ctx_.status.flags.OutputsChanged.store(1);
  heartbeat_timer_->setInterval(55);
  heartbeat_timer_->start();
  if (ctx_.texts.LoadTexts(ctx_.module, ctx_.settings.record.Language) ==
      config::TextTable::LoadResult::kLoaded) {
    RecaptionMenu();
  }
  panel_->LayoutIoPanel(this);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QMargins m = qt::FrameMargins(this);
    QRect r(QPoint(), size().grownBy(m));
    r.moveCenter(screen->availableGeometry().center());
    qt::PlaceFrame(this, r.topLeft());
  }
  show();
  MakePort();
  if (!Ending()) ctx_.port->OpenPort();
  if (Ending()) return;  // a termination signal arrived during a message box
  StartIoDisplay();
}

void MainWindow::CreateChildWindows() {
  MakePort();
  link::PortConnection& port = *ctx_.port;
  windows_.language = new dialogs::LanguageDialog(
      ctx_.settings, ctx_.module, ctx_.texts, this, [this] { RecaptionMenu(); }, this);
  windows_.constants =
      new dialogs::ConstantsDialog(ctx_.settings, ctx_.texts, ctx_.status, this, this);
  windows_.port = new dialogs::PortDialog(
      ctx_.settings, ctx_.texts, this,
      [this, &port] {
        port.ClosePort();
        if (!Ending()) port.OpenPort();
      },
      this);
  windows_.comm_test = new service::CommTestWindow(ctx_.status, ctx_.texts, port, this);
  auto* help = new info::HelpViewer(ctx_.settings, ctx_.module, ctx_.texts, this);
  windows_.help = help;
  windows_.help_failed = [help] { return help->LoadFailed(); };
  windows_.about = new info::AboutWindow(ctx_.texts, this);
  windows_.lighting = new service::LightingTestWindow(ctx_.settings, ctx_.module, ctx_.texts,
                                                      ctx_.status, port, this);
}

void MainWindow::MakePort() {
  if (ctx_.port) return;
  if (!ctx_.device) ctx_.device = serial::MakePlatformSerialDevice();
  link::PortConnection::Deps deps{
      *ctx_.device,
      ctx_.status,
      ctx_.settings.record,
      ctx_.texts,
      ctx_.module.Folder(),
      [this](const std::string& caption, const std::string& text, const std::string& details) {
        // Only an OK button and no icon; start-up goes on once it is
        // shut.
        QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption),
                        QString::fromStdString(text), QMessageBox::Ok, this);
        if (!details.empty()) {
          box.setDetailedText(QString::fromStdString(details));
        }
        box.exec();
      },
      ctx_.line_events};
  ctx_.port = std::make_unique<link::PortConnection>(std::move(deps));
}

void MainWindow::StartDisplay() {
  if (ctx_.status.flags.IoDisplayActive.load() != 0 || Ending()) return;
  ReapDisplayThreads();
  if (display_thread_) retired_threads_.push_back(std::move(display_thread_));
  // Once the display has enabled the boxes, the last output used takes the
  // focus, so the outputs can be switched from the keyboard at once.
  focus_pending_ = true;
  // The flag is raised here as well as by the thread, so that a second
  // start before the thread has run cannot create a second one.
  ctx_.status.flags.IoDisplayActive.store(1);
  display_thread_ =
      std::make_unique<iopanel::IoRefreshThread>(invoker_, ctx_.status, DisplaySteps());
  display_thread_->Start();
  ++threads_started_;
}

iopanel::IoPanelSteps MainWindow::DisplaySteps() {
  iopanel::IoPanelSteps steps;
  steps.refresh = [this] { RefreshDisplay(); };
  steps.pack_outputs = [this] { panel_->PackOutputs(); };
  steps.show_inputs = [this] { panel_->ShowInputs(); };
  return steps;
}

void MainWindow::RefreshDisplay() {
  panel_->RefreshIoPanel(false);
  if (focus_pending_ && ctx_.status.flags.IoDisplayActive.load() != 0) {
    focus_pending_ = false;
    panel_->FocusLastOutput();
  }
}

void MainWindow::StopDisplay() {
  if (ctx_.status.flags.IoDisplayActive.load() != 0 && display_thread_)
    display_thread_->Terminate();
}

void MainWindow::ReapDisplayThreads() {
  // A thread that has left its loop may still be handing its last refresh
  // to us; keep processing events until it is done.
  for (auto& t : retired_threads_) EndDisplayThread(*t);
  retired_threads_.clear();
  if (display_thread_ && (closed_ || display_thread_->Finished())) {
    EndDisplayThread(*display_thread_);
    display_thread_.reset();
  }
}

void MainWindow::EndDisplayThread(iopanel::IoRefreshThread& thread) {
  thread.Terminate();
  PumpUntil([&thread] { return thread.Finished(); });
  thread.Join();
}

void MainWindow::OnSettingsMenuOpened() {
  ctx_.settings.SettingsDirty = true;
  StopDisplay();
}

void MainWindow::OnServiceMenuOpened() {
  ctx_.settings.SettingsDirty = true;
  StopDisplay();
}

void MainWindow::StartIoDisplay() {
  if (Ending()) return;
  if (ctx_.settings.SettingsDirty) {
    config::SaveSettings(ctx_.module, ctx_.settings.record);
    ctx_.settings.SettingsDirty = false;
  }
  StartDisplay();
}

void MainWindow::ShowModal(QDialog* d) {
  if (d == nullptr || Ending()) return;
  d->exec();
}

void MainWindow::ShowLanguageDialog() {
  ShowModal(windows_.language);
  if (!Ending()) panel_->RefreshIoPanel(true);
}

void MainWindow::ShowConstantsDialog() {
  ShowModal(windows_.constants);
  ctx_.PublishAdMode();
  if (!Ending()) panel_->RefreshIoPanel(false);
}

void MainWindow::ShowPortDialog() {
  ShowModal(windows_.port);
}

void MainWindow::ShowPrinterDialog() {
  if (Ending()) return;
  QPrinter printer;
  QPrintDialog dialog(&printer, this);
  dialog.exec();  // the choice is not used further
}

void MainWindow::ShowCommTest() {
  ShowModal(windows_.comm_test);
}
void MainWindow::ShowLightingTest() {
  ShowModal(windows_.lighting);
}
void MainWindow::ShowAbout() {
  ShowModal(windows_.about);
}

void MainWindow::ShowHelp() {
  if (windows_.help == nullptr || Ending()) return;
  windows_.help->show();
  if (windows_.help_failed && windows_.help_failed()) windows_.help->close();
}

void MainWindow::OnExitChosen() {
  CloseSequence();
  QCoreApplication::exit(0);
}

void MainWindow::OnHeartbeatTick() {
  if (ctx_.status.flags.IoDisplayActive.load() != 0 && display_thread_ &&
      display_thread_->Suspended()) {
    display_thread_->Resume();
  }
  heartbeat_.Age(ctx_.status.LightingSendCountdown, ctx_.status.WheelCountdown);
  if (ctx_.port) {
    // A line that hung up comes back by itself only while the panel is live
    // and nothing else is open: a dialog or service window suspends it.
    const bool may_act = ctx_.status.flags.IoDisplayActive.load() != 0 && !Ending() &&
                         QApplication::activeModalWidget() == nullptr &&
                         QApplication::activePopupWidget() == nullptr;
    ctx_.port->KeepLineUp(link::LineClock::now(), may_act, [this] { panel_->SwitchOutputsOff(); });
  }
  panel_->ShowLineSilent(ctx_.port && ctx_.port->InputsStale());
  if (!retired_threads_.empty() || (display_thread_ && display_thread_->Finished()))
    ReapDisplayThreads();
}

void MainWindow::RequestClose() {
  if (close_requested_) return;
  close_requested_ = true;
  if (ctx_.port) ctx_.port->StopOpening();
  EndModalWindows();
}

void MainWindow::EndModalWindows() {
  // A test window that still owns the port ends its worker and hands the port
  // back to the link before it goes. Each window's own event loop returns
  // only once this handler has; the bound keeps a window that will not go
  // from holding the close up.
  for (int round = 0; round < 32; ++round) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) modal = QApplication::activePopupWidget();
    if (modal == nullptr) break;
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    } else {
      modal->close();
    }
    // Still there (already on its way out further up the stack): hidden, its
    // event loop ends too.
    if (QApplication::activeModalWidget() == modal || QApplication::activePopupWidget() == modal) {
      modal->hide();
    }
  }
}

void MainWindow::CloseSequence() {
  if (closing_) return;
  closing_ = true;
  EndModalWindows();
  for (QDialog* d : {windows_.comm_test, windows_.lighting, windows_.port, windows_.constants,
                     windows_.language, windows_.about}) {
    if (d != nullptr && d->isVisible()) d->reject();
  }
  if (windows_.help != nullptr) windows_.help->close();
  CloseSteps steps;
  steps.request_display_stop = [this] { StopDisplay(); };
  steps.resume_display = [this] {
    if (display_thread_) display_thread_->Resume();
  };
  steps.pump_once = &PumpOnce;
  steps.pump_for = &PumpFor;
  steps.pump_until = &PumpUntil;
  steps.save_settings = [this] { config::SaveSettings(ctx_.module, ctx_.settings.record); };
  steps.close_port = [this] {
    if (ctx_.port) ctx_.port->ClosePort();
  };
  if (ctx_.port) ctx_.port->Watch().Closing();
  RunCloseSequence(ctx_.status, steps);
  heartbeat_timer_->stop();
  closed_ = true;
  ReapDisplayThreads();
}

void MainWindow::CloseNow() {
  RequestClose();
  if (!closing_) {
    CloseSequence();
  } else if (!closed_) {
    ctx_.status.ClearIoBytes();
    ctx_.status.flags.OutputsChanged.store(1);
    PumpFor(kNestedCloseOffers);
    config::SaveSettings(ctx_.module, ctx_.settings.record);
  }
  QCoreApplication::exit(0);
}

void MainWindow::SwitchOffForStop() {
  for (QDialog* d : {windows_.comm_test, windows_.lighting}) {
    if (d != nullptr && d->isVisible()) d->reject();
  }
  panel_->SwitchOutputsOff();
  ctx_.status.OutputBytes.Clear();
  ctx_.status.flags.OutputsChanged.store(1);
  if (ctx_.port) ctx_.port->AwaitOutputsOnLine(kStopSwitchOffLimit);
}

#if defined(Q_OS_WIN)
bool MainWindow::nativeEvent(const QByteArray& type, void* message, qintptr* result) {
  const auto* msg = static_cast<const MSG*>(message);
  // Windows ends the process once the message is answered.
  if (msg->message == WM_ENDSESSION && msg->wParam != FALSE) CloseNow();
  return QMainWindow::nativeEvent(type, message, result);
}
#endif

void MainWindow::closeEvent(QCloseEvent* e) {
  CloseSequence();
  e->accept();  // the close is never refused
  QCoreApplication::exit(0);
}

}  // namespace m32::app
