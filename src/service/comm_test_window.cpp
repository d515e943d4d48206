#include "service/comm_test_window.h"

#include <QCheckBox>
#include <QColor>
#include <QEvent>
#include <QFocusEvent>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPalette>
#include <QString>
#include <string_view>

#include "core/code_page.h"
#include "qt/window_frame.h"
#include "qt/window_support.h"

namespace m32::service {
namespace {

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
  QFont font = qt::FixedPitchFont(QStringLiteral("Courier New"));
  const QString line(static_cast<qsizetype>(kReceiveLineChars), QLatin1Char('0'));
  for (int px = 13; px > 6; --px) {
    font.setPixelSize(px);
    if (QFontMetrics(font).horizontalAdvance(line) <= field_width - kFieldMargins) break;
  }
  return font;
}

}  // namespace

CommTestWindow::CommTestWindow(SharedStatus& status, const config::TextTable& texts,
                               link::PortConnection& port, QWidget* main_window)
    : ServiceTestWindow(status, port, main_window, qt::kToolWindowFlags), texts_(texts) {
  setObjectName(QStringLiteral("TWtstkom"));
  setWindowTitle(qt::FromCp1250(texts_.Get(config::text::kCommTestCaption)));
  setFixedSize(625, 142);
  setAutoFillBackground(true);
  QPalette lime = palette();
  lime.setColor(QPalette::Window, qt::kLime);
  setPalette(lime);

  send_box_ = new QCheckBox(this);
  send_box_->setObjectName(QStringLiteral("WBox"));
  send_box_->setGeometry(16, 13, 121, 17);
  send_box_->setFont(BoldBoxFont());

  send_field_ = new QLineEdit(this);
  send_field_->setObjectName(QStringLiteral("WEdit"));
  send_field_->setGeometry(16, 40, 593, 21);
  send_field_->setMaxLength(32767);  // the most a line edit takes: no limit of its own

  receive_box_ = new QCheckBox(this);
  receive_box_->setObjectName(QStringLiteral("RBox"));
  receive_box_->setGeometry(16, 77, 121, 17);
  receive_box_->setFont(BoldBoxFont());

  receive_line_ = new QLineEdit(this);
  receive_line_->setObjectName(QStringLiteral("REdit"));
  receive_line_->setGeometry(16, 104, 593, 21);
  receive_line_->setReadOnly(true);
  receive_line_->setFont(ReceiveLineFont(receive_line_->width()));
  receive_line_->setFocusPolicy(Qt::ClickFocus);  // not a tab stop

  setTabOrder(send_box_, send_field_);
  setTabOrder(send_field_, receive_box_);

  for (QWidget* w : {static_cast<QWidget*>(send_box_), static_cast<QWidget*>(send_field_),
                     static_cast<QWidget*>(receive_box_)}) {
    w->installEventFilter(this);
  }
  // Ticking the receive box and editing the send field have no effect of
  // their own: the refresh step reads the box and the field each time.
  connect(send_box_, &QCheckBox::clicked, this, [this] { OnSendBoxClicked(); });
  connect(send_field_, &QLineEdit::textChanged, this, [this] { send_text_stale_ = true; });

  line_timer_.setSingleShot(true);
  connect(&line_timer_, &QTimer::timeout, this, [this] { FlushReceiveLine(); });
}

CommTestWindow::~CommTestWindow() {
  // Its steps use this window's members: end it while they are here.
  StopWorker();
}

void CommTestWindow::OnActivate() {
  qt::PlaceBeside(this, MainWindow());
  send_field_->setFocus();
  test_.Activate();
  setWindowTitle(qt::FromCp1250(texts_.Get(config::text::kCommTestCaption)));
  send_box_->setText(qt::FromCp1250(texts_.Get(config::text::kCommTestSend)));
  receive_box_->setText(qt::FromCp1250(texts_.Get(config::text::kCommTestReceive)));
  send_box_->setChecked(false);
  receive_box_->setChecked(false);
  receive_line_->clear();
  line_timer_.stop();
  line_shown_.clear();
  line_painted_.invalidate();
  unread_.store(0);
}

