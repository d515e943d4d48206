#include "core/heartbeat.h"

#include <gtest/gtest.h>

namespace m32 {
namespace {

// Ticks needed for a countdown to reach 0 from `start`, begun at `phase`; the
// other countdown is aged from 0 all the while.
int TicksToZero(uint16_t phase, uint16_t start) {
  Heartbeat hb;
  std::atomic<uint16_t> a{0};
  std::atomic<uint16_t> b{0};
  for (uint16_t i = 0; i < phase; ++i) hb.Age(a, b);  // countdowns at 0 stay there
  a.store(start);
  int ticks = 0;
  while (a.load() != 0 && ticks < 1000) {
    hb.Age(a, b);
    ++ticks;
  }
  EXPECT_EQ(b.load(), 0) << "a countdown at 0 never wraps below it";
  return ticks;
}

TEST(Heartbeat, CountdownReachesZeroByPhase) {
  struct Case {
    const char* legend;
    uint16_t phase;
    uint16_t start;
    int ticks;
  };
  const Case cases[] = {
      {"20 from phase 0: two cycles of 8x1 + 1x2 = 20 units", 0, 20, 18},
      {"20 from phase 8: 2 first, then 8x1+2, then 8x1", 8, 20, 18},
      {"1 at the ninth tick becomes 0, not wrapped", 8, 1, 1},
      {"3 at the ninth tick leaves 1", 8, 3, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TicksToZero(c.phase, c.start), c.ticks) << c.legend;
  }
}

}  // namespace
}  // namespace m32
