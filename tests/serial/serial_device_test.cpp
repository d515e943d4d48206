// The termios device against a real pseudo-terminal. Facts of pseudo-terminals
// that shape these tests: the kernel keeps any integer rate and CSTOPB, PARODD
// and CMSPAR, but drops PARENB and forces 8 data bits; it has no modem lines
// and reports no transmit queue; closing the master hangs the slave up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <time.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>
#include <tuple>
#include <vector>

#include "serial/posix_serial_device.h"
#include "serial/serial_device.h"
#include "serial/termios2_linux.h"
#include "support/pty_pair.h"

namespace m32::serial {
namespace {

using detail::KernelLine;
using m32::test_support::PtyPair;
using namespace std::chrono_literals;

constexpr LineSettings kLine8N1_9600{9600, 8, Parity::kNone, 1, false};

long OpenDescriptorCount() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

KernelLine LineOf(int fd) {
  KernelLine k;
  EXPECT_EQ(detail::GetKernelLine(fd, k), 0);
  return k;
}

// Four waits of 100 ms must each answer `events`, and sleep (a lower bound,
// not a timing figure) rather than spin: a spinning wait uses as much CPU time
// of the calling thread as its time-out.
void ExpectWaitsSleepAnswering(SerialDevice& dev, unsigned events) {
  const auto cpu = [] {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
  };
  const auto cpu_before = cpu();
  const auto wall_before = std::chrono::steady_clock::now();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(dev.Wait(100ms), events) << i;
  EXPECT_GE(std::chrono::steady_clock::now() - wall_before, 400ms);
  EXPECT_LT(cpu() - cpu_before, 100ms);
}

// The device on a pseudo-terminal at 9600 Bd 8N1, its transmit clock moving
// only when the test says so.
class SerialDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    // The test's own look at the line, opened first: the device's exclusive
    // open would keep a later one out (unless run as root).
    ASSERT_GE(pty.slave(), 0);
    ASSERT_EQ(dev->Open(pty.slave_path()), OpenResult::kOk);
    ASSERT_TRUE(dev->Configure(kLine8N1_9600));
  }

  // Waits (up to a few seconds) until `bits` come up; returns all seen.
  unsigned WaitFor(unsigned bits) {
    unsigned seen = 0;
    for (int i = 0; i < 50 && (seen & bits) == 0; ++i) seen |= dev->Wait(100ms);
    return seen;
  }

  PtyPair pty;
  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::time_point{} + 1h;
  std::unique_ptr<SerialDevice> dev = MakePosixSerialDevice([this] { return now; });
};

// ---- Open ----------------------------------------------------------------

TEST(SerialOpen, FailuresAreMappedAndLeaveNoDescriptorBehind) {
  const std::tuple<const char*, const char*, OpenResult> rows[] = {
      {"no such device", "/dev/m32-no-such-port", OpenResult::kNotFound},
      {"a device that is not a terminal", "/dev/null", OpenResult::kFailed},
      {"a directory", "/tmp", OpenResult::kFailed},
  };
  auto dev = MakePlatformSerialDevice();
  for (const auto& [legend, path, result] : rows) {
    const long before = OpenDescriptorCount();
    EXPECT_EQ(dev->Open(path), result) << legend;
    EXPECT_FALSE(dev->IsOpen()) << legend;
    EXPECT_EQ(OpenDescriptorCount(), before) << legend;
  }
}

TEST(SerialOpen, OneOpenerPerPortOnePortPerDeviceAndNothingLeaks) {
  PtyPair pty, other;
  ASSERT_TRUE(pty.ok() && other.ok());
  auto first = MakePlatformSerialDevice(), second = MakePlatformSerialDevice();
  ASSERT_EQ(first->Open(pty.slave_path()), OpenResult::kOk);
  first->Close();
  const long closed = OpenDescriptorCount();
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(first->Open(pty.slave_path()), OpenResult::kOk);
    first->Close();
  }
  EXPECT_EQ(OpenDescriptorCount(), closed);

  ASSERT_EQ(first->Open(pty.slave_path()), OpenResult::kOk);
  const long open = OpenDescriptorCount();
  // Also in the same process, also as root (which TIOCEXCL alone would let in).
  EXPECT_EQ(second->Open(pty.slave_path()), OpenResult::kBusy);
  EXPECT_FALSE(second->IsOpen());
  EXPECT_EQ(first->Open(other.slave_path()), OpenResult::kFailed) << "it keeps the port it has";
  EXPECT_EQ(OpenDescriptorCount(), open);
  const std::array<uint8_t, 3> bytes{1, 2, 3};
  EXPECT_EQ(first->Write(bytes), bytes.size());
  EXPECT_EQ(pty.Receive(3), std::vector<uint8_t>(bytes.begin(), bytes.end()));
  first->Close();
  EXPECT_EQ(second->Open(pty.slave_path()), OpenResult::kOk);
}

