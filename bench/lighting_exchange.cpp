// The lighting test exchanging with controller-sim at 9600 Bd 8E1: the main
// window runs in this process with the lighting test open; a level is changed
// every 400 ms, so BrightnessFrames go out back to back all the time (each
// change sends for about a second). Counts the frames the sim received
// against the line's limit (13 characters of 11 bits a frame), the refresh
// steps, and the process's CPU and wake-ups over the same window.
//
// With --display (or DISPLAY set) the window is shown on that X server;
// otherwise offscreen.
//
//   lighting_exchange [--seconds N] [--display :N]
//
// Prints its figures against the targets; exits 1 when one is missed.
#include <QApplication>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/main_window.h"
#include "bench_window_support.h"
#include "service/lighting_window.h"
#include "support/process_support.h"

namespace {

using namespace m32::bench;
using namespace m32::test_support;

constexpr double kMaxCpu = 0.01;
constexpr double kMinShare = 0.90;  // of the line's frame limit while sending

}  // namespace

int main(int argc, char** argv) {
  const int seconds = std::max(1, std::atoi(StrArg(argc, argv, "--seconds", "10").c_str()));
  const std::string display = ChooseDisplay(argc, argv);
  QApplication app(argc, argv);

  ScratchFolder dir;
  WriteSettings(dir.path / "merkat32.CFG", LineFile{12, 0, 8, 'E', 1, 0});
  Sim sim(dir.path, {"--format", "8E1", "--baud", "9600"});
  if (!sim.Ready()) {
    (void)std::fprintf(stderr, "lighting_exchange: controller-sim did not start\n");
    return 2;
  }
  SimLog log(sim.LogPath());

  m32::AppContext ctx;
  ctx.exe_path = (dir.path / "merkat32").string();
  m32::app::MainWindow menu(ctx);
  menu.StartUp();
  menu.CreateChildWindows();
  PumpFor(std::chrono::milliseconds(1000));

  menu.OnServiceMenuOpened();
  auto* jas = dynamic_cast<m32::service::LightingTestWindow*>(menu.Windows().lighting);
  if (jas == nullptr) return 2;
  jas->show();
  int level = 0;
  QTimer changes;
  QObject::connect(&changes, &QTimer::timeout, [&] {
    level = (level + 37) % 256;
    jas->LevelBar(0)->setValue(level);
  });
  changes.start(400);
  PumpFor(std::chrono::milliseconds(1000));

  (void)log.Poll();
  const int64_t t0 = MonotonicUs();
  const double c0 = ProcessCpuSeconds();
  const long long k0 = WakeUps().value_or(0);
  const unsigned s0 = jas->WorkerSteps();
  PumpFor(std::chrono::seconds(seconds));
  const int64_t t1 = MonotonicUs();
  const double c1 = ProcessCpuSeconds();
  const long long k1 = WakeUps().value_or(0);
  const unsigned s1 = jas->WorkerSteps();
  changes.stop();

  int frames = 0;
  for (const auto& l : log.Poll()) {
    if (l.tag == "IN" && l.bytes.size() == 13 && l.us >= t0 && l.us < t1) ++frames;
  }
  jas->close();
  menu.CloseSequence();
  sim.Send("quit");
  sim.Process().WaitEnd(5s);

  const double dt = static_cast<double>(t1 - t0) / 1e6;
  const double limit = 9600.0 / (13 * 11);
  const double fps = frames / dt;
  const double cpu = (c1 - c0) / dt;
  const double steps = (s1 - s0) / dt;
  std::printf("lighting test at 9600 Bd 8E1, a level changed every 400 ms, %d s, window %s\n",
              seconds, display.empty() ? "offscreen" : ("on X display " + display).c_str());
  std::printf("%-36s %10s %10s\n", "", "measured", "target");
  std::printf("%-36s %10.1f %10.1f\n", "BrightnessFrames/s (line limit)", fps, limit);
  std::printf("%-36s %9.1f%% %9.0f%%\n", "share of the limit", 100 * fps / limit, 100 * kMinShare);
  std::printf("%-36s %9.2f%% %9.1f%%\n", "CPU of the process", 100 * cpu, 100 * kMaxCpu);
  std::printf("%-36s %10.1f\n", "refresh steps per second", steps);
  std::printf("%-36s %10.2f\n", "wake-ups per step",
              s1 > s0 ? static_cast<double>(k1 - k0) / (s1 - s0) : -1.0);
  bool met = true;
  if (cpu > kMaxCpu) {
    std::printf("missed: CPU\n");
    met = false;
  }
  if (fps < kMinShare * limit) {
    std::printf("missed: frames back to back\n");
    met = false;
  }
  return met ? 0 : 1;
}
