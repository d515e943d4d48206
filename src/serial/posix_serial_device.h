// The termios implementation of SerialDevice, with the clock of its transmit
// model made replaceable for tests. Callers other than tests use
// MakePlatformSerialDevice().
#pragma once

#include <memory>

#include "serial/serial_device.h"
#include "serial/termios2_linux.h"
#include "serial/tx_model.h"

namespace m32::serial {

namespace detail {

using LineSetter = int (*)(int fd, const KernelLine& line);

// Sets `line` in two calls: raw mode on its own first, keeping the format the
// line has, then the format and rate. A driver that refuses the format (or
// the rate) thus still leaves a raw line, never a canonical, echoing one.
// False when either call fails. `set` is SetKernelLine but for tests.
bool SetRawLine(int fd, const LineSettings& line, LineSetter set = SetKernelLine);

// Whether the line state read back after setting `want` runs the line as
// asked: the rate within 2 %, and the data bits, parity (odd, even, mark),
// stop bits and flow control exactly. A driver that quietly drops a format
// fails this. A pseudo-terminal cannot store the data bits or the parity
// enable, so for one (`pseudo_terminal`, known from the device) those two are
// not compared; what it does store still is.
bool LineRunsAsAsked(const LineSettings& want, const KernelLine& back, bool pseudo_terminal);

// Whether `fd` is a pseudo-terminal, by its device number.
bool IsPseudoTerminal(int fd);

}  // namespace detail

// `set_line` is how the line state is handed to the driver (a test's stand-in
// for a driver with quirks).
std::unique_ptr<SerialDevice> MakePosixSerialDevice(
    TxClock clock, detail::LineSetter set_line = detail::SetKernelLine);

}  // namespace m32::serial
