#include "service/lighting_refresh.h"

namespace m32::service {

void LightingRefresh::Start(SharedStatus& status, uint8_t address) {
  frame_ = BuildBrightnessFrame(Levels{}, address);
  address_ = address;
  parser_.Reset();
  status.flags.InputsReceived.store(0);
  status.flags.OutputsChanged.store(0);
  status.LightingSendCountdown.store(kSendAfterStart);
  shown_.fill(kNotShown);
}

LightingView LightingRefresh::Step(serial::SerialDevice& port, SharedStatus& status,
                                   const Levels& levels) {
  LightingView view;
  const bool open = port.IsOpen();
  // Counts that cannot be read (no port, or a failed query) count as zero:
  // nothing to read, nothing waiting to go out.
  serial::QueueCounts counts;
  if (!open || !port.Counts(counts)) counts = serial::QueueCounts{};

  serial::ModemLines lines;
  if (open && port.Modem(lines)) {
    const std::array<bool, kModemPanels> on = {lines.ri, lines.dcd, lines.cts, lines.dsr};
    for (std::size_t i = 0; i < on.size(); ++i) {
      const uint8_t now = on[i] ? 1 : 0;
      if (shown_[i] != now) view.panels[i] = on[i];
      shown_[i] = now;
    }
  }
  if (counts.rx > 0) {
    SerialByteSource source(port);
    if (parser_.Pass(source, counts.rx) == BrightnessReplyParser::Outcome::kValid) {
      view.reply_valid = true;
      if (status.flags.InputsReceived.load() == 0) status.flags.InputsReceived.store(1);
    }
  }

  if (counts.tx == 0 && status.LightingSendCountdown.load() != 0) {
    frame_ = BuildBrightnessFrame(levels, address_);
    status.flags.OutputsChanged.store(0);
    // Without a port the change is taken all the same, so the levels can
    // still be set and are saved at the close.
    if (open) {
      port.Write(frame_);
      view.frame_sent = true;
    }
  }
  return view;
}

}  // namespace m32::service
