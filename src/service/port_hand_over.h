// Handing the serial port from the link thread to a service test's worker
// and back.
//
// The order of the hand-over:
//  1. Take(), on the UI thread at activation, asks a live link to park. It
//     does not block: the link may be waiting for the UI thread to run its
//     step.
//  2. The worker's first action, on its own thread, is WaitForLink(): it
//     blocks until the link has parked between two steps (or has ended), so
//     the two threads never use the port at the same time.
//  3. Give(), on the UI thread once the worker has ended and made its last
//     purge, lets the link go on, but only a link that was paused here and
//     is still the port's link.
//
// With no open port there is no link: Take() and Give() do nothing and the
// worker finds a closed device.
#pragma once

#include "core/shared_status.h"
#include "link/link_thread.h"
#include "link/port_connection.h"

namespace m32::service {

class PortHandOver {
 public:
  explicit PortHandOver(link::PortConnection& port) : port_(port) {}

  // UI thread. A link that has started and not ended is asked to park, also
  // one that has not yet raised LinkRunning, so that it cannot start using
  // the port under the worker.
  void Take();
  // Worker thread, before it touches the port. Blocks until the link taken
  // by the last Take() has parked or ended.
  void WaitForLink() const;
  // UI thread, after the worker has finished.
  void Give();
  // A link is held paused by this hand-over.
  bool Holding() const { return paused_ != nullptr; }

 private:
  link::PortConnection& port_;
  link::LinkThread* paused_ = nullptr;
};

}  // namespace m32::service
