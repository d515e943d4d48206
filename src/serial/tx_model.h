// How many written bytes are still on their way out, reckoned from the line
// rate and the character format. Drivers report their transmit queue empty
// too early (a pseudo-terminal always reports 0, many USB adapters report 0
// while their own buffer still holds the bytes), so the device takes the
// larger of the driver's count and this one.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "serial/serial_device.h"

namespace m32::serial {

// The clock the transmit model reads; tests pass a fake one.
using TxClock = std::function<std::chrono::steady_clock::time_point()>;

// Start bit + data bits + parity bit (if any) + stop bits.
uint32_t BitsPerChar(const LineSettings& line);

// One character's time on the line at `baud`, rounded up to the next
// nanosecond; 0 when the rate or the bit count is 0.
std::chrono::nanoseconds CharTime(uint32_t baud, uint32_t bits_per_char);

class TxModel {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // Rate in Bd and bits per character. A rate of 0 (or 0 bits) switches the
  // model off: nothing is ever pending. Bytes already queued keep their times.
  void SetLine(uint32_t baud, uint32_t bits_per_char);
  // n bytes were handed to the driver at `now`; they leave after those
  // written before them, one character time each.
  void OnWrite(std::size_t n, TimePoint now);
  // Characters not yet fully sent at `now` (the one on the wire counts).
  uint32_t Pending(TimePoint now) const;
  // Time from `now` until the last written character has left; 0 if none.
  std::chrono::nanoseconds TimeUntilEmpty(TimePoint now) const;
  // One character's time on the line; 0 when the model is off.
  std::chrono::nanoseconds CharTime() const { return char_time_; }
  // Forgets everything queued (the driver's queue was discarded).
  void Reset();

 private:
  std::chrono::nanoseconds char_time_{0};
  TimePoint busy_until_{};
};

}  // namespace m32::serial
