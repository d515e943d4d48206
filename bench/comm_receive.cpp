// The communication test receiving a continuous stream: the main window runs
// in this process with the communication test open and its receive box
// ticked; a writer thread plays the far end of a pseudo-terminal and sends
// 64-byte lines at 11,520 B/s (a 115200 Bd 8N1 line kept full), in chunks of
// --chunk bytes (1: byte by byte, as a UART delivers them).
//
// Every byte is numbered; the device under the window is wrapped so that each
// byte read is checked against the stream (lost or out of order) and timed
// from the moment it was written (late). Also counted: refresh steps and
// repaints of the receive line per second, and the process's CPU without the
// writer thread's.
//
// With --display (or DISPLAY set) the window is shown on that X server;
// otherwise offscreen.
//
//   comm_receive [--seconds N] [--chunk N] [--display :N] [--late-ms N] [--bytes-only]
//
// Prints its figures against the targets; exits 1 when one is missed. With
// --bytes-only only the bytes decide (none lost, wrong or later than
// --late-ms, default 50): the suite runs it so, on a machine whose CPU and
// repaint figures are not its own.
#include <pthread.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLineEdit>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "bench_window_support.h"
#include "service/comm_test_window.h"
#include "support/process_support.h"
#include "support/pty_pair.h"

namespace {

using namespace m32::bench;
using namespace m32::test_support;

constexpr double kBytesPerSecond = 11520.0;
constexpr std::size_t kLine = 64;
constexpr double kMaxCpu = 0.025;
// A byte read later than this after it was sent is late (--late-ms).
std::atomic<int64_t> g_late_us{50000};

uint8_t StreamByte(std::size_t k) {
  // Lines of 64: 62 bytes counting up from the line number, then CR LF.
  const std::size_t pos = k % kLine;
  if (pos == kLine - 2) return '\r';
  if (pos == kLine - 1) return '\n';
  return static_cast<uint8_t>((k / kLine + pos) % 251);
}

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The stream's far end: writes byte k at k / 11,520 s after the start.
class Writer {
 public:
  Writer(int fd, std::size_t total, std::size_t chunk)
      : fd_(fd), chunk_(std::max<std::size_t>(chunk, 1)), sent_at_(total) {}
  ~Writer() { Join(); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::size_t Sent() const { return sent_.load(); }
  std::size_t Total() const { return sent_at_.size(); }
  bool Done() const { return done_.load(); }
  // The writer's CPU time so far, and its wake-ups (context switches).
  double CpuSeconds() {
    clockid_t id{};
    timespec ts{};
    if (pthread_getcpuclockid(thread_.native_handle(), &id) != 0 || clock_gettime(id, &ts) != 0) {
      return 0;
    }
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  }
  long long WakeUps() {
    const pid_t tid = tid_.load();
    return m32::bench::WakeUps("self", tid == 0 ? "" : std::to_string(tid)).value_or(0);
  }
  int64_t SentAtNs(std::size_t k) const { return sent_at_[k].load(std::memory_order_acquire); }

 private:
  void Run() {
    tid_.store(gettid());
    const int64_t start = NowNs();
    std::vector<uint8_t> buf(chunk_);
    const std::size_t total = sent_at_.size();
    for (std::size_t k = 0; k < total; k += chunk_) {
      const std::size_t n = std::min(chunk_, total - k);
      // The chunk's last byte has crossed the line at this moment.
      const auto due =
          start + static_cast<int64_t>(static_cast<double>(k + n) * 1e9 / kBytesPerSecond);
      const timespec ts{static_cast<time_t>(due / 1000000000), static_cast<long>(due % 1000000000)};
      while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
      }
      for (std::size_t i = 0; i < n; ++i) buf[i] = StreamByte(k + i);
      const int64_t now = NowNs();
      for (std::size_t i = 0; i < n; ++i) sent_at_[k + i].store(now, std::memory_order_release);
      if (::write(fd_, buf.data(), n) != static_cast<ssize_t>(n)) break;
      sent_.store(k + n);
    }
    done_.store(true);
  }

  int fd_;
  std::size_t chunk_;
  std::vector<std::atomic<int64_t>> sent_at_;
  std::atomic<std::size_t> sent_{0};
  std::atomic<pid_t> tid_{0};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// The platform's device, with every byte read checked and timed.
class CheckedDevice final : public m32::serial::SerialDevice {
 public:
  explicit CheckedDevice(std::unique_ptr<m32::serial::SerialDevice> inner)
      : inner_(std::move(inner)) {}

