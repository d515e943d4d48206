// I/O latency at 9600 Bd: the main window runs in this process (headless)
// against controller-sim on a pseudo-terminal paced like a real 8E1 line.
//  - output: from a click on an output box to the first frame on the line that
//    carries the new outputs (the sim's IN line, stamped when the frame's last
//    byte has crossed the line);
//  - input: from the last byte of the sim's first frame that carries new inputs
//    (its OUT line) to the input boxes showing them;
//  - CPU of the whole process (UI, link and refresh threads) while the panel
//    runs with nothing clicked.
// All times are CLOCK_MONOTONIC, the clock of the sim's log.
//
//   io_latency [--changes N] [--cpu-seconds N]
//
// Prints median and p99 of each; exits 1 when a figure misses its target.
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "bench_window_support.h"
#include "support/process_support.h"

namespace {

using namespace m32::bench;
using namespace m32::test_support;

// Runs the event loop, looking at `done` every millisecond, until it holds or
// `limit` passes. True when it held.
template <typename Pred>
bool PumpUntil(Pred done, std::chrono::milliseconds limit) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  poll.setTimerType(Qt::PreciseTimer);
  poll.setInterval(1);
  bool held = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (done()) {
      held = true;
      loop.quit();
    }
  });
  QTimer::singleShot(limit, &loop, &QEventLoop::quit);
  poll.start();
  loop.exec();
  return held || done();
}

struct Stats {
  double median_ms = 0;
  double p99_ms = 0;
  double max_ms = 0;
  std::size_t n = 0;
};

Stats Summarise(std::vector<int64_t> us) {
  Stats s;
  s.n = us.size();
  if (us.empty()) return s;
  std::sort(us.begin(), us.end());
  const auto at = [&](double q) {
    const auto k = static_cast<std::size_t>(std::ceil(q * static_cast<double>(us.size())));
    return static_cast<double>(us[std::min(us.size() - 1, k == 0 ? 0 : k - 1)]) / 1000.0;
  };
  s.median_ms = at(0.5);
  s.p99_ms = at(0.99);
  s.max_ms = static_cast<double>(us.back()) / 1000.0;
  return s;
}

std::array<uint8_t, 4> PackedOutputs(const m32::iopanel::IoPanel& panel) {
  std::array<uint8_t, 4> b{};
  for (int k = 0; k < 32; ++k) {
    if (panel.States()[static_cast<std::size_t>(k)] != 0) {
      b[static_cast<std::size_t>(k / 8)] |= static_cast<uint8_t>(1U << (k % 8));
    }
  }
  return b;
}

bool InputsShown(const m32::iopanel::IoPanel& panel, const std::array<uint8_t, 4>& want) {
  for (int i = 0; i < 32; ++i) {
    const bool bit = ((want[static_cast<std::size_t>(i / 8)] >> (i % 8)) & 1U) != 0;
    if (panel.Box(32 + i)->isChecked() != bit) return false;
  }
  return true;
}

