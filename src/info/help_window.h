// The help viewer: the help file of the chosen language beside the executable,
// read anew at every showing, in a read-only rich-text view with switchable
// line wrapping. A plain text file shows in a plain view of the same look that
// lays out only the lines on screen, so that a file of any number of lines
// never holds the UI thread.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "config/settings.h"
#include "config/text_table.h"
#include "qt/ui_invoker.h"

class QAbstractScrollArea;
class QAction;
class QMenu;
class QPlainTextEdit;
class QStackedLayout;
class QTextDocument;
class QTextEdit;

namespace m32 {

// What a message box would show; a hook answers it in place of the user.
struct MessageRequest {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};
using MessageHook = std::function<QMessageBox::StandardButton(const MessageRequest&)>;

namespace info {
class HelpLoader;

class HelpViewer : public QWidget {
  Q_OBJECT

 public:
  // `main_window` places the viewer (top + 32, left + 4) and owns it; the
  // records are the application's own and must outlive the viewer.
  HelpViewer(config::Settings& settings, config::ModulePath& module, config::TextTable& texts,
             QWidget* main_window);
  ~HelpViewer() override;
  HelpViewer(const HelpViewer&) = delete;
  HelpViewer& operator=(const HelpViewer&) = delete;

  // Showing the viewer while it is open (behind the main window, say, or
  // minimised) brings it back, to the front, and activates it.
  void setVisible(bool visible) override;

  // Set when the last showing could not load the file; the main window reads
  // it right after showing the viewer and closes the viewer when it is set.
  bool LoadFailed() const { return load_failed_; }

  // Replaces the message boxes (tests); an empty hook restores the real ones.
  void SetMessageHook(MessageHook hook) { message_hook_ = std::move(hook); }

  // The view of rich text, and the view of plain text; one of them is shown.
  QTextEdit* TextView() const { return text_view_; }
  QPlainTextEdit* PlainView() const { return plain_view_; }
  QAbstractScrollArea* ShownView() const;
  QTextDocument* ShownDocument() const;
  QAction* WordWrapAction() const { return word_wrap_action_; }
  bool WordWrap() const;
  // True from a successful opening of the file until its text is in the view:
  // the file is read at the showing, its text is made ready off the UI thread.
  bool Loading() const { return loader_ != nullptr; }

 public slots:
  void ToggleWordWrap();

 signals:
  // The file's text is in the view.
  void Loaded();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LoadForShowing();
  bool HandleKey(const QKeyEvent& event);
  void SetWordWrap(bool on);
  void AdjustOuterSize();
  QMessageBox::StandardButton Ask(const MessageRequest& request);
  void StartLoading(std::string bytes);
  void StopLoading();
  // On the UI thread, from the loader: the finished document, laid out for
  // the plain view when `plain`.
  void TakeDocument(info::HelpLoader* from, QTextDocument* doc, bool plain);
  void ShowDocument(QTextDocument* doc, bool plain);

  config::Settings& settings_;
  config::ModulePath& module_;
  config::TextTable& texts_;
  QWidget* main_window_;
  QTextEdit* text_view_;
  QPlainTextEdit* plain_view_;
  QStackedLayout* views_;
  QMenu* context_menu_;
  QAction* word_wrap_action_;
  MessageHook message_hook_;
  QtUiInvoker invoker_;
  std::unique_ptr<info::HelpLoader> loader_;
  // Loaders asked to stop that have not ended yet.
  std::vector<std::unique_ptr<info::HelpLoader>> stopping_;
  QTextDocument* empty_doc_;            // shown while a file loads
  QTextDocument* shown_doc_ = nullptr;  // the last loaded document, owned here
  bool load_failed_ = false;
  bool sized_ = false;
};

}  // namespace info
}  // namespace m32
