// LightingTestWindow (form Wjas): the lighting test. Eight brightness levels
// 0..255 are set with an entry field, a track bar or a toggle button per
// channel and sent to the controller in BrightnessFrames; four panels show the
// port's modem status lines (RI, DCD, CTS, DSR). While the window is open the
// link is parked and its worker (LightingWorker) has the port; when it closes
// the worker ends, the settings file is written (the levels persist) and the
// link goes on.
#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <memory>
#include <optional>

#include "config/settings.h"
#include "config/text_table.h"
#include "service/brightness.h"
#include "service/lighting_refresh.h"
#include "service/service_test_window.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSlider;

namespace m32::service {

class LightingTestWindow : public ServiceTestWindow {
  Q_OBJECT

 public:
  // `main_window` places the window and is its parent.
  LightingTestWindow(config::Settings& settings, config::ModulePath& module,
                     const config::TextTable& texts, SharedStatus& status,
                     link::PortConnection& port, QWidget* main_window);
  ~LightingTestWindow() override;
  LightingTestWindow(const LightingTestWindow&) = delete;
  LightingTestWindow& operator=(const LightingTestWindow&) = delete;

  // The shared handlers of the eight channels; the channel comes from the
  // sender's channel property.
  void OnLevelFieldEntered(QObject* sender);
  // Enter applies the text, Escape puts back the text the field had on entry.
  void OnLevelFieldKey(QObject* sender, int key);
  void OnLevelFieldLeft(QObject* sender);
  void OnLevelBarMoved(QObject* sender, int position);
  void OnChannelToggled(QObject* sender);
  // Shows the stored level of channel i (0..7) in its four controls.
  void ShowChannel(int channel);
  // One refresh step; the worker has it run on this thread.
  void RefreshStep();

  QGroupBox* ChannelGroup(int i) const { return group_.at(static_cast<std::size_t>(i)); }
  QLabel* LevelLabel(int i) const { return level_label_.at(static_cast<std::size_t>(i)); }
  QLineEdit* LevelField(int i) const { return level_field_.at(static_cast<std::size_t>(i)); }
  QSlider* LevelBar(int i) const { return level_bar_.at(static_cast<std::size_t>(i)); }
  QPushButton* ToggleButton(int i) const { return toggle_.at(static_cast<std::size_t>(i)); }
  // RI, DCD, CTS, DSR.
  QLabel* ModemPanel(int i) const { return panel_.at(static_cast<std::size_t>(i)); }
  // How often each modem panel has been painted since the window was made.
  int PanelPaints(int i) const { return paints_.at(static_cast<std::size_t>(i)); }
  QScrollArea* ScrollBox() const { return scroll_box_; }

 protected:
  void OnActivate() override;
  std::unique_ptr<PortStepWorker> MakeWorker() override;
  void OnWorkerStarted() override;
  // Writes the settings file.
  void OnDeactivate() override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The scroll box's content, which holds the groups and the panels.
  QWidget* AddScrollBox();
  void AddChannelGroup(QWidget* content, int channel);
  void AddModemPanel(QWidget* content, int panel);
  void SetTabOrder();
  void PaintPanel(int i, bool on);
  void AcceptChange(int channel, uint8_t level);
  // A change refused because the previous one is still unsent waits here, the
  // newest per channel, and is taken once the previous one has gone out.
  void TakeWaitingChange();
  void StoreWaitingChanges();
  static int ChannelOf(QObject* sender);

  config::Settings& settings_;
  config::ModulePath& module_;
  const config::TextTable& texts_;
  LightingRefresh refresh_;
  // The last refresh step sent a frame (written by the step on this thread,
  // read by the worker once the step is over).
  std::atomic<bool> frame_sent_{false};
  QString saved_entry_text_;

  QGroupBox* preview_box_ = nullptr;
  QScrollArea* scroll_box_ = nullptr;
  std::array<QLabel*, kModemPanels> panel_{};  // BMZ_TL1..BMZ_TL4
  std::array<int, kModemPanels> paints_{};
  std::array<QGroupBox*, kChannels> group_{};        // Kan1..Kan8
  std::array<QLabel*, kChannels> level_label_{};     // Label1..Label8
  std::array<QLineEdit*, kChannels> level_field_{};  // Edit1..Edit8
  std::array<QSlider*, kChannels> level_bar_{};      // Jas1..Jas8
  std::array<QPushButton*, kChannels> toggle_{};     // Tl1..Tl8
  std::array<std::optional<uint8_t>, kChannels> waiting_{};
};

}  // namespace m32::service