// ---- Configure and Close -------------------------------------------------

TEST_F(SerialDeviceTest, ConfigureSetsARawLineAsSeenFromOutside) {
  // Legend, line, what the pseudo-terminal keeps of CSTOPB | PARODD | CMSPAR.
  const std::tuple<const char*, LineSettings, uint32_t> rows[] = {
      {"16457 Bd 8E1: a rate outside the table", {16457, 8, Parity::kEven, 1, false}, 0},
      {"mark parity, 2 stop bits, DTR",
       {9600, 8, Parity::kMark, 2, true},
       CMSPAR | PARODD | CSTOPB},
      {"odd parity: PARODD without CMSPAR", {115200, 7, Parity::kOdd, 1, false}, PARODD},
      {"no parity, 2 stop bits", {300, 5, Parity::kNone, 2, false}, CSTOPB},
  };
  for (const auto& [legend, line, flags] : rows) {
    // Start from a cooked line with flow control, as a terminal would be.
    KernelLine cooked = LineOf(pty.slave());
    cooked.lflag |= ICANON | ECHO | ISIG;
    cooked.iflag |= IXON | IXOFF | ICRNL;
    cooked.oflag |= OPOST;
    cooked.cflag |= CRTSCTS;
    ASSERT_EQ(detail::SetKernelLine(pty.slave(), cooked), 0);

    EXPECT_TRUE(dev->Configure(line)) << legend;
    const KernelLine k = LineOf(pty.slave());
    EXPECT_EQ(k.ospeed, line.baud) << legend;
    EXPECT_EQ(k.ispeed, line.baud) << legend;
    EXPECT_EQ(k.cflag & (CSTOPB | PARODD | CMSPAR), flags) << legend;
    EXPECT_EQ(k.cflag & (CLOCAL | CREAD | CRTSCTS), uint32_t{CLOCAL | CREAD}) << legend;
    EXPECT_EQ(k.iflag & (IXON | IXOFF | ICRNL), 0u) << legend;
    EXPECT_EQ(k.lflag & (ICANON | ECHO | ISIG), 0u) << legend;
    EXPECT_EQ(k.oflag & OPOST, 0u) << legend;
    EXPECT_EQ(k.cc[VMIN] | k.cc[VTIME], 0) << legend;
  }
  // No modem lines on a pseudo-terminal (asking for DTR above was no failure).
  ModemLines m{true, true, true, true};
  EXPECT_FALSE(dev->Modem(m));
  EXPECT_FALSE(m.ri || m.dcd || m.cts || m.dsr);
  // Which is how the device knows to excuse it the lost data bits and parity.
  EXPECT_TRUE(detail::IsPseudoTerminal(pty.slave()));
  const int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  EXPECT_FALSE(detail::IsPseudoTerminal(null_fd));
  ::close(null_fd);
}

