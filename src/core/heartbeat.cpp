#include "core/heartbeat.h"

namespace m32 {
namespace {

void Dec(std::atomic<uint16_t>& c, uint16_t by) {
  const uint16_t v = c.load();
  c.store(v <= by ? uint16_t{0} : static_cast<uint16_t>(v - by));
}

}  // namespace

void Heartbeat::Age(std::atomic<uint16_t>& a, std::atomic<uint16_t>& b) {
  ++tick_phase_;
  if (tick_phase_ < 9) {
    Dec(a, 1);
    Dec(b, 1);
  } else {
    tick_phase_ = 0;
    Dec(a, 2);
    Dec(b, 2);
  }
}

}  // namespace m32
