#include "core/worker.h"

#include <gtest/gtest.h>

#include "support/process_support.h"

namespace m32 {
namespace {

using namespace std::chrono_literals;
using test_support::WaitFor;

// A worker that counts its passes and suspends itself after each, like the
// I/O refresh thread.
class CountingWorker : public Worker {
 public:
  using Worker::Worker;
  std::atomic<int> passes{0};

 protected:
  void Execute() override {
    while (true) {
      SuspendSelf();
      if (Terminated()) break;
      Synchronize([this] { passes.fetch_add(1); });
    }
  }
};

// Terminate wakes the suspended worker without a further pass.
TEST(Worker, SelfSuspendedWorkerRunsOnePassPerResumeAndEndsOnTerminate) {
  InlineInvoker ui;
  CountingWorker w(ui);
  w.Start();
  ASSERT_TRUE(WaitFor([&] { return w.Suspended(); }, 2s));
  EXPECT_EQ(w.passes.load(), 0);
  for (int i = 1; i <= 3; ++i) {
    w.Resume();
    ASSERT_TRUE(WaitFor([&] { return w.passes.load() == i && w.Suspended(); }, 2s)) << i;
  }
  w.Terminate();
  ASSERT_TRUE(WaitFor([&] { return w.Finished(); }, 2s));
  w.Join();
  EXPECT_EQ(w.passes.load(), 3);
}

}  // namespace
}  // namespace m32
