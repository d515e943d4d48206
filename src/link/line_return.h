// A line that hung up (an adapter pulled out, the board's end closed) comes
// back by itself, and never with an output on.
//
// While the panel is live and nothing else holds the tool's attention (no
// dialog, no service window, no close), a hang-up the link saw is taken down
// at once: the outputs are switched off on the panel and in the shared bytes,
// and the dead port is closed, so that the system can give the returning
// device its old name. Then the port's path is looked at every kLookInterval;
// once it is there again the port is opened the normal way, with the same
// settings. The inputs stay stale (greyed) from the hang-up until the first
// valid frame after the return.
//
// This class holds only the decisions, with the time passed in; the caller
// (the main window's heartbeat) acts on them. UI thread only.
#pragma once

#include <chrono>
#include <cstdint>

#include "link/line_watch.h"

namespace m32::link {

// What the caller knows of the port at a heartbeat.
struct PortState {
  bool open = false;
  bool hung_up = false;   // the link saw a hang-up since the port opened
  bool answered = false;  // a valid frame came since the port opened
};

class LineReturn {
 public:
  static constexpr std::chrono::milliseconds kLookInterval{250};

  enum class Action : uint8_t {
    kNone,
    kTakeDown,  // switch the outputs off, log it, close the dead port
    kLook,      // look for the port's path; open the port when it is there
  };

  // The next thing to do. `may_act`: the panel is live and no dialog, service
  // window or close is under way; while it is false nothing is done and no
  // time is lost (the next look comes at once when it turns true).
  Action Next(LineClock::time_point now, const PortState& port, bool may_act);
  // From the hang-up taken down until the first valid frame after the return.
  bool InputsStale() const { return state_ != State::kIdle; }

 private:
  enum class State : uint8_t { kIdle, kGone, kBack };
  State state_ = State::kIdle;
  LineClock::time_point next_look_{};
};

}  // namespace m32::link
