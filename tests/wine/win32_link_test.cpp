// The real port connection and link loop on the Win32 device, against
// controller-sim (mirror mode: inputs = outputs) on COM2, a pseudo-terminal
// mapped into wine by run-wine-tests.sh. This thread plays the UI thread.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/text_table.h"
#include "core/shared_status.h"
#include "link/port_connection.h"
#include "serial/serial_device.h"
#include "support/queue_invoker.h"

namespace m32::link {
namespace {

using test_support::QueueInvoker;

TEST(Win32Link, FramesGoBothWaysAtTheStoredLineAndStopOnClose) {
  const std::tuple<const char*, uint32_t, char> rows[] = {
      // legend, baud divisor, parity
      {"9600 Bd, even parity (the defaults)", 12, 'E'},
      {"115200 Bd, no parity", 1, 'N'},
  };
  for (const auto& [legend, divisor, parity] : rows) {
    auto device = serial::MakePlatformSerialDevice();
    QueueInvoker ui;
    SharedStatus status;
    config::SettingsRecord settings;
    config::ApplyDefaults(settings);
    settings.PortIndex = 1;  // COM2
    settings.BaudDivisor = divisor;
    settings.Parity = parity;
    const config::TextTable texts;
    std::vector<std::string> errors;
    PortConnection port(
        {*device, ui, status, settings, texts, "",
         [&](const std::string& caption, const std::string&) { errors.push_back(caption); },
         [&] { ui.RunPending(); }});
    port.OpenPort();
    ASSERT_TRUE(port.IsOpen()) << legend;
    EXPECT_TRUE(errors.empty()) << legend << ": " << (errors.empty() ? "" : errors.front());

    ASSERT_TRUE(ui.RunUntil([&] { return status.flags.LinkRunning.load() != 0; })) << legend;

    // out1 and out32 on: the board mirrors them into the inputs. This thread
    // takes the inputs as the I/O refresh thread does, clearing the flag.
    status.OutputBytes.Put({0x01, 0x00, 0x00, 0x80});
    status.flags.OutputsChanged.store(1);
    const std::array<uint8_t, 4> want{0x01, 0x00, 0x00, 0x80};
    EXPECT_TRUE(ui.RunUntil([&] {
      if (status.flags.InputsReceived.load() == 0) return false;
      if (status.InputBytes.Get() == want) return true;
      status.flags.InputsReceived.store(0);
      return false;
    })) << legend;
    EXPECT_EQ(status.flags.OutputsChanged.load(), 0) << legend << ": the link took the outputs";

    port.ClosePort();
    EXPECT_FALSE(port.IsOpen()) << legend;
    EXPECT_EQ(status.flags.LinkRunning.load(), 0) << legend;
  }
}

TEST(Win32Link, APortThatIsNotThereGivesChyba01) {
  auto device = serial::MakePlatformSerialDevice();
  QueueInvoker ui;
  SharedStatus status;
  config::SettingsRecord settings;
  config::ApplyDefaults(settings);
  settings.PortIndex = 63;  // COM64, not mapped
  const config::TextTable texts;
  std::vector<std::string> errors;
  PortConnection port(
      {*device, ui, status, settings, texts, "",
       [&](const std::string& caption, const std::string&) { errors.push_back(caption); },
       [&] { ui.RunPending(); }});
  port.OpenPort();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(errors, std::vector<std::string>{"CHYBA 01"});
}

}  // namespace
}  // namespace m32::link
