#include "info/about_window.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QShowEvent>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>

#include "info/about_text.h"
#include "qt/window_frame.h"
#include "qt/window_support.h"

// The logo is a resource of this static library; naming its initialiser here
// keeps the linker from dropping it.
static void InitInfoResources() {
  Q_INIT_RESOURCE(info);
}

namespace m32 {

TWoprog::TWoprog(const config::TextTable& texts, QWidget* main_window)
    : QDialog(main_window, qt::kToolWindowFlags),
      texts_(texts),
      main_window_(main_window),
      logo_(new QLabel(this)),
      redit_(new QTextEdit(this)) {
  InitInfoResources();
  setObjectName(QStringLiteral("Woprog"));
  setFixedSize(600, 335);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(255, 255, 0));
  setPalette(pal);
  setAutoFillBackground(true);

  logo_->setObjectName(QStringLiteral("Logo"));
  logo_->setGeometry(216, 6, 142, 78);
  logo_->setAlignment(Qt::AlignCenter);
  logo_->setPixmap(QPixmap(QStringLiteral(":/info/logo.bmp")));

  redit_->setObjectName(QStringLiteral("Redit"));
  redit_->setGeometry(8, 88, 585, 241);
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(15);
  font.setBold(true);
  redit_->setFont(font);
  redit_->setReadOnly(true);
  redit_->setAcceptRichText(false);
  redit_->setLineWrapMode(QTextEdit::NoWrap);
  redit_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  redit_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  redit_->installEventFilter(this);
  FormCreate();
}

void TWoprog::FormCreate() {
  const std::string banner = config::Cp1250ToUtf8(texts_.TitleText());
  std::string text = info::AboutText(banner);
  // The last line break ends the last line; it opens no eleventh one.
  if (!text.empty() && text.back() == '\n') text.pop_back();
  redit_->setPlainText(QString::fromStdString(text));
  QTextCursor all(redit_->document());
  all.select(QTextCursor::Document);
  QTextBlockFormat centred;
  centred.setAlignment(Qt::AlignHCenter);
  all.mergeBlockFormat(centred);
  redit_->moveCursor(QTextCursor::Start);
}

void TWoprog::FormActivate() {
  qt::PlaceBeside(this, main_window_);
  setWindowTitle(QString::fromStdString(texts_.Utf8(12, 0)));
}

void TWoprog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormActivate();
}

bool TWoprog::FormKeyPress(const QKeyEvent& event) {
  switch (qt::KeyCode(&event)) {
    case kKeyEnter:
    case kKeyEscape:
      close();
      return true;
    default:
      return false;
  }
}

void TWoprog::keyPressEvent(QKeyEvent* event) {
  if (!FormKeyPress(*event)) QDialog::keyPressEvent(event);
}

bool TWoprog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == redit_ && event->type() == QEvent::KeyPress) {
    if (FormKeyPress(*static_cast<QKeyEvent*>(event))) return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace m32
