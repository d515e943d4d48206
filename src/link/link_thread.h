// The link thread: the worker thread that keeps the LinkFrame exchange going while the
// port is open. It waits for port events (a byte received, the transmit queue
// run empty, a line error) and, for each wake-up and at the latest every
// 50 ms, runs one LinkStep itself. The step touches only the port, the shared
// bytes and flags (atomics) and the line watch, so it never waits for the UI
// thread: a window that is busy or a display that is stopped cannot hold the
// board's frames up.
//
// Pausing: the communication and lighting tests take the port over. They ask
// for a pause from the UI thread (RequestPause, which does not block and
// wakes the link's port wait), then their own worker thread waits until the
// link has parked (WaitUntilPaused) before it touches the port. The link
// parks only between steps, never inside one, and while parked it neither
// waits on nor touches the port. ResumeFromPause lets it go on, once the
// other worker has stopped using the port.
//
// Thread-safety contract:
//  - RequestPause, ResumeFromPause, IsPaused, Terminate: any thread.
//  - WaitUntilPaused blocks: call it from the worker that takes the port
//    over. Only on a started link.
//  - The owner (PortConnection) terminates the thread and waits for it to
//    finish before it closes the port.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "core/shared_status.h"
#include "core/worker.h"
#include "link/line_watch.h"
#include "link/link_protocol.h"
#include "serial/serial_device.h"

namespace m32::link {

class LinkThread final : public Worker {
 public:
  // The longest time between two steps.
  static constexpr std::chrono::milliseconds kStepInterval{50};
  // A wake-up after which a step could neither read nor write (a partial
  // frame waiting for its rest while the last frame is still being sent)
  // runs no step. Should a port keep answering its wait at
  // once with nothing to do, the link rests this long after kQuickNoops such
  // wake-ups in a row, so it can never be driven round in a busy loop.
  static constexpr std::chrono::milliseconds kIdleRest{2};
  static constexpr int kQuickNoops = 16;

  LinkThread(serial::SerialDevice& port, SharedStatus& status);
  ~LinkThread() override;

  // The time one character takes on the line; lets the link sleep through a
  // frame still coming in or going out instead of waking for every byte.
  // Zero (the default) wakes at every port event. Set before Start().
  void SetCharTime(std::chrono::microseconds t) { char_time_ = t; }
  // Told of every step, of a hang-up and of the parking. Set before Start().
  void SetWatch(LineWatch* watch) { watch_ = watch; }

  void RequestPause();
  // Blocks until the link has parked at a safe point. False when it has ended
  // instead, or when the pause was withdrawn meanwhile.
  bool WaitUntilPaused();
  void ResumeFromPause();
  bool IsPaused() const { return paused_.load(); }
  // Set once Execute is over and the thread has stopped touching the port.
  bool Ended() const { return ended_.load(); }
  // Frames written since the start. A frame is written only once the one
  // before has left the line, so two more than counted when OutputBytes were
  // taken means the frame that carried them is out.
  uint32_t FramesWritten() const { return frames_written_.load(); }

 protected:
  void Execute() override;
  void OnTerminateRequested() override;

 private:
  // Parks while a pause is asked for. False when the link must end.
  bool PausePoint();
  // Rests without touching the port until `d` passes, a pause is asked for or
  // the thread must end.
  void Rest(std::chrono::microseconds d);
  bool PauseRequested() const { return pause_requested_.load(); }
  // When a step now could neither read nor write (no byte it would take is
  // waiting and the last frame is still being sent), how long until it
  // could: the rest of the frame coming in or the end of the one going out.
  // Empty when a step has something to do now.
  std::optional<std::chrono::microseconds> IdleFor();
  using Clock = std::chrono::steady_clock;
  // After a wake-up a step could do nothing with: rests `idle` (at least
  // kIdleRest after kQuickNoops such wake-ups in a row, never past the next
  // step's time) and returns how long the next port wait may last.
  std::chrono::milliseconds RestWhileIdle(std::chrono::microseconds idle,
                                          Clock::time_point wait_start, Clock::time_point last_step,
                                          int& quick_noops);
  // How many received bytes are worth ending the port wait for, after a
  // step with this outcome.
  uint32_t RxGoal(const StepOutcome& last) const;
  // Received bytes a step needs to take a whole frame, by the receive phase.
  uint32_t RxForFrame() const;
  // One LinkStep and its report to the watch.
  void RunStep(StepOutcome& outcome, bool hung_up);

  serial::SerialDevice& port_;
  SharedStatus& status_;
  std::chrono::microseconds char_time_{0};
  LinkProtocol protocol_;
  LineWatch* watch_ = nullptr;

  std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<bool> pause_requested_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> ended_{false};
  std::atomic<uint32_t> frames_written_{0};
  bool left_while_paused_ = false;  // link thread only
};

}  // namespace m32::link