  void Watch(const Writer* writer) { writer_.store(writer); }
  std::size_t Received() const { return received_.load(); }
  std::size_t Wrong() const { return wrong_.load(); }
  std::size_t Late() const { return late_.load(); }
  int64_t MaxLatencyUs() const { return max_latency_us_.load(); }
  unsigned Steps() const { return counts_.load(); }

  m32::serial::OpenResult Open(const std::string& path) override { return inner_->Open(path); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  bool Configure(const m32::serial::LineSettings& l) override { return inner_->Configure(l); }
  void Close() override { inner_->Close(); }
  bool Counts(m32::serial::QueueCounts& out) override {
    counts_.fetch_add(1);
    return inner_->Counts(out);
  }
  std::size_t Read(std::span<uint8_t> buf) override {
    const std::size_t n = inner_->Read(buf);
    const Writer* w = writer_.load();
    if (w == nullptr) return n;
    const int64_t now = NowNs();
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t k = received_.fetch_add(1);
      if (k >= w->Total() || buf[i] != StreamByte(k) || w->SentAtNs(k) == 0) {
        wrong_.fetch_add(1);
        continue;
      }
      const int64_t us = (now - w->SentAtNs(k)) / 1000;
      if (us > max_latency_us_.load()) max_latency_us_.store(us);
      if (us > g_late_us.load()) late_.fetch_add(1);
    }
    return n;
  }
  std::size_t Write(std::span<const uint8_t> bytes) override { return inner_->Write(bytes); }
  void Purge() override { inner_->Purge(); }
  bool Modem(m32::serial::ModemLines& out) override { return inner_->Modem(out); }
  unsigned Wait(std::chrono::milliseconds t) override { return inner_->Wait(t); }
  unsigned WaitFor(std::chrono::milliseconds t, uint32_t rx) override {
    return inner_->WaitFor(t, rx);
  }
  void Wake() override { inner_->Wake(); }

 private:
  std::unique_ptr<m32::serial::SerialDevice> inner_;
  std::atomic<const Writer*> writer_{nullptr};
  std::atomic<std::size_t> received_{0};
  std::atomic<std::size_t> wrong_{0};
  std::atomic<std::size_t> late_{0};
  std::atomic<int64_t> max_latency_us_{0};
  std::atomic<unsigned> counts_{0};
};

// Counts the paint events of one widget.
class PaintCounter final : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int seconds = std::max(1, std::atoi(StrArg(argc, argv, "--seconds", "10").c_str()));
  const auto chunk = static_cast<std::size_t>(
      std::clamp(std::atoi(StrArg(argc, argv, "--chunk", "1").c_str()), 1, 4096));
  g_late_us.store(1000LL * std::max(1, std::atoi(StrArg(argc, argv, "--late-ms", "50").c_str())));
  const bool bytes_only = std::find_if(argv + 1, argv + argc, [](const char* a) {
                            return std::string(a) == "--bytes-only";
                          }) != argv + argc;
  const std::string display = ChooseDisplay(argc, argv);
  QApplication app(argc, argv);

  ScratchFolder dir;
  m32::test_support::PtyPair pty;
  std::error_code ec;
  fs::create_symlink(pty.slave_path(), dir.path / "COM1", ec);
  if (!pty.ok() || ec) {
    (void)std::fprintf(stderr, "comm_receive: no pseudo-terminal\n");
    return 2;
  }
  WriteSettings(dir.path / "merkat32.CFG", LineFile{1, 0, 8, 'N', 1, 0});

  m32::AppContext ctx;
  ctx.exe_path = (dir.path / "merkat32").string();
  auto checked = std::make_unique<CheckedDevice>(m32::serial::MakePlatformSerialDevice());
  CheckedDevice& device = *checked;
  ctx.device = std::move(checked);
  m32::app::MainWindow menu(ctx);
  menu.StartUp();
  menu.CreateChildWindows();
  PumpFor(std::chrono::milliseconds(500));

  // The service menu stops the panel; the test window takes the port over.
  menu.OnServiceMenuOpened();
  auto* window = dynamic_cast<m32::service::CommTestWindow*>(menu.Windows().comm_test);
  if (window == nullptr) return 2;
  window->show();
  window->ReceiveBox()->setChecked(true);
  PaintCounter paints;
  window->ReceiveLine()->installEventFilter(&paints);
  PumpFor(std::chrono::milliseconds(700));  // the worker has purged the port

