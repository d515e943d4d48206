#include "sim_frames.h"

namespace m32::sim {

uint8_t Sum8(std::span<const uint8_t> bytes) {
  unsigned sum = 0;
  for (uint8_t b : bytes) sum += b;
  return static_cast<uint8_t>(sum & 0xFFU);
}

void SealChecksum(std::span<uint8_t> bytes, std::size_t at) {
  bytes[at] = 0;
  bytes[at] = static_cast<uint8_t>((0x100U - Sum8(bytes)) & 0xFFU);
}

LinkFrame MakeLinkFrame(const std::array<uint8_t, 4>& data) {
  LinkFrame f{kSync, kLinkType, data[0], data[1], data[2], data[3], 0, kEndMark};
  SealChecksum(f, 6);
  return f;
}

BrightnessReply MakeBrightnessReply(uint8_t b2, uint8_t b3) {
  BrightnessReply r{kSync, kBrightnessType, b2, b3, 0, kEndMark};
  SealChecksum(r, 4);
  return r;
}

void FrameReceiver::Skip(uint8_t byte) {
  ++skipped_total_;
  if (skipped_.size() < 64) skipped_.push_back(byte);
}

std::vector<uint8_t> FrameReceiver::TakeSkipped() {
  std::vector<uint8_t> out;
  out.swap(skipped_);
  return out;
}

void FrameReceiver::Reset() {
  len_ = 0;
  want_ = 0;
  frame_len_ = 0;
}

RxKind FrameReceiver::Push(uint8_t byte) {
  frame_len_ = 0;
  if (len_ == 0) {
    if (byte == kSync) {
      buf_[0] = byte;
      len_ = 1;
    } else {
      Skip(byte);
    }
    return RxKind::kNone;
  }
  if (len_ == 1) {
    if (byte == kLinkType || byte == kBrightnessType) {
      want_ = byte == kLinkType ? kLinkFrameSize : kBrightnessFrameSize;
      buf_[1] = byte;
      len_ = 2;
    } else if (byte == kSync) {
      Skip(kSync);  // the earlier sync byte was noise; this one starts afresh
    } else {
      Skip(kSync);
      Skip(byte);
      len_ = 0;
    }
    return RxKind::kNone;
  }
  buf_[len_++] = byte;
  if (len_ < want_) return RxKind::kNone;
  frame_len_ = len_;
  len_ = 0;
  const auto frame = Frame();
  if (frame.back() != kEndMark || Sum8(frame) != 0) return RxKind::kBadFrame;
  return want_ == kLinkFrameSize ? RxKind::kLinkFrame : RxKind::kBrightnessFrame;
}

}  // namespace m32::sim