// A driver that refuses the asked format or rate still leaves the line raw:
// raw mode is set on its own first. The line keeps its format and rate.
TEST_F(SerialDeviceTest, ARefusedFormatStillLeavesARawLine) {
  KernelLine cooked = LineOf(pty.slave());
  cooked.lflag |= ICANON | ECHO | ISIG;
  cooked.iflag |= IXON | ICRNL;
  cooked.oflag |= OPOST;
  ASSERT_EQ(detail::SetKernelLine(pty.slave(), cooked), 0);
  cooked = LineOf(pty.slave());
  const auto refuse_other_formats = [](int fd, const KernelLine& line) {
    constexpr uint32_t kFormat = CSIZE | CSTOPB | PARODD | CMSPAR;
    KernelLine held;
    if (detail::GetKernelLine(fd, held) != 0) return EIO;
    if ((line.cflag & kFormat) != (held.cflag & kFormat) || line.ospeed != held.ospeed)
      return EINVAL;
    return detail::SetKernelLine(fd, line);
  };
  EXPECT_FALSE(
      detail::SetRawLine(pty.slave(), {19200, 8, Parity::kMark, 2, false}, refuse_other_formats));
  const KernelLine k = LineOf(pty.slave());
  EXPECT_EQ(k.lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(k.iflag & (IXON | ICRNL), 0u);
  EXPECT_EQ(k.oflag & OPOST, 0u);
  EXPECT_EQ(k.cflag & (CSIZE | CSTOPB | PARODD | CMSPAR),
            cooked.cflag & (CSIZE | CSTOPB | PARODD | CMSPAR));
  EXPECT_EQ(k.ospeed, cooked.ospeed);
}

// What a driver reads back after Configure decides "rejected". A real adapter
// that quietly drops a format must be caught; a pseudo-terminal, which cannot
// store the data bits or the parity enable, is excused for those two only.
// Legend: the line asked for; the control flags and rate read back; the
// verdict for a device that is not a pseudo-terminal and for one that is.
TEST(SerialConfigure, ReadBackDecidesWhetherTheLineRunsAsAsked) {
  struct Row {
    const char* legend;
    LineSettings want;
    uint32_t back_flags;
    uint32_t back_rate;
    bool adapter_ok, pty_ok;
  };
  const LineSettings k7M2{9600, 7, Parity::kMark, 2, false};
  const LineSettings k5N1{300, 5, Parity::kNone, 1, false};
  const LineSettings k8N1{115200, 8, Parity::kNone, 1, false};
  const Row rows[] = {
      {"8E1 kept whole", {9600, 8, Parity::kEven, 1, false}, CS8 | PARENB, 9600, true, true},
      {"7M2 kept whole", k7M2, CS7 | PARENB | PARODD | CMSPAR | CSTOPB, 9600, true, true},
      {"7M2 as a pseudo-terminal keeps it", k7M2, CS8 | PARODD | CMSPAR | CSTOPB, 9600, false,
       true},
      {"mark dropped to odd", k7M2, CS7 | PARENB | PARODD | CSTOPB, 9600, false, false},
      {"mark turned to space", k7M2, CS7 | PARENB | CMSPAR | CSTOPB, 9600, false, false},
      {"7 data bits made 8", k7M2, CS8 | PARENB | PARODD | CMSPAR | CSTOPB, 9600, false, true},
      {"2 stop bits made 1", k7M2, CS7 | PARENB | PARODD | CMSPAR, 9600, false, false},
      {"5N1 kept", k5N1, CS5, 300, true, true},
      {"hardware flow control left on", k5N1, CS5 | CRTSCTS, 300, false, false},
      {"rate 1.4 % off", k8N1, CS8, 113600, true, true},
      {"rate exactly 2 % low", k8N1, CS8, 112896, true, true},
      {"rate exactly 2 % high", k8N1, CS8, 117504, true, true},
      {"rate a step past 2 %", k8N1, CS8, 117505, false, false},
      {"rate 2.5 % off", k8N1, CS8, 112300, false, false},
  };
  for (const Row& r : rows) {
    KernelLine back;
    back.cflag = r.back_flags | CLOCAL | CREAD;
    back.ospeed = back.ispeed = r.back_rate;
    EXPECT_EQ(detail::LineRunsAsAsked(r.want, back, false), r.adapter_ok) << r.legend;
    EXPECT_EQ(detail::LineRunsAsAsked(r.want, back, true), r.pty_ok) << r.legend;
  }
}

// A driver that takes the line state but quietly keeps one stop bit: the
// read-back makes Configure report it (which OpenPort shows as "CHYBA 02").
TEST(SerialConfigure, AFormatQuietlyDroppedIsReported) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const auto drop_second_stop_bit = [](int fd, const KernelLine& line) {
    KernelLine kept = line;
    kept.cflag &= ~static_cast<uint32_t>(CSTOPB);
    return detail::SetKernelLine(fd, kept);
  };
  const auto dev = MakePosixSerialDevice({}, drop_second_stop_bit);
  ASSERT_EQ(dev->Open(pty.slave_path()), OpenResult::kOk);
  EXPECT_TRUE(dev->Configure({9600, 8, Parity::kNone, 1, false}));
  EXPECT_FALSE(dev->Configure({9600, 8, Parity::kNone, 2, false}));
  EXPECT_TRUE(dev->IsOpen());
}