  // The writer goes on a little past the measured time.
  const auto total = static_cast<std::size_t>(kBytesPerSecond * (seconds + 2));
  Writer writer(pty.master(), total, chunk);
  device.Watch(&writer);
  writer.Start();
  PumpFor(std::chrono::milliseconds(1000));  // past the start

  const double c0 = ProcessCpuSeconds();
  const double wc0 = writer.CpuSeconds();
  const long long k0 = WakeUps().value_or(0);
  const long long wk0 = writer.WakeUps();
  const unsigned s0 = device.Steps();
  const int p0 = paints.paints;
  const int64_t t0 = NowNs();
  PumpFor(std::chrono::seconds(seconds));
  const int64_t t1 = NowNs();
  const double c1 = ProcessCpuSeconds();
  const double wc1 = writer.CpuSeconds();
  const long long k1 = WakeUps().value_or(0);
  const long long wk1 = writer.WakeUps();
  const unsigned s1 = device.Steps();
  const int p1 = paints.paints;
  while (!writer.Done()) PumpFor(std::chrono::milliseconds(50));  // the UI keeps reading
  writer.Join();
  PumpFor(std::chrono::milliseconds(600));  // the last bytes are read

  const double dt = static_cast<double>(t1 - t0) / 1e9;
  const double writer_wakes = static_cast<double>(wk1 - wk0);
  const double cpu = (c1 - c0 - (wc1 - wc0)) / dt;
  const double steps_per_s = (s1 - s0) / dt;
  const double paints_per_s = (p1 - p0) / dt;
  const double wakes_per_step =
      s1 > s0 ? (static_cast<double>(k1 - k0) - writer_wakes) / (s1 - s0) : -1;
  const std::size_t lost = writer.Sent() - std::min(writer.Sent(), device.Received());

  window->close();
  menu.CloseSequence();

  std::printf(
      "communication test receiving %.0f B/s in %zu-byte chunks (%zu-byte lines), %d s, "
      "window %s\n",
      kBytesPerSecond, chunk, kLine, seconds,
      display.empty() ? "offscreen" : ("on X display " + display).c_str());
  std::printf("%-34s %12s %12s\n", "", "measured", "target");
  std::printf("%-34s %11.2f%% %11.1f%%\n", "CPU of the process (writer taken out)", 100 * cpu,
              100 * kMaxCpu);
  std::printf("%-34s %12zu %12d\n", "bytes sent", writer.Sent(), 0);
  std::printf("%-34s %12zu %12d\n", "bytes lost", lost, 0);
  std::printf("%-34s %12zu %12d\n", "bytes wrong or out of order", device.Wrong(), 0);
  const double late_ms = static_cast<double>(g_late_us.load()) / 1000.0;
  std::printf("%-34s %12zu %12d  (> %.0f ms)\n", "bytes late", device.Late(), 0, late_ms);
  std::printf("%-34s %10.1fms %10.1fms\n", "latest byte, send -> read",
              static_cast<double>(device.MaxLatencyUs()) / 1000.0, late_ms);
  std::printf("%-34s %12.1f %12.0f\n", "refresh steps per second", steps_per_s,
              kBytesPerSecond / 32);
  std::printf("%-34s %12.1f %12.1f\n", "repaints of the receive line /s", paints_per_s,
              1000.0 / static_cast<double>(m32::service::CommTestWindow::kLineFrame.count()));
  std::printf("%-34s %12.2f\n", "wake-ups per step (writer out)", wakes_per_step);
  std::printf(
      "(targets: steps at least bytes/32 per second; repaints at most one per display "
      "frame)\n");

  bool met = true;
  if (!bytes_only && cpu > kMaxCpu) {
    std::printf("missed: CPU\n");
    met = false;
  }
  if (lost + device.Wrong() + device.Late() != 0) {
    std::printf("missed: every byte read in order and in time\n");
    met = false;
  }
  if (!bytes_only &&
      paints_per_s >
          1000.0 / static_cast<double>(m32::service::CommTestWindow::kLineFrame.count()) + 1) {
    std::printf("missed: repaints per display frame\n");
    met = false;
  }
  return met ? 0 : 1;
}
