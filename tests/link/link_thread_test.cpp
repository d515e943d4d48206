#include "link/link_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/fake_serial_device.h"

namespace m32::link {
namespace {

using namespace std::chrono_literals;
using test_support::FakeSerialDevice;

// Waits up to 3 s for `done`; nothing but the link thread runs the steps.
template <typename Pred>
bool Until(Pred done) {
  for (int i = 0; i < 3000 && !done(); ++i) std::this_thread::sleep_for(1ms);
  return done();
}

class LinkThreadTest : public ::testing::Test {
 protected:
  void TearDown() override {
    link.Terminate();
    port.Wake();  // should a test fail with the link stuck in its wait
    link.Join();
  }
  // Pauses the link as a worker taking the port over does.
  bool Pause() {
    link.RequestPause();
    return link.WaitUntilPaused();
  }

  FakeSerialDevice port;
  SharedStatus status;
  LinkThread link{port, status};
};

TEST_F(LinkThreadTest, StepsRunOnTheLinkThreadAndKeepTheExchangeGoing) {
  link.Start();
  // Silent line: frames go out anyway, one per step, with no UI thread at all.
  ASSERT_TRUE(Until([this] { return port.Writes().size() >= 2; }));
  EXPECT_EQ(status.flags.LinkRunning.load(), 1);
  EXPECT_EQ(port.Calls().purge, 1);

  // The controller answers; the next step takes the frame.
  port.Feed({0xA2, 0x6B, 0x05, 0x00, 0x34, 0x12, 0xAA, 0xFE});
  ASSERT_TRUE(Until([this] { return status.flags.InputsReceived.load() != 0; }));
  EXPECT_EQ(status.InputBytes.Get(), (std::array<uint8_t, 4>{0x05, 0x00, 0x34, 0x12}));

  link.Terminate();
  ASSERT_TRUE(Until([this] { return link.Ended(); }));
  EXPECT_EQ(status.flags.LinkRunning.load(), 0);
  EXPECT_EQ(port.Calls().purge, 2) << "purged again on the way out";
}

TEST_F(LinkThreadTest, FrameTricklingInWhileOursGoesOutIsTakenWhole) {
  link.Start();
  ASSERT_TRUE(Until([this] { return !port.Writes().empty(); }));
  port.SetTxCount(8);  // our frame is still going out: nothing to write
  port.Feed({0xA2, 0x6B, 0x05});
  ASSERT_TRUE(Until([this] { return port.RxLeft() == 1; })) << "sync and k taken";

  // Bytes of the frame's body trickle in, fewer than the six it needs.
  for (uint8_t b : {uint8_t{0x00}, uint8_t{0x34}, uint8_t{0x12}}) {
    port.Feed({b});
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(status.flags.InputsReceived.load(), 0);

  // The rest of the frame arrives: the next step takes it whole.
  port.Feed({0xAA, 0xFE});
  ASSERT_TRUE(Until([this] { return status.flags.InputsReceived.load() != 0; }));
  EXPECT_EQ(status.InputBytes.Get(), (std::array<uint8_t, 4>{0x05, 0x00, 0x34, 0x12}));

  // Once the frame has gone out, the exchange goes on.
  const std::size_t written = port.Writes().size();
  port.SetTxCount(0);
  port.Feed({0x00});  // any event; the step then finds the queue empty
  ASSERT_TRUE(Until([&] { return port.Writes().size() > written; }));
}

TEST_F(LinkThreadTest, PausedBetweenStepsOrEndedWhilePausedItLeavesThePortAlone) {
  link.Start();
  ASSERT_TRUE(Until([this] { return port.Writes().size() >= 2; }));

  ASSERT_TRUE(Pause());
  EXPECT_TRUE(link.IsPaused());
  EXPECT_EQ(status.flags.LinkRunning.load(), 1) << "a paused link is still in its loop";

  // Whatever happens on the line meanwhile is the other worker's business.
  const auto before = port.Calls();
  port.Feed({0xA2, 0x6B});
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(port.Calls().port_calls, before.port_calls);

  link.ResumeFromPause();
  const int writes = port.Calls().write;
  ASSERT_TRUE(Until([&] { return port.Calls().write > writes; }));
  EXPECT_FALSE(link.IsPaused());

  // Ended while parked: the port stays the other worker's, no purge under its feet.
  ASSERT_TRUE(Pause());
  const int calls = port.Calls().port_calls;
  link.Terminate();
  ASSERT_TRUE(Until([this] { return link.Ended(); }));
  EXPECT_EQ(port.Calls().port_calls, calls);
  EXPECT_EQ(status.flags.LinkRunning.load(), 0);
  EXPECT_FALSE(link.WaitUntilPaused()) << "an ended link does not keep a waiter waiting";
}

TEST_F(LinkThreadTest, TerminateWakesTheWaitAtOnce) {
  // This port's wait ignores its time-out: only a wake-up ends it.
  port.SetWaitIgnoresTimeout(true);
  link.Start();
  ASSERT_TRUE(Until([this] { return port.Calls().wait >= 1; }));
  const int steps = port.Calls().counts;
  link.Terminate();
  ASSERT_TRUE(Until([this] { return link.Ended(); }));
  EXPECT_EQ(port.Calls().counts, steps) << "no step after the termination request";
  EXPECT_GE(port.Calls().wake, 1);
}

TEST_F(LinkThreadTest, ClosedPortIsNotDrivenRoundInABusyLoop) {
  port.Close();  // every wait answers kNotOpen at once
  link.Start();
  std::this_thread::sleep_for(200ms);
  const auto calls = port.Calls();
  EXPECT_GE(calls.counts, 1) << "steps still come";
  EXPECT_EQ(calls.read + calls.write, 0) << "a step on a closed port touches nothing";
  // A spinning thread would make thousands of waits here; paced, about four.
  EXPECT_LT(calls.wait, 100);
}

}  // namespace
}  // namespace m32::link