TEST_F(SerialDeviceTest, ImpossibleLinesAreRejectedAndChangeNothing) {
  const std::pair<const char*, LineSettings> rows[] = {
      {"rate 0 would hang the line up", {0, 8, Parity::kNone, 1, false}},
      {"4 data bits", {9600, 4, Parity::kNone, 1, false}},
      {"9 data bits", {9600, 9, Parity::kNone, 1, false}},
      {"no stop bit", {9600, 8, Parity::kNone, 0, false}},
      {"3 stop bits", {9600, 8, Parity::kNone, 3, false}},
  };
  const KernelLine before = LineOf(pty.slave());
  for (const auto& [legend, line] : rows) {
    EXPECT_FALSE(dev->Configure(line)) << legend;
    EXPECT_EQ(LineOf(pty.slave()), before) << legend;
  }
}

TEST_F(SerialDeviceTest, CloseGivesBackTheLineStateFoundAtOpen) {
  dev->Close();
  KernelLine found = LineOf(pty.slave());
  found.lflag |= ICANON | ECHO;
  found.cflag |= CSTOPB | PARODD;
  detail::SetKernelRate(found, 4800);
  ASSERT_EQ(detail::SetKernelLine(pty.slave(), found), 0);
  found = LineOf(pty.slave());

  ASSERT_EQ(dev->Open(pty.slave_path()), OpenResult::kOk);
  ASSERT_TRUE(dev->Configure({16457, 8, Parity::kMark, 1, true}));
  ASSERT_NE(LineOf(pty.slave()), found);
  dev->Close();
  EXPECT_EQ(LineOf(pty.slave()), found);
  dev->Close();  // a second Close does nothing
  EXPECT_FALSE(dev->IsOpen());
}

TEST(SerialClosed, EveryCallIsHarmlessAndWaitSleepsItsTimeOut) {
  auto dev = MakePlatformSerialDevice();
  QueueCounts c{5, 5};
  uint8_t buf[4] = {1, 2, 3, 4};
  ModemLines m;
  EXPECT_FALSE(dev->Configure(kLine8N1_9600));
  EXPECT_FALSE(dev->Counts(c));
  EXPECT_EQ(c.rx + c.tx, 0u);
  EXPECT_EQ(dev->Read(buf), 0u);
  EXPECT_EQ(dev->Write(buf), 0u);
  EXPECT_FALSE(dev->Modem(m));
  dev->Purge();
  dev->Close();
  dev->Wake();
  dev->Wake();  // two calls, one wake-up
  EXPECT_EQ(dev->Wait(30s), kNotOpen | kWoken);
  ExpectWaitsSleepAnswering(*dev, kNotOpen);
}

// ---- Counts, Read, Write, Purge -----------------------------------------

TEST_F(SerialDeviceTest, EachArrivalWakesTheWaitOnceAndTheCountFollowsReads) {
  const std::array<uint8_t, 2> head{0xA2, 0x6B};
  ASSERT_TRUE(pty.Send(head));
  EXPECT_NE(WaitFor(kRxChar) & kRxChar, 0u);
  // The bytes stay unread (the reader waits for the rest of a frame): they
  // must not wake the wait again, or the reader would spin.
  EXPECT_EQ(dev->Wait(30ms), kTimeout);
  const std::array<uint8_t, 3> more{0x00, 0x13, 0xFE};
  ASSERT_TRUE(pty.Send(more));
  EXPECT_NE(WaitFor(kRxChar) & kRxChar, 0u);
  QueueCounts c;
  for (int i = 0; i < 50 && dev->Counts(c) && c.rx < 5; ++i) dev->Wait(100ms);
  EXPECT_EQ(c.rx, 5u);
  std::array<uint8_t, 2> two{};
  ASSERT_EQ(dev->Read(two), 2u);
  EXPECT_EQ(two, head);
  ASSERT_TRUE(dev->Counts(c));
  EXPECT_EQ(c.rx, 3u);
  std::array<uint8_t, 16> rest{};
  ASSERT_EQ(dev->Read(rest), 3u);
  EXPECT_EQ(rest[2], 0xFE);
  EXPECT_EQ(dev->Read(rest), 0u);  // nothing waiting: no block, no error
}

