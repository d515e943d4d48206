// Link throughput on a live line: the built tool talks to controller-sim over
// a pseudo-terminal paced like a real 8E1 line (11 bits a character, 88 bits a
// frame). Counts the frames the sim received from the tool over a fixed
// window, the tool's CPU time and its threads' wake-ups (context switches)
// over the same window; then hangs the line up and measures the tool's CPU
// while it has no one to talk to. One case has the sim answer with inputs
// that change in every frame (its adc mode, shown in the panel's A/D box).
//
// With --display (or DISPLAY set) the tool shows its window on that X server;
// otherwise it runs offscreen.
//
//   link_throughput [--seconds N] [--hangup-seconds N] [--display :N]
//                   [--only mirror|adc] [--baud N] [--repeat N]
//
// --only and --baud pick cases; --repeat runs each that often (a virtual
// machine's figures wander from run to run: judge by the median). Before the
// cases it measures the timed wake-up floor (bench_support.h) at 115200 Bd's
// frame pace; the 115200 Bd target is 1.3 x that floor at the frame rate the
// case reached. Prints a table; exits 1 when a figure misses its target.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "support/process_support.h"

namespace {

using namespace m32::bench;
using namespace m32::test_support;

struct Case {
  const char* name;
  uint32_t baud;
  uint32_t divisor;
  bool adc;              // the sim's inputs change in every frame
  double min_share;      // of the line's frame limit
  double max_cpu_share;  // of one core; 0: 1.3 x the timed wake-up floor
};

// The link wakes once a frame; its CPU may be this much over the floor.
constexpr double kOverFloor = 1.3;

struct Result {
  double frames_per_s = 0;
  double limit = 0;
  double cpu = 0;      // tool, share of one core, while exchanging
  double sim_cpu = 0;  // the stand-in, for comparison
  double wakeups_per_frame = -1;
  double first_frame_ms = -1;  // from exec to the end of the first frame on the line
  double hangup_cpu = -1;
  int bad = 0;
  bool alive_after_hangup = false;
  int exit_code = -1;
  std::string error;
};

Result RunCase(const Case& c, double seconds, double hangup_seconds, const std::string& display) {
  Result r;
  r.limit = static_cast<double>(c.baud) / 88.0;
  ScratchFolder dir;
  WriteSettings(dir.path / "merkat32.CFG",
                LineFile{c.divisor, 0, 8, 'E', 1, static_cast<int16_t>(c.adc ? 2 : 0)});
  std::vector<std::string> sim_args{"--format", "8E1", "--baud", std::to_string(c.baud)};
  if (c.adc) {
    sim_args.emplace_back("--mode");
    sim_args.emplace_back("adc");
  }
  Sim sim(dir.path, sim_args);
  if (!sim.Ready()) {
    r.error = "controller-sim did not start";
    return r;
  }
  Child tool;
  std::vector<std::string> env;
  if (!display.empty()) {
    env.emplace_back("QT_QPA_PLATFORM=xcb");
    env.push_back("DISPLAY=" + display);
  }
  const int64_t exec_us = MonotonicUs();
  if (!StartTool(tool, dir.path, env)) {
    r.error = "the tool did not start";
    return r;
  }
  SimLog log(sim.LogPath());
  int64_t first_in = -1;
  if (!WaitFor(
          [&] {
            for (const auto& l : log.Poll()) {
              if (l.tag == "IN" && first_in < 0) first_in = l.us;
            }
            return first_in >= 0;
          },
          15s)) {
    r.error = "no frame from the tool within 15 s";
    return r;
  }
  r.first_frame_ms = static_cast<double>(first_in - exec_us) / 1000.0;
  std::this_thread::sleep_for(1s);  // past start-up

  const int64_t t0 = MonotonicUs();
  const auto cpu0 = CpuSeconds(tool.Pid());
  const auto sim0 = CpuSeconds(sim.Process().Pid());
  const auto wake0 = WakeUps(std::to_string(tool.Pid()));
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const int64_t t1 = MonotonicUs();
  const auto cpu1 = CpuSeconds(tool.Pid());
  const auto wake1 = WakeUps(std::to_string(tool.Pid()));
  const auto sim1 = CpuSeconds(sim.Process().Pid());
  const double dt = static_cast<double>(t1 - t0) / 1e6;
  int frames = 0;
  for (const auto& l : log.All()) {
    if (l.tag == "IN" && l.us >= t0 && l.us < t1) ++frames;
    if (l.tag == "BAD") ++r.bad;
  }
  r.frames_per_s = frames / dt;
  if (wake0 && wake1 && frames > 0) {
    r.wakeups_per_frame = static_cast<double>(*wake1 - *wake0) / frames;
  }
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

std::string EnvOr(const char* name) {
  const char* v = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): before any thread
  return v != nullptr ? std::string(v) : std::string();
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
  const double hangup_seconds = Arg(argc, argv, "--hangup-seconds", 5);
  const int repeat = std::max(1, static_cast<int>(Arg(argc, argv, "--repeat", 1)));
  const auto only_baud = static_cast<uint32_t>(Arg(argc, argv, "--baud", 0));
  std::string display = EnvOr("DISPLAY");
  std::string only;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string("--display") == argv[i]) display = argv[i + 1];
    if (std::string("--only") == argv[i]) only = argv[i + 1];
  }
  const std::vector<Case> cases{{"mirror", 9600, 12, false, 0.98, 0.005},
                                {"mirror", 115200, 1, false, 0.92, 0},
                                {"adc", 9600, 12, true, 0.98, 0.015}};
  // The floor, measured in this run: one wake-up per 115200 Bd 8E1 frame.
  constexpr long kFrameNs115200 = 88L * 1000000000L / 115200L;
  const double floor_us = TimedWakeFloorUs(kFrameNs115200, static_cast<int>(3e9 / kFrameNs115200));
  std::printf("timed wake-up floor: %.1f us a frame (%.2f %% of a core at 92 %% of 115200 Bd)\n\n",
              floor_us, floor_us * 0.92 * 115200.0 / 88.0 / 1e4);

  std::printf("link throughput: tool %s, window %s\n", M32_EXE,
              display.empty() ? "offscreen" : ("shown on X display " + display).c_str());
  std::printf("%d s exchange, %d s after hang-up; 8E1, 88 bits a frame; CPU in %% of one core\n\n",
              static_cast<int>(seconds), static_cast<int>(hangup_seconds));
  std::printf("%-6s %7s %9s %9s %7s %7s %9s %7s %8s %9s %10s %5s %4s\n", "inputs", "Bd", "frames/s",
              "limit", "share", "target", "tool CPU", "target", "sim CPU", "wakes/fr", "hangup CPU",
              "alive", "exit");
  bool all_met = true;
  std::vector<Case> runs;
  for (const auto& c : cases) {
    if (!only.empty() && only != c.name) continue;
    if (only_baud != 0 && only_baud != c.baud) continue;
    for (int k = 0; k < repeat; ++k) runs.push_back(c);
  }
  for (const auto& c : runs) {
    const Result r = RunCase(c, seconds, hangup_seconds, display);
    if (!r.error.empty()) {
      std::printf("%-6s %7u  failed: %s\n", c.name, c.baud, r.error.c_str());
      all_met = false;
      continue;
    }
    const double share = r.frames_per_s / r.limit;
    const double cpu_target =
        c.max_cpu_share > 0 ? c.max_cpu_share : kOverFloor * floor_us * r.frames_per_s / 1e6;
    std::printf(
        "%-6s %7u %9.1f %9.1f %6.1f%% %6.0f%% %8.2f%% %6.1f%% %7.2f%% %9.2f %9.2f%% %5s %4d\n",
        c.name, c.baud, r.frames_per_s, r.limit, 100 * share, 100 * c.min_share, 100 * r.cpu,
        100 * cpu_target, 100 * r.sim_cpu, r.wakeups_per_frame, 100 * r.hangup_cpu,
        r.alive_after_hangup ? "yes" : "NO", r.exit_code);
    std::vector<std::string> misses;
    if (share < c.min_share) misses.emplace_back("throughput");
    if (r.cpu > cpu_target) misses.emplace_back("tool CPU");
    if (r.hangup_cpu > 0.01) misses.emplace_back("CPU after hang-up > 1 %");
    if (!r.alive_after_hangup) misses.emplace_back("tool ended after hang-up");
    if (r.exit_code != 0) misses.emplace_back("exit status after SIGTERM");
    if (r.bad != 0) misses.emplace_back("bad frames from the tool");
    std::printf("%16s first frame on the line %.1f ms after exec\n", "", r.first_frame_ms);
    for (const auto& m : misses) std::printf("%16s missed: %s\n", "", m.c_str());
    all_met = all_met && misses.empty();
  }
  std::printf(
      "\ntargets: share >= 98 %% at 9600 Bd and >= 92 %% at 115200 Bd; tool CPU <= 0.5 %% at "
      "9600 Bd, <= 1.3 x the timed wake-up floor at 115200 Bd, <= 1.5 %% with inputs changing "
      "every frame (window shown on a real X server); <= 1 %% after hang-up\n");
  return all_met ? 0 : 1;
}
