// SerialDevice on a POSIX terminal device (termios, with the kernel's
// termios2 for any integer rate).
//
// Events: a received byte wakes the wait through edge-triggered epoll, so a
// byte that the caller has already been told about (and left in the queue,
// e.g. while it waits for the rest of a frame) does not wake it again. There
// is no "transmit queue empty" event on POSIX: the wait sleeps until the
// modelled drain time instead (see TxModel), woken early by received bytes or
// Wake(). A hung-up device (adapter unplugged, other end of a pseudo-terminal
// closed) is reported as kHangup after the wait has slept its time-out, so a
// caller that keeps waiting on it never spins.
#include "serial/posix_serial_device.h"

#include <fcntl.h>
#include <linux/major.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <thread>
#include <utility>

#include "serial/termios2_linux.h"

namespace m32::serial {

namespace {

using detail::KernelLine;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::steady_clock;

// The slice in which a transmit count that only the driver reports is looked
// at again (there is no event for it).
constexpr milliseconds kDriverQueuePoll{2};
// Wake-ups of the device that bring nothing new, after which a wait stops
// listening to the device and only looks at it every kDriverQueuePoll.
constexpr int kMaxFruitlessWakeups = 64;
// The shortest sleep while a written frame leaves the line: the transmit
// model is exact, so this only keeps a rounding from spinning.
constexpr std::chrono::microseconds kMinSlice{20};

OpenResult MapOpenError(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return OpenResult::kNotFound;
    case EBUSY:
    case EWOULDBLOCK:
      return OpenResult::kBusy;
    case EACCES:
    case EPERM:
      return OpenResult::kDenied;
    default:
      return OpenResult::kFailed;
  }
}

uint32_t CharSizeFlag(uint8_t data_bits) {
  switch (data_bits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

uint32_t BitsPerCharOf(const KernelLine& k) {
  uint32_t data = 8;
  switch (k.cflag & CSIZE) {
    case CS5:
      data = 5;
      break;
    case CS6:
      data = 6;
      break;
    case CS7:
      data = 7;
      break;
    default:
      break;
  }
  return 1U + data + ((k.cflag & PARENB) != 0 ? 1U : 0U) + ((k.cflag & CSTOPB) != 0 ? 2U : 1U);
}

// Raw mode: no line editing, echo, signals or character translation, no flow
// control, reads that return what is there. The format is left as it is.
void MakeRaw(KernelLine& k) {
  k.iflag &= ~static_cast<uint32_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR |
                                    IGNCR | ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL);
  k.oflag &= ~static_cast<uint32_t>(OPOST);
  k.lflag &= ~static_cast<uint32_t>(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL |
                                    ECHOPRT | ECHOKE | IEXTEN | TOSTOP);
  k.cflag &= ~static_cast<uint32_t>(CRTSCTS);
  k.cflag |= static_cast<uint32_t>(CLOCAL | CREAD);
  k.cc[VMIN] = 0;
  k.cc[VTIME] = 0;
}

// The asked data bits, stop bits and parity. The rate is set separately
// (SetKernelRate).
void SetFormat(KernelLine& k, const LineSettings& line) {
  k.cflag &= ~static_cast<uint32_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
  k.cflag |= CharSizeFlag(line.data_bits);
  if (line.stop_bits == 2) k.cflag |= CSTOPB;
  switch (line.parity) {
    case Parity::kNone:
      break;
    case Parity::kOdd:
      k.cflag |= PARENB | PARODD;
      break;
    case Parity::kEven:
      k.cflag |= PARENB;
      break;
    case Parity::kMark:
      k.cflag |= CMSPAR | PARODD | PARENB;
      break;
  }
}

// The control flags that make the line's format and flow control.
constexpr uint32_t kFormatFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
// Of those, what a pseudo-terminal does not keep (it forces 8 data bits and
// drops the parity enable).
constexpr uint32_t kNotKeptByPty = CSIZE | PARENB;

timespec ToTimespec(nanoseconds d) {
  d = std::max(d, nanoseconds(0));
  const auto s = std::chrono::duration_cast<std::chrono::seconds>(d);
  return timespec{static_cast<time_t>(s.count()), static_cast<long>((d - s).count())};
}

int CeilMs(nanoseconds d) {
  if (d <= nanoseconds(0)) return 0;
  const auto ms = std::chrono::ceil<milliseconds>(d).count();
  return static_cast<int>(std::min<int64_t>(ms, INT_MAX));
}

}  // namespace

namespace detail {

bool SetRawLine(int fd, const LineSettings& line, LineSetter set) {
  KernelLine k;
  if (GetKernelLine(fd, k) != 0) return false;
  MakeRaw(k);
  const bool raw = set(fd, k) == 0;
  SetFormat(k, line);
  SetKernelRate(k, line.baud);
  const bool format = set(fd, k) == 0;
  return raw && format;
}

bool LineRunsAsAsked(const LineSettings& want, const KernelLine& back, bool pseudo_terminal) {
  KernelLine asked;
  MakeRaw(asked);
  SetFormat(asked, want);
  uint32_t compared = kFormatFlags;
  if (pseudo_terminal) compared &= ~kNotKeptByPty;
  return (asked.cflag & compared) == (back.cflag & compared) &&
         RateWithin2Percent(back.ospeed, want.baud);
}

bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  // Slaves (/dev/pts/N) and masters of both pseudo-terminal kinds, and the
  // multiplexer /dev/ptmx.
  const unsigned m = ::major(st.st_rdev);
  return (m >= UNIX98_PTY_MASTER_MAJOR && m < UNIX98_PTY_SLAVE_MAJOR + UNIX98_PTY_MAJOR_COUNT) ||
         m == PTY_MASTER_MAJOR || m == PTY_SLAVE_MAJOR ||
         (m == TTYAUX_MAJOR && ::minor(st.st_rdev) == 2);
}

}  // namespace detail

