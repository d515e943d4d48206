// The help viewer: the help file of the chosen language beside the executable,
// read anew at every showing, in a read-only rich-text view with switchable
// line wrapping.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <functional>

#include "config/settings.h"
#include "config/text_table.h"
#include "info/rich_text.h"

class QAction;
class QMenu;
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

// Fills a text document from the reader's model. Rich documents carry their
// own character formats on top of `base`; plain ones show in `base` alone.
void FillTextDocument(QTextDocument& doc, const info::Document& model, const QFont& base);

class TWhelp : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int Tag READ Tag)

 public:
  // `main_window` places the viewer (top + 32, left + 4) and owns it; the
  // records are the application's own and must outlive the viewer.
  TWhelp(config::Settings& settings, config::ModulePath& module, config::TextTable& texts,
         QWidget* main_window);

  // 0 after a successful load, 1 after the load failed for good; the main
  // window reads it right after showing the viewer and closes it on 1.
  int Tag() const { return tag_; }
  bool failed() const { return tag_ == 1; }

  // Replaces the message boxes (tests); an empty hook restores the real ones.
  void SetMessageHook(MessageHook hook) { message_hook_ = std::move(hook); }

  QTextEdit* Helptxt() const { return helptxt_; }
  QMenu* PopupMenu1() const { return popup_menu1_; }
  QAction* Lamani() const { return lamani_; }
  bool WordWrap() const;

 public slots:
  void LamaniClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormShow();
  bool FormKeyPress(const QKeyEvent& event);
  void SetWordWrap(bool on);
  void AdjustOuterSize();
  QMessageBox::StandardButton Ask(const MessageRequest& request);

  config::Settings& settings_;
  config::ModulePath& module_;
  config::TextTable& texts_;
  QWidget* main_window_;
  QTextEdit* helptxt_;
  QMenu* popup_menu1_;
  QAction* lamani_;
  MessageHook message_hook_;
  int tag_ = 0;
  bool sized_ = false;
};

}  // namespace m32
