#include "info/help_window.h"

#include <QAction>
#include <QApplication>
#include <QFont>
#include <QKeyEvent>
#include <QMenu>
#include <QShowEvent>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>
#include <string>

#include "info/help_file.h"
#include "qt/window_frame.h"
#include "qt/window_support.h"

namespace m32 {
namespace {

constexpr int kOuterWidth = 691;
constexpr int kOuterHeight = 395;

Qt::Alignment ToQt(info::Alignment a) {
  switch (a) {
    case info::Alignment::kCentre:
      return Qt::AlignHCenter;
    case info::Alignment::kRight:
      return Qt::AlignRight;
    case info::Alignment::kJustify:
      return Qt::AlignJustify;
    case info::Alignment::kLeft:
      break;
  }
  return Qt::AlignLeft;
}

QFont HelpFont() {
  QFont f(QStringLiteral("Courier New"));
  f.setStyleHint(QFont::TypeWriter);
  f.setFixedPitch(true);
  f.setPixelSize(16);
  f.setBold(true);
  return f;
}

}  // namespace

void FillTextDocument(QTextDocument& doc, const info::Document& model, const QFont& base) {
  doc.clear();
  doc.setDefaultFont(base);
  QTextCursor cursor(&doc);
  bool first = true;
  for (const info::Paragraph& p : model.paragraphs) {
    QTextBlockFormat block;
    block.setAlignment(ToQt(p.alignment));
    if (first) {
      cursor.setBlockFormat(block);
      first = false;
    } else {
      cursor.insertBlock(block);
    }
    for (const info::Run& run : p.runs) {
      QTextCharFormat format;
      format.setForeground(QColor(Qt::black));
      if (model.rich) {
        format.setFontWeight(run.style.bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(run.style.italic);
        format.setFontUnderline(run.style.underline);
        format.setFontPointSize(run.style.half_points / 2.0);
        if (run.style.colour) {
          format.setForeground(
              QColor(run.style.colour->r, run.style.colour->g, run.style.colour->b));
        }
      }
      QString text = QString::fromUtf8(run.text.data(), static_cast<qsizetype>(run.text.size()));
      text.replace(QLatin1Char('\n'), QChar(QChar::LineSeparator));
      cursor.insertText(text, format);
    }
  }
}

TWhelp::TWhelp(config::Settings& settings, config::ModulePath& module, config::TextTable& texts,
               QWidget* main_window)
    : QWidget(main_window, Qt::Window),
      settings_(settings),
      module_(module),
      texts_(texts),
      main_window_(main_window),
      helptxt_(new QTextEdit(this)),
      popup_menu1_(new QMenu(this)),
      lamani_(new QAction(popup_menu1_)) {
  setObjectName(QStringLiteral("Whelp"));
  resize(kOuterWidth, kOuterHeight);

  helptxt_->setObjectName(QStringLiteral("Helptxt"));
  helptxt_->setReadOnly(true);
  helptxt_->setFont(HelpFont());
  helptxt_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  helptxt_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  helptxt_->setContextMenuPolicy(Qt::CustomContextMenu);
  helptxt_->installEventFilter(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(helptxt_);

  popup_menu1_->setObjectName(QStringLiteral("PopupMenu1"));
  lamani_->setObjectName(QStringLiteral("Lamani"));
  lamani_->setCheckable(true);
  popup_menu1_->addAction(lamani_);
  connect(lamani_, &QAction::triggered, this, &TWhelp::LamaniClick);
  connect(helptxt_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    popup_menu1_->popup(helptxt_->viewport()->mapToGlobal(pos));
  });
  SetWordWrap(true);
}

bool TWhelp::WordWrap() const {
  return helptxt_->lineWrapMode() != QTextEdit::NoWrap;
}

void TWhelp::SetWordWrap(bool on) {
  helptxt_->setLineWrapMode(on ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
  // The item offers the opposite of the current state.
  lamani_->setText(QString::fromStdString(texts_.Utf8(11, on ? 3 : 2)));
  lamani_->setChecked(on);
}

void TWhelp::LamaniClick() {
  SetWordWrap(!WordWrap());
}

QMessageBox::StandardButton TWhelp::Ask(const MessageRequest& request) {
  if (message_hook_) return message_hook_(request);
  QMessageBox box(request.icon, request.caption, request.text, request.buttons, this);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void TWhelp::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The window system also reports a restore from the task bar as a showing;
  // only the application's own show() reads the file again.
  if (event->spontaneous()) {
    AdjustOuterSize();
  } else {
    FormShow();
  }
}

void TWhelp::AdjustOuterSize() {
  if (sized_) return;
  // The form's size is the outer one, frame included.
  qt::SetOuterSize(this, {kOuterWidth, kOuterHeight});
  sized_ = true;
}

void TWhelp::FormShow() {
  qt::PlaceBeside(this, main_window_);
  AdjustOuterSize();
  setWindowTitle(QString::fromStdString(texts_.Utf8(11, 0)));
  SetWordWrap(true);
  tag_ = 0;

  const int language = settings_.record.Language;
  info::HelpFileResult loaded = info::LoadHelpForLanguage(
      language, [this](std::string_view ext) { return module_.SetExtension(ext); });
  if (loaded.ok) {
    FillTextDocument(*helptxt_->document(), loaded.document, helptxt_->font());
    helptxt_->moveCursor(QTextCursor::Start);
    return;
  }
  helptxt_->clear();
  MessageRequest ask;
  ask.caption = QStringLiteral("CHYBA 20");
  ask.text = QString::fromStdString(texts_.Utf8(11, 1));
  ask.icon = QMessageBox::NoIcon;
  ask.buttons = QMessageBox::Yes | QMessageBox::No;
  if (Ask(ask) == QMessageBox::Yes) {
    MessageRequest details;
    details.caption = QApplication::applicationDisplayName();
    details.text = QString::fromStdString(loaded.error);
    details.icon = QMessageBox::Critical;
    details.buttons = QMessageBox::Ok;
    Ask(details);
  }
  tag_ = 1;
}

bool TWhelp::FormKeyPress(const QKeyEvent& event) {
  if ((event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0) {
    return false;
  }
  switch (qt::KeyCode(&event)) {
    case kKeyEnter:
    case kKeyEscape:
      close();
      return true;
    default:
      break;
  }
  if (event.text() == QLatin1String("w") || event.text() == QLatin1String("W")) {
    LamaniClick();
    return true;
  }
  return false;
}

void TWhelp::keyPressEvent(QKeyEvent* event) {
  if (!FormKeyPress(*event)) QWidget::keyPressEvent(event);
}

bool TWhelp::eventFilter(QObject* watched, QEvent* event) {
  if (watched == helptxt_ && event->type() == QEvent::KeyPress) {
    if (FormKeyPress(*static_cast<QKeyEvent*>(event))) return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace m32
