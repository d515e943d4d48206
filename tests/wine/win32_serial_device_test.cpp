// The Win32 device against real COM ports: under wine, pseudo-terminals mapped
// as COM ports with controller-sim at their far end (run-wine-tests.sh sets
// them up). The ports:
//   COM1  controller-sim --loopback: every byte comes back
//   COM3  controller-sim --loopback that hangs up a few seconds after its
//         start (only the Hangup test uses it, in a run of its own)
// Facts of pseudo-terminals seen through wine: any rate is kept, 8 data bits
// and no parity are reported back, the modem lines are those of the test's
// preload library (all off).
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include "serial/serial_device.h"
#include "serial/win32_serial_device.h"

namespace m32::serial {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

constexpr const char* kEchoPort = "COM1";
constexpr const char* kHangupPort = "COM3";
constexpr LineSettings kLine8N1_9600{9600, 8, Parity::kNone, 1, false};

DWORD HandleCount() {
  DWORD n = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &n);
  return n;
}

double ThreadCpuMs() {
  FILETIME create{}, exit{}, kernel{}, user{};
  ::GetThreadTimes(::GetCurrentThread(), &create, &exit, &kernel, &user);
  const auto ticks = [](FILETIME f) {
    return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

// Four waits of 100 ms must each answer `events`, and sleep (a lower bound,
// not a timing figure) rather than spin.
void ExpectWaitsSleepAnswering(SerialDevice& dev, unsigned events) {
  const double cpu_before = ThreadCpuMs();
  const auto wall_before = std::chrono::steady_clock::now();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(dev.Wait(100ms), events) << i;
  EXPECT_GE(std::chrono::steady_clock::now() - wall_before, 380ms);
  EXPECT_LT(ThreadCpuMs() - cpu_before, 100.0);
}

// The far end's line state as another opener finds it.
DCB OutsideLineOf(const char* port) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  const std::string name = detail::Win32DeviceName(port);
  const HANDLE h = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  if (h == INVALID_HANDLE_VALUE) return dcb;
  EXPECT_TRUE(::GetCommState(h, &dcb));
  ::CloseHandle(h);
  return dcb;
}

class EchoPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(dev->Open(kEchoPort), OpenResult::kOk);
    ASSERT_TRUE(dev->Configure(kLine8N1_9600));
    dev->Purge();
  }

  // Waits (up to a few seconds) until `bits` come up; returns all seen.
  unsigned WaitFor(unsigned bits) {
    unsigned seen = 0;
    for (int i = 0; i < 50 && (seen & bits) != bits; ++i) seen |= dev->Wait(100ms);
    return seen;
  }

  // Polls (up to a few seconds) until `n` bytes have come in; returns the counts.
  QueueCounts RxReaches(uint32_t n) {
    QueueCounts counts;
    for (int i = 0; i < 100 && dev->Counts(counts) && counts.rx < n; ++i) {
      std::this_thread::sleep_for(20ms);
    }
    return counts;
  }

  std::unique_ptr<SerialDevice> dev = MakePlatformSerialDevice();
};

// ---- Naming and line state (no port needed) -------------------------------

TEST(Win32DeviceName, ComNumbersGoToTheDeviceNamespace) {
  const std::tuple<const char*, const char*, const char*> rows[] = {
      // legend, given, opened
      {"one digit", "COM1", "\\\\.\\COM1"},
      {"two digits need the prefix", "COM10", "\\\\.\\COM10"},
      {"lower case", "com64", "\\\\.\\COM64"},
      {"already a device path", "\\\\.\\COM3", "\\\\.\\COM3"},
      {"not a COM name", "COMX", "COMX"},
      {"a file", "C:\\port.txt", "C:\\port.txt"},
  };
  for (const auto& [legend, given, opened] : rows) {
    EXPECT_EQ(detail::Win32DeviceName(given), opened) << legend;
  }
}

