// What the service windows need around them in a test: a main window to
// place them by, the settings with their file in a fresh folder, the texts,
// the shared status and a port connection whose link runs over a LineFake.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/shared_status.h"
#include "app/ui_invoker_qt.h"
#include "config/settings.h"
#include "config/temp_dir.h"
#include "config/text_table.h"
#include "link/port_connection.h"
#include "service/line_fake.h"

namespace m32::service::testing {

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

struct WindowRig {
  config::testing::TempDir dir;
  LineFake device;
  SharedStatus status;
  config::Settings settings;
  config::ModulePath module;
  config::TextTable texts;
  QWidget main_window;
  QtUiInvoker invoker{&main_window};
  std::unique_ptr<link::PortConnection> port;

  WindowRig() {
    config::ApplyDefaults(settings.record);
    module.Derive(dir.File("merkat32.exe"));
    main_window.move(100, 60);
    link::PortConnection::Deps deps{
        device, invoker, status, settings.record, texts, dir.path().string(), {}, &PumpOnce};
    port = std::make_unique<link::PortConnection>(std::move(deps));
  }
  ~WindowRig() {
    if (port) port->ClosePort();
  }
  WindowRig(const WindowRig&) = delete;
  WindowRig& operator=(const WindowRig&) = delete;

  // Opens the port and waits until the link runs its loop.
  bool OpenWithLink() {
    port->OpenPort();
    return PumpWhile([this] { return status.flags.LinkRunning.load() == 0; }, 5000);
  }
  // LinkFrames written so far.
  int LinkFrames() const { return device.CountWrites(8, 0xA2, 0x6B); }
};

}  // namespace m32::service::testing
