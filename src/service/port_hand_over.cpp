#include "service/port_hand_over.h"

namespace m32::service {

void PortHandOver::Take() {
  if (paused_ != nullptr) return;  // already held
  link::LinkThread* link = port_.IsOpen() ? port_.Link() : nullptr;
  if (link == nullptr || link->Ended()) return;
  link->RequestPause();
  paused_ = link;
}

void PortHandOver::WaitForLink() const {
  // The worker is started after Take(), so paused_ is settled by then.
  if (paused_ != nullptr) (void)paused_->WaitUntilPaused();
}

void PortHandOver::Give() {
  link::LinkThread* link = paused_;
  paused_ = nullptr;
  // Only the link paused here, and only while the port still runs it.
  if (link != nullptr && port_.IsOpen() && port_.Link() == link) link->ResumeFromPause();
}

}  // namespace m32::service
