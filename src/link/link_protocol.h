// The LinkFrame exchange with the controller: one LinkStep reads what has
// arrived, assembles and checks a received frame, and writes the next frame
// when the transmit side is idle.
//
// LinkFrame, 8 bytes, the same layout both ways:
//   0 A2 sync   1 6B "k"   2..5 data bytes 0..3   6 checksum   7 FE end mark
// The checksum makes the 8-bit sum of all eight bytes 0.
//
// Thread-safety: a LinkProtocol is used by one thread at a time: the link
// thread runs Start() before its loop and every Step() in it.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/shared_status.h"
#include "serial/serial_device.h"

#include "link/frame_bytes.h"

namespace m32::link {

constexpr std::size_t kFrameSize = 8;
using LinkFrame = std::array<uint8_t, kFrameSize>;

constexpr uint8_t kLetterK = 0x6B;
constexpr std::size_t kChecksumOffset = 6;
constexpr std::size_t kEndOffset = 7;
constexpr std::size_t kDataOffset = 2;

// The checksum byte for `frame`: the two's complement of the sum of the other
// seven bytes (byte 6 counted as 0).
uint8_t FrameChecksum(const LinkFrame& frame);

enum class ReceivePhase : uint16_t {
  kSeekSync = 0,    // looking for A2
  kSeekLetter = 1,  // A2 seen, expecting "k"
  kAwaitBody = 2,   // "k" seen, waiting until the other 6 bytes are queued
};

// What one step did; the link thread uses it to pace itself.
struct StepOutcome {
  bool port_ok = false;    // the queue counts could be taken
  uint8_t bytes_read = 0;  // bytes taken from the receive queue
  bool frame_written = false;
  bool frame_accepted = false;  // InputBytes were filled
  bool frame_valid = false;     // a whole frame with its end mark and sum, taken or not
  bool frame_bad = false;       // a whole frame dropped for its end mark or sum
  bool outputs_taken = false;   // the frame written carries OutputBytes copied in this step
  uint32_t rx_left = 0;         // bytes still queued after the step
};

class LinkProtocol {
 public:
  // Prepares the frames (send A2 6B 00 00 00 00 .. FE, receive data 0),
  // sets phase 0 and clears InputsReceived and OutputsChanged.
  void Start(SharedStatus& status);

  // One LinkStep. Allocates nothing; reads at most 8 bytes, writes 8.
  // `may_send` false: the receive part only (the walk test holds its next
  // frame back until the answer it waits for is in).
  StepOutcome Step(serial::SerialDevice& port, SharedStatus& status, bool may_send = true);

  // The frame written last and the frame read last (the line watch tells their bytes).
  const LinkFrame& SendFrame() const { return send_; }
  const LinkFrame& ReceiveFrame() const { return receive_; }
  ReceivePhase Phase() const { return phase_; }

 private:
  // Reads exactly `count` bytes into the receive frame at `offset`.
  bool ReadInto(serial::SerialDevice& port, std::size_t offset, std::size_t count);
  // Whether the assembled frame has its end mark and a zero sum.
  bool FrameValid() const;
  // Hands a valid frame's data bytes over unless the last ones wait unseen.
  bool TakeFrame(SharedStatus& status) const;
  // Writes the send frame; true when it copied new OutputBytes in.
  bool Send(serial::SerialDevice& port, SharedStatus& status);

  LinkFrame send_{kSyncByte, kLetterK, 0, 0, 0, 0, 0, kEndMark};
  LinkFrame receive_{};
  ReceivePhase phase_ = ReceivePhase::kSeekSync;
};

}  // namespace m32::link
