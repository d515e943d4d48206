// What every frame on the line has, the link's LinkFrame and the lighting
// test's brightness frames alike: the sync byte that opens it, the end mark
// that closes it, and a checksum byte chosen so that all its bytes sum to 0
// (mod 256).
#pragma once

#include <cstdint>
#include <span>

namespace m32::link {

inline constexpr uint8_t kSyncByte = 0xA2;
inline constexpr uint8_t kEndMark = 0xFE;

// 8-bit sum of the bytes (0 for a whole, sound frame).
uint8_t ByteSum(std::span<const uint8_t> bytes);

}  // namespace m32::link
