// The workers that step the service windows' port, and the hand-over of the
// port between the link and them.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "config/settings.h"
#include "config/text_table.h"
#include "service/port_hand_over.h"
#include "service/port_step_worker.h"
#include "support/fake_serial_device.h"

namespace m32::service {
namespace {

using namespace std::chrono_literals;
using test_support::FakeSerialDevice;

void WaitForSteps(const PortStepWorker& w, unsigned n) {
  while (w.Steps() < n && !w.Finished()) std::this_thread::yield();
}

TEST(PortStepWorker, TakeOverFirstThenAPurgeAtEitherEnd) {
  struct Case {
    const char* legend;
    bool lighting;  // marks LightingDisplayActive from before its first step to after its end
  } const cases[] = {{"communication worker", false}, {"lighting worker", true}};
  for (const auto& c : cases) {
    FakeSerialDevice port;
    port.Feed({1, 2, 3});
    SharedStatus status;
    InlineInvoker ui;
    int purges_at_take_over = -1;
    int active_at_take_over = -1;
    int starts = 0;
    int active_during_steps = 0;
    auto step = [&] { active_during_steps += status.flags.LightingDisplayActive.load(); };
    std::unique_ptr<PortStepWorker> w;
    if (c.lighting) {
      w = std::make_unique<LightingWorker>(
          ui, port, status, [&] { ++starts; }, step);
    } else {
      w = std::make_unique<CommWorker>(ui, port, step);
    }
    w->SetTakeOver([&] {
      purges_at_take_over = port.Calls().purge;
      active_at_take_over = status.flags.LightingDisplayActive.load();
    });
    w->Start();
    WaitForSteps(*w, 1);
    EXPECT_EQ(port.RxLeft(), 0u) << c.legend << ": the start's purge drops what was queued";
    w->Terminate();
    w->Join();
    EXPECT_TRUE(w->Finished()) << c.legend;
    EXPECT_EQ(purges_at_take_over, 0) << c.legend;
    EXPECT_EQ(active_at_take_over, 0) << c.legend;
    EXPECT_EQ(port.Calls().purge, 2) << c.legend;
    EXPECT_EQ(starts, c.lighting ? 1 : 0) << c.legend;
    EXPECT_GE(w->Steps(), 1u) << c.legend;
    EXPECT_EQ(active_during_steps, c.lighting ? static_cast<int>(w->Steps()) : 0) << c.legend;
    EXPECT_EQ(status.flags.LightingDisplayActive.load(), 0) << c.legend;
  }
}

// The rest before the next step when the port is gone: what the wait slept
// counts towards the period, so the period stays the worker's pace whether the
// wait sleeps (the real device) or returns at once (a failing one).
TEST(PortStepWorker, RestMakesUpThePeriodOnlyForAGonePort) {
  using serial::kHangup, serial::kNotOpen;
  struct Case {
    const char* legend;
    unsigned events;
    std::chrono::milliseconds waited, pace, rest;
  } const cases[] = {
      {"closed, wait slept its 500 ms: no more rest", kNotOpen, 500ms, 500ms, 0ms},
      {"hung up, wait slept its 50 ms: no more rest", kHangup, 50ms, 50ms, 0ms},
      {"closed, wait returned at once: a whole period", kNotOpen, 0ms, 500ms, 500ms},
      {"hung up and woken early: the rest of the period", kHangup | serial::kWoken, 20ms, 50ms,
       30ms},
      {"closed, wait overslept: none", kNotOpen, 70ms, 50ms, 0ms},
      {"a byte at once on an open port: none", serial::kRxChar, 0ms, 50ms, 0ms},
      {"time-out on an open port: none", serial::kTimeout, 0ms, 500ms, 0ms},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RestAfterWait(c.events, c.waited, c.pace), c.rest) << c.legend;
  }
}

// Bytes that piled up are read in one trip to the user-interface thread:
// after a step that left a step's worth (32) or more queued the next runs at
// once, at most four a trip. What is still left is gathered on from: the next
// trip follows within a display frame, not at the 500 ms pace, although the
// port holds those bytes as no news.
TEST(CommWorker, TripsRunTheStepsThePiledUpBytesNeedUntilAllAreRead) {
  struct Case {
    std::size_t bytes;            // queued at once
    std::vector<unsigned> trips;  // steps in each trip until the queue is empty
  } const cases[] = {{1, {1}},      {32, {1}},  {33, {1, 1}},    {64, {2}},
                     {100, {3, 1}}, {128, {4}}, {200, {4, 2, 1}}};
  for (const auto& c : cases) {
    FakeSerialDevice port;
    struct CountingInvoker final : UiInvoker {
      std::vector<unsigned> trips;  // steps run in each trip
      void RunOnUi(const std::function<void()>& step) override {
        trips.push_back(0);
        step();
      }
    } ui;
    std::atomic<uint32_t> unread{0};
    std::atomic<bool> emptied{false};
    std::vector<unsigned> trips_until_empty;  // written by the worker, read after Join
    CommWorker w(
        ui, port,
        [&] {
          ++ui.trips.back();
          std::array<uint8_t, CommWorker::kStepBytes> buf{};
          port.Read(buf);
          unread.store(static_cast<uint32_t>(port.RxLeft()));
          if (unread.load() == 0 && !emptied.load()) {
            trips_until_empty = ui.trips;
            emptied.store(true);
          }
        },
        [&] { return unread.load(); });
    w.Start();
    while (port.Calls().purge == 0) std::this_thread::yield();
    const auto fed = std::chrono::steady_clock::now();
    port.Feed(std::vector<uint8_t>(c.bytes, 0x55));
    while (!emptied.load() && std::chrono::steady_clock::now() - fed < 5s) {
      std::this_thread::sleep_for(1ms);
    }
    const auto took = std::chrono::steady_clock::now() - fed;
    w.Terminate();
    w.Join();
    EXPECT_EQ(trips_until_empty, c.trips) << c.bytes << " bytes";
    EXPECT_LT(took, CommWorker::kPace) << c.bytes << " bytes: the rest waited for the pace";
  }
}

#if defined(__linux__)
TEST(CommWorker, RunsBelowThePriorityOfItsStarter) {
  FakeSerialDevice port;
  InlineInvoker ui;  // the step runs on the worker's own thread
  std::atomic<int> worker_nice{-100};
  const int starter_nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  CommWorker w(ui, port,
               [&] { worker_nice.store(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()))); });
  w.Start();
  WaitForSteps(w, 1);
  w.Terminate();
  w.Join();
  if (starter_nice < 19) {
    EXPECT_GT(worker_nice.load(), starter_nice);
  } else {
    EXPECT_EQ(worker_nice.load(), starter_nice);  // already as low as it goes
  }
}
#endif

