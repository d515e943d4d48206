// SerialDevice on a Win32 COM device, opened exclusively for overlapped I/O.
//
// Events: the wait keeps one overlapped WaitCommEvent pending on the port
// (mask EV_RXCHAR | EV_TXEMPTY | EV_ERR) and sleeps on its event together
// with a wake event that any thread may signal, in slices of at most 50 ms.
// What it reports is judged from ClearCommError after every wake-up, so a
// byte that the caller has already been told about (and left in the queue)
// does not wake it again. The transmit side is reported empty only when the
// driver's queue is empty, no write is in flight and the modelled drain time
// has passed (see TxModel): drivers of USB adapters report an empty queue
// while their own buffer still holds the bytes.
//
// A device that has gone (an unplugged USB adapter) fails ClearCommError and
// WaitCommEvent; the wait then reports kHangup after it has slept its
// time-out (or until Wake), so a caller that keeps waiting never spins.
#include "serial/win32_serial_device.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <thread>
#include <utility>
#include <vector>

namespace m32::serial {

namespace detail {

std::string Win32DeviceName(const std::string& path) {
  if (path.size() < 4 || path.size() > 6) return path;
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(path[i])) != "COM"[i]) return path;
  }
  for (std::size_t i = 3; i < path.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(path[i])) == 0) return path;
  }
  return "\\\\.\\COM" + path.substr(3);
}

void ApplyLine(DCB& dcb, const LineSettings& line) {
  dcb.BaudRate = line.baud;
  dcb.fBinary = TRUE;
  dcb.fParity = line.parity == Parity::kNone ? FALSE : TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = line.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fAbortOnError = FALSE;
  dcb.wReserved = 0;
  dcb.ByteSize = line.data_bits;
  switch (line.parity) {
    case Parity::kNone:
      dcb.Parity = NOPARITY;
      break;
    case Parity::kOdd:
      dcb.Parity = ODDPARITY;
      break;
    case Parity::kEven:
      dcb.Parity = EVENPARITY;
      break;
    case Parity::kMark:
      dcb.Parity = MARKPARITY;
      break;
  }
  dcb.StopBits = line.stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
}

}  // namespace detail

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::steady_clock;

// The longest single sleep of a wait; the port is looked at again after it.
constexpr milliseconds kWaitSlice{50};
// How long Close() and Purge() give cancelled operations to complete.
constexpr DWORD kCancelGraceMs = 1000;
// How long a read of bytes the driver has reported may take before it is
// cancelled (it should complete at once).
constexpr DWORD kReadGraceMs = 100;
// The slice in which a transmit count that only the driver reports is looked
// at again.
constexpr milliseconds kDriverQueuePoll{2};
// Wake-ups of the port that bring nothing new, after which a wait stops
// listening to the port and only looks at it every kDriverQueuePoll.
constexpr int kMaxFruitlessWakeups = 64;
// Writes in flight at most; beyond that the transmit queue counts as full.
constexpr std::size_t kMaxWritesInFlight = 64;
constexpr DWORD kEventMask = EV_RXCHAR | EV_TXEMPTY | EV_ERR;  // 0x85
constexpr DWORD kLineErrors = CE_FRAME | CE_RXPARITY | CE_OVERRUN | CE_RXOVER | CE_BREAK;

DWORD ToMs(nanoseconds d) {
  if (d <= nanoseconds(0)) return 0;
  const auto ms = std::chrono::ceil<milliseconds>(d).count();
  return static_cast<DWORD>(std::min<int64_t>(ms, INT_MAX));
}

OpenResult MapOpenError(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
      return OpenResult::kNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return OpenResult::kBusy;
    default:
      return OpenResult::kFailed;
  }
}

// A named object per port that this program holds while the port is open.
// Windows itself refuses a second opener of a COM device (no sharing); wine
// does not, so two instances of the tool under wine are kept apart by this.
HANDLE ClaimPort(const std::string& device_name) {
  std::wstring name = L"Local\\merkat32-port-";
  const std::size_t slash = device_name.find_last_of("\\/");
  for (std::size_t i = slash == std::string::npos ? 0 : slash + 1; i < device_name.size(); ++i) {
    name += static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(device_name[i])));
  }
  const HANDLE claim = ::CreateMutexW(nullptr, FALSE, name.c_str());
  if (claim != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(claim);
    return nullptr;
  }
  return claim;
}

uint32_t BitsPerCharOf(const DCB& dcb) {
  return 1U + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1U : 0U) +
         (dcb.StopBits == ONESTOPBIT ? 1U : 2U);
}

