// Windows: the console's Ctrl+C and Ctrl+Break, the closing of the console
// window, log-off and shutdown become a request to close, the same request a
// termination signal makes on Linux. Qt-free.
//
// Thread-safety: the system calls the handler on a thread of its own. The
// callback given here runs on that thread and must only post the request to
// the UI thread (e.g. a queued call); the close sequence itself runs there,
// once, from the outermost event loop. For the console window's close, a
// log-off and a shutdown the process is ended as soon as the handler returns,
// so the handler waits (up to kCloseGrace) until this object is gone: its
// owner lets it go once the close sequence has run.
#pragma once

#include <chrono>
#include <functional>

namespace m32 {

class ConsoleCloseRequests {
 public:
  // Within the five seconds that Windows gives a console process to end.
  static constexpr std::chrono::milliseconds kCloseGrace{4500};

  // Registers the handler (one instance per process at a time).
  explicit ConsoleCloseRequests(std::function<void()> request_close);
  ~ConsoleCloseRequests();
  ConsoleCloseRequests(const ConsoleCloseRequests&) = delete;
  ConsoleCloseRequests& operator=(const ConsoleCloseRequests&) = delete;

 private:
  bool installed_ = false;
};

}  // namespace m32
