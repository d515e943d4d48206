// The Win32 implementation of SerialDevice (overlapped I/O on a COM device),
// with the clock of its transmit model made replaceable for tests. Callers
// other than tests use MakePlatformSerialDevice().
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "serial/serial_device.h"
#include "serial/tx_model.h"

namespace m32::serial {

std::unique_ptr<SerialDevice> MakeWin32SerialDevice(TxClock clock);

namespace detail {

// "COM12" and "com3" become "\\.\COM12" and "\\.\COM3" (the device namespace,
// which every COM number needs from COM10 on and which COM1..COM9 accept
// too); every other name is used as it is.
std::string Win32DeviceName(const std::string& path);

// The line state asked for, over the state the driver reported: no flow
// control of any kind, binary, DTR as the settings say, RTS held off. Every
// field not named here keeps the driver's value.
void ApplyLine(DCB& dcb, const LineSettings& line);

}  // namespace detail

}  // namespace m32::serial
