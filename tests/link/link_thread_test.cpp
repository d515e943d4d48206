#include "link/link_thread.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/fake_serial_device.h"
#include "support/queue_invoker.h"

namespace m32::link {
namespace {

using namespace std::chrono_literals;
using test_support::FakeSerialDevice;
using test_support::PauseFromWorker;
using test_support::QueueInvoker;

// Runs the steps that come in during `d`.
void PumpFor(QueueInvoker& ui, std::chrono::milliseconds d) {
  const auto end = std::chrono::steady_clock::now() + d;
  while (std::chrono::steady_clock::now() < end) ui.RunOne(5ms);
}

class LinkThreadTest : public ::testing::Test {
 protected:
  void TearDown() override {
    link.Terminate();
    ui.RunUntil([this] { return link.Ended(); });
    port.Wake();  // should a test fail with the link stuck in its wait
    link.Join();
  }

  FakeSerialDevice port;
  SharedStatus status;
  QueueInvoker ui;
  LinkThread link{port, ui, status};
};

TEST_F(LinkThreadTest, StepsRunOnTheUiThreadAndKeepTheExchangeGoing) {
  link.Start();
  // Silent line: frames go out anyway, one per step.
  ASSERT_TRUE(ui.RunUntil([this] { return port.Writes().size() >= 2; }));
  EXPECT_EQ(status.flags.LinkRunning.load(), 1);
  EXPECT_EQ(port.Calls().purge, 1);

  // The controller answers; the next step takes the frame.
  port.Feed({0xA2, 0x6B, 0x05, 0x00, 0x34, 0x12, 0xAA, 0xFE});
  ASSERT_TRUE(ui.RunUntil([this] { return status.flags.InputsReceived.load() != 0; }));
  EXPECT_EQ(status.InputBytes.Get(), (std::array<uint8_t, 4>{0x05, 0x00, 0x34, 0x12}));

  link.Terminate();
  ASSERT_TRUE(ui.RunUntil([this] { return link.Ended(); }));
  EXPECT_EQ(status.flags.LinkRunning.load(), 0);
  EXPECT_EQ(port.Calls().purge, 2) << "purged again on the way out";
}

TEST_F(LinkThreadTest, WakeUpsThatCouldChangeNothingStayOffTheUiThread) {
  link.Start();
  ASSERT_TRUE(ui.RunUntil([this] { return !port.Writes().empty(); }));
  port.SetTxCount(8);  // our frame is still going out: nothing to write
  port.Feed({0xA2, 0x6B, 0x05});
  ASSERT_TRUE(ui.RunUntil([this] { return port.RxLeft() == 1; })) << "sync and k taken";

  // Bytes of the frame's body trickle in, fewer than the six it needs.
  int steps = 0;
  for (uint8_t b : {uint8_t{0x00}, uint8_t{0x34}, uint8_t{0x12}}) {
    port.Feed({b});
    const auto end = std::chrono::steady_clock::now() + 15ms;  // within one 50 ms step
    while (std::chrono::steady_clock::now() < end) steps += ui.RunOne(2ms) ? 1 : 0;
  }
  // Three wake-ups; at most the one step the 50 ms interval brings may run.
  EXPECT_LE(steps, 1) << "a step could neither read nor write: not handed to the UI thread";

  // The rest of the frame arrives: the next step takes it whole.
  port.Feed({0xAA, 0xFE});
  ASSERT_TRUE(ui.RunUntil([this] { return status.flags.InputsReceived.load() != 0; }));
  EXPECT_EQ(status.InputBytes.Get(), (std::array<uint8_t, 4>{0x05, 0x00, 0x34, 0x12}));

  // Once the frame has gone out, the exchange goes on.
  const std::size_t written = port.Writes().size();
  port.SetTxCount(0);
  port.Feed({0x00});  // any event; the step then finds the queue empty
  ASSERT_TRUE(ui.RunUntil([&] { return port.Writes().size() > written; }));
}

TEST_F(LinkThreadTest, PausedBetweenStepsOrEndedWhilePausedItLeavesThePortAlone) {
  link.Start();
  ASSERT_TRUE(ui.RunUntil([this] { return ui.Runs() >= 2; }));

  ASSERT_TRUE(PauseFromWorker(ui, link));
  EXPECT_TRUE(link.IsPaused());
  EXPECT_EQ(status.flags.LinkRunning.load(), 1) << "a paused link is still in its loop";

  // Whatever happens on the line meanwhile is the other worker's business.
  const auto before = port.Calls();
  port.Feed({0xA2, 0x6B});
  PumpFor(ui, 150ms);
  EXPECT_EQ(port.Calls().port_calls, before.port_calls);
  EXPECT_EQ(ui.Queued(), 0u);

  link.ResumeFromPause();
  const int writes = port.Calls().write;
  ASSERT_TRUE(ui.RunUntil([&] { return port.Calls().write > writes; }));
  EXPECT_FALSE(link.IsPaused());

  // Ended while parked: the port stays the other worker's, no purge under its feet.
  ASSERT_TRUE(PauseFromWorker(ui, link));
  const int calls = port.Calls().port_calls;
  link.Terminate();
  ASSERT_TRUE(ui.RunUntil([this] { return link.Ended(); }));
  EXPECT_EQ(port.Calls().port_calls, calls);
  EXPECT_EQ(status.flags.LinkRunning.load(), 0);
  EXPECT_FALSE(link.WaitUntilPaused()) << "an ended link does not keep a waiter waiting";
}

TEST_F(LinkThreadTest, TerminateWakesTheWaitAtOnce) {
  // This port's wait ignores its time-out: only a wake-up ends it.
  port.SetWaitIgnoresTimeout(true);
  link.Start();
  ASSERT_TRUE(ui.RunUntil([this] { return port.Calls().wait >= 1; }));
  const int steps = ui.Runs();
  link.Terminate();
  ASSERT_TRUE(ui.RunUntil([this] { return link.Ended(); }));
  EXPECT_EQ(ui.Runs(), steps) << "no step after the termination request";
  EXPECT_GE(port.Calls().wake, 1);
}

TEST_F(LinkThreadTest, ClosedPortIsNotDrivenRoundInABusyLoop) {
  port.Close();  // every wait answers kNotOpen at once
  link.Start();
  PumpFor(ui, 200ms);
  const auto calls = port.Calls();
  EXPECT_GE(calls.counts, 1) << "steps still come";
  EXPECT_EQ(calls.read + calls.write, 0) << "a step on a closed port touches nothing";
  // A spinning thread would make thousands of waits here; paced, about four.
  EXPECT_LT(calls.wait, 100);
}

}  // namespace
}  // namespace m32::link
