// Runs the walk on an open line: the link's frames (LinkProtocol, one step at
// a time on this thread), the outputs of each hold, and the N valid frames
// read after each change.
//
// "N valid frames after the change": the board answers every frame it gets,
// in order, but the frames carry no sequence number, and the line is full
// duplex: when the frame that carries a change goes out, the answers to one
// or two earlier frames are still on their way. The runner numbers the frames
// it writes and keeps those not yet answered in a queue; every whole frame
// that comes in (good or bad) answers the oldest of them. Only a valid answer
// to the frame that carried the change, or to a later one, counts. A frame
// still unanswered after three answer time-outs is taken as lost, so a lost
// answer does not make every later answer look one frame older than it is
// for ever. It must be that long: an answer that came later still would be
// taken for the answer to a younger frame, and a hold waits for its answers
// one answer time-out at most (so can the hold before it), before it gives up.
//
// Pace of a walk (Run): the plan does not depend on what is read, so the holds
// are pipelined. Each hold's outputs go into N frames in a row, the answers to
// those N frames are its N readings, and the next change goes into the next
// frame without waiting for them: a hold takes N frame times. This is exact
// only while every frame is answered once: a lost answer would make the answer
// to the next hold's first frame pass for the answer to this hold's last. So
// the walk starts with no frame unanswered and ends once every frame it wrote
// has its answer; a garbled or lost answer (the line quiet with frames still
// unanswered, a frame given up) throws the pipelined readings away and the
// walk is made again one hold at a time (Hold), where a lost answer only makes
// the runner skip one answer too many.
//
// Pace of a single Hold: the change goes into the first frame written once
// the previous hold is over; with the answer to the hold's last frame about to
// arrive as the transmitter runs empty, the runner waits up to a frame time
// (at least 2 ms) for it instead of writing one more frame with the old
// outputs, and takes it in a step that writes nothing. A hold of N frames so
// takes N + 1 frame times on a line without gaps.
//
// Thread-safety: one thread; RequestStop() from any thread (a signal handler
// may store to the flag it is given).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "core/shared_status.h"
#include "link/link_protocol.h"
#include "serial/serial_device.h"
#include "walk/walk_judge.h"

namespace m32::walk {

enum class RunOutcome : uint8_t {
  kDone,
  kNoAnswer,  // no valid frame within the answer time-out
  kStopped,   // the stop flag was raised
};

class WalkRunner {
 public:
  using Clock = std::chrono::steady_clock;
  // Frames on their way at most: a board that falls behind (a busy
  // simulator, a slow adapter) is not given more to answer than it can hold,
  // so it has no reason to drop answers. Two are on the way on a line without
  // gaps. A full window on a quiet line (nothing received for kQuiet, or ten
  // frame times if longer) means its answers were lost: it is emptied.
  static constexpr std::size_t kWindow = 4;
  static constexpr std::chrono::milliseconds kQuiet{100};

  // `line` paces the waits; `stop` is looked at between steps.
  WalkRunner(serial::SerialDevice& device, const serial::LineSettings& line,
             const std::atomic<bool>& stop);

  // Puts the outputs on the line and reads `frames` valid answers to frames
  // that carry them.
  RunOutcome Hold(const Bytes4& outputs, int frames, std::vector<Bytes4>& readings);
  // One run of the plan, pipelined; `readings` gets one list per hold.
  RunOutcome Run(int hold_frames, RunReadings& readings);
  // All outputs off until the board has answered a frame that carries it (or
  // the answer time-out), then until the transmitter is empty: the last frame
  // on the line is all-off. Ignores the stop flag.
  bool AllOffAndDrain();

  // Without an answer this long a hold ends with kNoAnswer.
  std::chrono::milliseconds AnswerTimeout() const { return answer_timeout_; }
  uint64_t FramesWritten() const { return next_seq_; }
  // Runs whose pipelined readings were thrown away (a garbled or lost answer).
  int RunsWalkedAgain() const { return runs_walked_again_; }

 private:
  struct Sent {
    uint64_t seq;
    Clock::time_point at;
    int hold;  // the hold of a pipelined run it carries, -1: none
  };
  struct StepResult {
    link::StepOutcome out;
    std::optional<Sent> answered;  // the frame a whole incoming frame answered
  };

  RunOutcome HoldLine(const Bytes4& outputs, int frames, std::vector<Bytes4>& readings,
                      bool stoppable);
  // The pipelined run; nullopt when its readings are not exact.
  std::optional<RunOutcome> RunPipelined(const std::vector<walk::Hold>& plan, int frames,
                                         RunReadings& readings);
  // One LinkStep; a frame written is recorded as carrying `hold`.
  StepResult Step(bool may_send, int hold);
  // Bytes still missing to the frame being received.
  uint32_t BytesToFrame() const;
  // Waits for the line (a frame coming in, the transmitter running empty).
  // False when the next step must only receive: the hold's last answer is in
  // and the frame after it should carry the next hold's outputs.
  bool WaitForLine(std::size_t readings, int frames);
  void ForgetLostFrames(Clock::time_point now);

  serial::SerialDevice& device_;
  const std::atomic<bool>& stop_;
  SharedStatus status_;
  link::LinkProtocol protocol_;
  std::chrono::microseconds frame_time_{0};
  std::chrono::milliseconds answer_timeout_{0};
  std::chrono::milliseconds answer_age_{0};  // an answer not come by then will not come

  std::deque<Sent> unanswered_;
  uint64_t frames_given_up_ = 0;
  int runs_walked_again_ = 0;
  Clock::time_point last_rx_{};  // when a step last read a byte
  uint64_t next_seq_ = 0;
  uint64_t change_seq_ = 0;  // first frame that carries the current outputs
  bool change_pending_ = false;
};

}  // namespace m32::walk
