// The termios implementation of SerialDevice, with the clock of its transmit
// model made replaceable for tests. Callers other than tests use
// MakePlatformSerialDevice().
#pragma once

#include <memory>

#include "serial/serial_device.h"
#include "serial/tx_model.h"

namespace m32::serial {

std::unique_ptr<SerialDevice> MakePosixSerialDevice(TxClock clock);

}  // namespace m32::serial
