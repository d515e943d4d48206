#include "link/port_connection.h"

#include "core/code_page.h"
#include "link/emergency_off.h"
#include "serial/tx_model.h"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

namespace m32::link {

serial::LineSettings LineSettingsFrom(const config::SettingsRecord& record) {
  serial::LineSettings line;
  const uint32_t divisor = record.BaudDivisor == 0 ? 1 : record.BaudDivisor;
  line.baud = config::kBaseBaud / divisor;
  line.data_bits = record.DataBits;
  switch (record.Parity) {
    case 'E':
      line.parity = serial::Parity::kEven;
      break;
    case 'O':
      line.parity = serial::Parity::kOdd;
      break;
    case 'M':
      line.parity = serial::Parity::kMark;
      break;
    default:
      line.parity = serial::Parity::kNone;
      break;
  }
  line.stop_bits = record.StopBits == 1 ? 1 : 2;
  line.dtr = record.DtrOn();
  return line;
}

std::string DevicePathFor(unsigned port_index, const std::string& exe_folder) {
  const std::string name = "COM" + std::to_string(port_index + 1);
#if defined(_WIN32)
  // Windows names the port itself, from COM1 to COM64 alike.
  static_cast<void>(exe_folder);
  return "\\\\.\\" + name;
#else
  if (!exe_folder.empty()) {
    const std::filesystem::path entry = std::filesystem::path(exe_folder) / name;
    std::error_code ec;
    // symlink_status: a link to an unplugged adapter still counts.
    if (std::filesystem::exists(std::filesystem::symlink_status(entry, ec))) {
      return entry.string();
    }
  }
  return "/dev/ttyS" + std::to_string(port_index);
#endif
}

std::string PortMessage(const std::string& lead, unsigned com_number, const std::string& tail) {
  std::string text;
  text.reserve(lead.size() + tail.size() + 16);
  text += lead;
  text += " COM";
  text += std::to_string(com_number);
  text += ' ';
  text += tail;
  text += '.';
  return text;
}

bool PortPathPresent(const std::string& path) {
#if defined(_WIN32)
  static_cast<void>(path);
  return true;
#else
  std::error_code ec;
  return std::filesystem::exists(path, ec);  // a link follows to its device
#endif
}

LineSetUp SetUpLine(serial::SerialDevice& device, const std::string& path,
                    const serial::LineSettings& line) {
  const serial::OpenResult opened = device.Open(path);
  if (opened == serial::OpenResult::kDenied) return LineSetUp::kDenied;
  if (opened != serial::OpenResult::kOk) return LineSetUp::kCannotOpen;
  // Before the line changes: the state to give back should the process die.
  emergency::Arm(device.NativeDescriptor());
  const bool configured = device.Configure(line);
  device.Purge();
  return configured ? LineSetUp::kReady : LineSetUp::kLineRejected;
}

PortConnection::PortConnection(Deps deps) : deps_(std::move(deps)), watch_(deps_.line_events) {}

PortConnection::~PortConnection() {
  ClosePort();
}

void PortConnection::ShowPortError(const char* caption, config::TextId tail, unsigned com_number,
                                   const std::string& details) {
  if (!deps_.show_error) return;
  const std::string cp1250 =
      PortMessage(deps_.texts.Get(config::text::kPortName), com_number, deps_.texts.Get(tail));
  deps_.show_error(caption, core::Cp1250ToUtf8(cp1250), details);
}

std::string PermissionDeniedDetails(const std::string& device_path) {
  // Beside the message, which stays the same for every cause: what to do.
  return "Přístup k zařízení " + device_path +
         " byl odepřen. Sériová zařízení patří skupině dialout: přidejte uživatele do skupiny "
         "(sudo usermod -aG dialout $USER) a znovu se přihlaste.\n\n"
         "Access to " +
         device_path +
         " was refused. Serial devices belong to the group dialout: add the user to it "
         "(sudo usermod -aG dialout $USER) and log in again.";
}

namespace {

// Marks a call of OpenPort as running for as long as it lasts.
class BusyMark {
 public:
  explicit BusyMark(bool& busy) : busy_(busy) { busy_ = true; }
  ~BusyMark() { busy_ = false; }
  BusyMark(const BusyMark&) = delete;
  BusyMark& operator=(const BusyMark&) = delete;

