#include "link/link_protocol.h"

namespace m32::link {

/*
 * Receiving LinkFrames
 *
 * The controller answers every frame, but the line gives no framing of its
 * own: bytes arrive in any grouping (a whole frame, a frame and a half, one
 * byte at a time), and noise or a frame cut short by a reset can put stray
 * bytes between frames. The receiver therefore hunts for the two-byte header
 * A2 6B and then takes the six bytes that follow as the rest of the frame.
 *
 * The machine keeps its place in ReceivePhase between steps, and the bytes
 * already read stay in the receive frame, so a frame may be assembled over
 * several steps:
 *
 *   kSeekSync   read 1 byte into frame[0]. A2 -> kSeekLetter and go on if more
 *               bytes are queued; anything else is dropped and the step ends
 *               its receive part. So at most one stray byte is thrown away
 *               per step, and garbage costs one step per byte.
 *   kSeekLetter read 1 byte into frame[1]. 6B -> kAwaitBody and go on if more
 *               bytes are queued; anything else -> kSeekSync, that byte being
 *               dropped too, even an A2 (A2 A2 6B ... loses the frame).
 *   kAwaitBody  nothing is read until all six remaining bytes are queued;
 *               then they are read into frame[2..7] at once and the machine
 *               returns to kSeekSync whatever the frame turns out to be.
 *
 * A complete frame is taken only when frame[7] is FE, the 8-bit sum of all
 * eight bytes is 0, and the I/O panel has taken the previous inputs
 * (InputsReceived clear). Anything else drops the frame whole; its bytes are
 * not searched for another header. Only one frame is assembled per step:
 * bytes beyond it wait in the driver's queue for the next step.
 *
 * Every read asks for bytes that the driver has just reported as queued, so it
 * never blocks. Should a read still come back short (the device lost them),
 * the partial header or frame is dropped and the hunt starts again.
 */

uint8_t FrameChecksum(const LinkFrame& frame) {
  return Checksum(frame, kChecksumOffset);
}

void LinkProtocol::Start(SharedStatus& status) {
  send_ = {kSyncByte, kLetterK, 0, 0, 0, 0, 0, kEndMark};
  for (std::size_t i = kDataOffset; i < kDataOffset + 4; ++i) receive_[i] = 0;
  phase_ = ReceivePhase::kSeekSync;
  status.flags.InputsReceived.store(0);
  status.flags.OutputsChanged.store(0);
}

bool LinkProtocol::ReadInto(serial::SerialDevice& port, std::size_t offset, std::size_t count) {
  return port.Read(std::span<uint8_t>(receive_).subspan(offset, count)) == count;
}

bool LinkProtocol::FrameValid() const {
  return receive_[kEndOffset] == kEndMark && ByteSum(receive_) == 0;
}

bool LinkProtocol::TakeFrame(SharedStatus& status) const {
  if (status.flags.InputsReceived.load() != 0) return false;
  for (std::size_t i = 0; i < 4; ++i) status.InputBytes.Set(i, receive_[kDataOffset + i]);
  status.flags.InputsReceived.store(1);
  return true;
}

bool LinkProtocol::Send(serial::SerialDevice& port, SharedStatus& status) {
  const bool taken = status.flags.OutputsChanged.load() != 0;
  if (taken) {
    for (std::size_t i = 0; i < 4; ++i) send_[kDataOffset + i] = status.OutputBytes[i];
    status.flags.OutputsChanged.store(0);
  }
  send_[kChecksumOffset] = FrameChecksum(send_);
  // The write is queued; the next step sees it in the transmit count.
  port.Write(send_);
  return taken;
}

StepOutcome LinkProtocol::Step(serial::SerialDevice& port, SharedStatus& status, bool may_send) {
  StepOutcome out;
  serial::QueueCounts counts;
  // A closed or vanished port: touch nothing, not even the counts.
  if (!port.Counts(counts)) return out;
  out.port_ok = true;

  uint32_t n = counts.rx;
  bool receiving = n > 0;
  while (receiving) {
    switch (phase_) {
      case ReceivePhase::kSeekSync:
        if (!ReadInto(port, 0, 1)) {
          receiving = false;
          break;
        }
        ++out.bytes_read;
        --n;
        if (receive_[0] == kSyncByte) {
          phase_ = ReceivePhase::kSeekLetter;
          receiving = n > 0;
        } else {
          receiving = false;
        }
        break;
      case ReceivePhase::kSeekLetter:
        if (!ReadInto(port, 1, 1)) {
          phase_ = ReceivePhase::kSeekSync;
          receiving = false;
          break;
        }
        ++out.bytes_read;
        --n;
        if (receive_[1] == kLetterK) {
          phase_ = ReceivePhase::kAwaitBody;
          receiving = n > 0;
        } else {
          phase_ = ReceivePhase::kSeekSync;
          receiving = false;
        }
        break;
      case ReceivePhase::kAwaitBody:
        receiving = false;
        if (n < kFrameSize - kDataOffset) break;
        phase_ = ReceivePhase::kSeekSync;
        if (!ReadInto(port, kDataOffset, kFrameSize - kDataOffset)) break;
        out.bytes_read = static_cast<uint8_t>(out.bytes_read + (kFrameSize - kDataOffset));
        out.frame_valid = FrameValid();
        out.frame_bad = !out.frame_valid;
        out.frame_accepted = out.frame_valid && TakeFrame(status);
        break;
    }
  }

  out.rx_left = counts.rx > out.bytes_read ? counts.rx - out.bytes_read : 0;

  // The transmit side is busy: write nothing; new outputs stay flagged.
  if (counts.tx != 0 || !may_send) return out;
  out.outputs_taken = Send(port, status);
  out.frame_written = true;
  return out;
}

}  // namespace m32::link
