#include "iopanel/io_refresh_thread.h"

namespace m32::iopanel {

void IoRefreshThread::Execute() {
  status_.flags.IoDisplayActive.store(1);
  Synchronize(steps_.refresh);
  while (true) {
    SuspendSelf();  // the 55 ms timer resumes us
    if (Terminated()) break;
    // Both steps of a pass go to the UI thread in one trip, in their order.
    const bool pack = status_.flags.OutputsChanged.load() == 0;
    const bool show = status_.flags.InputsReceived.load() != 0;
    if (pack || show) {
      Synchronize([this, pack, show] {
        if (pack) steps_.pack_outputs();
        if (show) steps_.show_inputs();
      });
    }
  }
  // Every output off for the link, then the panel greyed.
  status_.ClearIoBytes();
  status_.flags.OutputsChanged.store(1);
  status_.flags.IoDisplayActive.store(0);
  Synchronize(steps_.refresh);
}

}  // namespace m32::iopanel
