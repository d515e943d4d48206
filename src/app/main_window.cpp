#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QResizeEvent>
#include <QScreen>

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

namespace m32 {

TWmenu::TWmenu(AppContext& ctx, QWidget* parent)
    : QMainWindow(parent), ctx_(ctx), invoker_(this), timer1_(new QTimer(this)) {
  setObjectName("TWmenu");
  // The sizes are the outer ones, frame included.
  qt::SetOuterSize(this, {420, 452});
  qt::SetOuterMinimumSize(this, {300, 315});
  panel_ = new iopanel::IoPanel(ctx_.status, ctx_.settings, ctx_.texts, this);
  setCentralWidget(panel_);
  BuildMenu();
  connect(timer1_, &QTimer::timeout, this, &TWmenu::Timer1Timer);
}

TWmenu::~TWmenu() {
  // Never leave a thread waiting for this window.
  if (!closed_) CloseSequence();
  ReapDisplayThreads();
}

void TWmenu::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("Menu1");
  nast_para_ = bar->addMenu(QString::fromUtf8(" &Nastavení parametrů "));
  nast_para_->setObjectName("Nast_para");
  connect(nast_para_, &QMenu::aboutToShow, this, &TWmenu::Nast_paraClick);
  nast_jaz_ = nast_para_->addAction(QString::fromUtf8("&Jazyk"), this, &TWmenu::Nast_jazClick);
  nast_konst_ =
      nast_para_->addAction(QString::fromUtf8("K&onstanty"), this, &TWmenu::Nast_konstClick);
  nast_para_->addSeparator()->setObjectName("N1");
  nast_kom_ = nast_para_->addAction(QString::fromUtf8("&Komunikace"), this, &TWmenu::Nast_komClick);
  nast_tisk_ = nast_para_->addAction(QString::fromUtf8("&Tiskárna"), this, &TWmenu::Nast_tiskClick);

  mereni_ = bar->addAction(QString::fromUtf8(" &T e s t "), this, &TWmenu::MereniClick);
  mereni_->setObjectName("Mereni");

  servis_ = bar->addMenu(QString::fromUtf8(" &Servis "));
  servis_->setObjectName("Servis");
  connect(servis_, &QMenu::aboutToShow, this, &TWmenu::ServisClick);
  test_kom_ =
      servis_->addAction(QString::fromUtf8("Test &komunikace"), this, &TWmenu::Test_komClick);
  test_jas_ = servis_->addAction(QString::fromUtf8("&Osvětlení"), this, &TWmenu::Test_jasClick);

  napoveda_ = bar->addMenu(QString::fromUtf8(" Ná&pověda "));
  napoveda_->setObjectName("Napoveda");
  help_ = napoveda_->addAction(QString::fromUtf8("&Test v/v"), this, &TWmenu::HelpClick);
  oprogramu_ =
      napoveda_->addAction(QString::fromUtf8("&O programu"), this, &TWmenu::OprogramuClick);

  konec_ = bar->addAction(QString::fromUtf8(" &Konec "), this, &TWmenu::KonecClick);
  konec_->setObjectName("Konec");

  nast_jaz_->setObjectName("Nast_jaz");
  nast_konst_->setObjectName("Nast_konst");
  nast_kom_->setObjectName("Nast_kom");
  nast_tisk_->setObjectName("Nast_tisk");
  test_kom_->setObjectName("Test_kom");
  test_jas_->setObjectName("Test_jas");
  help_->setObjectName("Help");
  oprogramu_->setObjectName("Oprogramu");
}

void TWmenu::RecaptionMenu() {
  const config::TextTable& t = ctx_.texts;
  nast_para_->setTitle(qt::FromCp1250(t.Get(1, 0)));
  mereni_->setText(qt::FromCp1250(t.Get(1, 1)));
  servis_->setTitle(qt::FromCp1250(t.Get(1, 2)));
  napoveda_->setTitle(qt::FromCp1250(t.Get(1, 3)));
  konec_->setText(qt::FromCp1250(t.Get(1, 4)));
  nast_jaz_->setText(qt::FromCp1250(t.Get(2, 0)));
  nast_konst_->setText(qt::FromCp1250(t.Get(2, 1)));
  nast_kom_->setText(qt::FromCp1250(t.Get(2, 2)));
  nast_tisk_->setText(qt::FromCp1250(t.Get(2, 3)));
  test_kom_->setText(qt::FromCp1250(t.Get(3, 0)));
  test_jas_->setText(qt::FromCp1250(t.Get(3, 1)));
  help_->setText(qt::FromCp1250(t.Get(4, 0)));
  oprogramu_->setText(qt::FromCp1250(t.Get(4, 1)));
}

