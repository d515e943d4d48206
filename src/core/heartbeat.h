// The 55 ms heartbeat's countdown ageing: minus 1 on eight ticks of nine and
// minus 2 on every ninth, never below 0, so one unit is about 50 ms.
#pragma once

#include <atomic>
#include <cstdint>

namespace m32 {

class Heartbeat {
 public:
  // Ages every countdown once; call at every tick of the 55 ms timer.
  void Age(std::atomic<uint16_t>& a, std::atomic<uint16_t>& b);

 private:
  uint16_t tick_phase_ = 0;
};

}  // namespace m32
