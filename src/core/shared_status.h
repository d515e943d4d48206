// Shared status of the tool: the one-byte flags, the output and input bytes and
// the two countdowns that the user-interface thread and the workers hand each
// other.
// (Class map of the core: core/core.h.)
//
// Every item is a std::atomic: the workers write their start and end marks
// from their own threads, everything else happens on the UI thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace m32 {

struct StatusFlags {
  std::atomic<uint8_t> LinkRunning{0};
  std::atomic<uint8_t> IoDisplayActive{0};
  std::atomic<uint8_t> LightingDisplayActive{0};
  std::atomic<uint8_t> InputsReceived{0};
  std::atomic<uint8_t> OutputsChanged{0};
};

// Four bytes that one side writes whole and the other reads whole; byte j,
// bit k is channel 8j + k + 1.
class IoBytes {
 public:
  uint8_t operator[](std::size_t i) const { return bytes_[i].load(std::memory_order_relaxed); }
  void Set(std::size_t i, uint8_t v) { bytes_[i].store(v, std::memory_order_relaxed); }
  std::array<uint8_t, 4> Get() const { return {(*this)[0], (*this)[1], (*this)[2], (*this)[3]}; }
  void Put(const std::array<uint8_t, 4>& v) {
    for (std::size_t i = 0; i < 4; ++i) Set(i, v[i]);
  }
  void Clear() { Put({0, 0, 0, 0}); }

 private:
  std::array<std::atomic<uint8_t>, 4> bytes_{};
};

struct SharedStatus {
  StatusFlags flags;
  IoBytes OutputBytes;
  IoBytes InputBytes;
  std::atomic<uint16_t> LightingSendCountdown{0};
  std::atomic<uint16_t> WheelCountdown{0};

  // OutputBytes and InputBytes are cleared together, as the 8 bytes they are.
  void ClearIoBytes() {
    OutputBytes.Clear();
    InputBytes.Clear();
  }
};

}  // namespace m32
