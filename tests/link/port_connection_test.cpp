#include "link/port_connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/fake_serial_device.h"
#include "link/queue_invoker.h"

namespace m32::link {
namespace {

using namespace std::chrono_literals;
using test_support::FakeSerialDevice;
using test_support::QueueInvoker;
namespace fs = std::filesystem;

// A fresh folder standing in for the executable's folder.
class TempFolder {
 public:
  TempFolder() {
    path_ = fs::temp_directory_path() /
            ("m32_link_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string Str() const { return path_.string() + "/"; }
  void Link(const std::string& name, const std::string& target) const {
    fs::create_symlink(target, path_ / name);
  }

 private:
  fs::path path_;
};

TEST(DevicePathFor, ComEntryBesideTheExecutableElseTtyS) {
  TempFolder folder;
  folder.Link("COM1", "/dev/null");
  folder.Link("COM10", "/dev/null");
  folder.Link("COM3", "/nonexistent/ttyUSB7");  // adapter unplugged
  struct Row {
    const char* legend;
    unsigned index;
    std::string expected;
  };
  const Row rows[] = {
      {"COM1 symlink present", 0, folder.Str() + "COM1"},
      {"no COM2 entry: the second on-board port", 1, "/dev/ttyS1"},
      {"dangling COM3 link is still taken, not another port", 2, folder.Str() + "COM3"},
      {"index 8 is COM9, absent", 8, "/dev/ttyS8"},
      {"index 9 is COM10", 9, folder.Str() + "COM10"},
      {"index 63 is COM64, absent", 63, "/dev/ttyS63"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    EXPECT_EQ(DevicePathFor(row.index, folder.Str()), row.expected);
  }
  EXPECT_EQ(DevicePathFor(0, ""), "/dev/ttyS0") << "no folder known";
}

TEST(LineSettingsFrom, SettingsRecordToLine) {
  struct Row {
    const char* legend;
    uint32_t divisor;
    uint8_t data_bits;
    char parity;
    uint8_t stop_bits;
    int16_t dtr_constant;
    serial::LineSettings expected;
  };
  using P = serial::Parity;
  const Row rows[] = {
      {"divisor 0 is read as 1", 0, 8, 'N', 1, 0, {115200, 8, P::kNone, 1, false}},
      {"divisor 1", 1, 8, 'E', 1, 0, {115200, 8, P::kEven, 1, false}},
      {"divisor 12: 9600", 12, 7, 'O', 2, 0, {9600, 7, P::kOdd, 2, false}},
      {"divisor 7: 16457, integer division", 7, 8, 'M', 1, 1, {16457, 8, P::kMark, 1, true}},
      {"divisor 115200: 1 Bd", 115200, 5, 'N', 2, 0, {1, 5, P::kNone, 2, false}},
      {"unknown parity letter: none; DTR constant non-zero",
       12,
       8,
       'x',
       1,
       7,
       {9600, 8, P::kNone, 1, true}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    config::SettingsRecord r;
    r.BaudDivisor = row.divisor;
    r.DataBits = row.data_bits;
    r.Parity = row.parity;
    r.StopBits = row.stop_bits;
    r.Constants[4] = row.dtr_constant;
    r.Constants[3] = 1;  // neighbours must not count
    r.Constants[5] = 1;
    const serial::LineSettings line = LineSettingsFrom(r);
    EXPECT_EQ(line.baud, row.expected.baud);
    EXPECT_EQ(line.data_bits, row.expected.data_bits);
    EXPECT_EQ(line.parity, row.expected.parity);
    EXPECT_EQ(line.stop_bits, row.expected.stop_bits);
    EXPECT_EQ(line.dtr, row.expected.dtr);
  }
}

TEST(PortMessage, GrowsWithItsTexts) {
  EXPECT_EQ(PortMessage("Serial port", 10, "cannot be opened"),
            "Serial port COM10 cannot be opened.");
  const std::string lead(300, 'a');
  const std::string tail(300, 'b');
  EXPECT_EQ(PortMessage(lead, 64, tail), lead + " COM64 " + tail + ".");
}

class PortConnectionTest : public ::testing::Test {
 protected:
  PortConnectionTest() { settings.PortIndex = 0; }

  PortConnection& Port() {
    if (!conn) {
      conn = std::make_unique<PortConnection>(
          PortConnection::Deps{device, ui, status, settings, texts, folder.Str(),
                               [this](const std::string& caption, const std::string& text) {
                                 errors.push_back({caption, text});
                               },
                               [this] { ui.RunPending(); }});
    }
    return *conn;
  }

  struct Shown {
    std::string caption, text;
  };

  TempFolder folder;
  FakeSerialDevice device{false};
  QueueInvoker ui;
  SharedStatus status;
  config::SettingsRecord settings{.BaudDivisor = 12, .DataBits = 8, .Parity = 'E', .StopBits = 1};
  config::TextTable texts;
  std::vector<Shown> errors;
  std::unique_ptr<PortConnection> conn;
};

TEST_F(PortConnectionTest, DeviceThatCannotBeOpenedShowsChyba01) {
  settings.PortIndex = 9;
  device.SetOpenResult(serial::OpenResult::kNotFound);
  Port().OpenPort();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].caption, "CHYBA 01");
  EXPECT_EQ(errors[0].text, "Sériový port COM10 nelze otevřít.");
  EXPECT_EQ(device.OpenedPaths(), std::vector<std::string>{"/dev/ttyS9"});
  EXPECT_FALSE(Port().IsOpen());
  EXPECT_EQ(Port().Link(), nullptr);
  EXPECT_EQ(device.Calls().configure, 0);
  Port().ClosePort();  // closed: nothing to do
  EXPECT_EQ(device.Calls().close, 0);
}

TEST_F(PortConnectionTest, RejectedLineStateShowsChyba02AndTheLinkStillStarts) {
  device.SetConfigureOk(false);
  Port().OpenPort();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].caption, "CHYBA 02");
  EXPECT_EQ(errors[0].text, "Sériový port COM1 nelze nastavit.");
  EXPECT_TRUE(Port().IsOpen());
  ASSERT_NE(Port().Link(), nullptr);
  EXPECT_GE(device.Calls().purge, 1);
  EXPECT_TRUE(ui.RunOne(3000ms)) << "the link steps";
}

TEST_F(PortConnectionTest, OpensConfiguresAndIgnoresASecondOpen) {
  folder.Link("COM1", "/dev/null");
  settings.Constants[4] = 1;
  Port().OpenPort();
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(Port().DevicePath(), folder.Str() + "COM1");
  const auto configured = device.Configured();
  ASSERT_EQ(configured.size(), 1u);
  EXPECT_EQ(configured[0].baud, 9600u);
  EXPECT_EQ(configured[0].parity, serial::Parity::kEven);
  EXPECT_TRUE(configured[0].dtr);
  TLink* first = Port().Link();
  ASSERT_NE(first, nullptr);

  Port().OpenPort();
  EXPECT_EQ(device.Calls().open, 1);
  EXPECT_EQ(Port().Link(), first) << "no second link thread";
}

TEST_F(PortConnectionTest, ClosePortStopsTheLinkBeforeItClosesTheDevice) {
  Port().OpenPort();
  ASSERT_TRUE(ui.RunOne(3000ms));
  // Leave the link blocked in its hand-off to the UI thread: ClosePort must
  // run that step itself rather than wait for ever or close under it.
  for (int i = 0; i < 3000 && ui.Queued() == 0; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(ui.Queued(), 1u);

  Port().ClosePort();
  EXPECT_FALSE(Port().IsOpen());
  EXPECT_EQ(Port().Link(), nullptr);
  EXPECT_EQ(status.flags.LinkRunning.load(), 0);
  const auto calls = device.Calls();
  EXPECT_EQ(calls.close, 1);
  EXPECT_EQ(calls.closed_use, 0) << "nothing touched the port after it was closed";
  EXPECT_EQ(ui.Queued(), 0u);

  Port().ClosePort();
  EXPECT_EQ(device.Calls().close, 1) << "closing a closed port does nothing";

  // Reconfiguration: close, then open again with a fresh link.
  settings.PortIndex = 1;
  Port().OpenPort();
  EXPECT_TRUE(Port().IsOpen());
  EXPECT_EQ(device.OpenedPaths().back(), "/dev/ttyS1");
  EXPECT_TRUE(ui.RunOne(3000ms));
  Port().ClosePort();
  EXPECT_EQ(device.Calls().closed_use, 0);
}

TEST_F(PortConnectionTest, ClosePortAlsoEndsAPausedLink) {
  Port().OpenPort();
  ASSERT_NE(Port().Link(), nullptr);
  Port().Link()->RequestPause();
  std::atomic<bool> paused{false};
  std::thread taker([&] { paused.store(Port().Link()->WaitUntilPaused()); });
  for (int i = 0; i < 3000 && !paused.load(); ++i) {
    ui.RunPending();
    std::this_thread::sleep_for(1ms);
  }
  taker.join();
  ASSERT_TRUE(paused.load());
  Port().ClosePort();
  EXPECT_EQ(device.Calls().close, 1);
  EXPECT_EQ(device.Calls().closed_use, 0);
}

}  // namespace
}  // namespace m32::link
