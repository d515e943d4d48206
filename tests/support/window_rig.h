// What the service windows need around them in a test: a main window to
// place them by, the settings with their file in a fresh folder, the texts,
// the shared status and a port connection whose link runs over a LineFake.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "config/settings.h"
#include "config/text_table.h"
#include "core/shared_status.h"
#include "link/port_connection.h"
#include "qt/ui_invoker.h"
#include "support/fake_serial_device.h"
#include "support/temp_dir.h"

namespace m32::test_support {

// Processes events while busy() holds, at most `ms`; false on running out of time.
inline bool PumpWhile(const std::function<bool()>& busy, int ms) {
  QElapsedTimer t;
  t.start();
  while (busy()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Processes events for `ms`.
inline void Spin(int ms) {
  PumpWhile([] { return true; }, ms);
}

// The shared fake device (closed until opened) with a loopback mode that puts
// every written byte back into the receive queue, and a count of calls that
// overlapped another call in progress: two threads using the port at once.
class LineFake final : public serial::SerialDevice {
 public:
  test_support::FakeSerialDevice fake{false};
  std::atomic<bool> loopback{false};
  std::atomic<int> concurrent{0};

  serial::OpenResult Open(const std::string& path) override {
    return Use([&] { return fake.Open(path); });
  }
  bool IsOpen() const override { return fake.IsOpen(); }
  bool Configure(const serial::LineSettings& l) override {
    return Use([&] { return fake.Configure(l); });
  }
  void Close() override {
    Use([&] { fake.Close(); });
  }
  bool Counts(serial::QueueCounts& out) override {
    return Use([&] { return fake.Counts(out); });
  }
  std::size_t Read(std::span<uint8_t> buf) override {
    return Use([&] { return fake.Read(buf); });
  }
  std::size_t Write(std::span<const uint8_t> bytes) override {
    return Use([&] {
      if (loopback && fake.IsOpen()) fake.Feed(bytes);
      return fake.Write(bytes);
    });
  }
  void Purge() override {
    Use([&] { fake.Purge(); });
  }
  bool Modem(serial::ModemLines& out) override {
    return Use([&] { return fake.Modem(out); });
  }
  unsigned Wait(std::chrono::milliseconds t) override {
    return Use([&] { return fake.Wait(t); });
  }
  void Wake() override { fake.Wake(); }

 private:
  template <typename F>
  auto Use(F call) -> decltype(call()) {
    if (in_use_.fetch_add(1) != 0) ++concurrent;
    struct Leave {
      std::atomic<int>& n;
      ~Leave() { n.fetch_sub(1); }
    } const leave{in_use_};
    return call();
  }
  std::atomic<int> in_use_{0};
};

struct WindowRig {
  test_support::TempDir dir;
  LineFake device;
  SharedStatus status;
  config::Settings settings;
  config::ModulePath module;
  config::TextTable texts;
  QWidget main_window;
  link::PortConnection port{{device, status, settings.record, texts, dir.path().string(), {}}};

  WindowRig() {
    config::ApplyDefaults(settings.record);
    module.Derive(dir.File("merkat32.exe"));
  }

  // Opens the port and waits until the link runs its loop.
  bool OpenWithLink() {
    port.OpenPort();
    return PumpWhile([this] { return status.flags.LinkRunning.load() == 0; }, 5000);
  }
  bool LinkParked() { return port.Link() != nullptr && port.Link()->IsPaused(); }
  // Writes of `size` bytes that start with A2 `type`: LinkFrames and BrightnessFrames.
  int FramesWritten(std::size_t size, uint8_t type) const {
    const auto writes = device.fake.Writes();
    return static_cast<int>(std::count_if(writes.begin(), writes.end(), [&](const auto& w) {
      return w.size() == size && w[0] == 0xA2 && w[1] == type;
    }));
  }
  int LinkFrames() const { return FramesWritten(8, 0x6B); }
  int BrightnessFrames() const { return FramesWritten(13, 0x68); }
};

}  // namespace m32::test_support