TEST(ApplyLine, SettingsToDcbKeepingWhatTheyDoNotName) {
  struct Row {
    const char* legend;
    LineSettings line;
    BYTE parity;
    unsigned f_parity;
    BYTE stop_bits;
    unsigned dtr_control;
  };
  const Row rows[] = {
      {"8N1, DTR off", {9600, 8, Parity::kNone, 1, false}, NOPARITY, 0, ONESTOPBIT, 0},
      {"7E2, DTR on", {115200, 7, Parity::kEven, 2, true}, EVENPARITY, 1, TWOSTOPBITS, 1},
      {"5O1", {16457, 5, Parity::kOdd, 1, false}, ODDPARITY, 1, ONESTOPBIT, 0},
      {"6M2", {1, 6, Parity::kMark, 2, true}, MARKPARITY, 1, TWOSTOPBITS, 1},
  };
  for (const Row& r : rows) {
    // A driver's state with every flag on (every kind of flow control too)
    // but binary mode, and its own characters.
    DCB dcb;
    std::memset(&dcb, 0xFF, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.fBinary = 0;
    detail::ApplyLine(dcb, r.line);
    const auto u = [](unsigned bits) { return bits; };  // a bit-field's value
    EXPECT_EQ(
        std::tuple(dcb.BaudRate, dcb.ByteSize, dcb.Parity, u(dcb.fParity), dcb.StopBits,
                   u(dcb.fDtrControl)),
        std::tuple(r.line.baud, r.line.data_bits, r.parity, r.f_parity, r.stop_bits, r.dtr_control))
        << r.legend;
    EXPECT_EQ(std::tuple(u(dcb.fBinary), u(dcb.fOutxCtsFlow), u(dcb.fOutxDsrFlow),
                         u(dcb.fDsrSensitivity), u(dcb.fOutX), u(dcb.fInX), u(dcb.fRtsControl),
                         u(dcb.fAbortOnError), u(dcb.fNull), u(dcb.fErrorChar)),
              std::tuple(1U, 0U, 0U, 0U, 0U, 0U, 0U, 0U, 0U, 0U))
        << r.legend << ": no flow control, RTS held off";
    EXPECT_EQ(
        std::tuple(u(dcb.fTXContinueOnXoff), dcb.XonChar, dcb.XoffChar, dcb.XonLim, dcb.EvtChar),
        std::tuple(1U, '\xFF', '\xFF', WORD{0xFFFF}, '\xFF'))
        << r.legend << ": the driver's own values stay";
  }
}

// ---- Open and Close ---------------------------------------------------------

TEST(Win32Open, FailuresAreMappedAndLeaveNoHandleBehind) {
  char temp_dir[MAX_PATH] = {};
  ::GetTempPathA(MAX_PATH, temp_dir);
  const std::string file = std::string(temp_dir) + "m32-not-a-port.txt";
  const HANDLE f =
      ::CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  ::CloseHandle(f);
  const std::tuple<const char*, std::string, OpenResult> rows[] = {
      {"no such port", "COM199", OpenResult::kNotFound},
      {"a file is not a serial port", file, OpenResult::kFailed},
  };
  auto dev = MakePlatformSerialDevice();
  for (const auto& [legend, path, result] : rows) {
    const DWORD before = HandleCount();
    EXPECT_EQ(dev->Open(path), result) << legend;
    EXPECT_FALSE(dev->IsOpen()) << legend;
    EXPECT_EQ(HandleCount(), before) << legend;
  }
  ::DeleteFileA(file.c_str());
}

TEST(Win32Open, OneOpenerPerPortAndNothingLeaks) {
  auto first = MakePlatformSerialDevice();
  auto second = MakePlatformSerialDevice();
  ASSERT_EQ(first->Open(kEchoPort), OpenResult::kOk);
  first->Close();
  const DWORD closed = HandleCount();
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(first->Open(kEchoPort), OpenResult::kOk);
    const std::array<uint8_t, 2> bytes{0x55, 0xAA};
    EXPECT_EQ(first->Write(bytes), bytes.size());
    first->Close();
  }
  EXPECT_EQ(HandleCount(), closed);

  ASSERT_EQ(first->Open(kEchoPort), OpenResult::kOk);
  EXPECT_EQ(second->Open(kEchoPort), OpenResult::kBusy) << "no sharing, also in one process";
  EXPECT_FALSE(second->IsOpen());
  EXPECT_EQ(first->Open("COM3"), OpenResult::kFailed) << "an open device keeps its port";
  first->Close();
  EXPECT_EQ(second->Open(kEchoPort), OpenResult::kOk);
}

TEST(Win32Close, GivesThePortBackItsLineState) {
  const DCB before = OutsideLineOf(kEchoPort);
  auto dev = MakePlatformSerialDevice();
  ASSERT_EQ(dev->Open(kEchoPort), OpenResult::kOk);
  const uint32_t other_rate = before.BaudRate == 19200 ? 38400 : 19200;
  ASSERT_TRUE(dev->Configure({other_rate, 8, Parity::kNone, 2, true}));
  dev->Close();
  const DCB after = OutsideLineOf(kEchoPort);
  EXPECT_EQ(std::tuple(after.BaudRate, after.StopBits, after.ByteSize, after.Parity),
            std::tuple(before.BaudRate, before.StopBits, before.ByteSize, before.Parity));
}

