// TWjas (form Wjas): the lighting test. Eight brightness levels 0..255 are
// set with an entry field, a track bar or a toggle button per channel and
// sent to the controller in BrightnessFrames; four panels show the port's
// modem status lines (RI, DCD, CTS, DSR). While the window is open the link
// is parked and the worker TZobr_jas has the port; when it closes the worker
// ends, the settings file is written (the levels persist) and the link goes on.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <atomic>
#include <memory>
#include <optional>

#include "config/settings.h"
#include "config/text_table.h"
#include "core/shared_status.h"
#include "link/port_connection.h"
#include "qt/ui_invoker.h"
#include "service/brightness.h"
#include "service/lighting_refresh.h"
#include "service/port_hand_over.h"
#include "service/port_step_worker.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSlider;

namespace m32 {

class TWjas : public QDialog {
  Q_OBJECT

 public:
  // `main_window` places the window and is its parent.
  TWjas(config::Settings& settings, config::ModulePath& module, const config::TextTable& texts,
        SharedStatus& status, link::PortConnection& port, QWidget* main_window);
  // Ends a worker that is still running (processing events meanwhile).
  ~TWjas() override;
  TWjas(const TWjas&) = delete;
  TWjas& operator=(const TWjas&) = delete;

  void FormActivate();
  // Ends the worker, writes the settings file, lets the link go on.
  void FormDeactivate();
  void FormClose() { FormDeactivate(); }

  // The shared handlers; the channel comes from the sender's Tag.
  void Edit1Enter(QObject* sender);
  // Enter applies the text, Escape puts back the text the field had on entry.
  void Edit1KeyPress(QObject* sender, int key);
  void Edit1Exit(QObject* sender);
  void Jas1Change(QObject* sender, int position);
  void Tl1Click(QObject* sender);
  void Tl1KeyPress(QObject* sender, int key);
  // Shows the stored level of channel i (0..7) in its four controls.
  void ChannelDisplay(int channel);
  // One refresh step; the worker has it run on this thread.
  void RefreshStep();

  QGroupBox* Kan(int i) const { return kan_.at(static_cast<std::size_t>(i)); }
  QLabel* Label(int i) const { return label_.at(static_cast<std::size_t>(i)); }
  QLineEdit* Edit(int i) const { return edit_.at(static_cast<std::size_t>(i)); }
  QSlider* Jas(int i) const { return jas_.at(static_cast<std::size_t>(i)); }
  QPushButton* Tl(int i) const { return tl_.at(static_cast<std::size_t>(i)); }
  // BMZ_TL1..BMZ_TL4: RI, DCD, CTS, DSR.
  QLabel* ModemPanel(int i) const { return panel_.at(static_cast<std::size_t>(i)); }
  // How often each modem panel has been painted since the window was made.
  int PanelPaints(int i) const { return paints_.at(static_cast<std::size_t>(i)); }
  QScrollArea* ScrollBox() const { return scroll_box_; }
  bool WorkerRunning() const { return worker_ != nullptr; }
  unsigned WorkerSteps() const { return worker_ ? worker_->Steps() : 0; }
  bool HoldsLink() const { return hand_over_.Holding(); }
  const QString& SavedEntryText() const { return saved_entry_text_; }

 public slots:
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void PaintPanel(int i, bool on);
  void AcceptChange(int channel, uint8_t level);
  // A change refused because the previous one is still unsent waits here, the
  // newest per channel, and is taken once the previous one has gone out.
  void TakeWaitingChange();
  void StoreWaitingChanges();
  void StopWorker();
  static int ChannelOf(QObject* sender);

  config::Settings& settings_;
  config::ModulePath& module_;
  const config::TextTable& texts_;
  SharedStatus& status_;
  link::PortConnection& port_;
  QWidget* main_window_;
  QtUiInvoker invoker_;
  service::LightingRefresh refresh_;
  service::PortHandOver hand_over_;
  std::unique_ptr<service::LightingWorker> worker_;
  // The last refresh step sent a frame (written by the step on this thread,
  // read by the worker once the step is over).
  std::atomic<bool> frame_sent_{false};
  bool active_ = false;
  bool deactivating_ = false;
  QString saved_entry_text_;

  QGroupBox* preview_box_ = nullptr;
  QScrollArea* scroll_box_ = nullptr;
  std::array<QLabel*, service::kModemPanels> panel_{};
  std::array<int, service::kModemPanels> paints_{};
  std::array<QGroupBox*, service::kChannels> kan_{};
  std::array<QLabel*, service::kChannels> label_{};
  std::array<QLineEdit*, service::kChannels> edit_{};
  std::array<QSlider*, service::kChannels> jas_{};
  std::array<QPushButton*, service::kChannels> tl_{};
  std::array<std::optional<uint8_t>, service::kChannels> waiting_{};
};

}  // namespace m32
