#include "app/close_sequence.h"

namespace m32 {

void RunCloseSequence(SharedStatus& status, const CloseSteps& steps) {
  // 1. Stop the display. The refresh thread's last step runs on the UI
  //    thread, so events are processed while we wait for it.
  if (status.flags.IoDisplayActive.load() != 0) {
    steps.request_display_stop();
    steps.pump_once();
    if (status.flags.IoDisplayActive.load() != 0) {
      steps.resume_display();
      steps.pump_until([&status] { return status.flags.IoDisplayActive.load() == 0; });
    }
  }
  // 2.-3. All outputs off, offered to the link three times. The waits keep
  //    processing events: the link's steps run on this thread.
  status.ClearIoBytes();
  for (int i = 0; i < 3; ++i) {
    status.flags.OutputsChanged.store(1);
    steps.pump_once();
    steps.pump_for(100);
  }
  // 4.-5.
  steps.save_settings();
  steps.close_port();
}

}  // namespace m32