TEST(Win32Closed, EveryCallIsHarmless) {
  auto dev = MakePlatformSerialDevice();
  QueueCounts counts{1, 1};
  ModemLines lines{true, true, true, true};
  std::array<uint8_t, 4> buf{};
  EXPECT_FALSE(dev->Configure(kLine8N1_9600));
  EXPECT_FALSE(dev->Counts(counts));
  EXPECT_EQ(std::tuple(counts.rx, counts.tx), std::tuple(0U, 0U));
  EXPECT_FALSE(dev->Modem(lines));
  EXPECT_EQ(dev->Read(buf), 0U);
  EXPECT_EQ(dev->Write(buf), 0U);
  dev->Purge();
  dev->Close();
  ExpectWaitsSleepAnswering(*dev, kNotOpen);
}

// ---- The line -------------------------------------------------------------

TEST_F(EchoPortTest, BytesGoOutTheEchoIsReportedOnceAndPurgeDiscardsIt) {
  EXPECT_FALSE(dev->Configure({9600, 9, Parity::kNone, 1, false})) << "nine data bits";
  const std::array<uint8_t, 8> frame{0xA2, 0x6B, 1, 2, 3, 4, 0x7F, 0xFE};
  ASSERT_EQ(dev->Write(frame), frame.size());
  QueueCounts counts;
  ASSERT_TRUE(dev->Counts(counts));
  EXPECT_GT(counts.tx, 0U) << "eight characters at 9600 Bd take over 8 ms";
  EXPECT_EQ(WaitFor(kTxEmpty | kRxChar), kTxEmpty | kRxChar);
  counts = RxReaches(frame.size());
  EXPECT_EQ(std::tuple(counts.rx, counts.tx), std::tuple(8U, 0U));
  // Known bytes left unread do not wake the wait again.
  EXPECT_EQ(dev->Wait(150ms), kTimeout);
  std::array<uint8_t, 16> buf{};
  ASSERT_EQ(dev->Read(buf), frame.size());
  EXPECT_TRUE(std::equal(frame.begin(), frame.end(), buf.begin()));
  EXPECT_EQ(dev->Read(buf), 0U) << "nothing more waiting: returns at once";

  ASSERT_EQ(dev->Write(frame), frame.size());
  ASSERT_EQ(RxReaches(frame.size()).rx, frame.size());
  dev->Purge();
  ASSERT_TRUE(dev->Counts(counts));
  EXPECT_EQ(std::tuple(counts.rx, counts.tx), std::tuple(0U, 0U)) << "purged";
}

TEST_F(EchoPortTest, WakeEndsTheCurrentOrTheNextWait) {
  dev->Wake();
  EXPECT_EQ(dev->Wait(5s), kWoken) << "woken before the wait";
  EXPECT_EQ(dev->Wait(100ms), kTimeout) << "one Wake, one wait";
  std::thread waker([this] {
    std::this_thread::sleep_for(100ms);
    dev->Wake();
  });
  EXPECT_EQ(dev->Wait(10s), kWoken) << "woken from another thread";
  waker.join();
}

TEST_F(EchoPortTest, QuietLineWaitsSleep) {
  ModemLines lines{true, true, true, true};
  EXPECT_TRUE(dev->Modem(lines));
  ExpectWaitsSleepAnswering(*dev, kTimeout);
}

// Run on its own (the far end hangs up a few seconds after it started).
TEST(Win32Hangup, AVanishedFarEndEndsWaitsWithoutSpinning) {
  auto dev = MakePlatformSerialDevice();
  ASSERT_EQ(dev->Open(kHangupPort), OpenResult::kOk);
  ASSERT_TRUE(dev->Configure(kLine8N1_9600));
  const std::array<uint8_t, 1> byte{0x42};
  ASSERT_EQ(dev->Write(byte), 1U);
  unsigned seen = 0;
  for (int i = 0; i < 100 && (seen & kRxChar) == 0; ++i) seen |= dev->Wait(100ms);
  ASSERT_NE(seen & kRxChar, 0U) << "the far end echoes while it is there";
  // Wait for it to go, writing and waiting as a link would.
  const auto give_up = std::chrono::steady_clock::now() + 15s;
  unsigned last = 0;
  while ((last & kHangup) == 0 && std::chrono::steady_clock::now() < give_up) {
    dev->Write(byte);
    last = dev->Wait(50ms);
  }
  EXPECT_NE(last & kHangup, 0U) << "wine reports the vanished pseudo-terminal";
  dev->Wait(100ms);  // the last write's drain, if it was still reported
  // A link that keeps waiting on the vanished port sleeps its time-out each time.
  ExpectWaitsSleepAnswering(*dev, last & kHangup);
  std::array<uint8_t, 4> buf{};
  EXPECT_EQ(dev->Read(buf), 0U);
  dev->Close();
  EXPECT_FALSE(dev->IsOpen());
}

}  // namespace
}  // namespace m32::serial