namespace {

class PosixSerialDevice final : public SerialDevice {
 public:
  PosixSerialDevice(TxClock clock, detail::LineSetter set_line)
      : clock_(std::move(clock)),
        set_line_(set_line),
        wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

  ~PosixSerialDevice() override {
    PosixSerialDevice::Close();
    if (wake_fd_ >= 0) ::close(wake_fd_);
  }

  PosixSerialDevice(const PosixSerialDevice&) = delete;
  PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

  OpenResult Open(const std::string& path) override;
  bool IsOpen() const override { return fd_ >= 0; }
  int NativeDescriptor() const override { return fd_; }
  bool Configure(const LineSettings& line) override;
  void Close() override;
  bool Counts(QueueCounts& out) override;
  std::size_t Read(std::span<uint8_t> buf) override;
  std::size_t Write(std::span<const uint8_t> bytes) override;
  void Purge() override;
  bool Modem(ModemLines& out) override;
  unsigned Wait(milliseconds timeout) override { return WaitFor(timeout, 1); }
  unsigned WaitFor(milliseconds timeout, uint32_t rx_bytes) override;
  void Wake() override;

 private:
  bool ConsumeWake();
  unsigned SleepUntil(steady_clock::time_point deadline);
  // Sleeps without listening to received bytes; returns kWoken and kHangup
  // when those ended it.
  unsigned SleepWatchingHangup(steady_clock::time_point deadline);
  int WaitDevice(epoll_event* events, int max, nanoseconds timeout);
  bool HungUp() const;
  uint32_t DriverRx() const;
  uint32_t DriverTx() const;
  unsigned NewRx(uint32_t goal, uint32_t& waiting);
  unsigned NewLineErrors();
  unsigned TxDrained();
  nanoseconds TimeUntilTxEmpty();
  bool LineErrorCount(uint64_t& out);
  void SetModemLine(int bit, bool on);

