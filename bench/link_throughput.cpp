// Link throughput on a live line: the built tool, headless, talks to
// controller-sim over a pseudo-terminal paced like a real 8E1 line (11 bits a
// character, 88 bits a frame). Counts the frames the sim received from the tool
// over a fixed window, and the tool's CPU time over the same window; then hangs
// the line up and measures the tool's CPU while it has no one to talk to.
//
//   link_throughput [--seconds N] [--hangup-seconds N]
//
// Prints a table; exits 1 when a figure misses its target.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/process_support.h"

namespace {

using namespace m32::test_support;

struct Case {
  uint32_t baud;
  uint32_t divisor;
  double min_share;      // of the line's frame limit
  double max_cpu_share;  // of one core; < 0: no target
};

struct Result {
  double frames_per_s = 0;
  double limit = 0;
  double cpu = 0;      // tool, share of one core, while exchanging
  double sim_cpu = 0;  // the stand-in, for comparison
  double hangup_cpu = -1;
  int bad = 0;
  bool alive_after_hangup = false;
  int exit_code = -1;
  std::string error;
};

Result RunCase(const Case& c, double seconds, double hangup_seconds) {
  Result r;
  r.limit = static_cast<double>(c.baud) / 88.0;
  ScratchFolder dir;
  WriteSettings(dir.path / "merkat32.CFG", LineFile{c.divisor, 0, 8, 'E', 1, 0});
  Sim sim(dir.path, {"--format", "8E1", "--baud", std::to_string(c.baud)});
  if (!sim.Ready()) {
    r.error = "controller-sim did not start";
    return r;
  }
  Child tool;
  if (!StartTool(tool, dir.path)) {
    r.error = "the tool did not start";
    return r;
  }
  SimLog log(sim.LogPath());
  int seen = 0;
  if (!WaitFor([&] { return (seen += CountTagged(log.Poll(), "IN")) > 0; }, 15s)) {
    r.error = "no frame from the tool within 15 s";
    return r;
  }
  std::this_thread::sleep_for(1s);  // past start-up

  const int64_t t0 = MonotonicUs();
  const auto cpu0 = CpuSeconds(tool.Pid());
  const auto sim0 = CpuSeconds(sim.Process().Pid());
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const int64_t t1 = MonotonicUs();
  const auto cpu1 = CpuSeconds(tool.Pid());
  const auto sim1 = CpuSeconds(sim.Process().Pid());
  const double dt = static_cast<double>(t1 - t0) / 1e6;
  int frames = 0;
  for (const auto& l : log.All()) {
    if (l.tag == "IN" && l.us >= t0 && l.us < t1) ++frames;
    if (l.tag == "BAD") ++r.bad;
  }
  r.frames_per_s = frames / dt;
  if (cpu0 && cpu1) r.cpu = (*cpu1 - *cpu0) / dt;
  if (sim0 && sim1) r.sim_cpu = (*sim1 - *sim0) / dt;

  // The other end hangs up: the sim closes its side of the pseudo-terminal.
  sim.Send("hangup");
  sim.Process().WaitEnd(10s);
  std::this_thread::sleep_for(1s);
  const int64_t h0 = MonotonicUs();
  const auto hc0 = CpuSeconds(tool.Pid());
  std::this_thread::sleep_for(std::chrono::duration<double>(hangup_seconds));
  const int64_t h1 = MonotonicUs();
  const auto hc1 = CpuSeconds(tool.Pid());
  if (hc0 && hc1) r.hangup_cpu = (*hc1 - *hc0) / (static_cast<double>(h1 - h0) / 1e6);
  r.alive_after_hangup = tool.Running();
  r.exit_code = tool.Stop(SIGTERM, 10s).value_or(-1);
  return r;
}

double Arg(int argc, char** argv, const std::string& name, double fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (name == argv[i]) return std::atof(argv[i + 1]);
  }
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = Arg(argc, argv, "--seconds", 10);
  const double hangup_seconds = Arg(argc, argv, "--hangup-seconds", 10);
  const std::vector<Case> cases{{9600, 12, 0.95, 0.02}, {115200, 1, 0.85, -1}};

  std::printf("link throughput: tool %s\n", M32_EXE);
  std::printf("%d s exchange, %d s after hang-up; 8E1, 88 bits a frame; CPU in %% of one core\n\n",
              static_cast<int>(seconds), static_cast<int>(hangup_seconds));
  std::printf("%8s %9s %9s %7s %7s %9s %8s %10s %5s %4s\n", "Bd", "frames/s", "limit", "share",
              "target", "tool CPU", "sim CPU", "hangup CPU", "alive", "exit");
  bool all_met = true;
  for (const auto& c : cases) {
    const Result r = RunCase(c, seconds, hangup_seconds);
    if (!r.error.empty()) {
      std::printf("%8u  failed: %s\n", c.baud, r.error.c_str());
      all_met = false;
      continue;
    }
    const double share = r.frames_per_s / r.limit;
    std::printf("%8u %9.1f %9.1f %6.1f%% %6.0f%% %8.2f%% %7.2f%% %9.2f%% %5s %4d\n", c.baud,
                r.frames_per_s, r.limit, 100 * share, 100 * c.min_share, 100 * r.cpu,
                100 * r.sim_cpu, 100 * r.hangup_cpu, r.alive_after_hangup ? "yes" : "NO",
                r.exit_code);
    std::vector<std::string> misses;
    if (share < c.min_share) misses.emplace_back("throughput");
    if (c.max_cpu_share >= 0 && r.cpu > c.max_cpu_share) misses.emplace_back("CPU > 2 %");
    if (r.hangup_cpu > 0.01) misses.emplace_back("CPU after hang-up > 1 %");
    if (!r.alive_after_hangup) misses.emplace_back("tool ended after hang-up");
    if (r.exit_code != 0) misses.emplace_back("exit status after SIGTERM");
    if (r.bad != 0) misses.emplace_back("bad frames from the tool");
    for (const auto& m : misses) std::printf("%8s   missed: %s\n", "", m.c_str());
    all_met = all_met && misses.empty();
  }
  std::printf(
      "\ntargets: share >= 95 %% at 9600 Bd and >= 85 %% at 115200 Bd; tool CPU <= 2 %% at "
      "9600 Bd; <= 1 %% after hang-up\n");
  return all_met ? 0 : 1;
}