std::unique_ptr<PortStepWorker> CommTestWindow::MakeWorker() {
  test_.StartWorker();
  return std::make_unique<CommWorker>(
      Invoker(), Port().Device(), [this] { RefreshStep(); }, [this] { return unread_.load(); });
}

void CommTestWindow::OnDeactivate() {
  if (line_timer_.isActive()) FlushReceiveLine();  // the state after the last step
}

void CommTestWindow::OnSendBoxClicked() {
  if (const auto text = test_.SendBoxClick(send_box_->isChecked(), SendFieldText())) {
    ShowSendText(*text);
  }
}

bool CommTestWindow::OnControlKey(QObject* control, int key) {
  if (key == Qt::Key_Escape) {
    close();
    return true;
  }
  if (!qt::IsEnter(key)) return false;
  if (control == send_box_) {
    send_box_->toggle();
    OnSendBoxClicked();
  } else if (control == send_field_) {
    OnSendBoxClicked();
  } else if (control == receive_box_) {
    receive_box_->toggle();
  } else {
    return false;
  }
  return true;
}

void CommTestWindow::RefreshStep() {
  const bool send = send_box_->isChecked();
  // The field is read only when the step parses it.
  CommView view = test_.Step(Port().Device(), send, receive_box_->isChecked(),
                             send ? std::string_view(SendFieldText()) : std::string_view());
  unread_.store(view.unread);
  if (view.receive_line) ShowReceiveLine(std::move(*view.receive_line));
  if (view.send_text) ShowSendText(*view.send_text);
}

void CommTestWindow::ShowReceiveLine(std::string line) {
  line_pending_ = std::move(line);
  if (line_timer_.isActive()) return;  // painted when the frame is over
  const auto since = line_painted_.isValid() ? line_painted_.elapsed() : kLineFrame.count();
  if (since >= kLineFrame.count()) {
    FlushReceiveLine();
  } else {
    line_timer_.start(static_cast<int>(kLineFrame.count() - since));
  }
}

void CommTestWindow::FlushReceiveLine() {
  line_timer_.stop();
  line_painted_.start();
  if (line_pending_ == line_shown_) return;  // nothing changed: no repaint
  line_shown_ = line_pending_;
  receive_line_->setText(
      QString::fromLatin1(line_shown_.data(), static_cast<qsizetype>(line_shown_.size())));
  receive_line_->setCursorPosition(0);  // shown from slot 0, the marker in view
}

const std::string& CommTestWindow::SendFieldText() {
  if (send_text_stale_) {
    send_text_ = core::Utf8ToCp1250(send_field_->text().toStdString());
    send_text_stale_ = false;
  }
  return send_text_;
}

void CommTestWindow::ShowSendText(const std::string& cp1250) {
  // A field without any usable pair keeps its own text (cut to what the
  // parser reads), also where a character has no Windows-1250 form.
  const QString text = test_.Send().count == 0
                           ? send_field_->text().left(static_cast<int>(kSendFieldChars))
                           : qt::FromCp1250(cp1250);
  if (send_field_->text() != text) send_field_->setText(text);
}

void CommTestWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) return;
  ServiceTestWindow::keyPressEvent(event);
}

bool CommTestWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == send_box_ || watched == send_field_ || watched == receive_box_) {
    if (event->type() == QEvent::KeyPress &&
        OnControlKey(watched, static_cast<QKeyEvent*>(event)->key())) {
      return true;
    }
    if (watched == send_field_ && event->type() == QEvent::FocusOut && Active()) {
      // Leaving the field, not the window going to the background.
      if (qt::IsTechniciansFocusChange(static_cast<QFocusEvent*>(event)->reason())) {
        OnSendBoxClicked();
      }
    }
  }
  return ServiceTestWindow::eventFilter(watched, event);
}

}  // namespace m32::service
