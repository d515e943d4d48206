// The real port connection and link loop on the Win32 device, against
// controller-sim (mirror mode: inputs = outputs) on COM2, a pseudo-terminal
// mapped into wine by run-wine-tests.sh. This thread plays the UI thread.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "config/text_table.h"
#include "core/shared_status.h"
#include "link/port_connection.h"
#include "serial/serial_device.h"

namespace m32::link {
namespace {

// Waits up to 3 s for `done`; the link runs its steps on its own thread.
template <typename Pred>
bool Until(Pred done) {
  for (int i = 0; i < 3000 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return done();
}

// The platform's device and a port connection on it with the default settings
// on COM<port_index + 1>; each error the connection shows leaves its caption
// in `errors`.
struct LinkRig {
  explicit LinkRig(uint8_t port_index) {
    config::ApplyDefaults(settings);
    settings.PortIndex = port_index;
  }
  std::unique_ptr<serial::SerialDevice> device = serial::MakePlatformSerialDevice();
  SharedStatus status;
  config::SettingsRecord settings;  // read at every OpenPort
  const config::TextTable texts;
  std::vector<std::string> errors;
  PortConnection port{{*device, status, settings, texts, "",
                       [this](const std::string& caption, const std::string&, const std::string&) {
                         errors.push_back(caption);
                       }}};
};

TEST(Win32Link, FramesGoBothWaysAtTheStoredLineAndStopOnClose) {
  const std::tuple<const char*, uint32_t, char> rows[] = {
      // legend, baud divisor, parity
      {"9600 Bd, even parity (the defaults)", 12, 'E'},
      {"115200 Bd, no parity", 1, 'N'},
  };
  for (const auto& [legend, divisor, parity] : rows) {
    LinkRig rig(1);  // COM2
    rig.settings.BaudDivisor = divisor;
    rig.settings.Parity = parity;
    rig.port.OpenPort();
    ASSERT_TRUE(rig.port.IsOpen()) << legend;
    EXPECT_TRUE(rig.errors.empty())
        << legend << ": " << (rig.errors.empty() ? "" : rig.errors.front());

    ASSERT_TRUE(Until([&] { return rig.status.flags.LinkRunning.load() != 0; })) << legend;

    // out1 and out32 on: the board mirrors them into the inputs. This thread
    // takes the inputs as the I/O refresh thread does, clearing the flag.
    rig.status.OutputBytes.Put({0x01, 0x00, 0x00, 0x80});
    rig.status.flags.OutputsChanged.store(1);
    const std::array<uint8_t, 4> want{0x01, 0x00, 0x00, 0x80};
    EXPECT_TRUE(Until([&] {
      if (rig.status.flags.InputsReceived.load() == 0) return false;
      if (rig.status.InputBytes.Get() == want) return true;
      rig.status.flags.InputsReceived.store(0);
      return false;
    })) << legend;
    EXPECT_EQ(rig.status.flags.OutputsChanged.load(), 0) << legend << ": the link took the outputs";

    rig.port.ClosePort();
    EXPECT_FALSE(rig.port.IsOpen()) << legend;
    EXPECT_EQ(rig.status.flags.LinkRunning.load(), 0) << legend;
  }
}

TEST(Win32Link, APortThatIsNotThereGivesChyba01) {
  LinkRig rig(63);  // COM64, not mapped
  rig.port.OpenPort();
  EXPECT_FALSE(rig.port.IsOpen());
  EXPECT_EQ(rig.errors, std::vector<std::string>{"CHYBA 01"});
}

}  // namespace
}  // namespace m32::link
