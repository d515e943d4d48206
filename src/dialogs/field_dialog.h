// FieldDialog: what the port dialog and the constants dialog share. A fixed
// lime form placed beside the main window, O. K. and Storno buttons, a tab
// chain of edit fields and lists, and the keyboard rules of these fields:
//
//   - entering a field notes its text (an edit field) or its index (a list);
//   - Enter moves to the next control of the chain, wrapping at its end;
//   - Escape puts the noted text or index back, then moves on;
//   - leaving a field runs its commit rule;
//   - O. K. moves the focus to itself first, so the field being typed in
//     commits, then applies; Storno, Escape on Storno and the close box
//     discard; Escape anywhere else does nothing.
//
// Focus that leaves or returns because another application (or a popup such
// as a list's drop-down) took over is not a leaving or an entering: the field
// keeps its noted text and commits only when the technician really leaves it.
#pragma once

#include <QDialog>
#include <QPalette>
#include <QString>
#include <functional>
#include <vector>

#include "config/settings.h"
#include "config/text_table.h"

class QComboBox;
class QKeyEvent;
class QFont;
class QLineEdit;
class QPushButton;

namespace m32::dialogs {

// The dialogs' font: Arial 13 px bold, italic for captions and buttons.
QFont ArialBold(bool italic);
// Sets one colour role of a widget's palette.
void SetColour(QWidget* w, QPalette::ColorRole role, const QColor& colour);

// The O. K. (green) and Storno (red) buttons of a dialog, object names Tl_OK
// and Tl_storno. Enter is left to the dialog (DialogKey); the dialog filters
// Storno's own keys.
struct DialogButtons {
  QPushButton* ok = nullptr;
  QPushButton* storno = nullptr;
};
DialogButtons MakeDialogButtons(QDialog* dialog, const QString& ok, const QString& storno);
// A key that reached the dialog itself: Escape does nothing (only Storno and
// the fields react to it), Enter presses the focused button. True when used.
bool DialogKey(QWidget* dialog, const QKeyEvent* event);

class FieldDialog : public QDialog {
  Q_OBJECT

 public:
  // The client area is `client_width` x `client_height`, fixed. `main_window`
  // places the dialog at every opening (may be null).
  // At every opening the working copy is taken from `settings` and the caption
  // is the text `caption`; O. K. puts the copy back into force.
  FieldDialog(const char* object_name, int client_width, int client_height,
              config::Settings& settings, const config::TextTable& texts, config::TextId caption,
              QWidget* main_window, QWidget* parent);

  // The record being edited (taken from the live one at every opening).
  const config::SettingsRecord& WorkingCopy() const { return working_; }

  QPushButton* OkButton() const { return ok_button_; }
  QPushButton* StornoButton() const { return storno_button_; }

  // OnOkClicked: focus to O. K. (the field being edited commits), Apply(), close.
  void OnOkClicked();
  // OnStornoClicked: closes; the working copy is abandoned.
  void OnStornoClicked();
  // The close box and every other way out but O. K. come here.
  void reject() override;

 protected:
  // Runs at every opening, once the dialog has been placed, the working copy
  // taken and the caption and buttons set: the fields show the copy.
  virtual void ShowWorkingCopy() = 0;
  // The limits of this dialog, applied to the record put into force.
  virtual void Clamp(config::SettingsRecord& record) = 0;
  // After O. K. has put the working copy into force.
  virtual void Applied() {}

  config::SettingsRecord& Working() { return working_; }
  const config::TextTable& Texts() const { return texts_; }

  // The two buttons at their places; captions from the text table.
  void PlaceButtons(int ok_left, int storno_left, int top);
  void CaptionButtons(const QString& ok, const QString& storno);

  // Registers a field with its commit rule (run when the focus leaves it).
  void AddEdit(QLineEdit* edit, std::function<void()> commit);
  void AddList(QComboBox* list, std::function<void()> commit);
  // The tab chain, in order; Enter and Escape move along it.
  void SetChain(std::vector<QWidget*> chain);
  // Called when a field of the chain receives the focus (after the entry
  // text or index has been noted).
  virtual void FieldEntered(QWidget* /*field*/) {}

  // Moves the focus to the control after `from` that can take it.
  void FocusNext(QWidget* from);
  // Gives the focus to `w` and forgets which field was being edited
  // (the commit of a field left by this move goes to the old working copy).
  void StartAt(QWidget* w);

  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  QPushButton* ok_button_ = nullptr;
  QPushButton* storno_button_ = nullptr;

 private:
  struct Field {
    QWidget* widget = nullptr;
    QLineEdit* edit = nullptr;  // an edit field, or
    QComboBox* list = nullptr;  // a list
    std::function<void()> commit;
  };
  const Field* Find(const QObject* w) const;
  void Enter(const Field& f);
  void Leave(const Field& f);
  bool FieldKeyPress(const Field& f, int key);
  void TakeWorkingCopy();
  void Apply();

  config::Settings& settings_;
  const config::TextTable& texts_;
  config::TextId caption_;
  config::SettingsRecord working_;

  QWidget* main_window_;
  std::vector<Field> fields_;
  std::vector<QWidget*> chain_;
  QString entry_text_;          // one for all edit fields
  int entry_index_ = -1;        // one for all lists
  QWidget* editing_ = nullptr;  // the field entered and not yet committed
  bool applying_ = false;
};

}  // namespace m32::dialogs
