#include "link/line_return.h"

namespace m32::link {

LineReturn::Action LineReturn::Next(LineClock::time_point now, const PortState& port,
                                    bool may_act) {
  if (port.open && !port.hung_up) {
    // Back (by itself or through the port dialog): stale until it answers.
    if (state_ == State::kGone) state_ = State::kBack;
    if (state_ == State::kBack && port.answered) state_ = State::kIdle;
    return Action::kNone;
  }
  if (!may_act) return Action::kNone;
  if (port.open) {
    state_ = State::kGone;
    next_look_ = now + kLookInterval;
    return Action::kTakeDown;
  }
  // Closed: ours to bring back only after a hang-up we took down.
  if (state_ != State::kGone || now < next_look_) return Action::kNone;
  next_look_ = now + kLookInterval;
  return Action::kLook;
}

}  // namespace m32::link
