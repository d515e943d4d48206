#include "info/help_window.h"

#include <QAction>
#include <QApplication>
#include <QFont>
#include <QHideEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QStackedLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QThread>
#include <algorithm>
#include <string>
#include <utility>

#include "core/worker.h"
#include "info/help_document.h"
#include "info/help_file.h"
#include "info/rich_text.h"
#include "qt/window_frame.h"
#include "qt/window_support.h"

namespace m32 {
namespace info {
namespace {
constexpr int kOuterWidth = 691;
constexpr int kOuterHeight = 395;
}  // namespace

// Turns the bytes of a help file into a text document off the UI thread and
// hands the document to the UI thread. Asked to stop, it ends within a slice
// of reading and hands nothing over.
class HelpLoader final : public Worker {
 public:
  using Deliver = std::function<void(HelpLoader*, QTextDocument*, bool plain)>;

  HelpLoader(UiInvoker& ui, std::string bytes, const QFont& font, QThread* ui_thread,
             Deliver deliver)
      : Worker(ui),
        bytes_(std::move(bytes)),
        font_(font),
        ui_thread_(ui_thread),
        deliver_(std::move(deliver)) {}

 protected:
  void Execute() override {
    const std::function<bool()> stop = [this] { return Terminated(); };
    auto doc = std::make_unique<QTextDocument>();
    bool plain = false;
    {
      const Document model = ReadHelpText(bytes_, stop);
      std::string().swap(bytes_);
      if (Terminated()) return;
      if (!FillTextDocument(*doc, model, font_, stop)) return;
      plain = !model.rich;
    }
    if (plain) {
      // The plain view lays out only the lines it shows. Every paragraph gets
      // its layout object here, off the UI thread, rather than at the view's
      // first sizing.
      doc->setDocumentLayout(new QPlainTextDocumentLayout(doc.get()));
      for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        static_cast<void>(b.layout());
        if (b.blockNumber() % 4096 == 0 && Terminated()) return;
      }
    }
    doc->moveToThread(ui_thread_);
    // From here the UI thread owns the document, whatever it does with it.
    QTextDocument* ready = doc.release();
    Synchronize([this, ready, plain] { deliver_(this, ready, plain); });
  }

 private:
  std::string bytes_;
  QFont font_;
  QThread* ui_thread_;
  Deliver deliver_;
};

namespace {

QFont HelpFont() {
  QFont f(QStringLiteral("Courier New"));
  f.setStyleHint(QFont::TypeWriter);
  f.setFixedPitch(true);
  f.setPixelSize(16);
  f.setBold(true);
  return f;
}

}  // namespace

HelpViewer::HelpViewer(config::Settings& settings, config::ModulePath& module,
                       config::TextTable& texts, QWidget* main_window)
    : QWidget(main_window, Qt::Window),
      settings_(settings),
      module_(module),
      texts_(texts),
      main_window_(main_window),
      text_view_(new QTextEdit(this)),
      plain_view_(new QPlainTextEdit(this)),
      views_(new QStackedLayout(this)),
      context_menu_(new QMenu(this)),
      word_wrap_action_(new QAction(context_menu_)),
      invoker_(this),
      empty_doc_(new QTextDocument(this)) {
  setObjectName(QStringLiteral("Whelp"));
  resize(kOuterWidth, kOuterHeight);

  text_view_->setObjectName(QStringLiteral("Helptxt"));
  plain_view_->setObjectName(QStringLiteral("HelptxtPlain"));
  text_view_->setReadOnly(true);
  plain_view_->setReadOnly(true);
  for (QAbstractScrollArea* view : {static_cast<QAbstractScrollArea*>(text_view_),
                                    static_cast<QAbstractScrollArea*>(plain_view_)}) {
    view->setFont(HelpFont());
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->installEventFilter(this);
    connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& pos) {
      context_menu_->popup(view->viewport()->mapToGlobal(pos));
    });
    views_->addWidget(view);
  }
  empty_doc_->setDefaultFont(text_view_->font());
  text_view_->setDocument(empty_doc_);
  views_->setContentsMargins(0, 0, 0, 0);
  views_->setCurrentWidget(text_view_);

  context_menu_->setObjectName(QStringLiteral("PopupMenu1"));
  // The item's caption names the state it switches to, so it has no check mark.
  word_wrap_action_->setObjectName(QStringLiteral("Lamani"));
  context_menu_->addAction(word_wrap_action_);
  connect(word_wrap_action_, &QAction::triggered, this, &HelpViewer::ToggleWordWrap);
  SetWordWrap(true);
}

bool HelpViewer::WordWrap() const {
  if (views_->currentWidget() == plain_view_) {
    return plain_view_->lineWrapMode() != QPlainTextEdit::NoWrap;
  }
  return text_view_->lineWrapMode() != QTextEdit::NoWrap;
}

QAbstractScrollArea* HelpViewer::ShownView() const {
  return static_cast<QAbstractScrollArea*>(views_->currentWidget());
}

QTextDocument* HelpViewer::ShownDocument() const {
  return views_->currentWidget() == plain_view_ ? plain_view_->document() : text_view_->document();
}

