// The lighting test's refresh step: samples the four modem status lines,
// looks for the controller's reply and sends the BrightnessFrame while the
// send countdown lasts. It runs on the user-interface thread; the window only
// repaints what the step reports.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/shared_status.h"
#include "serial/serial_device.h"
#include "service/brightness.h"

namespace m32::service {

// The four modem line panels, in this order: RI, DCD, CTS, DSR.
inline constexpr int kModemPanels = 4;

struct ModemPanelLook {
  std::string_view caption;
  uint32_t on_background;  // 0xRRGGBB
  uint32_t on_text;
};
inline constexpr std::array<ModemPanelLook, kModemPanels> kModemPanelLooks = {{
    {"RI", 0x50A000, 0x000000},
    {"DCD", 0xFFFF00, 0x000000},
    {"CTS", 0x000000, 0xFFFFFF},
    {"DSR", 0xFFFFFF, 0x000000},
}};
// A line that is off: lime with grey text.
inline constexpr uint32_t kOffBackground = 0x00FF00;
inline constexpr uint32_t kOffText = 0x808080;

// What the window repaints after a step.
struct LightingView {
  // A panel to repaint, on (true) or off (false); empty: leave it as it is.
  std::array<std::optional<bool>, kModemPanels> panels;
  bool reply_valid = false;  // a valid reply arrived in this step
  bool frame_sent = false;
};

class LightingRefresh {
 public:
  // The worker's start: the frame's fixed bytes, the address copy, sync
  // state 0, InputsReceived and OutputsChanged cleared, the send countdown at
  // 50 and every panel marked as not shown yet.
  void Start(SharedStatus& status, uint8_t address);

  // One refresh step. Queue counts that cannot be read count as zero. With
  // the port closed nothing is read, written or repainted, but a change
  // waiting to be sent is taken as sent, so further changes are accepted.
  LightingView Step(serial::SerialDevice& port, SharedStatus& status, const Levels& levels);

  const BrightnessFrame& Frame() const { return frame_; }
  int ReplyState() const { return parser_.State(); }

 private:
  static constexpr uint8_t kNotShown = 3;

  BrightnessFrame frame_{};
  BrightnessReplyParser parser_;
  uint8_t address_ = 0;
  std::array<uint8_t, kModemPanels> shown_{kNotShown, kNotShown, kNotShown, kNotShown};
};

}  // namespace m32::service
