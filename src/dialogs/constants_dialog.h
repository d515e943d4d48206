// ConstantsDialog (form TWkonst): the constants dialog. 21 rows, each a label from the text table
// and a field with one signed 16-bit constant of the settings record, in a
// scroll box that the mouse wheel moves by one row per heartbeat tick. It
// edits a working copy; O. K. puts it into force and applies the limits of
// constants 0, 3 and 4, Storno throws it away.
#pragma once

#include <array>

#include "config/settings.h"
#include "config/text_table.h"
#include "core/shared_status.h"
#include "dialogs/constants_rows.h"
#include "dialogs/field_dialog.h"

class QLabel;
class QLineEdit;
class QScrollArea;
class QWheelEvent;

namespace m32::dialogs {

class ConstantsDialog : public FieldDialog {
  Q_OBJECT

 public:
  // `status` carries WheelCountdown, which the main window's heartbeat ages.
  ConstantsDialog(config::Settings& settings, const config::TextTable& texts, SharedStatus& status,
                  QWidget* main_window, QWidget* parent = nullptr);

  QScrollArea* ScrollBox() const { return scroll_box_; }

  // Commit of the row whose field lost the focus; a row beyond 20 is ignored.
  void OnConstantFieldLeft(int row);
  // One wheel report from the form or the scroll box: at most one row of
  // scrolling while WheelCountdown is 0.
  void OnWheel(int delta);

 protected:
  void ShowWorkingCopy() override;
  void Clamp(config::SettingsRecord& record) override;
  void FieldEntered(QWidget* field) override;
  void wheelEvent(QWheelEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();

  SharedStatus& status_;

  QScrollArea* scroll_box_ = nullptr;
  std::array<QLabel*, kConstantRows> labels_{};
  std::array<QLineEdit*, kConstantRows> edits_{};
};

}  // namespace m32::dialogs
