// What the live-line benchmarks share: their command-line values, the
// process's CPU time and the wake-ups of its threads.
#pragma once

#include <sys/resource.h>

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

}  // namespace m32::bench
