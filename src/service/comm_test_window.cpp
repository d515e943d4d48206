#include "service/comm_test_window.h"

#include <QCheckBox>
#include <QColor>
#include <QEvent>
#include <QFocusEvent>
#include <QFont>
#include <QFontMetrics>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPalette>
#include <QShowEvent>
#include <QString>

#include "qt/window_frame.h"
#include "qt/window_support.h"

namespace m32 {
namespace {

constexpr int kTextGroup = 9;  // caption, send box, receive box

QFont BoldBoxFont() {
  QFont font;
  font.setPixelSize(13);
  font.setBold(true);
  return font;
}

// A fixed-pitch font in which the whole receive line fits a field of the
// given width, the field's own borders and margins taken off.
QFont ReceiveLineFont(int field_width) {
  constexpr int kFieldMargins = 8;
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  const QString line(static_cast<qsizetype>(service::kReceiveLineChars), QLatin1Char('0'));
  for (int px = 13; px > 6; --px) {
    font.setPixelSize(px);
    if (QFontMetrics(font).horizontalAdvance(line) <= field_width - kFieldMargins) break;
  }
  return font;
}

}  // namespace

TWtstkom::TWtstkom(SharedStatus& status, const config::TextTable& texts, link::PortConnection& port,
                   QWidget* main_window)
    : QDialog(main_window, qt::kToolWindowFlags),
      status_(status),
      texts_(texts),
      port_(port),
      main_window_(main_window),
      invoker_(this),
      hand_over_(port) {
  setObjectName(QStringLiteral("TWtstkom"));
  setWindowTitle(qt::FromCp1250(texts_.Get(kTextGroup, 0)));
  setModal(true);
  setFixedSize(625, 142);
  setAutoFillBackground(true);
  QPalette lime = palette();
  lime.setColor(QPalette::Window, qt::kLime);
  setPalette(lime);

  WBox = new QCheckBox(this);
  WBox->setObjectName(QStringLiteral("WBox"));
  WBox->setGeometry(16, 13, 121, 17);
  WBox->setFont(BoldBoxFont());

  WEdit = new QLineEdit(this);
  WEdit->setObjectName(QStringLiteral("WEdit"));
  WEdit->setGeometry(16, 40, 593, 21);
  WEdit->setMaxLength(32767);  // the most a line edit takes: no limit of its own

  RBox = new QCheckBox(this);
  RBox->setObjectName(QStringLiteral("RBox"));
  RBox->setGeometry(16, 77, 121, 17);
  RBox->setFont(BoldBoxFont());

  REdit = new QLineEdit(this);
  REdit->setObjectName(QStringLiteral("REdit"));
  REdit->setGeometry(16, 104, 593, 21);
  REdit->setReadOnly(true);
  REdit->setFont(ReceiveLineFont(REdit->width()));
  REdit->setFocusPolicy(Qt::ClickFocus);  // not a tab stop

  setTabOrder(WBox, WEdit);
  setTabOrder(WEdit, RBox);

  for (QWidget* w :
       {static_cast<QWidget*>(WBox), static_cast<QWidget*>(WEdit), static_cast<QWidget*>(RBox)}) {
    w->installEventFilter(this);
  }
  // RBoxClick and WEditChange have no effect of their own: the refresh step
  // reads the box and the field each time.
  connect(WBox, &QCheckBox::clicked, this, [this] { WBoxClick(); });

  line_timer_.setSingleShot(true);
  connect(&line_timer_, &QTimer::timeout, this, [this] { FlushReceiveLine(); });
}

TWtstkom::~TWtstkom() {
  // Never leave the worker waiting for a window that is gone. The link is
  // left to its owner, who stops it when the port closes.
  StopWorker();
}

void TWtstkom::FormActivate() {
  if (active_) return;
  active_ = true;
  qt::PlaceBeside(this, main_window_);
  WEdit->setFocus();
  test_.Activate();
  setWindowTitle(qt::FromCp1250(texts_.Get(kTextGroup, 0)));
  WBox->setText(qt::FromCp1250(texts_.Get(kTextGroup, 1)));
  RBox->setText(qt::FromCp1250(texts_.Get(kTextGroup, 2)));
  WBox->setChecked(false);
  RBox->setChecked(false);
  REdit->clear();
  line_timer_.stop();
  line_shown_.clear();
  line_painted_.invalidate();
  unread_left_.store(false);

  // The link parks between two of its steps; the worker waits for that
  // before it touches the port.
  if (status_.flags.LinkRunning.load() != 0 || port_.Link() != nullptr) hand_over_.Take();
  StopWorker();  // a worker of an earlier opening is long gone; be sure
  test_.StartWorker();
  worker_ = std::make_unique<service::CommWorker>(
      invoker_, port_.Device(), [this] { RefreshStep(); }, [this] { return unread_left_.load(); });
  worker_->SetTakeOver([this] { hand_over_.WaitForLink(); });
  worker_->Start();
}

void TWtstkom::FormDeactivate() {
  if (!active_) return;
  active_ = false;
  // The worker purges the port on its way out; only then may the link have it back.
  StopWorker();
  hand_over_.Give();
  if (line_timer_.isActive()) FlushReceiveLine();  // the state after the last step
}

void TWtstkom::StopWorker() {
  if (!worker_) return;
  worker_->Terminate();
  // It may be waiting for this thread to run its step: keep the events going.
  PumpUntil([this] { return worker_->Finished(); });
  worker_->Join();
  worker_.reset();
}

void TWtstkom::WBoxClick() {
  if (const auto text = test_.SendBoxClick(WBox->isChecked(), SendFieldText())) {
    ShowSendText(*text);
  }
}

bool TWtstkom::WBoxKeyPress(QObject* control, int key) {
  if (key == Qt::Key_Escape) {
    close();
    return true;
  }
  if (!qt::IsEnter(key)) return false;
  if (control == WBox) {
    WBox->toggle();
    WBoxClick();
  } else if (control == WEdit) {
    WBoxClick();
  } else if (control == RBox) {
    RBox->toggle();
  } else {
    return false;
  }
  return true;
}

void TWtstkom::RefreshStep() {
  const bool send = WBox->isChecked();
  // The field is read only when the step parses it.
  service::CommView view =
      test_.Step(port_.Device(), send, RBox->isChecked(), send ? SendFieldText() : std::string());
  unread_left_.store(view.unread_left);
  if (view.receive_line) ShowReceiveLine(std::move(*view.receive_line));
  if (view.send_text) ShowSendText(*view.send_text);
}

void TWtstkom::ShowReceiveLine(std::string line) {
  line_pending_ = std::move(line);
  if (line_timer_.isActive()) return;  // painted when the frame is over
  const auto since = line_painted_.isValid() ? line_painted_.elapsed() : kLineFrame.count();
  if (since >= kLineFrame.count()) {
    FlushReceiveLine();
  } else {
    line_timer_.start(static_cast<int>(kLineFrame.count() - since));
  }
}

void TWtstkom::FlushReceiveLine() {
  line_timer_.stop();
  line_painted_.start();
  if (line_pending_ == line_shown_) return;  // nothing changed: no repaint
  line_shown_ = line_pending_;
  REdit->setText(
      QString::fromLatin1(line_shown_.data(), static_cast<qsizetype>(line_shown_.size())));
  REdit->setCursorPosition(0);  // shown from slot 0, the marker in view
}

std::string TWtstkom::SendFieldText() const {
  return config::Utf8ToCp1250(WEdit->text().toStdString());
}

void TWtstkom::ShowSendText(const std::string& cp1250) {
  // A field without any usable pair keeps its own text (cut to what the
  // parser reads), also where a character has no Windows-1250 form.
  const QString text = test_.Send().count == 0
                           ? WEdit->text().left(static_cast<int>(service::kSendFieldChars))
                           : qt::FromCp1250(cp1250);
  if (WEdit->text() != text) WEdit->setText(text);
}

void TWtstkom::done(int result) {
  if (deactivating_) return;  // a second close while the first still waits
  deactivating_ = true;
  FormDeactivate();
  deactivating_ = false;
  QDialog::done(result);
}

void TWtstkom::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormActivate();
}

void TWtstkom::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  // Closing goes through done(); this catches a plain hide().
  if (!event->spontaneous() && !deactivating_) FormDeactivate();
}

bool TWtstkom::eventFilter(QObject* watched, QEvent* event) {
  if (watched == WBox || watched == WEdit || watched == RBox) {
    if (event->type() == QEvent::KeyPress &&
        WBoxKeyPress(watched, static_cast<QKeyEvent*>(event)->key())) {
      return true;
    }
    if (watched == WEdit && event->type() == QEvent::FocusOut && active_) {
      // Leaving the field, not the window going to the background.
      if (qt::IsTechniciansFocusChange(static_cast<QFocusEvent*>(event)->reason())) WBoxClick();
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace m32
