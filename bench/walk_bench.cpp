// The walk test's speed: the walk of 32 channels both ways (66 holds of 3
// valid frames each) against controller-sim on a pseudo-terminal paced like
// a real 8E1 line, at 9600 and 115200 Bd, printed against the target and the
// line's limit (two frame times a step: the frame that carries the change and
// the frame that brings the answer).
//
//   walk_bench [--runs N]
//
// Exits 1 when the median misses its target.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/port_connection.h"
#include "serial/serial_device.h"
#include "serial/tx_model.h"
#include "support/process_support.h"
#include "walk/walk_runner.h"

namespace {

using namespace m32;
using namespace m32::test_support;

struct Case {
  uint32_t baud;
  double target_s;
};

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
  }
  bool ok = true;
  for (const Case c : {Case{9600, 2.5}, Case{115200, 0.3}}) {
    ScratchFolder dir;
    Sim sim(dir.path, {"--format", "8E1", "--harness", "--no-stdin"});
    if (!sim.Ready()) {
      (void)std::fprintf(stderr, "walk_bench: controller-sim did not start\n");
      return 2;
    }
    serial::LineSettings line;
    line.baud = c.baud;
    auto device = serial::MakePlatformSerialDevice();
    if (link::SetUpLine(*device, (dir.path / "COM1").string(), line) != link::LineSetUp::kReady) {
      (void)std::fprintf(stderr, "walk_bench: cannot open COM1\n");
      return 2;
    }
    std::atomic<bool> stop{false};
    walk::WalkRunner runner(*device, line, stop);
    std::vector<double> times;
    uint64_t frames = 0;
    for (int r = 0; r < runs; ++r) {
      walk::RunReadings readings;
      const uint64_t before = runner.FramesWritten();
      const auto t0 = std::chrono::steady_clock::now();
      if (runner.Run(3, readings) != walk::RunOutcome::kDone) {
        (void)std::fprintf(stderr, "walk_bench: the walk did not finish\n");
        return 2;
      }
      times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
      frames += runner.FramesWritten() - before;
    }
    runner.AllOffAndDrain();
    device->Close();
    std::sort(times.begin(), times.end());
    const double frame_s =
        std::chrono::duration<double>(serial::CharTime(c.baud, serial::BitsPerChar(line))).count() *
        8;
    const double limit = 64 * 2 * frame_s;
    const double median = times[times.size() / 2];
    const bool met = median <= c.target_s;
    ok = ok && met;
    (void)std::printf(
        "walk %6u Bd 8E1, hold 3: median %.3f s, max %.3f s (%d runs; target <= %.2f s %s; "
        "line limit %.3f s; %.2f frames a hold)\n",
        c.baud, median, times.back(), runs, c.target_s, met ? "met" : "MISSED", limit,
        static_cast<double>(frames) / (static_cast<double>(runs) * walk::kHolds));
  }
  return ok ? 0 : 1;
}