int Arg(int argc, char** argv, const std::string& name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (name == argv[i]) return std::atoi(argv[i + 1]);
  }
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const int changes = std::max(1, Arg(argc, argv, "--changes", 200));
  const int cpu_seconds = std::max(1, Arg(argc, argv, "--cpu-seconds", 10));
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  ScratchFolder dir;
  WriteSettings(dir.path / "merkat32.CFG", LineFile{12, 0, 8, 'E', 1, 0});
  Sim sim(dir.path, {"--format", "8E1", "--baud", "9600"});
  if (!sim.Ready()) {
    (void)std::fprintf(stderr, "io_latency: controller-sim did not start\n");
    return 2;
  }
  SimLog log(sim.LogPath());
  std::deque<LogLine> pending;  // log lines not yet looked at
  const auto refill = [&] {
    for (auto& l : log.Poll()) pending.push_back(std::move(l));
  };

  m32::AppContext ctx;
  ctx.exe_path = (dir.path / "merkat32").string();
  m32::app::MainWindow menu(ctx);
  menu.StartUp();
  m32::iopanel::IoPanel& panel = *menu.Panel();
  const bool live = PumpUntil(
      [&] {
        refill();
        return ctx.status.flags.IoDisplayActive.load() != 0 &&
               std::any_of(pending.begin(), pending.end(),
                           [](const LogLine& l) { return l.tag == "IN"; });
      },
      15s);
  if (!live) {
    (void)std::fprintf(stderr, "io_latency: no exchange within 15 s\n");
    return 2;
  }
  PumpFor(1s);

  // CPU while the panel runs and the line is busy, nothing clicked.
  const double c0 = ProcessCpuSeconds();
  const int64_t w0 = MonotonicUs();
  PumpFor(std::chrono::seconds(cpu_seconds));
  const double cpu = (ProcessCpuSeconds() - c0) / (static_cast<double>(MonotonicUs() - w0) / 1e6);

  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> channel(0, 31);
  std::uniform_int_distribution<int> pause_ms(0, 60);

  // Outputs: click, then find the first frame on the line with the new bytes.
  std::vector<int64_t> out_us;
  int out_lost = 0;
  for (int i = 0; i < changes; ++i) {
    refill();
    pending.clear();
    m32::iopanel::ChannelBox* box = panel.Box(channel(rng));
    const int64_t clicked = MonotonicUs();
    box->click();
    const auto want = LinkFrameWith(PackedOutputs(panel));
    int64_t seen = -1;
    PumpUntil(
        [&] {
          refill();
          while (!pending.empty()) {
            const LogLine l = std::move(pending.front());
            pending.pop_front();
            if (l.tag == "IN" && l.us >= clicked && l.bytes == want) {
              seen = l.us;
              return true;
            }
          }
          return false;
        },
        2s);
    if (seen < 0) {
      ++out_lost;
    } else {
      out_us.push_back(seen - clicked);
    }
    PumpFor(std::chrono::milliseconds(pause_ms(rng)));
  }

  // Inputs: the sim answers with new inputs; find its first frame carrying
  // them and the moment the boxes show them.
  std::vector<int64_t> in_us;
  int in_lost = 0;
  std::array<uint8_t, 4> inputs{};
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < changes; ++i) {
    std::array<uint8_t, 4> next{};
    do {
      for (auto& b : next) b = static_cast<uint8_t>(byte(rng));
    } while (next == inputs);
    inputs = next;
    refill();
    pending.clear();
    char command[64];
    (void)std::snprintf(command, sizeof command, "inputs %02X %02X %02X %02X", inputs[0], inputs[1],
                        inputs[2], inputs[3]);
    const int64_t sent = MonotonicUs();
    sim.Send(command);
    const auto want = LinkFrameWith(inputs);
    int64_t out_at = -1;
    int64_t shown_at = -1;
    PumpUntil(
        [&] {
          if (shown_at < 0 && InputsShown(panel, inputs)) shown_at = MonotonicUs();
          refill();
          while (out_at < 0 && !pending.empty()) {
            const LogLine l = std::move(pending.front());
            pending.pop_front();
            if (l.tag == "OUT" && l.us >= sent && l.bytes == want) out_at = l.us;
          }
          return shown_at >= 0 && out_at >= 0;
        },
        2s);
    if (shown_at < 0 || out_at < 0) {
      ++in_lost;
    } else {
      in_us.push_back(shown_at - out_at);
    }
    PumpFor(std::chrono::milliseconds(pause_ms(rng)));
  }

  menu.CloseSequence();
  sim.Send("quit");
  sim.Process().WaitEnd(5s);

  const Stats o = Summarise(out_us);
  const Stats n = Summarise(in_us);
  const double frame_ms = 88.0 / 9600.0 * 1000.0;
  std::printf("I/O latency at 9600 Bd 8E1 (frame %.2f ms on the line), %d changes each\n", frame_ms,
              changes);
  std::printf("%-44s %8s %8s %8s %6s\n", "", "median", "p99", "max", "lost");
  std::printf("%-44s %7.1fms %7.1fms %7.1fms %6d\n", "click -> end of first frame carrying it",
              o.median_ms, o.p99_ms, o.max_ms, out_lost);
  std::printf("%-44s %7.1fms %7.1fms %7.1fms %6s\n", "click -> start of that frame",
              o.median_ms - frame_ms, o.p99_ms - frame_ms, o.max_ms - frame_ms, "");
  std::printf("%-44s %7.1fms %7.1fms %7.1fms %6d\n", "input frame's last byte -> boxes show it",
              n.median_ms, n.p99_ms, n.max_ms, in_lost);
  std::printf("CPU of the process while the panel runs (%d s): %.2f %% of one core\n", cpu_seconds,
              100 * cpu);
  bool met = true;
  if (o.n == 0 || o.p99_ms > 70) {
    std::printf("missed: output p99 <= 70 ms\n");
    met = false;
  }
  if (n.n == 0 || n.p99_ms > 70) {
    std::printf("missed: input p99 <= 70 ms\n");
    met = false;
  }
  if (cpu > 0.02) {
    std::printf("missed: CPU <= 2 %% of one core\n");
    met = false;
  }
  if (out_lost + in_lost != 0) {
    std::printf("missed: every change reaches the other side\n");
    met = false;
  }
  return met ? 0 : 1;
}