void TWmenu::FormCreate() {
  setWindowTitle(qt::FromCp1250(ctx_.texts.TitleText()));
  ctx_.module.Derive(ctx_.exe_path.empty() ? config::ModulePath::PlatformExecutablePath()
                                           : ctx_.exe_path);
  config::LoadSettings(ctx_.module, ctx_.settings);
  ctx_.status.ClearIoBytes();
  ctx_.status.flags.OutputsChanged.store(1);
  timer1_->setInterval(55);
  timer1_->start();
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
  MereniClick();
}

void TWmenu::CreateChildWindows() {
  MakePort();
  link::PortConnection& port = *ctx_.port;
  windows_.jazyk = new dialogs::LanguageDialog(
      ctx_.settings, ctx_.module, ctx_.texts, this, [this] { RecaptionMenu(); }, this);
  windows_.konst = new dialogs::ConstantsDialog(ctx_.settings, ctx_.texts, ctx_.status, this, this);
  windows_.komunikace = new dialogs::PortDialog(
      ctx_.settings, ctx_.texts, this,
      [this, &port] {
        port.ClosePort();
        if (!Ending()) port.OpenPort();
      },
      this);
  windows_.tstkom = new service::CommTestWindow(ctx_.status, ctx_.texts, port, this);
  auto* help = new TWhelp(ctx_.settings, ctx_.module, ctx_.texts, this);
  windows_.help = help;
  windows_.help_failed = [help] { return help->failed(); };
  windows_.oprog = new TWoprog(ctx_.texts, this);
  windows_.jas = new service::LightingTestWindow(ctx_.settings, ctx_.module, ctx_.texts,
                                                 ctx_.status, port, this);
}

void TWmenu::MakePort() {
  if (ctx_.port) return;
  if (!ctx_.device) ctx_.device = serial::MakePlatformSerialDevice();
  link::PortConnection::Deps deps{*ctx_.device,
                                  invoker_,
                                  ctx_.status,
                                  ctx_.settings.record,
                                  ctx_.texts,
                                  ctx_.module.Folder(),
                                  [this](const std::string& caption, const std::string& text) {
                                    // Only an OK button and no icon; start-up goes on once it is
                                    // shut.
                                    QMessageBox box(
                                        QMessageBox::NoIcon, QString::fromStdString(caption),
                                        QString::fromStdString(text), QMessageBox::Ok, this);
                                    box.exec();
                                  },
                                  &PumpOnce};
  ctx_.port = std::make_unique<link::PortConnection>(std::move(deps));
}

void TWmenu::StartDisplay() {
  if (ctx_.status.flags.IoDisplayActive.load() != 0 || Ending()) return;
  ReapDisplayThreads();
  if (io_thread_) retired_.push_back(std::move(io_thread_));
  // Once the display has enabled the boxes, the last output used takes the
  // focus, so the outputs can be switched from the keyboard at once.
  focus_pending_ = true;
  iopanel::IoPanelSteps steps;
  steps.refresh = [this] {
    panel_->RefreshIoPanel(false);
    if (focus_pending_ && ctx_.status.flags.IoDisplayActive.load() != 0) {
      focus_pending_ = false;
      panel_->FocusLastOutput();
    }
  };
  steps.pack_outputs = [this] { panel_->PackOutputs(); };
  steps.show_inputs = [this] { panel_->ShowInputs(); };
  // The flag is raised here as well as by the thread, so that a second
  // start before the thread has run cannot create a second one.
  ctx_.status.flags.IoDisplayActive.store(1);
  io_thread_ = std::make_unique<iopanel::TZobr_io>(invoker_, ctx_.status, std::move(steps));
  io_thread_->Start();
  ++threads_started_;
}

void TWmenu::StopDisplay() {
  if (ctx_.status.flags.IoDisplayActive.load() != 0 && io_thread_) io_thread_->Terminate();
}

