#include "qt/ui_invoker.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <thread>

namespace m32 {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A step handed over with a rest runs on the UI thread, and the worker goes on
// only once both the step has run and the rest is over, whichever ends last.
TEST(QtUiInvoker, StepThenRestReturnsAfterBothTheStepAndTheRest) {
  int argc = 1;
  char name[] = "test_qt";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  QObject ui_object;
  QtUiInvoker invoker(&ui_object);
  struct Case {
    const char* legend;
    milliseconds rest, step;
  } const cases[] = {{"the rest ends last", milliseconds(40), milliseconds(0)},
                     {"the step ends last", milliseconds(5), milliseconds(40)},
                     {"no rest at all", milliseconds(0), milliseconds(10)}};
  for (const auto& c : cases) {
    std::atomic<bool> on_ui{false};
    std::atomic<bool> step_over{false};
    std::atomic<bool> returned{false};
    bool step_over_at_return = false;
    Clock::time_point until;
    Clock::time_point back;
    std::thread worker([&] {
      until = Clock::now() + c.rest;
      invoker.RunOnUiThenRest(
          [&] {
            on_ui.store(QThread::currentThread() == ui_object.thread());
            std::this_thread::sleep_for(c.step);
            step_over.store(true);
          },
          until);
      back = Clock::now();
      step_over_at_return = step_over.load();
      returned.store(true);
    });
    PumpUntil([&] { return returned.load(); });
    worker.join();
    EXPECT_TRUE(on_ui.load()) << c.legend;
    EXPECT_TRUE(step_over_at_return) << c.legend;
    EXPECT_GE(back, until) << c.legend;
  }
}

}  // namespace
}  // namespace m32
