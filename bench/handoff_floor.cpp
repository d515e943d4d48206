// What a frame's hand-off costs on this machine before any work is done: the
// floor under the link's CPU at 115200 Bd. The link's design needs, for every
// frame, one timed wake-up of its thread (the frame has left the line) and one
// trip to the UI thread and back (the step runs there while the link waits).
// Measured here with no port and an empty step, paced like frames at 115200 Bd
// 8E1 (88 bits, 764 us):
//
//   timed wake only      one thread sleeping to each frame's end: the least
//                        any design that wakes once a frame can cost
//   bare hand-off        a worker sleeping to each frame's end, then handing an
//                        empty step to a thread waiting in poll() and waiting
//                        on a condition variable until it has run
//   Qt hand-off          the same through the tool's own QtUiInvoker into a
//                        Qt event loop, as the link does it
//
// Prints the CPU each costs a frame and as a share of one core at 92 % of the
// line's frame limit, beside the link's target of 2.5 %.
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
constexpr double kLinkTarget = 0.025;

// Sleeps until the end of the next frame.
class FrameClock {
 public:
  FrameClock() { clock_gettime(CLOCK_MONOTONIC, &next_); }
  void SleepToNextFrame() {
    next_.tv_nsec += kFrameNs;
    if (next_.tv_nsec >= 1000000000L) {
      next_.tv_nsec -= 1000000000L;
      ++next_.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next_, nullptr) != 0) {
    }
  }

 private:
  timespec next_{};
};

// Runs `frames` frames of `per_frame` and returns the process CPU a frame, in us.
double CpuPerFrame(int frames, const std::function<void()>& per_frame) {
  const double c0 = ProcessCpuSeconds();
  for (int i = 0; i < frames; ++i) per_frame();
  return (ProcessCpuSeconds() - c0) * 1e6 / frames;
}

double TimedWakeOnly(int frames) {
  FrameClock clock;
  return CpuPerFrame(frames, [&] { clock.SleepToNextFrame(); });
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
  FrameClock clock;
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
    FrameClock clock;
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
  std::printf("%-18s %12s %22s %8s\n", "", "CPU a frame", "share at 92 % of line", "target");
  const struct {
    const char* name;
    double (*run)(int);
  } cases[] = {{"timed wake only", TimedWakeOnly},
               {"bare hand-off", BareHandOff},
               {"Qt hand-off", QtHandOff}};
  for (const auto& c : cases) {
    const double us = c.run(frames);
    std::printf("%-18s %9.1f us %21.2f%% %7.1f%%\n", c.name, us, us * kFramesPerSecond / 1e4,
                100 * kLinkTarget);
  }
  std::printf(
      "\nThe link needs a timed wake-up and a hand-off every frame; what the hand-off rows "
      "cost is\nspent before the step reads or writes a byte.\n");
  return 0;
}