// One overlapped WriteFile with the bytes it sends; its address stays fixed
// until the operation has completed.
struct PendingWrite {
  OVERLAPPED ov{};
  std::vector<uint8_t> bytes;
};

class Win32SerialDevice final : public SerialDevice {
 public:
  explicit Win32SerialDevice(TxClock clock)
      : clock_(std::move(clock)), wake_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

  ~Win32SerialDevice() override {
    Win32SerialDevice::Close();
    if (wake_ != nullptr) ::CloseHandle(wake_);
  }

  Win32SerialDevice(const Win32SerialDevice&) = delete;
  Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

  OpenResult Open(const std::string& path) override;
  bool IsOpen() const override { return port_ != INVALID_HANDLE_VALUE; }
  bool Configure(const LineSettings& line) override;
  void Close() override;
  bool Counts(QueueCounts& out) override;
  std::size_t Read(std::span<uint8_t> buf) override;
  std::size_t Write(std::span<const uint8_t> bytes) override;
  void Purge() override;
  bool Modem(ModemLines& out) override;
  unsigned Wait(milliseconds timeout) override;
  void Wake() override;

 private:
  bool Status(COMSTAT& stat, DWORD& errors);
  unsigned SleepUntil(steady_clock::time_point deadline);
  unsigned GoneWait(steady_clock::time_point deadline, unsigned woken);
  bool ArmCommWait();
  void ReapWrites();
  bool SettleWrites(DWORD wait_ms);
  void EndCommWait();
  nanoseconds TimeUntilTxEmpty(uint32_t driver_tx);

  TxClock clock_;
  const HANDLE wake_;  // auto-reset: one Wake() ends one wait
  HANDLE port_ = INVALID_HANDLE_VALUE;
  HANDLE claim_ = nullptr;  // see ClaimPort
  HANDLE wait_event_ = nullptr;
  // The event of Read(), made once per opening: a read runs at every link
  // step and always completes (or is cancelled and settled) before it returns.
  HANDLE read_event_ = nullptr;
  OVERLAPPED wait_ov_{};
  DWORD wait_mask_ = 0;
  bool wait_pending_ = false;
  std::vector<std::unique_ptr<PendingWrite>> writes_;  // in flight
  std::vector<std::unique_ptr<PendingWrite>> spare_;   // completed, events kept
  DCB saved_dcb_{};
  COMMTIMEOUTS saved_timeouts_{};
  bool saved_valid_ = false;
  TxModel tx_;
  bool tx_armed_ = false;  // bytes written since the last kTxEmpty
  uint32_t rx_seen_ = 0;   // received bytes the caller has been told about
  bool gone_ = false;      // the device failed a status call: unplugged
};

OpenResult Win32SerialDevice::Open(const std::string& path) {
  if (IsOpen()) return OpenResult::kFailed;  // one port per device; the open one stays
  const std::string name = detail::Win32DeviceName(path);
  const HANDLE claim = ClaimPort(name);
  if (claim == nullptr) return OpenResult::kBusy;
  // No sharing: a second opener, in this process or another, is refused.
  const HANDLE h =
      ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = ::GetLastError();
    ::CloseHandle(claim);
    return MapOpenError(err);
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  COMMTIMEOUTS timeouts{};
  const HANDLE ev = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const HANDLE read_ev = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ev == nullptr || read_ev == nullptr || !::GetCommState(h, &dcb) ||
      !::GetCommTimeouts(h, &timeouts)) {
    if (ev != nullptr) ::CloseHandle(ev);
    if (read_ev != nullptr) ::CloseHandle(read_ev);
    ::CloseHandle(h);
    ::CloseHandle(claim);
    return OpenResult::kFailed;  // not a serial device
  }
  // Reads take what is there and return at once; writes never time out.
  COMMTIMEOUTS now_timeouts{};
  now_timeouts.ReadIntervalTimeout = MAXDWORD;
  ::SetCommTimeouts(h, &now_timeouts);
  ::SetCommMask(h, kEventMask);

  port_ = h;
  claim_ = claim;
  wait_event_ = ev;
  read_event_ = read_ev;
  wait_pending_ = false;
  saved_dcb_ = dcb;
  saved_timeouts_ = timeouts;
  saved_valid_ = true;
  tx_.Reset();
  tx_.SetLine(dcb.BaudRate, BitsPerCharOf(dcb));
  tx_armed_ = false;
  rx_seen_ = 0;
  gone_ = false;
  return OpenResult::kOk;
}

