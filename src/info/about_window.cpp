#include "info/about_window.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QShowEvent>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>

#include "core/code_page.h"
#include "info/about_text.h"
#include "qt/window_frame.h"
#include "qt/window_support.h"

// The logo is a resource of this static library; naming its initialiser here
// keeps the linker from dropping it.
static void InitInfoResources() {
  Q_INIT_RESOURCE(info);
}

namespace m32::info {

AboutWindow::AboutWindow(const config::TextTable& texts, QWidget* main_window)
    : QDialog(main_window, qt::kToolWindowFlags),
      texts_(texts),
      main_window_(main_window),
      logo_(new QLabel(this)),
      text_view_(new QTextEdit(this)) {
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

  text_view_->setObjectName(QStringLiteral("Redit"));
  text_view_->setGeometry(8, 88, 585, 241);
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(15);
  font.setBold(true);
  text_view_->setFont(font);
  text_view_->setReadOnly(true);
  text_view_->setAcceptRichText(false);
  text_view_->setLineWrapMode(QTextEdit::NoWrap);
  text_view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  text_view_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  text_view_->installEventFilter(this);
  BuildText();
}

void AboutWindow::BuildText() {
  const std::string banner = core::Cp1250ToUtf8(texts_.TitleText());
  std::string text = info::AboutText(banner);
  // The last line break ends the last line; it opens no eleventh one.
  if (!text.empty() && text.back() == '\n') text.pop_back();
  text_view_->setPlainText(QString::fromStdString(text));
  QTextCursor all(text_view_->document());
  all.select(QTextCursor::Document);
  QTextBlockFormat centred;
  centred.setAlignment(Qt::AlignHCenter);
  all.mergeBlockFormat(centred);
  text_view_->moveCursor(QTextCursor::Start);
}

void AboutWindow::OnActivated() {
  qt::PlaceBeside(this, main_window_);
  setWindowTitle(QString::fromStdString(texts_.Utf8(config::text::kAboutCaption)));
}

void AboutWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) OnActivated();
}

bool AboutWindow::HandleKey(const QKeyEvent& event) {
  return qt::CloseOnEnterOrEscape(*this, event);
}

void AboutWindow::keyPressEvent(QKeyEvent* event) {
  if (!HandleKey(*event)) QDialog::keyPressEvent(event);
}

bool AboutWindow::eventFilter(QObject* watched, QEvent* event) {
  const QKeyEvent* key = qt::KeyPressOn(text_view_, watched, event);
  if (key != nullptr && HandleKey(*key)) return true;
  return QDialog::eventFilter(watched, event);
}

}  // namespace m32::info
