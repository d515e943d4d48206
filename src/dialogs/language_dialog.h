// LanguageDialog (form TWjazyk): the choice of the user-interface language among the language files
// that lie beside the executable.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "config/settings.h"
#include "config/text_table.h"

class QPushButton;
class QRadioButton;

namespace m32::dialogs {

class LanguageDialog : public QDialog {
  Q_OBJECT

 public:
  // `on_texts_loaded` runs after O.K. has read new texts (the main window
  // re-captions its menu then). `main_window` places the dialog.
  LanguageDialog(config::Settings& settings, config::ModulePath& module, config::TextTable& texts,
                 QWidget* main_window, std::function<void()> on_texts_loaded,
                 QWidget* parent = nullptr);

  // Rebuilds the list from the language files present now; runs whenever the dialog is shown.
  void FormActivate();
  void FormDeactivate();
  void OnOkClicked();
  void OnStornoClicked();

  // The dialog's outer height, frame included where the platform has one.
  int FormHeight() const;
  const std::vector<uint8_t>& LanguageChoices() const { return language_choices_; }
  QRadioButton* RadioButton(int i) const { return radio_buttons_.at(static_cast<std::size_t>(i)); }
  QPushButton* OkButton() const { return ok_button_; }
  QPushButton* StornoButton() const { return storno_button_; }

 protected:
  void hideEvent(QHideEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void SetFormHeight(int height);
  bool OnStornoKey(int key);

  config::Settings& settings_;
  config::ModulePath& module_;
  config::TextTable& texts_;
  QWidget* main_window_;
  std::function<void()> on_texts_loaded_;

  std::array<QRadioButton*, 10> radio_buttons_{};
  QPushButton* ok_button_ = nullptr;
  QPushButton* storno_button_ = nullptr;
  int visible_ = 0;
  std::vector<uint8_t> language_choices_;
};

}  // namespace m32::dialogs