 private:
  bool& busy_;
};

}  // namespace

void PortConnection::OpenPort(OpenReason reason) {
  if (open_ || busy_ || refused_) return;
  const BusyMark busy(busy_);
  const unsigned index = deps_.settings.PortIndex;
  const unsigned com_number = index + 1;
  // A returning line is the same path again, never the fallback of a COMn
  // link missing for a moment.
  if (reason != OpenReason::kReturning) device_path_ = DevicePathFor(index, deps_.exe_folder);
  const serial::LineSettings line = LineSettingsFrom(deps_.settings);
  const LineSetUp set_up = SetUpLine(deps_.device, device_path_, line);
  if (set_up == LineSetUp::kCannotOpen || set_up == LineSetUp::kDenied) {
    if (reason == OpenReason::kReturning) return;
    ShowPortError(
        "CHYBA 01", config::text::kPortCannotOpen, com_number,
        set_up == LineSetUp::kDenied ? PermissionDeniedDetails(device_path_) : std::string());
    return;
  }
  open_ = true;
  if (set_up == LineSetUp::kLineRejected) {
    // The box runs an event loop: the close may be asked for meanwhile.
    ShowPortError("CHYBA 02", config::text::kPortCannotSet, com_number);
    if (refused_ || close_pending_) {
      CloseDevice();
      return;
    }
  }
  watch_.Opened(device_path_, line);
  link_ = std::make_unique<LinkThread>(deps_.device, deps_.status);
  link_->SetWatch(&watch_);
  if (line.baud != 0) {
    // One character on the line (start, data, parity, stop bits), rounded
    // up to whole microseconds.
    link_->SetCharTime(std::chrono::ceil<std::chrono::microseconds>(
        serial::CharTime(line.baud, serial::BitsPerChar(line))));
  }
  link_->Start();
}

void PortConnection::ClosePort() {
  if (!open_) return;
  if (busy_) {
    // Called from an event processed inside OpenPort's message box: the
    // outer call closes the port itself.
    close_pending_ = true;
    return;
  }
  if (link_) {
    // Wake the link out of its wait (or its pause); it never waits for this
    // thread, so it ends within a step.
    link_->Terminate();
    link_->Join();
    link_.reset();
    // A port that hung up takes no more bytes: don't hold the UI thread
    // retrying.
    if (!watch_.HungUp()) WriteFinalFrame();
    watch_.Closed();
  }
  CloseDevice();
}

void PortConnection::WriteFinalFrame() {
  // The link has purged the port on its way out, so nothing stale stays
  // queued before this frame (the purge may have cut a frame short: the fill
  // before it lets the board drop that one). A driver that still refuses it
  // (its queue full of bytes a stalled board has not taken) gets it again,
  // purged first, until it is taken or the time is up.
  const auto& bytes = emergency::kAllOffAfterPurge;
  const auto limit = std::chrono::steady_clock::now() + kFinalFrameLimit;
  while (deps_.device.Write(bytes) != bytes.size() && std::chrono::steady_clock::now() < limit) {
    deps_.device.Purge();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void PortConnection::StopOpening() {
  refused_ = true;
}

void PortConnection::AwaitOutputsOnLine(std::chrono::milliseconds limit) {
  if (!link_) return;
  const auto end = std::chrono::steady_clock::now() + limit;
  const auto waiting = [&end] { return std::chrono::steady_clock::now() < end; };
  // The link takes the bytes in a step (clearing the flag); counted from
  // there, the second frame written after it proves the first one out.
  while (deps_.status.flags.OutputsChanged.load() != 0 && waiting()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const uint32_t taken = link_->FramesWritten();
  while (link_->FramesWritten() - taken < 2 && waiting()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void PortConnection::KeepLineUp(LineClock::time_point now, bool may_act,
                                const std::function<void()>& switch_outputs_off) {
  const PortState state{open_, watch_.HungUp(), watch_.Answered()};
  switch (line_return_.Next(now, state, may_act)) {
    case LineReturn::Action::kNone:
      return;
    case LineReturn::Action::kTakeDown:
      // As opening the settings menu does: the panel, then the shared bytes,
      // so the first frames after the return are all-off.
      if (switch_outputs_off) switch_outputs_off();
      deps_.status.OutputBytes.Clear();
      deps_.status.flags.OutputsChanged.store(1);
      watch_.OutputsCleared();
      ClosePort();
      return;
    case LineReturn::Action::kLook:
      if (PortPathPresent(device_path_)) OpenPort(OpenReason::kReturning);
      return;
  }
}

void PortConnection::CloseDevice() {
  emergency::Disarm();
  deps_.device.Close();
  open_ = false;
  close_pending_ = false;
}

}  // namespace m32::link