  TxClock clock_;
  const detail::LineSetter set_line_;
  const int wake_fd_;
  int fd_ = -1;
  int epoll_fd_ = -1;
  KernelLine saved_line_{};
  bool pseudo_terminal_ = false;
  bool saved_modem_valid_ = false;
  int saved_modem_ = 0;
  TxModel tx_;
  bool tx_armed_ = false;  // bytes written since the last kTxEmpty
  uint32_t rx_seen_ = 0;   // received bytes the caller has been told about
  bool error_count_supported_ = false;
  uint64_t error_count_ = 0;
};

OpenResult PosixSerialDevice::Open(const std::string& path) {
  if (fd_ >= 0) return OpenResult::kFailed;  // one port per device; the open one stays
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return MapOpenError(errno);
  int ep = -1;
  const auto fail = [&](OpenResult r) {
    if (ep >= 0) ::close(ep);
    ::close(fd);
    return r;
  };
  // flock keeps out every other opener that asks for it, root included;
  // TIOCEXCL keeps out every other opener that is not root.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(MapOpenError(errno));
  if (::ioctl(fd, TIOCEXCL) != 0) return fail(OpenResult::kFailed);  // not a terminal
  KernelLine saved;
  if (detail::GetKernelLine(fd, saved) != 0) return fail(OpenResult::kFailed);

  ep = ::epoll_create1(EPOLL_CLOEXEC);
  if (ep < 0) return fail(OpenResult::kFailed);
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLET;
  ev.data.fd = fd;
  if (::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev) != 0) return fail(OpenResult::kFailed);
  if (wake_fd_ >= 0) {
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = wake_fd_;
    if (::epoll_ctl(ep, EPOLL_CTL_ADD, wake_fd_, &wake) != 0) return fail(OpenResult::kFailed);
  }

  fd_ = fd;
  epoll_fd_ = ep;
  saved_line_ = saved;
  pseudo_terminal_ = detail::IsPseudoTerminal(fd_);
  saved_modem_valid_ = ::ioctl(fd_, TIOCMGET, &saved_modem_) == 0;
  tx_.Reset();
  tx_.SetLine(saved.ospeed, BitsPerCharOf(saved));
  tx_armed_ = false;
  rx_seen_ = 0;
  error_count_supported_ = LineErrorCount(error_count_);
  return OpenResult::kOk;
}

bool PosixSerialDevice::Configure(const LineSettings& line) {
  if (fd_ < 0) return false;
  if (!IsRequestable(line)) return false;  // the line stays as it is
  bool accepted = detail::SetRawLine(fd_, line, set_line_);

  // After the line state: a change from rate 0 raises both lines by itself.
  SetModemLine(TIOCM_DTR, line.dtr);
  SetModemLine(TIOCM_RTS, false);

  // A driver may take the call and quietly run another format: what counts is
  // what it reads back.
  KernelLine back;
  uint32_t rate = line.baud;
  if (detail::GetKernelLine(fd_, back) == 0) {
    if (back.ospeed != 0) rate = back.ospeed;
    accepted = accepted && detail::LineRunsAsAsked(line, back, pseudo_terminal_);
  } else {
    accepted = false;
  }
  tx_.SetLine(rate, BitsPerChar(line));
  return accepted;
}

void PosixSerialDevice::Close() {
  if (fd_ < 0) return;
  // The last frame written carries the outputs' final state: let it leave.
  const auto limit = steady_clock::now() + kCloseDrainLimit;
  while (!HungUp() && (tx_.Pending(clock_()) > 0 || DriverTx() > 0)) {
    const auto now = steady_clock::now();
    if (now >= limit) {
      ::tcflush(fd_, TCOFLUSH);  // stuck; closing must not wait on it
      break;
    }
    const nanoseconds step = std::clamp<nanoseconds>(TimeUntilTxEmpty(), milliseconds(1),
                                                     std::chrono::ceil<nanoseconds>(limit - now));
    std::this_thread::sleep_for(step);
  }
  detail::SetKernelLine(fd_, saved_line_);
  if (saved_modem_valid_) {
    SetModemLine(TIOCM_DTR, (saved_modem_ & TIOCM_DTR) != 0);
    SetModemLine(TIOCM_RTS, (saved_modem_ & TIOCM_RTS) != 0);
  }
  ::ioctl(fd_, TIOCNXCL);
  ::flock(fd_, LOCK_UN);
  ::close(epoll_fd_);
  ::close(fd_);
  epoll_fd_ = -1;
  fd_ = -1;
  tx_.Reset();
  tx_armed_ = false;
  rx_seen_ = 0;
}