bool Win32SerialDevice::Configure(const LineSettings& line) {
  if (!IsOpen()) return false;
  if (!IsRequestable(line)) return false;  // the line stays as it is
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(port_, &dcb)) return false;
  detail::ApplyLine(dcb, line);
  bool accepted = ::SetCommState(port_, &dcb) != FALSE;
  // The lines as well, for a driver that kept its own when it refused the state.
  ::EscapeCommFunction(port_, line.dtr ? SETDTR : CLRDTR);
  ::EscapeCommFunction(port_, CLRRTS);

  DCB back{};
  back.DCBlength = sizeof back;
  uint32_t rate = line.baud;
  if (::GetCommState(port_, &back)) {
    if (back.BaudRate != 0) rate = back.BaudRate;
    accepted = accepted && RateWithin2Percent(back.BaudRate, line.baud);
  } else {
    accepted = false;
  }
  tx_.SetLine(rate, BitsPerChar(line));
  return accepted;
}

void Win32SerialDevice::Close() {
  if (!IsOpen()) return;
  // The last frame written carries the outputs' final state: let it leave.
  const auto limit = steady_clock::now() + kCloseDrainLimit;
  for (;;) {
    COMSTAT stat{};
    DWORD errors = 0;
    if (!Status(stat, errors)) break;
    ReapWrites();
    const uint32_t model = tx_.Pending(clock_());
    if (writes_.empty() && stat.cbOutQue == 0 && model == 0) break;
    const auto now = steady_clock::now();
    if (now >= limit) break;
    const nanoseconds step =
        std::clamp<nanoseconds>(TimeUntilTxEmpty(stat.cbOutQue), milliseconds(1),
                                std::chrono::ceil<nanoseconds>(limit - now));
    std::this_thread::sleep_for(step);
  }
  // Whatever is still queued is stuck; closing must not wait on it.
  ::PurgeComm(port_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  EndCommWait();
  SettleWrites(kCancelGraceMs);
  if (saved_valid_) {
    ::SetCommTimeouts(port_, &saved_timeouts_);
    ::SetCommState(port_, &saved_dcb_);
  }
  ::CloseHandle(port_);
  port_ = INVALID_HANDLE_VALUE;
  ::CloseHandle(claim_);
  claim_ = nullptr;
  if (!wait_pending_ && wait_event_ != nullptr) {
    ::CloseHandle(wait_event_);
  }
  // A wait that never completed keeps its event and record (they are
  // released with the process): the system may still write to them.
  wait_event_ = nullptr;
  wait_pending_ = false;
  ::CloseHandle(read_event_);
  read_event_ = nullptr;
  spare_.clear();
  saved_valid_ = false;
  tx_.Reset();
  tx_armed_ = false;
  rx_seen_ = 0;
  gone_ = false;
}

bool Win32SerialDevice::Counts(QueueCounts& out) {
  out = QueueCounts{};
  if (!IsOpen()) return false;
  COMSTAT stat{};
  DWORD errors = 0;
  if (Status(stat, errors)) {
    out.rx = stat.cbInQue;
    out.tx = stat.cbOutQue;
  }
  ReapWrites();
  // The driver's count includes writes in flight on Windows, not under wine.
  uint32_t in_flight = 0;
  for (const auto& w : writes_) in_flight += static_cast<uint32_t>(w->bytes.size());
  out.tx = std::max({out.tx, in_flight, tx_.Pending(clock_())});
  rx_seen_ = out.rx;  // the caller knows of these now
  return true;
}

std::size_t Win32SerialDevice::Read(std::span<uint8_t> buf) {
  if (!IsOpen() || buf.empty()) return 0;
  // Only what the driver holds is asked for, so the read completes at once
  // (the read time-outs say the same; not every driver honours them).
  COMSTAT stat{};
  DWORD errors = 0;
  if (!Status(stat, errors) || stat.cbInQue == 0) return 0;
  const auto want = static_cast<DWORD>(std::min<std::size_t>(buf.size(), stat.cbInQue));
  OVERLAPPED ov{};
  ov.hEvent = read_event_;
  ::ResetEvent(read_event_);
  DWORD got = 0;
  BOOL ok = ::ReadFile(port_, buf.data(), want, &got, &ov);
  if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
    if (::WaitForSingleObject(ov.hEvent, kReadGraceMs) != WAIT_OBJECT_0) ::CancelIoEx(port_, &ov);
    ok = ::GetOverlappedResult(port_, &ov, &got, TRUE);
  }
  if (!ok) return 0;
  rx_seen_ = rx_seen_ > got ? rx_seen_ - got : 0;
  return got;
}

