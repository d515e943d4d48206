// PortConnection: the one serial port of the tool. OpenPort opens the port
// that the settings record names, sets the stored line parameters, purges it
// and starts the link thread; ClosePort stops the link thread, gives the port
// back the line state it had before, and closes it.
//
// Device naming: port index n (0..63) is COMn+1. A file of that name in the
// executable's folder (normally a symlink, COM3 -> /dev/ttyUSB0) is the
// device when it exists; otherwise COMn+1 is /dev/ttySn. On Windows it is the
// device \\.\COMn+1.
//
// Thread-safety: OpenPort, ClosePort and the accessors belong to the UI
// thread. The service windows reach the device and the link through
// Device() and Link() and use the device only while the link is paused.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "config/settings.h"
#include "config/text_table.h"
#include "core/shared_status.h"
#include "link/line_return.h"
#include "link/line_watch.h"
#include "link/link_thread.h"
#include "serial/serial_device.h"

namespace m32::link {

// The line parameters that the settings record asks for.
serial::LineSettings LineSettingsFrom(const config::SettingsRecord& record);

// The device for port index `port_index` (COM number = index + 1), looking for
// a COMn entry in `exe_folder` (with or without a trailing separator). An
// entry that exists, even a symlink whose target is missing, is taken, so an
// unplugged adapter gives an error instead of opening another port.
std::string DevicePathFor(unsigned port_index, const std::string& exe_folder);

// "%s COM%1u %s." from the three parts, as many characters as they need.
std::string PortMessage(const std::string& lead, unsigned com_number, const std::string& tail);
// The details of "CHYBA 01" when the device refused this user: the group to
// join (Czech, then English; the message itself comes from the texts).
std::string PermissionDeniedDetails(const std::string& device_path);

// How OpenPort's line set-up ended.
enum class LineSetUp : uint8_t {
  kReady,         // open, configured, purged
  kLineRejected,  // open and purged, but the driver kept another line state
  kCannotOpen,    // the device did not open; nothing is held
  kDenied,        // the device refused this user (its group); nothing is held
};

// Whether the port's path leads to a device now (a COMn link to an adapter
// that is plugged in). Windows names its ports itself: always true there.
bool PortPathPresent(const std::string& path);

// OpenPort's line set-up, for every program that talks to the board: opens
// `path` exclusively, arms the all-off frame for a fatal signal (before the
// line changes), sets `line` and purges both directions.
LineSetUp SetUpLine(serial::SerialDevice& device, const std::string& path,
                    const serial::LineSettings& line);

class PortConnection {
 public:
  // Shows a modal error box (caption, UTF-8 text, UTF-8 details behind the
  // box's details button, none when empty) and returns once it is shut.
  using ShowErrorFn = std::function<void(const std::string& caption, const std::string& text,
                                         const std::string& details)>;
  struct Deps {
    serial::SerialDevice& device;
    SharedStatus& status;
    const config::SettingsRecord& settings;  // read at every OpenPort
    const config::TextTable& texts;          // the port error messages
    std::string exe_folder;                  // where COMn entries are looked for
    ShowErrorFn show_error;
    LineEventSink* line_events = nullptr;  // the event log, when one is kept
  };

  static constexpr std::chrono::milliseconds kFinalFrameLimit{250};

  explicit PortConnection(Deps deps);
  // Closes the port (and stops the link) if it is still open.
  ~PortConnection();
  PortConnection(const PortConnection&) = delete;
  PortConnection& operator=(const PortConnection&) = delete;

  // How an OpenPort was asked for.
  enum class OpenReason : uint8_t {
    kAsked,      // start-up, the port dialog
    kReturning,  // a line that hung up is back: the same path as before; a
                 // device that does not open yet is not reported (the next
                 // look tries again)
  };
  // Does nothing while open. On failure to open shows "CHYBA 01" and the port
  // stays closed; a rejected line state shows "CHYBA 02" and the link still
  // starts.
  void OpenPort(OpenReason reason = OpenReason::kAsked);
  // Does nothing while closed. Stops the link thread (waking its wait; it
  // ends within one step), writes the all-off frame as the port's final
  // frame (retried while the driver refuses it, up to kFinalFrameLimit),
  // then restores and closes the device.
  //
  // OpenPort is safe against re-entry from the events its message box
  // processes: a nested OpenPort does nothing, and a nested ClosePort leaves
  // the port to the outer call, which then ends with the port closed and no
  // link started.
  void ClosePort();
  // The application is closing: from now on OpenPort does nothing, and an
  // OpenPort waiting in its message box ends with the port closed.
  void StopOpening();
  // At every heartbeat (UI thread): takes a line that hung up down and brings
  // it back by itself (see LineReturn). `may_act`: the panel is live and no
  // dialog, service window or close is under way. `switch_outputs_off`
  // clears the panel's outputs; the shared bytes and the log are done here.
  void KeepLineUp(LineClock::time_point now, bool may_act,
                  const std::function<void()>& switch_outputs_off);
  // After OutputBytes were set to all-off with OutputsChanged: returns once
  // the link has put them on the line and they have left it, or after
  // `limit` (a stalled board, a parked link), or at once with no link.
  void AwaitOutputsOnLine(std::chrono::milliseconds limit);
  // The inputs shown are not the board's: the line is silent, or hung up and
  // not yet answering again.
  bool InputsStale() const { return line_return_.InputsStale() || watch_.LineSilent(); }

  bool IsOpen() const { return open_; }
  serial::SerialDevice& Device() { return deps_.device; }
  // The running link thread; null while the port is closed.
  LinkThread* Link() { return link_.get(); }
  // The line's events and health, over every open of the run.
  LineWatch& Watch() { return watch_; }
  // The device path used by the last OpenPort.
  const std::string& DevicePath() const { return device_path_; }

 private:
  void ShowPortError(const char* caption, config::TextId tail, unsigned com_number,
                     const std::string& details = {});
  void WriteFinalFrame();
  void CloseDevice();

  Deps deps_;
  bool open_ = false;
  bool busy_ = false;           // inside OpenPort
  bool close_pending_ = false;  // a nested ClosePort asked for the close
  bool refused_ = false;        // StopOpening was called
  std::string device_path_;
  LineWatch watch_;
  LineReturn line_return_;
  std::unique_ptr<LinkThread> link_;
};

}  // namespace m32::link
