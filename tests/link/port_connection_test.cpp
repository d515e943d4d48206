#include "link/port_connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "link/emergency_off.h"
#include "support/fake_serial_device.h"
#include "support/process_support.h"

namespace m32::link {
namespace {

using namespace std::chrono_literals;
using test_support::FakeSerialDevice;
using test_support::ScratchFolder;

// The folder as the tool names it, with a slash at the end.
std::string Str(const ScratchFolder& folder) {
  return folder.path.string() + "/";
}

TEST(DevicePathFor, ComEntryBesideTheExecutableElseTtyS) {
  ScratchFolder folder;
  std::filesystem::create_symlink("/dev/null", folder.path / "COM1");
  std::filesystem::create_symlink("/dev/null", folder.path / "COM10");
  std::filesystem::create_symlink("/nonexistent/ttyUSB7", folder.path / "COM3");  // unplugged
  struct Row {
    const char* legend;
    unsigned index;
    std::string expected;
  };
  const Row rows[] = {
      {"COM1 symlink present", 0, Str(folder) + "COM1"},
      {"no COM2 entry: the second on-board port", 1, "/dev/ttyS1"},
      {"dangling COM3 link is still taken, not another port", 2, Str(folder) + "COM3"},
      {"index 9 is COM10", 9, Str(folder) + "COM10"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(DevicePathFor(row.index, Str(folder)), row.expected) << row.legend;
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
      {"divisor 1, even parity", 1, 8, 'E', 1, 0, {115200, 8, P::kEven, 1, false}},
      {"divisor 12: 9600, odd parity", 12, 7, 'O', 2, 0, {9600, 7, P::kOdd, 2, false}},
      {"divisor 7: 16457, integer division", 7, 8, 'M', 1, 1, {16457, 8, P::kMark, 1, true}},
      {"'x': no parity; 0 stop bits: 2; DTR", 12, 8, 'x', 0, 7, {9600, 8, P::kNone, 2, true}},
  };
  const auto fields = [](const serial::LineSettings& l) {
    return std::tuple(l.baud, l.data_bits, l.parity, l.stop_bits, l.dtr);
  };
  for (const Row& row : rows) {
    config::SettingsRecord r;
    r.BaudDivisor = row.divisor;
    r.DataBits = row.data_bits;
    r.Parity = row.parity;
    r.StopBits = row.stop_bits;
    r.Constants[4] = row.dtr_constant;
    r.Constants[3] = 1;  // neighbours must not count
    r.Constants[5] = 1;
    EXPECT_EQ(fields(LineSettingsFrom(r)), fields(row.expected)) << row.legend;
  }
}

TEST(PortMessage, LongTextsAreNotCut) {
  const std::string lead(300, 'a');
  const std::string tail(300, 'b');
  EXPECT_EQ(PortMessage(lead, 64, tail), lead + " COM64 " + tail + ".");
}

class PortConnectionTest : public ::testing::Test {
 protected:
  // The link has written at least `n` frames, within 3 s.
  bool Written(std::size_t n) {
    return test_support::WaitFor([&] { return device.Writes().size() >= n; }, 3000ms);
  }
  PortConnection& Port() {
    if (!conn) {
      conn = std::make_unique<PortConnection>(PortConnection::Deps{
          device, status, settings, texts, Str(folder),
          [this](const std::string& caption, const std::string& text, const std::string& details) {
            errors.push_back(caption + ": " + text);
            error_details.push_back(details);
            if (in_box) in_box();
          }});
    }
    return *conn;
  }

  ScratchFolder folder;
  FakeSerialDevice device{false};
  SharedStatus status;
  config::SettingsRecord settings{.BaudDivisor = 12, .DataBits = 8, .Parity = 'E', .StopBits = 1};
  config::TextTable texts;
  std::vector<std::string> errors;  // caption: text
  std::vector<std::string> error_details;
  std::function<void()> in_box;  // runs inside the message box's event loop
  std::unique_ptr<PortConnection> conn;
};

// A port that cannot be opened is left closed; a line state it rejects is
// reported and the link runs anyway. Only a refusal for lack of permission
// adds details (the box's text stays the same): the group to join.
TEST_F(PortConnectionTest, OpenFailuresShowTheirBoxAndLeaveThePortAsItCanBe) {
  struct Row {
    const char* legend;
    uint8_t index;
    serial::OpenResult open;  // the line state is always rejected
    const char* error;
    const char* details;  // a piece of them; empty: none
  };
  const Row rows[] = {
      {"no device: closed", 9, serial::OpenResult::kNotFound,
       "CHYBA 01: Sériový port COM10 nelze otevřít.", ""},
      {"held by another: closed", 0, serial::OpenResult::kBusy,
       "CHYBA 01: Sériový port COM1 nelze otevřít.", ""},
      {"refused to this user: closed, the details name the group", 2, serial::OpenResult::kDenied,
       "CHYBA 01: Sériový port COM3 nelze otevřít.",
       "/dev/ttyS2 was refused. Serial devices belong to the group dialout"},
      {"line state rejected: the link still starts", 0, serial::OpenResult::kOk,
       "CHYBA 02: Sériový port COM1 nelze nastavit.", ""},
  };
  device.SetConfigureOk(false);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    const bool open_after = row.open == serial::OpenResult::kOk;
    conn.reset();
    errors.clear();
    error_details.clear();
    const auto before = device.Calls();
    settings.PortIndex = row.index;
    device.SetOpenResult(row.open);
    Port().OpenPort();
    EXPECT_EQ(errors, std::vector<std::string>{row.error});
    ASSERT_EQ(error_details.size(), 1u);
    if (*row.details == '\0') {
      EXPECT_EQ(error_details.front(), "");
    } else {
      EXPECT_NE(error_details.front().find(row.details), std::string::npos)
          << error_details.front();
    }
    EXPECT_EQ(device.OpenedPaths().back(), "/dev/ttyS" + std::to_string(row.index));
    EXPECT_EQ(Port().IsOpen(), open_after);
    EXPECT_EQ(Port().Link() != nullptr, open_after);
    EXPECT_EQ(device.Calls().configure - before.configure, open_after ? 1 : 0);
    if (open_after) {
      EXPECT_GT(device.Calls().purge, before.purge);
      EXPECT_TRUE(Written(1)) << "the link steps";
    }
    Port().ClosePort();  // closes only what was opened
    EXPECT_EQ(device.Calls().close - before.close, open_after ? 1 : 0);
  }
}

TEST_F(PortConnectionTest, OpensTheComEntryWithTheStoredLineAndIgnoresASecondOpen) {
  std::filesystem::create_symlink("/dev/null", folder.path / "COM1");
  settings.Constants[4] = 1;
  Port().OpenPort();
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(Port().DevicePath(), Str(folder) + "COM1");
  const auto configured = device.Configured();
  ASSERT_EQ(configured.size(), 1u);
  EXPECT_EQ(configured[0].baud, 9600u);
  EXPECT_TRUE(configured[0].dtr);
  LinkThread* first = Port().Link();
  ASSERT_NE(first, nullptr);

  Port().OpenPort();
  EXPECT_EQ(device.Calls().open, 1);
  EXPECT_EQ(Port().Link(), first) << "no second link thread";
}

TEST_F(PortConnectionTest, ClosePortStopsTheLinkBeforeItClosesTheDevice) {
  Port().OpenPort();
  ASSERT_TRUE(Written(2));

  Port().ClosePort();
  EXPECT_FALSE(Port().IsOpen());
  EXPECT_EQ(Port().Link(), nullptr);
  EXPECT_EQ(status.flags.LinkRunning.load(), 0);
  EXPECT_EQ(device.Calls().close, 1);
  EXPECT_EQ(device.Calls().closed_use, 0) << "nothing touched the port after it was closed";

  Port().ClosePort();
  EXPECT_EQ(device.Calls().close, 1) << "closing a closed port does nothing";

  // Reconfiguration: close, then open again with a fresh link.
  settings.PortIndex = 1;
  Port().OpenPort();
  EXPECT_TRUE(Port().IsOpen());
  EXPECT_EQ(device.OpenedPaths().back(), "/dev/ttyS1");
  EXPECT_TRUE(Written(device.Writes().size() + 1));
  Port().ClosePort();
  EXPECT_EQ(device.Calls().closed_use, 0);
}

// Whatever the board has not taken, the port's last write is the all-off
// frame (after the fill that lets the board drop a frame cut short by a
// purge), retried while the driver refuses it, purged between tries, for a
// bounded time.
TEST_F(PortConnectionTest, ClosePortEndsWithTheAllOffFrameRetriedWhileRefused) {
  struct Row {
    const char* legend;
    bool parked;       // a service window held the port: the link leaves unpurged
    bool full;         // the queue full from the close on, until purged
    bool even_purged;  // ... and after that too
    bool all_off_last;
  };
  const Row rows[] = {
      {"taken at once", false, false, false, true},
      {"left full by a parked link: purged, then taken", true, true, false, true},
      {"never taken: the close goes on", false, true, true, false},
  };
  const FakeSerialDevice::Bytes all_off(emergency::kAllOffAfterPurge.begin(),
                                        emergency::kAllOffAfterPurge.end());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    conn.reset();
    Port().OpenPort();
    ASSERT_TRUE(Written(device.Writes().size() + 1)) << "the link steps";
    if (row.parked) {
      Port().Link()->RequestPause();
      ASSERT_TRUE(Port().Link()->WaitUntilPaused());
    }
    const std::size_t writes_before = device.Writes().size();
    device.SetFull(row.full, row.even_purged);
    const auto start = std::chrono::steady_clock::now();
    Port().ClosePort();
    EXPECT_LT(std::chrono::steady_clock::now() - start, PortConnection::kFinalFrameLimit + 500ms);
    EXPECT_EQ(device.Writes().size() > writes_before && device.LastWrite() == all_off,
              row.all_off_last);
    device.SetFull(false);
  }
}

// A line that hung up, at heartbeats on a fake clock: taken down only when
// the panel may act (outputs off, the dead port closed without a final
// frame), then its path looked at every 250 ms and opened again, quietly
// while the device does not open yet.
TEST_F(PortConnectionTest, AHungUpLineIsTakenDownAndOpenedAgainByItself) {
  std::filesystem::create_symlink("/dev/null", folder.path / "COM1");
  Port().OpenPort();
  ASSERT_TRUE(Written(1));
  status.OutputBytes.Put({3, 0, 0, 0});
  device.SetHungUp(true);
  ASSERT_TRUE(test_support::WaitFor([&] { return Port().Watch().HungUp(); }, 3000ms));
  struct Row {
    const char* legend;
    int at_ms;
    bool may_act;
    bool com1;  // the COM1 entry leads to a device
    serial::OpenResult device_opens;
    bool open_after;
    int opens;  // device opens so far
  };
  using R = serial::OpenResult;
  const Row rows[] = {
      {"a dialog open: left alone", 0, false, true, R::kOk, true, 1},
      {"taken down", 10, true, false, R::kOk, false, 1},
      {"240 ms on: not looked at yet", 250, true, true, R::kOk, false, 1},
      {"250 ms: COM1 leads nowhere, not opened", 260, true, false, R::kOk, false, 1},
      {"250 ms on: the device does not open yet, no box", 510, true, true, R::kNotFound, false, 2},
      {"250 ms on: opened again", 760, true, true, R::kOk, true, 3},
  };
  int cleared = 0;
  const auto t0 = LineClock::now();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.legend);
    device.SetOpenResult(r.device_opens);
    device.SetHungUp(false);
    std::filesystem::remove(folder.path / "COM1");
    std::filesystem::create_symlink(r.com1 ? "/dev/null" : "/nonexistent", folder.path / "COM1");
    Port().KeepLineUp(t0 + std::chrono::milliseconds(r.at_ms), r.may_act, [&] { ++cleared; });
    EXPECT_EQ(Port().IsOpen(), r.open_after);
    EXPECT_EQ(device.Calls().open, r.opens);
    EXPECT_EQ(cleared, r.at_ms >= 10 ? 1 : 0) << "the panel's outputs";
  }
  EXPECT_EQ(status.OutputBytes.Get(), (std::array<uint8_t, 4>{0, 0, 0, 0}));
  for (const auto& w : device.Writes()) {
    EXPECT_NE(w.size(), emergency::kAllOffAfterPurge.size()) << "a final frame to a dead port";
  }
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(device.OpenedPaths().back(), Str(folder) + "COM1");
}

