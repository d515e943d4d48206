// What every frame on the line has, the link's LinkFrame and the lighting
// test's brightness frames alike: the sync byte that opens it, the end mark
// that closes it, and a checksum byte chosen so that all its bytes sum to 0
// (mod 256).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace m32::link {

inline constexpr uint8_t kSyncByte = 0xA2;
inline constexpr uint8_t kEndMark = 0xFE;

// 8-bit sum of the bytes (0 for a whole, sound frame).
constexpr uint8_t ByteSum(std::span<const uint8_t> bytes) {
  unsigned sum = 0;
  for (const uint8_t b : bytes) sum += b;
  return static_cast<uint8_t>(sum & 0xFFu);
}

// The checksum byte of `frame`, whose checksum lies at offset `at`: the two's
// complement of the sum of all its other bytes, so that the whole frame sums
// to 0.
constexpr uint8_t Checksum(std::span<const uint8_t> frame, std::size_t at) {
  const unsigned others = (ByteSum(frame) + 0x100u - frame[at]) & 0xFFu;
  return static_cast<uint8_t>((0x100u - others) & 0xFFu);
}

}  // namespace m32::link
