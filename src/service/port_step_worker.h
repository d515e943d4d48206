// The worker threads of the communication test (TZobr_kom) and the lighting
// test (TZobr_jas): each waits for a port event at most `pace` long and then
// has the user-interface thread run the refresh step (the communication test's
// several in a row when bytes have piled up), waiting until they have run. The
// port is purged when the worker starts and when it ends.
//
// Thread-safety contract:
//  - The port is used by this thread only outside the steps (Purge, Wait);
//    during a step the thread is blocked in Synchronize, so the step may use
//    the port on the user-interface thread.
//  - Terminate() from any thread wakes the port wait and any pause at once.
//  - With the port closed or hung up, a step follows the previous one `pace`
//    after the wait began: the wait normally sleeps that long itself; when it
//    returns early the worker rests out the rest instead of spinning.
//  - The take-over (SetTakeOver) runs first, on this thread, before anything
//    touches the port: the window waits there until the link has parked.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "core/shared_status.h"
#include "core/worker.h"
#include "serial/serial_device.h"

namespace m32::service {

class PortStepWorker : public Worker {
 public:
  PortStepWorker(UiInvoker& ui, serial::SerialDevice& port, std::chrono::milliseconds pace,
                 std::function<void()> step);
  ~PortStepWorker() override;

  // Refresh steps run so far (for tests and diagnostics).
  unsigned Steps() const { return steps_.load(); }

  // Runs first on the worker thread, before the worker touches the port, so
  // the port's other user (the link) can be waited for there. Set it before
  // Start().
  void SetTakeOver(std::function<void()> take_over) { take_over_ = std::move(take_over); }

 protected:
  void Execute() override;
  void OnTerminateRequested() override;
  // Waits for the next port event (at most `pace`); returns WaitEvents.
  virtual unsigned WaitForEvent() { return port_.Wait(pace_); }
  // On the user-interface thread, for one trip there: runs the refresh
  // steps due, one unless a worker knows better; returns how many ran.
  virtual unsigned RunSteps() {
    Step();
    return 1;
  }
  void Step() { step_(); }
  serial::SerialDevice& Port() { return port_; }
  // Run on the worker thread before the first purge and after the last one.
  virtual void OnStart() {}
  virtual void OnEnd() {}

 private:
  void PauseUntil(std::chrono::steady_clock::time_point until);

  serial::SerialDevice& port_;
  std::chrono::milliseconds pace_;
  std::function<void()> step_;
  std::function<void()> take_over_;
  std::mutex pause_mutex_;
  std::condition_variable pause_cv_;
  std::atomic<unsigned> steps_{0};
};

// How long to rest after a wait that took `waited` and reported `events`
// before the next step: a closed or hung-up port must not bring steps faster
// than `pace`, and the time the wait already slept counts towards it.
std::chrono::nanoseconds RestAfterWait(unsigned events, std::chrono::nanoseconds waited,
                                       std::chrono::milliseconds pace);

// Lowers the calling thread's scheduling priority one step below where it is
// (on Linux its nice value goes up by one); does nothing where the platform
// offers no per-thread priority.
void LowerCurrentThreadPriority();

// TZobr_kom: a step at every port event, at least every 500 ms; the thread
// runs below normal priority.
//
// Bytes streaming in are gathered: once the first has come, the wait goes on
// until four steps' worth (128) is waiting, the transmit queue runs empty, or
// a display frame's time has passed, so a byte is read within that time but a
// step (and a wake-up) is not spent on each. One trip to the user-interface
// thread then runs the steps those bytes need: after a step that left a
// step's worth (32) or more queued (`unread` says how much), the next runs at
// once, up to four a trip. Bytes still left are gathered on from (the port
// holds them as no news), so a stream at the line's full rate is read as fast
// as it arrives and its last bytes are not left waiting for the next event.
class CommWorker final : public PortStepWorker {
 public:
  static constexpr std::chrono::milliseconds kPace{500};
  static constexpr std::chrono::milliseconds kGather{16};
  static constexpr uint32_t kStepBytes = 32;  // what one step reads at most
  static constexpr unsigned kStepsPerTrip = 4;
  static constexpr uint32_t kGatherBytes = kStepsPerTrip * kStepBytes;
  CommWorker(UiInvoker& ui, serial::SerialDevice& port, std::function<void()> step,
             std::function<uint32_t()> unread = {})
      : PortStepWorker(ui, port, kPace, std::move(step)), unread_(std::move(unread)) {}
  ~CommWorker() override;

 protected:
  void OnStart() override { LowerCurrentThreadPriority(); }
  unsigned WaitForEvent() override;
  unsigned RunSteps() override;

 private:
  uint32_t Unread() const { return unread_ ? unread_() : 0; }
  std::function<uint32_t()> unread_;
};

// TZobr_jas: a step at every port event, at least every 50 ms. Marks
// LightingDisplayActive while it runs; `on_start` (the refresh's Start) runs
// on the worker thread before the first step. The flag is cleared only after
// the final purge, so whoever waits for it may hand the port on at once.
//
// While a frame the last step sent (`frame_sent` says so) leaves the line,
// received bytes do not end the wait: the step at its end takes them.
// Otherwise a reply's worth of bytes does, not each byte of it.
class LightingWorker final : public PortStepWorker {
 public:
  static constexpr std::chrono::milliseconds kPace{50};
  static constexpr uint32_t kReplyBytes = 6;
  LightingWorker(UiInvoker& ui, serial::SerialDevice& port, SharedStatus& status,
                 std::function<void()> on_start, std::function<void()> step,
                 std::function<bool()> frame_sent = {})
      : PortStepWorker(ui, port, kPace, std::move(step)),
        status_(status),
        on_start_(std::move(on_start)),
        frame_sent_(std::move(frame_sent)) {}
  ~LightingWorker() override;

 protected:
  void OnStart() override;
  void OnEnd() override;
  unsigned WaitForEvent() override;

 private:
  SharedStatus& status_;
  std::function<void()> on_start_;
  std::function<bool()> frame_sent_;
};

}  // namespace m32::service