std::size_t Win32SerialDevice::Write(std::span<const uint8_t> bytes) {
  if (!IsOpen() || bytes.empty() || bytes.size() > MAXDWORD) return 0;
  ReapWrites();
  if (writes_.size() >= kMaxWritesInFlight) return 0;  // queue full
  std::unique_ptr<PendingWrite> w;
  if (!spare_.empty()) {
    w = std::move(spare_.back());
    spare_.pop_back();
  } else {
    w = std::make_unique<PendingWrite>();
    w->ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (w->ov.hEvent == nullptr) return 0;
  }
  const HANDLE ev = w->ov.hEvent;
  w->ov = OVERLAPPED{};
  w->ov.hEvent = ev;
  ::ResetEvent(ev);
  w->bytes.assign(bytes.begin(), bytes.end());
  DWORD sent = 0;
  const BOOL ok =
      ::WriteFile(port_, w->bytes.data(), static_cast<DWORD>(w->bytes.size()), &sent, &w->ov);
  if (!ok && ::GetLastError() != ERROR_IO_PENDING) {
    spare_.push_back(std::move(w));
    return 0;  // the device is gone
  }
  writes_.push_back(std::move(w));
  ReapWrites();
  tx_.OnWrite(bytes.size(), clock_());
  tx_armed_ = true;
  return bytes.size();
}

