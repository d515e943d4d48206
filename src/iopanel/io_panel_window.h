// The I/O panel: the body of the main window. 64 channel boxes in two columns
// (outputs left, inputs right), the A/D box and its label.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <array>

#include "config/settings.h"
#include "config/text_table.h"
#include "core/shared_status.h"
#include "iopanel/io_channels.h"

namespace m32::iopanel {

// A channel box; its channel index is its tab order (0..63).
class ChannelBox final : public QCheckBox {
  Q_OBJECT
 public:
  ChannelBox(int tab_order, QWidget* parent);
  int TabOrder() const { return tab_order_; }

 signals:
  void focusEntered(m32::iopanel::ChannelBox* box);
  void keyPressed(m32::iopanel::ChannelBox* box, int key);

 protected:
  void focusInEvent(QFocusEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void nextCheckState() override;

 private:
  int tab_order_;
};

class IoPanel final : public QGroupBox {
  Q_OBJECT
 public:
  IoPanel(SharedStatus& status, config::Settings& settings, const config::TextTable& texts,
          QWidget* parent = nullptr);

  // Lays the boxes out and sets the host window's height; once, at start.
  void LayoutIoPanel(QWidget* form);
  // Clears every channel (all outputs off on the panel), enables or disables
  // the boxes by IoDisplayActive, shows or hides them by the A/D mode.
  void RefreshIoPanel(bool rebuild_captions);
  void PaintChannel(int i);
  void OnChannelToggled(ChannelBox* sender);
  void OnChannelKey(ChannelBox* sender, int key);
  void PackOutputs();
  void ShowInputs();
  // Every output off on the panel (Esc, and a line that hung up); the next
  // PackOutputs sends the all-off state.
  void SwitchOutputsOff();
  // While the line is silent the input column (inputs and the A/D box) is
  // greyed as when the display is stopped; outputs stay as they are.
  void ShowLineSilent(bool silent);
  bool InputsGreyed() const { return inputs_silent_; }

  ChannelBox* Box(int i) const { return boxes_[static_cast<std::size_t>(i)]; }
  QLineEdit* AdBox() const { return adBox_; }
  QLabel* AdLabel() const { return label1_; }
  QScrollArea* ScrollBox() const { return scrollBox1_; }
  const ChannelStates& States() const { return states_; }
  int LastOutputChannel() const { return last_output_; }
  // Gives the focus to the box of LastOutputChannel (each start of the
  // display: switch from the keyboard).
  void FocusLastOutput();

 private:
  void SetBoxState(int i, uint8_t on);
  // Enables the input column and the A/D box as the display and the line allow.
  void EnableInputColumn(bool active);
  int16_t AdMode() const { return settings_.record.AdMode(); }

  SharedStatus& status_;
  config::Settings& settings_;
  const config::TextTable& texts_;
  QScrollArea* scrollBox1_;
  QWidget* content_;
  std::array<ChannelBox*, kChannels> boxes_{};
  QLineEdit* adBox_;
  QLabel* label1_;
  ChannelStates states_{};
  int last_output_ = 0;
  bool inputs_silent_ = false;
};

}  // namespace m32::iopanel