void HelpViewer::SetWordWrap(bool on) {
  text_view_->setLineWrapMode(on ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
  plain_view_->setLineWrapMode(on ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  // The item offers the opposite of the current state.
  word_wrap_action_->setText(QString::fromStdString(
      texts_.Utf8(on ? config::text::kHelpWrapOff : config::text::kHelpWrapOn)));
}

HelpViewer::~HelpViewer() {
  StopLoading();
  // A loader may be waiting for the UI thread to take its document.
  for (auto& loader : stopping_) {
    PumpUntil([&] { return loader->Finished(); });
    loader->Join();
  }
}

void HelpViewer::setVisible(bool visible) {
  const bool open = visible && isVisible();
  QWidget::setVisible(visible);
  if (open) {
    // A minimised window stays minimised when raised: restore it first, in
    // the size it had (maximised stays maximised).
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
  }
}

void HelpViewer::ToggleWordWrap() {
  SetWordWrap(!WordWrap());
}

QMessageBox::StandardButton HelpViewer::Ask(const MessageRequest& request) {
  if (message_hook_) return message_hook_(request);
  QMessageBox box(request.icon, request.caption, request.text, request.buttons, this);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void HelpViewer::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The window system also reports a restore from the task bar as a showing;
  // only the application's own show() reads the file again.
  if (event->spontaneous()) {
    AdjustOuterSize();
  } else {
    LoadForShowing();
  }
}

void HelpViewer::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (!event->spontaneous()) StopLoading();
}

void HelpViewer::AdjustOuterSize() {
  if (sized_) return;
  // The form's size is the outer one, frame included.
  qt::SetOuterSize(this, {kOuterWidth, kOuterHeight});
  sized_ = true;
}

void HelpViewer::LoadForShowing() {
  qt::PlaceBeside(this, main_window_);
  AdjustOuterSize();
  setWindowTitle(QString::fromStdString(texts_.Utf8(config::text::kHelpCaption)));
  SetWordWrap(true);
  load_failed_ = false;

  StopLoading();
  ShowDocument(empty_doc_, false);
  const int language = settings_.record.Language;
  info::HelpFileResult read = info::ReadHelpForLanguage(
      language, [this](std::string_view ext) { return module_.SetExtension(ext); });
  if (read.ok) {
    StartLoading(std::move(read.bytes));
    return;
  }
  MessageRequest ask;
  ask.caption = QStringLiteral("CHYBA 20");
  ask.text = QString::fromStdString(texts_.Utf8(config::text::kHelpCannotOpen));
  ask.icon = QMessageBox::NoIcon;
  ask.buttons = QMessageBox::Yes | QMessageBox::No;
  if (Ask(ask) == QMessageBox::Yes) {
    MessageRequest details;
    details.caption = QApplication::applicationDisplayName();
    details.text = QString::fromStdString(read.error);
    details.icon = QMessageBox::Critical;
    details.buttons = QMessageBox::Ok;
    Ask(details);
  }
  load_failed_ = true;
}

void HelpViewer::StartLoading(std::string bytes) {
  // Loaders that were asked to stop and have ended are let go.
  std::erase_if(stopping_, [](const std::unique_ptr<info::HelpLoader>& l) {
    if (!l->Finished()) return false;
    l->Join();
    return true;
  });
  loader_ =
      std::make_unique<info::HelpLoader>(invoker_, std::move(bytes), text_view_->font(), thread(),
                                         [this](info::HelpLoader* from, QTextDocument* doc,
                                                bool plain) { TakeDocument(from, doc, plain); });
  loader_->Start();
}

void HelpViewer::StopLoading() {
  if (loader_ == nullptr) return;
  loader_->Terminate();
  stopping_.push_back(std::move(loader_));
}

void HelpViewer::TakeDocument(info::HelpLoader* from, QTextDocument* doc, bool plain) {
  if (from != loader_.get() || from->Terminated()) {
    delete doc;
    return;
  }
  // The loader ends right after this step; it is joined later.
  stopping_.push_back(std::move(loader_));
  doc->setParent(this);
  ShowDocument(doc, plain);
  emit Loaded();
}

void HelpViewer::ShowDocument(QTextDocument* doc, bool plain) {
  if (doc == ShownDocument()) return;
  // The view not shown lets go of the old document too.
  if (plain) {
    text_view_->setDocument(empty_doc_);
    plain_view_->setDocument(doc);
    plain_view_->moveCursor(QTextCursor::Start);
  } else {
    plain_view_->setDocument(nullptr);
    text_view_->setDocument(doc);
    text_view_->moveCursor(QTextCursor::Start);
  }
  QWidget* shown = plain ? static_cast<QWidget*>(plain_view_) : text_view_;
  const bool had_focus = views_->currentWidget()->hasFocus();
  views_->setCurrentWidget(shown);
  if (had_focus) shown->setFocus();
  delete shown_doc_;
  shown_doc_ = doc == empty_doc_ ? nullptr : doc;
  empty_doc_->clear();
}

bool HelpViewer::HandleKey(const QKeyEvent& event) {
  if ((event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0) {
    return false;
  }
  if (qt::CloseOnEnterOrEscape(*this, event)) return true;
  if (event.text() == QLatin1String("w") || event.text() == QLatin1String("W")) {
    ToggleWordWrap();
    return true;
  }
  return false;
}

void HelpViewer::keyPressEvent(QKeyEvent* event) {
  if (!HandleKey(*event)) QWidget::keyPressEvent(event);
}

bool HelpViewer::eventFilter(QObject* watched, QEvent* event) {
  const QKeyEvent* key = qt::KeyPressOn(text_view_, watched, event);
  if (key == nullptr) key = qt::KeyPressOn(plain_view_, watched, event);
  if (key != nullptr && HandleKey(*key)) return true;
  return QWidget::eventFilter(watched, event);
}

}  // namespace info
}  // namespace m32
