// The orderly close: stop the I/O display, offer all-off outputs to the link
// three times, save the settings, close the port. It is
// never refused and runs at most once.
#pragma once

#include <functional>

#include "core/shared_status.h"

namespace m32 {

struct CloseSteps {
  std::function<void()> request_display_stop;  // ask the I/O refresh thread to end
  std::function<void()> resume_display;        // wake it if it is suspended
  std::function<void()> pump_once;             // process pending UI events once
  std::function<void(int ms)> pump_for;        // keep processing UI events for ms
  std::function<void(const std::function<bool()>&)> pump_until;  // ... until true
  std::function<void()> save_settings;
  std::function<void()> close_port;
};

void RunCloseSequence(SharedStatus& status, const CloseSteps& steps);

}  // namespace m32