bool PosixSerialDevice::Counts(QueueCounts& out) {
  out = QueueCounts{};
  if (fd_ < 0) return false;
  // After a hang-up the driver may still count bytes that read() no longer
  // returns; none of them can be had.
  out.rx = HungUp() ? 0 : DriverRx();
  out.tx = std::max(DriverTx(), tx_.Pending(clock_()));
  rx_seen_ = out.rx;  // the caller knows of these now
  uint64_t errors = 0;
  if (error_count_supported_ && LineErrorCount(errors)) error_count_ = errors;
  return true;
}

std::size_t PosixSerialDevice::Read(std::span<uint8_t> buf) {
  if (fd_ < 0 || buf.empty()) return 0;
  ssize_t r = -1;
  do {
    r = ::read(fd_, buf.data(), buf.size());
  } while (r < 0 && errno == EINTR);
  if (r <= 0) return 0;  // nothing waiting, or hung up
  const auto n = static_cast<uint32_t>(r);
  rx_seen_ = rx_seen_ > n ? rx_seen_ - n : 0;
  return static_cast<std::size_t>(r);
}

std::size_t PosixSerialDevice::Write(std::span<const uint8_t> bytes) {
  if (fd_ < 0 || bytes.empty()) return 0;
  ssize_t r = -1;
  do {
    r = ::write(fd_, bytes.data(), bytes.size());
  } while (r < 0 && errno == EINTR);
  if (r <= 0) return 0;  // queue full (EAGAIN) or device gone
  tx_.OnWrite(static_cast<std::size_t>(r), clock_());
  tx_armed_ = true;
  return static_cast<std::size_t>(r);
}

void PosixSerialDevice::Purge() {
  if (fd_ < 0) return;
  ::tcflush(fd_, TCIOFLUSH);
  tx_.Reset();
  tx_armed_ = false;
  rx_seen_ = 0;
}

bool PosixSerialDevice::Modem(ModemLines& out) {
  out = ModemLines{};
  int bits = 0;
  if (fd_ < 0 || ::ioctl(fd_, TIOCMGET, &bits) != 0) return false;
  out.ri = (bits & TIOCM_RI) != 0;
  out.dcd = (bits & TIOCM_CD) != 0;
  out.cts = (bits & TIOCM_CTS) != 0;
  out.dsr = (bits & TIOCM_DSR) != 0;
  return true;
}

