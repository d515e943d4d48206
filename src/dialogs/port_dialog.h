// TWkomunikace: the serial port dialog. Port COM1..COM64, the line speed as a
// divisor of 115 200 Bd shown beside the speed it gives and a list of preset
// speeds, data bits, stop bits and parity. It edits a working copy of the
// settings record; O. K. puts the copy into force and has the main window
// re-open the port with it, Storno throws it away.
#pragma once

#include <functional>

#include "config/settings.h"
#include "config/text_table.h"
#include "dialogs/field_dialog.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;

namespace m32 {

class TWkomunikace : public dialogs::FieldDialog {
  Q_OBJECT

 public:
  // `reopen_port` closes the serial port and opens it again with the live
  // record (the main window's ClosePort then OpenPort); O. K. calls it after
  // the working copy has been put into force. The dialog itself never
  // touches the port.
  TWkomunikace(config::Settings& settings, const config::TextTable& texts, QWidget* main_window,
               std::function<void()> reopen_port, QWidget* parent = nullptr);

  // The record being edited (taken from the live one at every opening).
  const config::SettingsRecord& WorkingCopy() const { return wc_; }

  // Commit rules, run when the control loses the focus.
  void Ed_comExit();
  void Ed_BRExit();
  void Ed_BdExit();
  void Ed_rychlExit();
  void Ed_dtaExit();
  void Ed_stpExit();
  void Ed_parExit();

 protected:
  void FormActivate() override;
  void Apply() override;

 private:
  void FormCreate();
  void ShowSpeed(const std::string& divisor, const std::string& speed);

  config::Settings& settings_;
  const config::TextTable& texts_;
  std::function<void()> reopen_port_;
  config::SettingsRecord wc_;  // the working copy

  QGroupBox* PortBox = nullptr;
  QGroupBox* SpeedBox = nullptr;
  QGroupBox* FormatBox = nullptr;
  QLineEdit* Ed_com = nullptr;
  QLineEdit* Ed_BR = nullptr;
  QLineEdit* Ed_Bd = nullptr;
  QComboBox* Ed_rychl = nullptr;
  QComboBox* Ed_dta = nullptr;
  QComboBox* Ed_stp = nullptr;
  QComboBox* Ed_par = nullptr;
};

}  // namespace m32