TEST_F(SerialDeviceTest, TransmitCountAndDrainAreModelledFromRateAndFormat) {
  // 9600 Bd 8N1 (as set up): a character takes 1.04 ms; a pseudo-terminal
  // reports 0 at once.
  const std::array<uint8_t, 8> frame{0xA2, 0x6B, 0, 0, 0, 0, 0xF5, 0xFE};
  // Legend, time since the previous row, transmit count, what a wait answers.
  const std::tuple<const char*, std::chrono::microseconds, uint32_t, unsigned> rows[] = {
      {"right after the write", 0us, 8, kTimeout},
      {"four character times later", 4167us, 4, kTimeout},
      {"after the eighth character has left", 4200us, 0, kTxEmpty},
      {"the drain is reported once", 0us, 0, kTimeout},
  };
  for (int write = 1; write <= 2; ++write) {
    ASSERT_EQ(dev->Write(frame), 8u);
    for (const auto& [legend, advance, tx, wait] : rows) {
      now += advance;
      QueueCounts c;
      ASSERT_TRUE(dev->Counts(c)) << legend;
      EXPECT_EQ(c.tx, tx) << legend << ", write " << write;
      EXPECT_EQ(dev->Wait(20ms), wait) << legend << ", write " << write;
    }
  }
  EXPECT_EQ(pty.Receive(16).size(), 16u);
}

TEST_F(SerialDeviceTest, WriteNeverBlocksAndPurgeDiscardsBothDirections) {
  const std::array<uint8_t, 4> bytes{1, 2, 3, 4};
  ASSERT_TRUE(pty.Send(bytes));
  ASSERT_NE(WaitFor(kRxChar) & kRxChar, 0u);
  // The other end does not read: the queue fills up and a write takes nothing.
  std::vector<uint8_t> block(4096, 0x55);
  std::size_t total = 0;
  std::size_t last = 1;
  for (int i = 0; i < 1000 && last != 0; ++i) total += last = dev->Write(block);
  EXPECT_EQ(last, 0u);
  EXPECT_GT(total, 0u);
  dev->Purge();
  QueueCounts c;
  ASSERT_TRUE(dev->Counts(c));
  EXPECT_EQ(c.rx + c.tx, 0u);
  EXPECT_EQ(dev->Wait(20ms), kTimeout);  // a purged queue does not "run empty"
}

// ---- Wait ----------------------------------------------------------------

TEST(SerialWait, DrainWakesTheWaitOnTheRealClock) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto dev = MakePlatformSerialDevice();
  ASSERT_EQ(dev->Open(pty.slave_path()), OpenResult::kOk);
  ASSERT_TRUE(dev->Configure({115200, 8, Parity::kEven, 1, false}));
  const std::array<uint8_t, 8> frame{};
  // Frames back to back: every drain brings the next write.
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(dev->Write(frame), 8u);
    EXPECT_EQ(dev->Wait(5s) & kTxEmpty, unsigned{kTxEmpty}) << i;
  }
  EXPECT_EQ(pty.Receive(40).size(), 40u);
}

TEST_F(SerialDeviceTest, WakeEndsTheWaitItCameInOrTheNextOneOnce) {
  dev->Wake();
  dev->Wake();  // two calls, one wake-up
  EXPECT_EQ(dev->Wait(30s), unsigned{kWoken});
  EXPECT_EQ(dev->Wait(10ms), kTimeout);

  std::atomic<bool> waiting{false};
  std::thread other([&] {
    while (!waiting.load()) std::this_thread::yield();
    std::this_thread::sleep_for(20ms);
    dev->Wake();
  });
  waiting = true;
  const unsigned ev = dev->Wait(30s);
  other.join();
  EXPECT_EQ(ev, unsigned{kWoken});
}

TEST_F(SerialDeviceTest, HangupIsReportedWithoutSpinning) {
  const std::array<uint8_t, 3> bytes{7, 8, 9};
  ASSERT_TRUE(pty.Send(bytes));
  ASSERT_NE(WaitFor(kRxChar) & kRxChar, 0u);
  pty.CloseMaster();  // the far end goes away; the device stays open
  // Not kRxChar: the dead line's bytes cannot be read.
  ExpectWaitsSleepAnswering(*dev, kHangup);

  // Everything else stays harmless on the hung-up device.
  EXPECT_TRUE(dev->IsOpen());
  QueueCounts c;
  EXPECT_TRUE(dev->Counts(c));
  EXPECT_EQ(c.rx, 0u);
  std::array<uint8_t, 8> buf{};
  EXPECT_EQ(dev->Read(buf), 0u);
  EXPECT_EQ(dev->Write(buf), 0u);
  ModemLines m;
  EXPECT_FALSE(dev->Modem(m));
  dev->Wake();
  EXPECT_EQ(dev->Wait(30s), kHangup | kWoken);
  dev->Close();
  EXPECT_FALSE(dev->IsOpen());
}

}  // namespace
}  // namespace m32::serial
