#include "qt/ui_invoker.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <thread>

namespace m32 {
namespace {

using std::chrono::milliseconds;

// A step handed over runs on the UI thread, and the worker goes on only once
// it has run there.
TEST(QtUiInvoker, StepRunsOnTheUiThreadAndTheWorkerWaitsForIt) {
  int argc = 1;
  char name[] = "test_qt";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  QObject ui_object;
  QtUiInvoker invoker(&ui_object);
  struct Case {
    const char* legend;
    milliseconds step;
  } const cases[] = {{"a quick step", milliseconds(0)}, {"a slow step", milliseconds(40)}};
  for (const auto& c : cases) {
    std::atomic<bool> on_ui{false};
    std::atomic<bool> step_over{false};
    std::atomic<bool> returned{false};
    bool step_over_at_return = false;
    std::thread worker([&] {
      invoker.RunOnUi([&] {
        on_ui.store(QThread::currentThread() == ui_object.thread());
        std::this_thread::sleep_for(c.step);
        step_over.store(true);
      });
      step_over_at_return = step_over.load();
      returned.store(true);
    });
    PumpUntil([&] { return returned.load(); });
    worker.join();
    EXPECT_TRUE(on_ui.load()) << c.legend;
    EXPECT_TRUE(step_over_at_return) << c.legend;
  }
}

}  // namespace
}  // namespace m32
