// The link's LinkStep on any stream of bytes from the line, arriving in any
// grouping, with the I/O panel taking the inputs at random moments.
//
// Input layout:
//   byte 0        bit 7: frame mode (see below); bits 0-4: c - 1, the number
//                 of control bytes
//   bytes 1..c    control bytes, used in turn, one per step:
//                   bits 0-3 bytes that arrive before the step (0..15)
//                   bit 4    the panel takes the inputs (InputsReceived cleared)
//                   bit 5    the transmit queue is busy
//                   bit 6    new outputs (OutputBytes set, OutputsChanged set)
//                   bit 7    the next read loses a byte
//                 the control byte E0 makes the port fail its counts that step
//   the rest      the bytes on the line; in frame mode every 4 bytes are the
//                 data of one valid frame, which the harness builds
//
// Checks after every step, beyond the sanitizers:
//  - no read asks for more bytes than were reported waiting; at most 8 bytes
//    are taken per step; the phase is 0..2;
//  - InputBytes and InputsReceived change only when the step reports a frame
//    accepted, only while InputsReceived was clear, and then the last 8 bytes
//    taken from the line are A2 6B d0 d1 d2 d3 cs FE summing to 0 and
//    InputBytes are d0..d3;
//  - with the transmit queue idle exactly one frame is written, A2 6B .. FE
//    summing to 0, carrying the new outputs if OutputsChanged was set (and it
//    is then clear), else the outputs sent before; with it busy nothing is
//    written and OutputsChanged stays as it was;
//  - a port that fails its counts is not read or written;
//  - frame mode, where the panel keeps up and no byte is lost: every frame is
//    accepted, in order.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/shared_status.h"
#include "fuzz_support.h"
#include "link/link_protocol.h"

namespace {

using m32::fuzz::Check;
using m32::link::LinkFrame;
using Data = std::array<uint8_t, 4>;

bool ValidFrame(std::span<const uint8_t> f) {
  unsigned sum = 0;
  for (const uint8_t b : f) sum += b;
  return f.size() == 8 && f[0] == 0xA2 && f[1] == 0x6B && f[7] == 0xFE && (sum & 0xFFU) == 0;
}

Data DataOf(std::span<const uint8_t> f) {
  return {f[2], f[3], f[4], f[5]};
}

struct Harness {
  m32::fuzz::MemoryLine line;
  m32::SharedStatus status;
  m32::link::LinkProtocol link;
  Data last_sent{};
  std::vector<Data> accepted;
  unsigned counter = 0;

