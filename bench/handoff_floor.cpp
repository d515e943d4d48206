// What a frame's hand-off to the UI thread costs on this machine before any
// work is done, paced like 115200 Bd 8E1 frames (88 bits, 764 us), with no
// port and an empty step:
//
//   timed wake only      one thread sleeping to each frame's end: the least
//                        any design that wakes once a frame can cost, and
//                        what the link needs (its step runs on its own thread)
//   bare hand-off        a worker sleeping to each frame's end, then handing an
//                        empty step to a thread waiting in poll() and waiting
//                        on a condition variable until it has run
//   Qt hand-off          the same through the tool's own QtUiInvoker into a
//                        Qt event loop, as the refresh and service workers do
//
// Prints the CPU each costs a frame and as a share of one core at 92 % of the
// line's frame limit.
//
//   handoff_floor [--seconds N]
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "bench_support.h"
#include "qt/ui_invoker.h"

namespace {

using m32::bench::ProcessCpuSeconds;

constexpr long kFrameNs = 88L * 1000000000L / 115200L;  // 8E1 frame at 115200 Bd
constexpr double kFramesPerSecond = 0.92 * 115200.0 / 88.0;

// Runs `frames` frames of `per_frame` and returns the process CPU a frame, in us.
double CpuPerFrame(int frames, const std::function<void()>& per_frame) {
  const double c0 = ProcessCpuSeconds();
  for (int i = 0; i < frames; ++i) per_frame();
  return (ProcessCpuSeconds() - c0) * 1e6 / frames;
}

double TimedWakeOnly(int frames) {
  return m32::bench::TimedWakeFloorUs(kFrameNs, frames);
}

double BareHandOff(int frames) {
  const int wake = eventfd(0, EFD_CLOEXEC);
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::atomic<bool> stop{false};
  std::thread ui([&] {
    pollfd p{wake, POLLIN, 0};
    while (!stop.load()) {
      if (poll(&p, 1, 100) <= 0) continue;
      uint64_t n = 0;
      if (read(wake, &n, sizeof n) != sizeof n) continue;
      {
        const std::lock_guard lock(m);
        done = true;
      }
      cv.notify_all();
    }
  });
  m32::bench::FrameClock clock(kFrameNs);
  const double us = CpuPerFrame(frames, [&] {
    clock.SleepToNextFrame();
    {
      const std::lock_guard lock(m);
      done = false;
    }
    const uint64_t one = 1;
    if (write(wake, &one, sizeof one) != sizeof one) return;
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return done; });
  });
  stop.store(true);
  ui.join();
  close(wake);
  return us;
}

double QtHandOff(int frames) {
  QObject ui_object;
  m32::QtUiInvoker invoker(&ui_object);
  double us = 0;
  std::thread worker([&] {
    m32::bench::FrameClock clock(kFrameNs);
    us = CpuPerFrame(frames, [&] {
      clock.SleepToNextFrame();
      invoker.RunOnUi([] {});
    });
    invoker.RunOnUi([] { QCoreApplication::quit(); });
  });
  QCoreApplication::exec();
  worker.join();
  return us;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const double seconds = std::stod(m32::bench::StrArg(argc, argv, "--seconds", "5"));
  const int frames = static_cast<int>(seconds * 1e9 / kFrameNs);
  std::printf("one frame's hand-off, paced like 115200 Bd 8E1 frames (%ld us), %d frames\n",
              kFrameNs / 1000, frames);
  std::printf("%-18s %12s %22s\n", "", "CPU a frame", "share at 92 % of line");
  const struct {
    const char* name;
    double (*run)(int);
  } cases[] = {{"timed wake only", TimedWakeOnly},
               {"bare hand-off", BareHandOff},
               {"Qt hand-off", QtHandOff}};
  for (const auto& c : cases) {
    const double us = c.run(frames);
    std::printf("%-18s %9.1f us %21.2f%%\n", c.name, us, us * kFramesPerSecond / 1e4);
  }
  std::printf(
      "\nThe link needs one timed wake-up a frame (its target: 1.3 x that floor, printed by\n"
      "link_throughput beside its own figure); the hand-off rows are what a worker whose step\n"
      "runs on the UI thread spends before the step reads or writes a byte.\n");
  return 0;
}
