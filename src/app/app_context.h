// Everything the windows share for the whole run: the status bytes and flags,
// the settings with the file naming, the texts, and the serial port.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "config/settings.h"
#include "config/text_table.h"
#include "core/shared_status.h"
#include "link/port_connection.h"
#include "serial/serial_device.h"

namespace m32 {

struct AppContext {
  SharedStatus status;
  config::ModulePath module;
  config::Settings settings;
  config::TextTable texts;
  // The executable's path; empty means the platform's (tests point it into a
  // temporary folder).
  std::string exe_path;
  // The serial device; the platform's unless a test puts another here first.
  std::unique_ptr<serial::SerialDevice> device;
  // The one serial port with its link thread; made by the main window at
  // start-up, once the executable's folder is known.
  std::unique_ptr<link::PortConnection> port;
  // Told of the line's events (the event log), when one is kept.
  link::LineEventSink* line_events = nullptr;
  // The A/D mode of the settings record, for the link thread (which tells the
  // event log of inputs): published by the UI thread whenever the record is
  // loaded or its constants change.
  std::atomic<int16_t> ad_mode{0};
  void PublishAdMode() { ad_mode.store(settings.record.AdMode()); }
};

}  // namespace m32
