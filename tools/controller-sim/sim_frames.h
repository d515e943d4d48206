// Frames the controller board understands, and its receiver.
//
// LinkFrame (both directions):  A2 6B d0 d1 d2 d3 cs FE
// BrightnessFrame (to board):   A2 68 L1..L8 addr cs FE
// BrightnessReply (from board): A2 68 b2 b3 cs FE
// In each, all bytes sum to 0 modulo 256.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace m32::sim {

inline constexpr uint8_t kSync = 0xA2;
inline constexpr uint8_t kLinkType = 0x6B;        // 'k'
inline constexpr uint8_t kBrightnessType = 0x68;  // 'h'
inline constexpr uint8_t kEndMark = 0xFE;
inline constexpr std::size_t kLinkFrameSize = 8;
inline constexpr std::size_t kBrightnessFrameSize = 13;
inline constexpr std::size_t kBrightnessReplySize = 6;

using LinkFrame = std::array<uint8_t, kLinkFrameSize>;
using BrightnessReply = std::array<uint8_t, kBrightnessReplySize>;

// 8-bit sum of the bytes.
uint8_t Sum8(std::span<const uint8_t> bytes);
// Sets bytes[at] so that all bytes sum to 0 modulo 256.
void SealChecksum(std::span<uint8_t> bytes, std::size_t at);

LinkFrame MakeLinkFrame(const std::array<uint8_t, 4>& data);
// b4 (offset 4) is the checksum.
BrightnessReply MakeBrightnessReply(uint8_t b2, uint8_t b3);

enum class RxKind : uint8_t {
  kNone,             // byte taken, nothing complete yet (or skipped)
  kLinkFrame,        // a valid LinkFrame is in Frame()
  kBrightnessFrame,  // a valid BrightnessFrame is in Frame()
  kBadFrame,         // a complete frame with a wrong end mark or checksum is in Frame()
};

// The board's receiver: hunts for the sync byte, reads the type byte, then
// takes the frame's remaining bytes. A byte other than a known type after
// the sync byte sends it hunting again; a second sync byte there counts as
// a fresh start (the first one was noise). A complete frame with a wrong end
// mark or checksum is dropped whole.
class FrameReceiver {
 public:
  RxKind Push(uint8_t byte);
  // The frame completed by the last Push (valid or bad).
  std::span<const uint8_t> Frame() const { return {buf_.data(), frame_len_}; }
  // Bytes of a frame being assembled.
  std::size_t Pending() const { return len_; }
  // All bytes thrown away while hunting for a frame start.
  uint64_t SkippedTotal() const { return skipped_total_; }
  // Skipped bytes since the last call (at most 64 kept, for the log).
  std::vector<uint8_t> TakeSkipped();
  std::size_t SkippedKept() const { return skipped_.size(); }
  void Reset();

 private:
  void Skip(uint8_t byte);

  std::array<uint8_t, kBrightnessFrameSize> buf_{};
  std::size_t len_ = 0;
  std::size_t want_ = 0;
  std::size_t frame_len_ = 0;
  uint64_t skipped_total_ = 0;
  std::vector<uint8_t> skipped_;
};

}  // namespace m32::sim