void Win32SerialDevice::Purge() {
  if (!IsOpen()) return;
  ::PurgeComm(port_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  SettleWrites(kCancelGraceMs);
  tx_.Reset();
  tx_armed_ = false;
  rx_seen_ = 0;
}

bool Win32SerialDevice::Modem(ModemLines& out) {
  out = ModemLines{};
  DWORD bits = 0;
  if (!IsOpen() || !::GetCommModemStatus(port_, &bits)) return false;
  out.ri = (bits & MS_RING_ON) != 0;
  out.dcd = (bits & MS_RLSD_ON) != 0;
  out.cts = (bits & MS_CTS_ON) != 0;
  out.dsr = (bits & MS_DSR_ON) != 0;
  return true;
}

unsigned Win32SerialDevice::Wait(milliseconds timeout) {
  const auto deadline = steady_clock::now() + std::max(timeout, milliseconds(0));
  if (!IsOpen()) return kNotOpen | SleepUntil(deadline);
  unsigned woken = 0;
  int fruitless = 0;  // wake-ups by the port that brought nothing to report
  bool first = true;
  for (;;) {
    if (first && ::WaitForSingleObject(wake_, 0) == WAIT_OBJECT_0) woken = kWoken;
    first = false;
    COMSTAT stat{};
    DWORD errors = 0;
    if (gone_ || !Status(stat, errors)) return GoneWait(deadline, woken);
    ReapWrites();
    unsigned ev = woken;
    if (stat.cbInQue > rx_seen_) ev |= kRxChar;
    rx_seen_ = stat.cbInQue;
    if ((errors & kLineErrors) != 0) ev |= kLineError;
    if (tx_armed_ && writes_.empty() && stat.cbOutQue == 0 && tx_.Pending(clock_()) == 0) {
      tx_armed_ = false;
      ev |= kTxEmpty;
    }
    if (ev != 0) return ev;

    const auto now = steady_clock::now();
    if (now >= deadline) return kTimeout;
    nanoseconds slice = std::min<nanoseconds>(deadline - now, kWaitSlice);
    if (tx_armed_) {
      slice =
          std::min(slice, std::max<nanoseconds>(TimeUntilTxEmpty(stat.cbOutQue), milliseconds(1)));
    }
    if (fruitless > kMaxFruitlessWakeups) {
      // The port keeps waking us for nothing: look at it in slices instead.
      woken = SleepUntil(steady_clock::now() + std::min<nanoseconds>(slice, kDriverQueuePoll));
      continue;
    }
    if (!ArmCommWait()) return GoneWait(deadline, woken);
    if (!wait_pending_) {
      ++fruitless;  // completed at once; if it brought news, we return above
      continue;
    }
    const HANDLE handles[2] = {wake_, wait_event_};
    const DWORD r = ::WaitForMultipleObjects(2, handles, FALSE, ToMs(slice));
    if (r == WAIT_OBJECT_0) {
      woken = kWoken;
    } else if (r == WAIT_OBJECT_0 + 1) {
      DWORD n = 0;
      wait_pending_ = false;
      if (!::GetOverlappedResult(port_, &wait_ov_, &n, FALSE)) gone_ = true;
      ++fruitless;
    } else if (r == WAIT_FAILED) {
      fruitless = kMaxFruitlessWakeups + 1;  // slices from now on
    }
  }
}

void Win32SerialDevice::Wake() {
  if (wake_ != nullptr) ::SetEvent(wake_);
}

bool Win32SerialDevice::Status(COMSTAT& stat, DWORD& errors) {
  if (::ClearCommError(port_, &errors, &stat)) return true;
  gone_ = true;
  return false;
}

unsigned Win32SerialDevice::SleepUntil(steady_clock::time_point deadline) {
  for (;;) {
    const auto now = steady_clock::now();
    if (now >= deadline) return 0;
    if (wake_ == nullptr) {
      std::this_thread::sleep_until(deadline);
      return 0;
    }
    if (::WaitForSingleObject(wake_, ToMs(deadline - now)) == WAIT_OBJECT_0) return kWoken;
  }
}

unsigned Win32SerialDevice::GoneWait(steady_clock::time_point deadline, unsigned woken) {
  return kHangup | (woken != 0 ? woken : SleepUntil(deadline));
}

// Keeps one WaitCommEvent pending. False when the port refuses it (gone).
bool Win32SerialDevice::ArmCommWait() {
  if (wait_pending_) return true;
  wait_ov_ = OVERLAPPED{};
  wait_ov_.hEvent = wait_event_;
  ::ResetEvent(wait_event_);
  wait_mask_ = 0;
  if (::WaitCommEvent(port_, &wait_mask_, &wait_ov_)) return true;  // done at once
  if (::GetLastError() == ERROR_IO_PENDING) {
    wait_pending_ = true;
    return true;
  }
  gone_ = true;
  return false;
}

void Win32SerialDevice::ReapWrites() {
  for (auto it = writes_.begin(); it != writes_.end();) {
    DWORD n = 0;
    if (!::GetOverlappedResult(port_, &(*it)->ov, &n, FALSE) &&
        ::GetLastError() == ERROR_IO_INCOMPLETE) {
      ++it;
      continue;
    }
    spare_.push_back(std::move(*it));
    it = writes_.erase(it);
  }
}

// Waits up to `wait_ms` for the writes in flight (after a purge has aborted
// them). Writes that still have not completed are given up, not freed: the
// system may yet write to their records. True when none was left.
bool Win32SerialDevice::SettleWrites(DWORD wait_ms) {
  // One time limit for all of them together, however many there are.
  const auto wait_all = [this, wait_ms] {
    const auto until = steady_clock::now() + milliseconds(wait_ms);
    for (auto& w : writes_) {
      ::WaitForSingleObject(w->ov.hEvent, ToMs(until - steady_clock::now()));
    }
    ReapWrites();
  };
  wait_all();
  if (writes_.empty()) return true;
  ::CancelIoEx(port_, nullptr);
  wait_all();
  for (auto& w : writes_) static_cast<void>(w.release());
  const bool settled = writes_.empty();
  writes_.clear();
  return settled;
}

// Ends the pending WaitCommEvent: a new mask completes it at once.
void Win32SerialDevice::EndCommWait() {
  if (!wait_pending_) return;
  ::SetCommMask(port_, 0);
  if (::WaitForSingleObject(wait_event_, kCancelGraceMs) != WAIT_OBJECT_0) {
    ::CancelIoEx(port_, &wait_ov_);
    if (::WaitForSingleObject(wait_event_, kCancelGraceMs) != WAIT_OBJECT_0) return;
  }
  DWORD n = 0;
  ::GetOverlappedResult(port_, &wait_ov_, &n, FALSE);
  wait_pending_ = false;
}

nanoseconds Win32SerialDevice::TimeUntilTxEmpty(uint32_t driver_tx) {
  const nanoseconds model = tx_.TimeUntilEmpty(clock_());
  if (model > nanoseconds(0)) return model;
  if (driver_tx == 0 && writes_.empty()) return nanoseconds(0);
  return std::max<nanoseconds>(tx_.CharTime() * std::max<uint32_t>(driver_tx, 1), kDriverQueuePoll);
}

}  // namespace

std::unique_ptr<SerialDevice> MakeWin32SerialDevice(TxClock clock) {
  if (!clock) clock = [] { return steady_clock::now(); };
  return std::make_unique<Win32SerialDevice>(std::move(clock));
}

std::unique_ptr<SerialDevice> MakePlatformSerialDevice() {
  return MakeWin32SerialDevice({});
}

}  // namespace m32::serial
