// The I/O refresh thread. It suspends itself after every pass; the
// main window's 55 ms timer resumes it. Each pass packs the outputs when the
// link has taken the previous ones and shows the inputs when new ones came.
// On its way out it switches every output off.
#pragma once

#include <functional>

#include "core/shared_status.h"
#include "core/worker.h"

namespace m32::iopanel {

struct IoPanelSteps {
  std::function<void()> refresh;       // RefreshIoPanel, captions kept
  std::function<void()> pack_outputs;  // PackOutputs
  std::function<void()> show_inputs;   // ShowInputs
};

class IoRefreshThread final : public Worker {
 public:
  IoRefreshThread(UiInvoker& ui, SharedStatus& status, IoPanelSteps steps)
      : Worker(ui), status_(status), steps_(std::move(steps)) {}

 protected:
  void Execute() override;

 private:
  SharedStatus& status_;
  IoPanelSteps steps_;
};

}  // namespace m32::iopanel
