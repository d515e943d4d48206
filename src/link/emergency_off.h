// The last safety net for the outputs: should the process die of a fatal
// signal (SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL) while a port is open, one
// LinkFrame with every output off is put on the line before the signal takes
// its default course (core dump, exit status).
//
// The handler uses async-signal-safe calls only: the descriptor, the frame and
// the line state to give back are prepared in advance and published through
// atomics as the port opens and closes. A half-sent frame before it is fine:
// the board's resynchronisation drops it.
//
// Nothing covers SIGKILL or a power loss.
//
// Thread-safety: Arm and Disarm from the thread that opens and closes the
// port; Install once, at start-up.
#pragma once

#include <array>
#include <cstdint>

#include "link/frame_bytes.h"

namespace m32::link::emergency {

// The frame sent: every output off, checksum and end mark included.
inline constexpr std::array<uint8_t, 8> kAllOffFrame{0xA2, 0x6B, 0x00, 0x00,
                                                     0x00, 0x00, 0xF5, 0xFE};
static_assert(kAllOffFrame[6] == Checksum(kAllOffFrame, 6) && kAllOffFrame.front() == kSyncByte &&
              kAllOffFrame.back() == kEndMark);

// Installs the handlers of the fatal signals. False where the platform has none.
bool Install();

// The port with descriptor `fd` has just been opened, its line not yet
// changed: remembers it with its line state. False for -1 (a device without a
// descriptor) or a descriptor that is not a terminal.
bool Arm(int fd);

// The port is about to be closed: forget the descriptor.
void Disarm();

// The descriptor armed now, or -1.
int ArmedDescriptor();

}  // namespace m32::link::emergency