void TWmenu::ReapDisplayThreads() {
  // A thread that has left its loop may still be handing its last refresh
  // to us; keep processing events until it is done.
  for (auto& t : retired_) {
    t->Terminate();
    PumpUntil([&t] { return t->Finished(); });
    t->Join();
  }
  retired_.clear();
  if (io_thread_ && (closed_ || io_thread_->Finished())) {
    io_thread_->Terminate();
    PumpUntil([this] { return io_thread_->Finished(); });
    io_thread_->Join();
    io_thread_.reset();
  }
}

void TWmenu::Nast_paraClick() {
  ctx_.settings.SettingsDirty = true;
  StopDisplay();
}

void TWmenu::ServisClick() {
  ctx_.settings.SettingsDirty = true;
  StopDisplay();
}

void TWmenu::MereniClick() {
  if (Ending()) return;
  if (ctx_.settings.SettingsDirty) {
    config::SaveSettings(ctx_.module, ctx_.settings.record);
    ctx_.settings.SettingsDirty = false;
  }
  StartDisplay();
}

void TWmenu::ShowModal(QDialog* d) {
  if (d == nullptr || Ending()) return;
  d->exec();
}

void TWmenu::Nast_jazClick() {
  ShowModal(windows_.jazyk);
  if (!Ending()) panel_->RefreshIoPanel(true);
}

void TWmenu::Nast_konstClick() {
  ShowModal(windows_.konst);
  if (!Ending()) panel_->RefreshIoPanel(false);
}

void TWmenu::Nast_komClick() {
  ShowModal(windows_.komunikace);
}

void TWmenu::Nast_tiskClick() {
  if (Ending()) return;
  QPrinter printer;
  QPrintDialog dialog(&printer, this);
  dialog.exec();  // the choice is not used further
}

void TWmenu::Test_komClick() {
  ShowModal(windows_.tstkom);
}
void TWmenu::Test_jasClick() {
  ShowModal(windows_.jas);
}
void TWmenu::OprogramuClick() {
  ShowModal(windows_.oprog);
}

void TWmenu::HelpClick() {
  if (windows_.help == nullptr || Ending()) return;
  windows_.help->show();
  if (windows_.help_failed && windows_.help_failed()) windows_.help->close();
}

void TWmenu::KonecClick() {
  CloseSequence();
  QCoreApplication::exit(0);
}

void TWmenu::Timer1Timer() {
  if (ctx_.status.flags.IoDisplayActive.load() != 0 && io_thread_ && io_thread_->Suspended()) {
    io_thread_->Resume();
  }
  heartbeat_.Age(ctx_.status.LightingSendCountdown, ctx_.status.WheelCountdown);
  if (!retired_.empty() || (io_thread_ && io_thread_->Finished())) ReapDisplayThreads();
}

void TWmenu::RequestClose() {
  if (close_requested_) return;
  close_requested_ = true;
  if (ctx_.port) ctx_.port->StopOpening();
  EndModalWindows();
}

void TWmenu::EndModalWindows() {
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

void TWmenu::CloseSequence() {
  if (closing_) return;
  closing_ = true;
  EndModalWindows();
  for (QDialog* d : {windows_.tstkom, windows_.jas, windows_.komunikace, windows_.konst,
                     windows_.jazyk, windows_.oprog}) {
    if (d != nullptr && d->isVisible()) d->reject();
  }
  if (windows_.help != nullptr) windows_.help->close();
  CloseSteps steps;
  steps.request_display_stop = [this] { StopDisplay(); };
  steps.resume_display = [this] {
    if (io_thread_) io_thread_->Resume();
  };
  steps.pump_once = &PumpOnce;
  steps.pump_for = &PumpFor;
  steps.pump_until = &PumpUntil;
  steps.save_settings = [this] { config::SaveSettings(ctx_.module, ctx_.settings.record); };
  steps.close_port = [this] {
    if (ctx_.port) ctx_.port->ClosePort();
  };
  steps.release_texts = [] {};
  RunCloseSequence(ctx_.status, steps);
  timer1_->stop();
  closed_ = true;
  ReapDisplayThreads();
}

void TWmenu::closeEvent(QCloseEvent* e) {
  CloseSequence();
  e->accept();  // the close is never refused
  QCoreApplication::exit(0);
}

void TWmenu::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  // The minimum size keeps the frame at least 300 x 315; this catches a size
  // forced past it.
  const QSize outer = size().grownBy(qt::FrameMargins(this));
  if (outer.height() < 315 || outer.width() < 300) {
    qt::SetOuterSize(this, outer.expandedTo(QSize(300, 315)));
  }
}

}  // namespace m32
