#include "core/worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace m32 {
namespace {

using namespace std::chrono_literals;

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

template <typename Pred>
bool WaitFor(Pred p) {
  for (int i = 0; i < 2000 && !p(); ++i) std::this_thread::sleep_for(1ms);
  return p();
}

// Terminate wakes the suspended worker without a further pass.
TEST(Worker, SelfSuspendedWorkerRunsOnePassPerResumeAndEndsOnTerminate) {
  InlineInvoker ui;
  CountingWorker w(ui);
  w.Start();
  ASSERT_TRUE(WaitFor([&] { return w.Suspended(); }));
  EXPECT_EQ(w.passes.load(), 0);
  for (int i = 1; i <= 3; ++i) {
    w.Resume();
    ASSERT_TRUE(WaitFor([&] { return w.passes.load() == i && w.Suspended(); })) << i;
  }
  w.Terminate();
  ASSERT_TRUE(WaitFor([&] { return w.Finished(); }));
  w.Join();
  EXPECT_EQ(w.passes.load(), 3);
}

}  // namespace
}  // namespace m32
