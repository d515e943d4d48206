// The step period of the two service workers when their port is gone: never
// opened, or hung up (a pseudo-terminal whose other end closed). The worker
// runs on the platform's serial device with its steps run inline, and the
// time between steps is measured.
//
//   service_pace [--steps N]
//
// Prints the mean and the shortest period of each against the worker's pace
// (communication test 500 ms, lighting test 50 ms); exits 1 when a mean is
// more than 10 % off its pace or a period is under 90 % of it (spinning).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/shared_status.h"
#include "serial/serial_device.h"
#include "service/port_step_worker.h"
#include "support/pty_pair.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

struct Result {
  double mean_ms = 0;
  double min_ms = 0;
};

// Runs `steps` steps of the worker made by `make` and measures the periods.
template <typename Make>
Result Measure(m32::serial::SerialDevice& port, int steps, Make make) {
  std::vector<Clock::time_point> at;
  at.reserve(static_cast<std::size_t>(steps) + 1);
  m32::InlineInvoker ui;
  auto worker = make(ui, port, [&] { at.push_back(Clock::now()); });
  worker->Start();
  while (static_cast<int>(worker->Steps()) < steps + 1) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  worker->Terminate();
  worker->Join();
  Result r;
  r.min_ms = 1e9;
  for (int i = 1; i <= steps; ++i) {
    const double p =
        Ms(at[static_cast<std::size_t>(i)] - at[static_cast<std::size_t>(i) - 1]).count();
    r.mean_ms += p / steps;
    r.min_ms = std::min(r.min_ms, p);
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int steps = 10;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--steps") == 0) steps = std::max(2, std::atoi(argv[i + 1]));
  }
  using m32::service::CommWorker;
  using m32::service::LightingWorker;
  m32::SharedStatus status;
  auto comm = [](m32::UiInvoker& ui, m32::serial::SerialDevice& port, std::function<void()> step) {
    return std::make_unique<CommWorker>(ui, port, std::move(step));
  };
  auto lighting = [&status](m32::UiInvoker& ui, m32::serial::SerialDevice& port,
                            std::function<void()> step) {
    return std::make_unique<LightingWorker>(ui, port, status, nullptr, std::move(step));
  };

  bool ok = true;
  const auto report = [&](const char* what, const Result& r, double pace_ms) {
    const bool hit = std::abs(r.mean_ms - pace_ms) <= pace_ms * 0.1 && r.min_ms >= pace_ms * 0.9;
    ok = ok && hit;
    std::printf("%-40s mean %7.1f ms  shortest %7.1f ms  (target %5.0f ms)  %s\n", what, r.mean_ms,
                r.min_ms, pace_ms, hit ? "ok" : "MISSED");
  };
  const double comm_ms = Ms(CommWorker::kPace).count();
  const double lighting_ms = Ms(LightingWorker::kPace).count();

  {
    auto port = m32::serial::MakePlatformSerialDevice();  // never opened
    report("communication test, no port", Measure(*port, steps, comm), comm_ms);
    report("lighting test, no port", Measure(*port, steps * 5, lighting), lighting_ms);
  }
  {
    m32::test_support::PtyPair line;
    auto port = m32::serial::MakePlatformSerialDevice();
    if (!line.ok() || port->Open(line.slave_path()) != m32::serial::OpenResult::kOk) {
      std::printf("no pseudo-terminal to hang up\n");
      return 1;
    }
    line.CloseMaster();  // the far end goes: the port is hung up
    report("communication test, hung-up port", Measure(*port, steps, comm), comm_ms);
    report("lighting test, hung-up port", Measure(*port, steps * 5, lighting), lighting_ms);
  }
  return ok ? 0 : 1;
}