unsigned PosixSerialDevice::WaitFor(milliseconds timeout, uint32_t rx_bytes) {
  const auto deadline = steady_clock::now() + std::max(timeout, milliseconds(0));
  if (fd_ < 0) return kNotOpen | SleepUntil(deadline);
  const uint32_t goal = std::max<uint32_t>(rx_bytes, 1);
  unsigned woken = 0;
  int fruitless = 0;  // wake-ups by the device that brought nothing to report
  // The wake-up counter and the hang-up state are looked at only when a
  // poll reports them (a pending Wake() or a hang-up ends a sleep at once),
  // to keep each pass short. Epoll reports a hang-up only once (edge-
  // triggered), so before listening to the device the state is looked at.
  bool check_wake = false;
  bool check_hangup = false;
  bool hangup_looked_at = false;
  for (;;) {
    if (check_wake && ConsumeWake()) woken = kWoken;
    if (check_hangup && HungUp()) return kHangup | (woken != 0 ? woken : SleepUntil(deadline));
    check_wake = false;
    check_hangup = false;
    uint32_t waiting = 0;
    const unsigned ev = woken | NewRx(goal, waiting) | NewLineErrors() | TxDrained();
    if (ev != 0) return ev;

    const auto now = steady_clock::now();
    if (now >= deadline) return kTimeout;
    nanoseconds slice = deadline - now;
    if (tx_armed_) {
      slice = std::min(slice, std::max<nanoseconds>(TimeUntilTxEmpty(), kMinSlice));
    }
    // Received bytes that cannot make up the count asked for are not worth a
    // wake-up each: sleep until the rest could have crossed the line. Bytes
    // arriving meanwhile stay reported by epoll (edge-triggered) until the
    // next look.
    bool listen_rx = goal != kNoRxWake;
    if (listen_rx && waiting > 0 && waiting < goal && tx_.CharTime() > nanoseconds(0)) {
      slice = std::min(slice, tx_.CharTime() * (goal - waiting));
      listen_rx = false;
    }
    if (!listen_rx) {
      const unsigned seen = SleepWatchingHangup(steady_clock::now() + slice);
      woken = seen & kWoken;
      check_hangup = (seen & kHangup) != 0;
      continue;
    }
    if (fruitless > kMaxFruitlessWakeups) {
      // The device keeps waking us for nothing: look at it in slices instead.
      woken = SleepUntil(steady_clock::now() + std::min<nanoseconds>(slice, kDriverQueuePoll));
      check_hangup = true;
      continue;
    }
    if (!hangup_looked_at) {
      hangup_looked_at = true;
      if (HungUp()) return kHangup | SleepUntil(deadline);
    }
    epoll_event events[2];
    const int n = WaitDevice(events, 2, slice);
    if (n < 0 && errno != EINTR) {
      fruitless = kMaxFruitlessWakeups + 1;  // epoll failed: slices from now on
      check_wake = true;
      check_hangup = true;
      continue;
    }
    for (int i = 0; i < n; ++i) {
      if (events[i].data.fd == wake_fd_) {
        check_wake = true;
      } else if (events[i].data.fd == fd_) {
        ++fruitless;  // if it brought news, we return above
        if ((events[i].events & (EPOLLHUP | EPOLLERR)) != 0) check_hangup = true;
      }
    }
  }
}

void PosixSerialDevice::Wake() {
  if (wake_fd_ < 0) return;
  const uint64_t one = 1;
  // A full counter (EAGAIN) still means "woken".
  [[maybe_unused]] const ssize_t r = ::write(wake_fd_, &one, sizeof one);
}

