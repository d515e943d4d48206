#include "service/port_step_worker.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "link/fake_serial_device.h"
#include "service/lighting_refresh.h"

namespace m32::service {
namespace {

using test_support::FakeSerialDevice;

void WaitForSteps(const PortStepWorker& w, unsigned n) {
  while (w.Steps() < n && !w.Finished()) std::this_thread::yield();
}

TEST(LightingWorker, MarksItselfActivePurgesAndRunsSteps) {
  struct Case {
    const char* legend;
    bool open;  // a closed port pauses between steps instead of spinning
  } const cases[] = {{"open port", true}, {"closed port", false}};
  for (const auto& c : cases) {
    FakeSerialDevice port(c.open);
    SharedStatus status;
    InlineInvoker ui;
    LightingRefresh refresh;
    Levels levels{};
    int starts = 0;
    int active_during_steps = 0;
    int steps = 0;
    LightingWorker w(
        ui, port, status,
        [&] {
          ++starts;
          refresh.Start(status, 1);
        },
        [&] {
          ++steps;
          active_during_steps += status.flags.LightingDisplayActive.load();
          refresh.Step(port, status, levels);
        });
    w.Start();
    WaitForSteps(w, 3);
    w.Terminate();
    w.Join();
    EXPECT_EQ(starts, 1) << c.legend;
    EXPECT_GE(steps, 3) << c.legend;
    EXPECT_EQ(active_during_steps, steps) << c.legend;
    EXPECT_EQ(status.flags.LightingDisplayActive.load(), 0) << c.legend;
    EXPECT_EQ(port.Calls().purge, 2) << c.legend;
    // The countdown never runs out here: with the port open every step sent a frame.
    EXPECT_EQ(port.Written().size(), c.open ? 13u * static_cast<unsigned>(steps) : 0u) << c.legend;
  }
}

TEST(CommWorker, TerminateEndsTheLoopAndPurges) {
  FakeSerialDevice port;
  port.Feed({1, 2, 3});
  InlineInvoker ui;
  int steps = 0;
  CommWorker w(ui, port, [&] { ++steps; });
  w.Start();
  WaitForSteps(w, 1);
  w.Terminate();
  w.Join();
  EXPECT_TRUE(w.Finished());
  EXPECT_GE(steps, 1);
  EXPECT_EQ(port.Calls().purge, 2);
  EXPECT_EQ(port.RxLeft(), 0u);  // the start's purge dropped what was queued
}

TEST(CommWorker, SuspendedWorkerRunsNoStepsUntilResumed) {
  FakeSerialDevice port;
  InlineInvoker ui;
  std::atomic<int> steps{0};
  CommWorker w(ui, port, [&] { ++steps; });
  w.Suspend();
  w.Start();
  while (!w.Suspended()) std::this_thread::yield();
  EXPECT_EQ(steps.load(), 0);
  w.Resume();
  WaitForSteps(w, 2);
  w.Terminate();
  w.Join();
  EXPECT_GE(steps.load(), 2);
}

TEST(PortStepWorker, TakeOverRunsBeforeThePortIsTouched) {
  struct Case {
    const char* legend;
    bool lighting;
  } const cases[] = {{"communication worker", false}, {"lighting worker", true}};
  for (const auto& c : cases) {
    FakeSerialDevice port;
    SharedStatus status;
    InlineInvoker ui;
    int purges_at_take_over = -1;
    int active_at_take_over = -1;
    std::unique_ptr<PortStepWorker> w;
    if (c.lighting) {
      w = std::make_unique<LightingWorker>(
          ui, port, status, [] {}, [] {});
    } else {
      w = std::make_unique<CommWorker>(ui, port, [] {});
    }
    w->SetTakeOver([&] {
      purges_at_take_over = port.Calls().purge;
      active_at_take_over = status.flags.LightingDisplayActive.load();
    });
    w->Start();
    WaitForSteps(*w, 1);
    w->Terminate();
    w->Join();
    EXPECT_EQ(purges_at_take_over, 0) << c.legend;
    EXPECT_EQ(active_at_take_over, 0) << c.legend;
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

}  // namespace
}  // namespace m32::service
