#include "service/port_hand_over.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "config/settings.h"
#include "config/text_table.h"
#include "support/fake_serial_device.h"

namespace m32::service {
namespace {

using namespace std::chrono_literals;

// A port connection over the fake device whose link runs its steps in place.
struct Rig {
  test_support::FakeSerialDevice device{false};
  InlineInvoker ui;
  SharedStatus status;
  config::SettingsRecord settings;
  config::TextTable texts;
  link::PortConnection port{{device, ui, status, settings, texts, "/nonexistent/", {}, {}}};

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