bool PosixSerialDevice::ConsumeWake() {
  if (wake_fd_ < 0) return false;
  uint64_t count = 0;
  return ::read(wake_fd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

unsigned PosixSerialDevice::SleepUntil(steady_clock::time_point deadline) {
  for (;;) {
    const auto now = steady_clock::now();
    if (now >= deadline) return 0;
    if (wake_fd_ < 0) {
      std::this_thread::sleep_until(deadline);
      return 0;
    }
    pollfd p{wake_fd_, POLLIN, 0};
    const timespec ts = ToTimespec(deadline - now);
    const int n = ::ppoll(&p, 1, &ts, nullptr);
    if (n > 0 && ConsumeWake()) return kWoken;
  }
}

unsigned PosixSerialDevice::SleepWatchingHangup(steady_clock::time_point deadline) {
  const auto now = steady_clock::now();
  if (now >= deadline) return 0;
  // Events 0 on the device: only a hang-up or an error ends the sleep there.
  pollfd p[2] = {{fd_, 0, 0}, {wake_fd_, POLLIN, 0}};
  const timespec ts = ToTimespec(deadline - now);
  const int n = ::ppoll(p, wake_fd_ >= 0 ? 2 : 1, &ts, nullptr);
  if (n <= 0) return 0;
  unsigned seen = 0;
  if ((p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) seen |= kHangup;
  if (wake_fd_ >= 0 && (p[1].revents & POLLIN) != 0 && ConsumeWake()) seen |= kWoken;
  return seen;
}

int PosixSerialDevice::WaitDevice(epoll_event* events, int max, nanoseconds timeout) {
#if defined(__GLIBC__) && __GLIBC_PREREQ(2, 35)
  // To the microsecond: at high rates a frame takes less than a millisecond.
  static std::atomic<bool> unsupported{false};
  if (!unsupported.load(std::memory_order_relaxed)) {
    const timespec ts = ToTimespec(timeout);
    const int n = ::epoll_pwait2(epoll_fd_, events, max, &ts, nullptr);
    if (n >= 0 || errno != ENOSYS) return n;
    unsupported.store(true, std::memory_order_relaxed);  // a kernel before 5.11
  }
#endif
  return ::epoll_wait(epoll_fd_, events, max, CeilMs(timeout));
}

bool PosixSerialDevice::HungUp() const {
  pollfd p{fd_, 0, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

uint32_t PosixSerialDevice::DriverRx() const {
  int n = 0;
  if (::ioctl(fd_, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<uint32_t>(n);
}

uint32_t PosixSerialDevice::DriverTx() const {
  int n = 0;
  if (::ioctl(fd_, TIOCOUTQ, &n) != 0 || n < 0) return 0;
  return static_cast<uint32_t>(n);
}

unsigned PosixSerialDevice::NewRx(uint32_t goal, uint32_t& waiting) {
  const uint32_t n = DriverRx();
  waiting = n;
  // A goal of one byte asks for news; a larger one is met by the bytes
  // waiting, whether the caller was told of them or not.
  if (n >= goal && (goal > 1 || n > rx_seen_)) {
    rx_seen_ = n;
    return kRxChar;
  }
  // Bytes short of the goal stay news until they are reported.
  if (n < rx_seen_) rx_seen_ = n;
  return 0;
}

unsigned PosixSerialDevice::NewLineErrors() {
  uint64_t errors = 0;
  if (!error_count_supported_ || !LineErrorCount(errors) || errors == error_count_) return 0;
  error_count_ = errors;
  return kLineError;
}

unsigned PosixSerialDevice::TxDrained() {
  if (!tx_armed_ || tx_.Pending(clock_()) > 0 || DriverTx() > 0) return 0;
  tx_armed_ = false;
  return kTxEmpty;
}

nanoseconds PosixSerialDevice::TimeUntilTxEmpty() {
  const nanoseconds model = tx_.TimeUntilEmpty(clock_());
  if (model > nanoseconds(0)) return model;
  const uint32_t driver = DriverTx();
  if (driver == 0) return nanoseconds(0);
  return std::max<nanoseconds>(tx_.CharTime() * driver, kDriverQueuePoll);
}

bool PosixSerialDevice::LineErrorCount(uint64_t& out) {
  serial_icounter_struct ic{};
  if (::ioctl(fd_, TIOCGICOUNT, &ic) != 0) return false;
  out = uint64_t{static_cast<uint32_t>(ic.frame)} + static_cast<uint32_t>(ic.parity) +
        static_cast<uint32_t>(ic.overrun) + static_cast<uint32_t>(ic.buf_overrun) +
        static_cast<uint32_t>(ic.brk);
  return true;
}

void PosixSerialDevice::SetModemLine(int bit, bool on) {
  // A device without modem lines (ENOTTY, EINVAL) simply has none to set.
  ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);
}

}  // namespace

std::unique_ptr<SerialDevice> MakePosixSerialDevice(TxClock clock, detail::LineSetter set_line) {
  if (!clock) clock = [] { return steady_clock::now(); };
  return std::make_unique<PosixSerialDevice>(std::move(clock), set_line);
}

std::unique_ptr<SerialDevice> MakePlatformSerialDevice() {
  return MakePosixSerialDevice({});
}

}  // namespace m32::serial
