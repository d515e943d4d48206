#include "app/close_sequence.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace m32 {
namespace {

using Bytes = std::array<uint8_t, 4>;

struct CloseCase {
  const char* legend;
  bool display_running;     // at the close
  bool ends_at_first_pump;  // the display thread has ended by the first event pump
  std::vector<std::string> steps;
};

TEST(CloseSequence, StopsTheDisplayOffersAllOffThriceThenSavesAndClosesThePort) {
  const std::vector<std::string> all_off = {"pump", "pump100", "pump", "pump100",
                                            "pump", "pump100", "save", "close_port"};
  auto then_all_off = [&](std::vector<std::string> s) {
    s.insert(s.end(), all_off.begin(), all_off.end());
    return s;
  };
  const CloseCase cases[] = {
      {"running display: stopped, woken so it can end, waited for", true, false,
       then_all_off({"stop", "pump", "resume", "pump_until"})},
      {"a display that ends at the first pump is not woken", true, true,
       then_all_off({"stop", "pump"})},
      {"stopped display: straight to all off", false, false, all_off},
  };
  for (const CloseCase& c : cases) {
    SharedStatus status;
    std::vector<std::string> log;
    std::vector<Bytes> offered;  // the output bytes a fake link took at each pump
    status.flags.IoDisplayActive.store(c.display_running ? 1 : 0);
    status.OutputBytes.Put({0xFF, 0x01, 0x00, 0x80});
    status.InputBytes.Put({0x12, 0x34, 0x56, 0x78});
    CloseSteps s;
    s.request_display_stop = [&] { log.emplace_back("stop"); };
    s.resume_display = [&] { log.emplace_back("resume"); };
    s.pump_once = [&] {
      log.emplace_back("pump");
      if (c.ends_at_first_pump) status.flags.IoDisplayActive.store(0);
      if (status.flags.OutputsChanged.exchange(0) != 0) offered.push_back(status.OutputBytes.Get());
    };
    s.pump_for = [&](int ms) { log.push_back("pump" + std::to_string(ms)); };
    s.pump_until = [&](const std::function<bool()>& done) {
      log.emplace_back("pump_until");
      EXPECT_FALSE(done()) << c.legend;
      status.flags.IoDisplayActive.store(0);  // the display thread has ended
      EXPECT_TRUE(done()) << c.legend;
    };
    s.save_settings = [&] { log.emplace_back("save"); };
    s.close_port = [&] { log.emplace_back("close_port"); };
    RunCloseSequence(status, s);
    EXPECT_EQ(log, c.steps) << c.legend;
    EXPECT_EQ(offered, std::vector<Bytes>(3, Bytes{})) << c.legend << ": three all-off offers";
    EXPECT_EQ(status.InputBytes.Get(), Bytes{}) << c.legend;
  }
}

}  // namespace
}  // namespace m32