// Ctrl+Z's wait: it returns once the link has written the all-off frame and
// the frame after it, not at its limit.
TEST_F(PortConnectionTest, AwaitOutputsOnLineEndsOnceTheAllOffFrameIsOut) {
  Port().OpenPort();
  ASSERT_TRUE(Written(1));
  status.OutputBytes.Clear();
  status.flags.OutputsChanged.store(1);
  const auto start = std::chrono::steady_clock::now();
  Port().AwaitOutputsOnLine(5000ms);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2000ms);
  EXPECT_EQ(status.flags.OutputsChanged.load(), 0);
}

// Events processed inside OpenPort's message box may call back into the
// port; the port ends as the last request says, never used after it was
// closed.
TEST_F(PortConnectionTest, ReentryFromTheEventsItProcesses) {
  struct Row {
    const char* legend;
    std::function<void(PortConnection&)> call;
    bool open_after;
  };
  const Row rows[] = {
      {"ClosePort inside the box: closed, no link", [](PortConnection& p) { p.ClosePort(); },
       false},
      {"StopOpening inside the box: closed, no link", [](PortConnection& p) { p.StopOpening(); },
       false},
      {"OpenPort inside the box: nothing more", [](PortConnection& p) { p.OpenPort(); }, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    conn.reset();
    const auto before = device.Calls();
    device.SetConfigureOk(false);
    bool called = false;
    in_box = [&] {
      if (called) return;
      called = true;
      row.call(*conn);
    };
    Port().OpenPort();
    EXPECT_TRUE(called);
    EXPECT_EQ(Port().IsOpen(), row.open_after);
    EXPECT_EQ(Port().Link() != nullptr, row.open_after);
    EXPECT_EQ(device.Calls().open - before.open, 1);
    EXPECT_EQ(device.Calls().close - before.close, row.open_after ? 0 : 1);
    Port().ClosePort();
    EXPECT_EQ(device.Calls().closed_use, 0) << "the port was used after it was closed";
  }
}

}  // namespace
}  // namespace m32::link
