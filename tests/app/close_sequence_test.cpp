#include "app/close_sequence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace m32 {
namespace {

// Records every step; a fake "link" consumes OutputsChanged whenever events
// are processed, remembering the output bytes it saw.
struct Recorder {
  SharedStatus status;
  std::vector<std::string> log;
  int pumps_until_display_ends = 0;
  std::vector<std::array<uint8_t, 4>> frames_sent;

  void Pump() {
    if (status.flags.OutputsChanged.exchange(0) != 0) {
      frames_sent.push_back(status.OutputBytes.Get());
    }
  }

  CloseSteps Steps() {
    CloseSteps s;
    s.request_display_stop = [this] { log.emplace_back("stop"); };
    s.resume_display = [this] { log.emplace_back("resume"); };
    s.pump_once = [this] {
      log.emplace_back("pump");
      Pump();
    };
    s.pump_for = [this](int ms) { log.push_back("pump" + std::to_string(ms)); };
    s.pump_until = [this](const std::function<bool()>& done) {
      log.emplace_back("pump_until");
      while (!done()) {
        if (--pumps_until_display_ends <= 0) status.flags.IoDisplayActive.store(0);
      }
    };
    s.save_settings = [this] { log.emplace_back("save"); };
    s.close_port = [this] { log.emplace_back("close_port"); };
    s.release_texts = [this] { log.emplace_back("release"); };
    return s;
  }
};

TEST(CloseSequence, StopsDisplayThenOffersAllOffThriceThenSavesThenClosesPort) {
  Recorder r;
  r.status.flags.IoDisplayActive.store(1);
  r.pumps_until_display_ends = 3;
  r.status.OutputBytes.Put({0xFF, 0x01, 0x00, 0x80});
  r.status.InputBytes.Put({0x12, 0x34, 0x56, 0x78});
  RunCloseSequence(r.status, r.Steps());
  const std::vector<std::string> want = {
      "stop",    "pump", "resume",  "pump_until", "pump",       "pump100", "pump",
      "pump100", "pump", "pump100", "save",       "close_port", "release"};
  EXPECT_EQ(r.log, want);
  ASSERT_EQ(r.frames_sent.size(), 3U) << "three all-off offers to the link";
  for (const auto& f : r.frames_sent) EXPECT_EQ(f, (std::array<uint8_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(r.status.InputBytes.Get(), (std::array<uint8_t, 4>{0, 0, 0, 0}));
}

TEST(CloseSequence, DisplayThatStopsAtFirstPumpIsNotResumed) {
  Recorder r;
  r.status.flags.IoDisplayActive.store(1);
  CloseSteps s = r.Steps();
  s.pump_once = [&r] {
    r.log.emplace_back("pump");
    r.status.flags.IoDisplayActive.store(0);
  };
  RunCloseSequence(r.status, s);
  EXPECT_EQ(r.log[0], "stop");
  EXPECT_EQ(r.log[1], "pump");
  EXPECT_EQ(r.log[2], "pump") << "no resume when the thread has already ended";
}

TEST(CloseSequence, StoppedDisplayGoesStraightToAllOff) {
  Recorder r;
  RunCloseSequence(r.status, r.Steps());
  EXPECT_EQ(r.log.front(), "pump");
  EXPECT_EQ(r.frames_sent.size(), 3U);
  EXPECT_EQ(r.log.back(), "release");
}

}  // namespace
}  // namespace m32