// A port connection over the fake device.
struct Rig {
  test_support::FakeSerialDevice device{false};
  SharedStatus status;
  config::SettingsRecord settings;
  config::TextTable texts;
  link::PortConnection port{{device, status, settings, texts, "/nonexistent/", {}}};

  Rig() { config::ApplyDefaults(settings); }
};

template <typename F>
bool Eventually(F done) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(PortHandOver, TheLinkParksBeforeTheWorkerGoesOnAndOnlyThePortsLinkResumes) {
  Rig rig;
  rig.port.OpenPort();
  ASSERT_TRUE(rig.port.IsOpen());
  link::LinkThread* link = rig.port.Link();
  ASSERT_TRUE(Eventually([&] { return rig.device.Writes().size() >= 2; }));

  PortHandOver hand_over(rig.port);
  hand_over.Take();
  EXPECT_TRUE(hand_over.Holding());
  bool parked_when_done = false;
  std::thread worker([&] {
    hand_over.WaitForLink();
    parked_when_done = link->IsPaused();
  });
  worker.join();
  EXPECT_TRUE(parked_when_done);
  const auto writes = rig.device.Writes().size();
  hand_over.Give();
  EXPECT_FALSE(hand_over.Holding());
  EXPECT_TRUE(Eventually([&] { return rig.device.Writes().size() > writes; }));
  EXPECT_FALSE(link->IsPaused());

  // Taken again, and meanwhile the port is closed (its link ends while
  // parked) and opened again: Give must not touch the link that is gone.
  hand_over.Take();
  std::thread second([&] { hand_over.WaitForLink(); });
  second.join();
  rig.port.ClosePort();
  rig.port.OpenPort();
  hand_over.Give();
  EXPECT_FALSE(hand_over.Holding());
  EXPECT_FALSE(rig.port.Link()->IsPaused());
  hand_over.Give();  // a second Give is harmless
}

}  // namespace
}  // namespace m32::service
