// What the live-line benchmarks share: their command-line values, the
// process's CPU time, the wake-ups of its threads, and the floor under the
// link's CPU (one timed wake-up a frame).
#pragma once

#include <sys/resource.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace m32::bench {

// The value after `name` on the command line, or `fallback`.
inline std::string StrArg(int argc, char** argv, const std::string& name,
                          const std::string& fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (name == argv[i]) return argv[i + 1];
  }
  return fallback;
}

// User and system CPU time of this process so far, in seconds.
inline double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Context switches (each a wake-up) of the threads of process `pid` ("self"
// for this one), or of its thread `tid` alone (all for an empty one); nothing
// when the process's thread list cannot be read.
inline std::optional<long long> WakeUps(const std::string& pid = "self",
                                        const std::string& tid = "") {
  std::error_code ec;
  long long total = 0;
  const std::filesystem::path tasks = "/proc/" + pid + "/task";
  for (const auto& t : std::filesystem::directory_iterator(tasks, ec)) {
    if (!tid.empty() && t.path().filename() != tid) continue;
    std::ifstream f(t.path() / "status");
    std::string line;
    while (std::getline(f, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::atoll(line.c_str() + line.find(':') + 1);
      }
    }
  }
  if (ec) return std::nullopt;
  return total;
}

// Sleeps until the end of each next frame of `frame_ns`, on CLOCK_MONOTONIC.
class FrameClock {
 public:
  explicit FrameClock(long frame_ns) : frame_ns_(frame_ns) {
    clock_gettime(CLOCK_MONOTONIC, &next_);
  }
  void SleepToNextFrame() {
    next_.tv_nsec += frame_ns_;
    while (next_.tv_nsec >= 1000000000L) {
      next_.tv_nsec -= 1000000000L;
      ++next_.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next_, nullptr) != 0) {
    }
  }

 private:
  long frame_ns_;
  timespec next_{};
};

// The timed wake-up floor: the CPU, in microseconds a frame, of one thread
// that does nothing but sleep to the end of each frame of `frame_ns`, over
// `frames` frames. No design that wakes once a frame costs less.
inline double TimedWakeFloorUs(long frame_ns, int frames) {
  FrameClock clock(frame_ns);
  const double c0 = ProcessCpuSeconds();
  for (int i = 0; i < frames; ++i) clock.SleepToNextFrame();
  return (ProcessCpuSeconds() - c0) * 1e6 / frames;
}

}  // namespace m32::bench
