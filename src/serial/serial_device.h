// The serial line as the link, the communication test and the lighting test
// need it: one small interface, free of any platform's types.
//
// Thread-safety contract:
//  - One thread at a time uses a device: Open, Configure, Close, Counts, Read,
//    Write, Purge, Modem and Wait are never called concurrently. The
//    owner of the port hands it from one thread to another only after the
//    first has left its Wait (see the link's pause at a safe point).
//  - Wake() may be called from any thread at any time, also while another
//    thread is inside Wait(); it makes the current or the next Wait return at
//    once with kWoken.
//  - Nothing here blocks longer than the time-out given to Wait().
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace m32::serial {

enum class Parity : uint8_t { kNone, kOdd, kEven, kMark };

struct LineSettings {
  uint32_t baud = 9600;   // any integer rate, e.g. 16457
  uint8_t data_bits = 8;  // 5..8
  Parity parity = Parity::kEven;
  uint8_t stop_bits = 1;  // 1 or 2
  bool dtr = false;       // DTR raised while open; RTS is always held off
};

// A line worth asking a device for: a rate, 5 to 8 data bits, 1 or 2 stop bits.
inline bool IsRequestable(const LineSettings& line) {
  return line.baud != 0 && line.data_bits >= 5 && line.data_bits <= 8 &&
         (line.stop_bits == 1 || line.stop_bits == 2);
}

// Whether a rate read back from a device is the one asked for, give or take 2 %.
inline bool RateWithin2Percent(uint32_t got, uint32_t wanted) {
  const uint64_t diff = got > wanted ? got - wanted : wanted - got;
  return diff * 100 <= uint64_t{wanted} * 2;
}

enum class OpenResult : uint8_t {
  kOk,
  kNotFound,  // no such device
  kBusy,      // another process (or this one) holds it
  kDenied,    // this user may not open it (Linux: not in the device's group, dialout)
  kFailed,    // any other failure
};

struct QueueCounts {
  uint32_t rx = 0;  // received bytes waiting to be read
  uint32_t tx = 0;  // bytes written but not yet sent on the line
};

struct ModemLines {
  bool ri = false;
  bool dcd = false;
  bool cts = false;
  bool dsr = false;
};

// Bits returned by Wait().
enum WaitEvents : unsigned {
  kTimeout = 0,
  // Bytes have arrived that the caller has not yet been told of (by Wait or
  // Counts); bytes left unread do not wake the next wait again.
  kRxChar = 0x0001,
  // The transmit queue ran empty; once per drain after bytes were written.
  kTxEmpty = 0x0004,
  kLineError = 0x0080,  // framing, parity, overrun or break since last looked
  kWoken = 0x0100,      // Wake() was called
  // The other end is gone (adapter unplugged); the device stays open. The
  // wait still sleeps its time-out (or until Wake), so a caller never spins.
  kHangup = 0x0200,
  kNotOpen = 0x0400,  // no device is open; the wait slept its time-out
};

// How long Close() lets the last bytes leave before it gives the port back
// (every device alike: the last frame carries the outputs' final state).
inline constexpr std::chrono::milliseconds kCloseDrainLimit{250};

// WaitFor(): received bytes alone never end the wait.
inline constexpr uint32_t kNoRxWake = UINT32_MAX;

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Opens the device exclusively and saves its line state for Close().
  virtual OpenResult Open(const std::string& path) = 0;
  virtual bool IsOpen() const = 0;
  // Sets the line. False when the system rejects the line state or it reads
  // back otherwise: another format, or the rate more than 2 % off (the device
  // stays open with whatever state the driver kept). A pseudo-terminal, which
  // keeps 8 data bits and no parity by its nature, has not rejected those.
  virtual bool Configure(const LineSettings& line) = 0;
  // Gives back the line state saved at Open, then closes. No effect if closed.
  virtual void Close() = 0;

  // Queue counts; also clears a pending line error. False when closed.
  virtual bool Counts(QueueCounts& out) = 0;
  // Reads up to buf.size() bytes that are already waiting; never blocks.
  virtual std::size_t Read(std::span<uint8_t> buf) = 0;
  // Queues bytes for sending; never blocks. Returns the count accepted.
  virtual std::size_t Write(std::span<const uint8_t> bytes) = 0;
  // Discards everything pending in both directions.
  virtual void Purge() = 0;
  // RI, DCD, CTS, DSR. False when the device has no modem lines ("no status").
  virtual bool Modem(ModemLines& out) = 0;

  // Waits until a byte is received, the transmit queue has run empty, a line
  // error occurs, Wake() is called or the time-out passes. Returns WaitEvents.
  virtual unsigned Wait(std::chrono::milliseconds timeout) = 0;
  // As Wait(), but received bytes end the wait only once at least `rx_bytes`
  // of them are waiting, so a frame coming in byte by byte wakes the caller
  // once. With more than one byte asked for, bytes already waiting count, even
  // those the caller was told of (so it returns at once when they are there);
  // with one, it is Wait(). kNoRxWake: received bytes do not end the wait at
  // all. The other events end it as in Wait(). A device may end the wait
  // earlier for a received byte (this default is plain Wait()); the caller
  // looks at the queue counts either way.
  virtual unsigned WaitFor(std::chrono::milliseconds timeout, uint32_t rx_bytes) {
    static_cast<void>(rx_bytes);
    return Wait(timeout);
  }
  // Ends the current or next Wait() at once. Any thread.
  virtual void Wake() = 0;
  // The open device's file descriptor where it has one (POSIX), else -1:
  // what a last-resort signal handler writes to.
  virtual int NativeDescriptor() const { return -1; }
};

// The platform's implementation (termios on POSIX).
std::unique_ptr<SerialDevice> MakePlatformSerialDevice();

}  // namespace m32::serial
