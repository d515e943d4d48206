// What the link tells about its line, beside moving the bytes: every frame it
// writes and every valid frame it receives, frames dropped for their end mark
// or checksum, the line falling silent and coming back, a hang-up, the port
// opened, closed, lent to a service window and given back, and the closing
// all-off frames. An optional sink (the event log) hears of it as LineEvents;
// the panel asks LineSilent() to grey its input column.
//
// The silence rule is one: an open port on which no valid frame has arrived
// for kSilenceLimit is silent, until the next valid frame.
//
// Thread-safety: AfterStep, Parked and Resumed run on the link thread, inside
// and between its steps; Opened (before the link starts) and Closed (after it
// has ended) on the UI thread, so the step's own counters are never shared;
// Closing and LineSilent from any thread. The sink is told from both threads
// and must not block.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "link/link_protocol.h"
#include "serial/serial_device.h"

namespace m32::link {

using LineClock = std::chrono::steady_clock;

// The 500 ms rule: silent while open with no valid frame for that long.
class LineHealth {
 public:
  static constexpr std::chrono::milliseconds kSilenceLimit{500};

  // The port opened (or the link got the port back): silence counts from now.
  void Restart(LineClock::time_point now);
  void Stop();  // the port closed: never silent
  void ValidFrame(LineClock::time_point now);
  bool SilentAt(LineClock::time_point now) const;

 private:
  std::atomic<bool> open_{false};
  std::atomic<LineClock::rep> last_valid_{0};  // time_since_epoch ticks
};

enum class LineEventKind : uint8_t {
  kOutputsSent,     // a frame written with other outputs than the one before
  kInputsAccepted,  // a valid frame with other inputs than the valid one before
  kPortOpened,      // detail: device and line format
  kPortReopened,    // the same, for every later open in the run
  kPortClosed,
  kLineSilent,
  kFramesBack,
  kFramesDropped,  // count: frames dropped since the last such event
  kHangup,
  kPortTaken,       // a service window parked the link and uses the port
  kPortReturned,    // the link goes on
  kCloseAllOff,     // a frame written from the close sequence's all-off outputs
  kOutputsCleared,  // the line hung up: every output switched off on the panel
};

struct LineEvent {
  LineEventKind kind = LineEventKind::kPortClosed;
  uint32_t frame = 0;  // frames written (outputs) or valid frames received (inputs) since open
  std::array<uint8_t, 4> old_bytes{};
  std::array<uint8_t, 4> new_bytes{};
  uint32_t count = 0;
  std::string detail;  // only the port's open events carry one
};

class LineEventSink {
 public:
  virtual ~LineEventSink() = default;
  virtual void OnLineEvent(LineEvent&& event) = 0;
};

// "COM1 9600 8E1"
std::string LineFormatText(const std::string& device, const serial::LineSettings& line);

class LineWatch {
 public:
  // Frames dropped are told at most this often, counted.
  static constexpr std::chrono::milliseconds kDropReportInterval{1000};

  explicit LineWatch(LineEventSink* sink = nullptr) : sink_(sink) {}

  void Opened(const std::string& device, const serial::LineSettings& line,
              LineClock::time_point now = LineClock::now());
  void Closed();
  // The close sequence begins: the frames it has the link write are told.
  void Closing() { closing_.store(true); }
  // The link parked for a service window / goes on after it.
  void Parked();
  void Resumed(LineClock::time_point now = LineClock::now());

  // After each LinkStep, with what it did; `hung_up` from the port's wait.
  void AfterStep(const StepOutcome& step, const LinkProtocol& protocol, bool hung_up,
                 LineClock::time_point now);

  // The line hung up and the outputs were switched off for its return. Any
  // thread (it reads nothing the steps write).
  void OutputsCleared() { Tell(LineEventKind::kOutputsCleared); }

  bool LineSilent() const { return health_.SilentAt(LineClock::now()); }
  bool LineSilentAt(LineClock::time_point now) const { return health_.SilentAt(now); }
  // Since the last open: the port's wait reported a hang-up / a valid frame came.
  bool HungUp() const { return hung_up_.load(); }
  bool Answered() const { return answered_.load(); }

 private:
  void Tell(LineEventKind kind, uint32_t frame = 0, std::array<uint8_t, 4> old_bytes = {},
            std::array<uint8_t, 4> new_bytes = {}, uint32_t count = 0, std::string detail = {});
  void ReportDrops(LineClock::time_point now, bool force);

  LineEventSink* sink_;
  LineHealth health_;
  bool opened_before_ = false;
  std::atomic<bool> closing_{false};
  std::atomic<bool> hung_up_{false};
  std::atomic<bool> answered_{false};
  // The rest belongs to the steps (link thread) and is reset at each open.
  uint32_t frames_sent_ = 0;
  uint32_t frames_received_ = 0;
  std::array<uint8_t, 4> last_outputs_{};
  std::array<uint8_t, 4> last_inputs_{};
  bool silent_told_ = false;
  bool hangup_told_ = false;
  uint32_t drops_ = 0;
  LineClock::time_point last_drop_report_{};
};

}  // namespace m32::link