  void Step(uint8_t control, bool frame_mode) {
    const bool port_fails = control == 0xE0;
    line.SetCountsFail(port_fails);
    if (frame_mode || (control & 0x10U) != 0) status.flags.InputsReceived.store(0);
    const bool tx_busy = (control & 0x20U) != 0;
    line.SetTxBusy(tx_busy);
    if ((control & 0x40U) != 0) {
      ++counter;
      status.OutputBytes.Put({static_cast<uint8_t>(counter), static_cast<uint8_t>(counter >> 8),
                              control, static_cast<uint8_t>(~control)});
      status.flags.OutputsChanged.store(1);
    }
    if (!frame_mode && (control & 0x80U) != 0 && !port_fails) line.LoseOnNextRead();

    const Data in_before = status.InputBytes.Get();
    const uint8_t received_before = status.flags.InputsReceived.load();
    const uint8_t changed_before = status.flags.OutputsChanged.load();
    const Data outputs = status.OutputBytes.Get();
    const std::size_t delivered_before = line.Delivered().size();
    line.ClearWrites();

    const m32::link::StepOutcome out = link.Step(line, status);

    const std::vector<uint8_t>& delivered = line.Delivered();
    const std::size_t taken = delivered.size() - delivered_before;
    Check(static_cast<unsigned>(link.Phase()) <= 2, "receive phase outside 0..2");
    Check(taken <= 8 && out.bytes_read <= taken, "more than 8 bytes taken in one step");
    if (port_fails) {
      Check(!out.port_ok && !out.frame_written && !out.frame_accepted && taken == 0 &&
                line.Writes().empty(),
            "a port that failed its counts was used");
      line.SetCountsFail(false);
      return;
    }
    Check(out.port_ok, "a working port reported as failed");

    if (out.frame_accepted) {
      Check(received_before == 0, "a frame was taken while the panel had not taken the last one");
      Check(status.flags.InputsReceived.load() == 1, "a taken frame did not set InputsReceived");
      Check(delivered.size() >= 8, "a frame was taken from fewer than 8 bytes");
      const std::span<const uint8_t> frame(delivered.data() + delivered.size() - 8, 8);
      Check(ValidFrame(frame), "a frame whose end mark or checksum is wrong was taken");
      Check(status.InputBytes.Get() == DataOf(frame), "InputBytes are not the frame's data");
      accepted.push_back(DataOf(frame));
    } else {
      Check(status.InputBytes.Get() == in_before, "InputBytes changed without a frame");
      Check(status.flags.InputsReceived.load() == received_before,
            "InputsReceived changed without a frame");
    }

    if (tx_busy) {
      Check(!out.frame_written && line.Writes().empty(), "a frame written while the queue is busy");
      Check(status.flags.OutputsChanged.load() == changed_before,
            "OutputsChanged changed while nothing was sent");
    } else {
      Check(out.frame_written && line.Writes().size() == 1, "no frame written on an idle queue");
      const std::vector<uint8_t>& w = line.Writes().front();
      Check(ValidFrame(w), "the frame written is not a valid LinkFrame");
      Check(DataOf(w) == (changed_before != 0 ? outputs : last_sent),
            "the frame written does not carry the right outputs");
      Check(status.flags.OutputsChanged.load() == 0, "OutputsChanged still set after sending");
      last_sent = DataOf(w);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool frame_mode = (data[0] & 0x80U) != 0;
  const std::size_t controls = (data[0] & 0x1FU) + 1U;
  if (size < 1 + controls) return 0;
  const std::span<const uint8_t> control(data + 1, controls);
  const std::span<const uint8_t> rest(data + 1 + controls, size - 1 - controls);

  std::vector<uint8_t> stream;
  std::vector<Data> sent_frames;
  if (frame_mode) {
    for (std::size_t i = 0; i + 4 <= rest.size(); i += 4) {
      LinkFrame f{0xA2, 0x6B, rest[i], rest[i + 1], rest[i + 2], rest[i + 3], 0, 0xFE};
      f[6] = m32::link::FrameChecksum(f);
      stream.insert(stream.end(), f.begin(), f.end());
      sent_frames.push_back(DataOf(f));
    }
  } else {
    stream.assign(rest.begin(), rest.end());
  }

  Harness h;
  h.link.Start(h.status);
  std::size_t arrived = 0;
  std::size_t step = 0;
  const std::size_t max_steps = 4 * stream.size() + 64;
  for (; arrived < stream.size() && step < max_steps; ++step) {
    const uint8_t c = control[step % controls];
    const std::size_t n = std::min<std::size_t>(c & 0x0FU, stream.size() - arrived);
    h.line.Arrive(std::span<const uint8_t>(stream).subspan(arrived, n));
    arrived += n;
    h.Step(c, frame_mode);
  }
  // Whatever is left arrives at once; the steps then drain the queue.
  h.line.Arrive(std::span<const uint8_t>(stream).subspan(arrived));
  for (std::size_t drain = 0; h.line.Queued() > 0 && drain < 2 * stream.size() + 16; ++drain) {
    h.Step(0x10, frame_mode);
  }
  Check(h.line.Queued() == 0 || h.link.Phase() == m32::link::ReceivePhase::kAwaitBody,
        "bytes left in the queue that the link will never take");
  if (frame_mode) {
    Check(h.accepted == sent_frames, "a clean stream of frames was not taken frame by frame");
  }
  return 0;
}
