// PortDialog (form TWkomunikace): the serial port dialog. Port COM1..COM64, the line speed as a
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

namespace m32::dialogs {

class PortDialog : public FieldDialog {
  Q_OBJECT

 public:
  // `reopen_port` closes the serial port and opens it again with the live
  // record (the main window's ClosePort then OpenPort); O. K. calls it after
  // the working copy has been put into force. The dialog itself never
  // touches the port.
  PortDialog(config::Settings& settings, const config::TextTable& texts, QWidget* main_window,
             std::function<void()> reopen_port, QWidget* parent = nullptr);

  // Commit rules, run when the control loses the focus.
  void OnPortFieldLeft();
  void OnDivisorFieldLeft();
  void OnSpeedFieldLeft();
  void OnPresetListLeft();
  void OnDataBitsListLeft();
  void OnStopBitsListLeft();
  void OnParityListLeft();

 protected:
  void ShowWorkingCopy() override;
  void Clamp(config::SettingsRecord& record) override;
  void Applied() override;

 private:
  void CreateControls();
  void ShowSpeed(const std::string& divisor, const std::string& speed);

  std::function<void()> reopen_port_;

  QGroupBox* port_box_ = nullptr;
  QGroupBox* speed_box_ = nullptr;
  QGroupBox* format_box_ = nullptr;
  QLineEdit* port_field_ = nullptr;
  QLineEdit* divisor_field_ = nullptr;
  QLineEdit* speed_field_ = nullptr;
  QComboBox* preset_list_ = nullptr;
  QComboBox* data_bits_list_ = nullptr;
  QComboBox* stop_bits_list_ = nullptr;
  QComboBox* parity_list_ = nullptr;
};

}  // namespace m32::dialogs
