#include "iopanel/io_refresh_thread.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "support/process_support.h"

namespace m32::iopanel {
namespace {

using namespace std::chrono_literals;
using test_support::WaitFor;

struct Fixture {
  SharedStatus status;
  InlineInvoker ui;
  std::mutex m;
  std::vector<std::string> log;
  void Log(const char* s) {
    std::lock_guard<std::mutex> lock(m);
    log.emplace_back(s);
  }
  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> lock(m);
    return log;
  }
  IoPanelSteps Steps() {
    return {[this] { Log("refresh"); },
            [this] {
              Log("pack");
              status.flags.OutputsChanged.store(1);
            },
            [this] {
              Log("show");
              status.flags.InputsReceived.store(0);
            }};
  }
};

TEST(IoRefreshThread, OnePassPerTickPacksOnlyWhenTakenShowsOnlyWhenReceived) {
  Fixture f;
  f.status.flags.OutputsChanged.store(1);  // start-up leaves a change pending
  IoRefreshThread t(f.ui, f.status, f.Steps());
  t.Start();
  ASSERT_TRUE(WaitFor([&] { return t.Suspended(); }, 3s));
  EXPECT_EQ(f.status.flags.IoDisplayActive.load(), 1);
  EXPECT_EQ(f.Log(), (std::vector<std::string>{"refresh"}));

  t.Resume();  // tick 1: the link has not taken the outputs yet
  ASSERT_TRUE(WaitFor([&] { return t.Suspended(); }, 3s));
  EXPECT_EQ(f.Log().size(), 1U) << "no packing while OutputsChanged is set";

  f.status.flags.OutputsChanged.store(0);  // the link took them
  f.status.flags.InputsReceived.store(1);  // and brought inputs
  t.Resume();
  ASSERT_TRUE(WaitFor([&] { return f.Log().size() == 3 && t.Suspended(); }, 3s));
  EXPECT_EQ(f.Log(), (std::vector<std::string>{"refresh", "pack", "show"}));

  f.status.OutputBytes.Put({1, 2, 3, 4});
  f.status.InputBytes.Put({5, 6, 7, 8});
  f.status.flags.OutputsChanged.store(0);
  t.Terminate();
  ASSERT_TRUE(WaitFor([&] { return t.Finished(); }, 3s));
  t.Join();
  EXPECT_EQ(f.Log().back(), "refresh");
  EXPECT_EQ(f.status.flags.IoDisplayActive.load(), 0);
  EXPECT_EQ(f.status.flags.OutputsChanged.load(), 1) << "all-off outputs offered on the way out";
  EXPECT_EQ(f.status.OutputBytes.Get(), (std::array<uint8_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(f.status.InputBytes.Get(), (std::array<uint8_t, 4>{0, 0, 0, 0}));
}

}  // namespace
}  // namespace m32::iopanel
