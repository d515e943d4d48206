// The last safety net for the outputs: should the process die of a fault
// (SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGQUIT) or end
// through exit() (a library giving up, the display's connection lost) while a
// port is open, one LinkFrame with every output off is put on the line, and
// the line gets back the state it had before the tool opened it; then the
// signal takes its default course (core dump, exit status) or the exit goes
// on.
//
// The switch-off uses async-signal-safe calls only: the descriptors, the frame
// and the line state to give back are prepared in advance and published
// through atomics as the port opens and closes. It first puts /dev/null over
// the port's own descriptor, so that nothing another thread writes afterwards
// reaches the line, and writes through a duplicate taken when the port was
// armed. What was queued for sending is discarded first, so the frame is not
// held up behind stale frames; a half-sent frame before it is dropped by the
// board's resynchronisation.
//
// Nothing covers SIGKILL, _exit() or a power loss.
//
// Thread-safety: Arm and Disarm from the thread that opens and closes the
// port; Install once, at start-up, on the main thread; PrepareThread on any
// thread, for itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "link/frame_bytes.h"

namespace m32::link::emergency {

// The frame sent: every output off, checksum and end mark included.
inline constexpr std::array<uint8_t, 8> kAllOffFrame{0xA2, 0x6B, 0x00, 0x00,
                                                     0x00, 0x00, 0xF5, 0xFE};
static_assert(kAllOffFrame[6] == Checksum(kAllOffFrame, 6) && kAllOffFrame.front() == kSyncByte &&
              kAllOffFrame.back() == kEndMark);

// What is written after a purge, which may have cut a frame short: seven
// bytes that cannot end a frame (0x00), so that the board completes the cut
// frame with them, drops it and skips the rest, and only then the all-off
// frame. Without them the cut frame would swallow the all-off frame's first
// bytes and the board would drop it too.
inline constexpr std::size_t kCutFill = 7;
inline constexpr std::array<uint8_t, kCutFill + 8> kAllOffAfterPurge = [] {
  std::array<uint8_t, kCutFill + 8> bytes{};
  for (std::size_t i = 0; i < kAllOffFrame.size(); ++i) bytes[kCutFill + i] = kAllOffFrame[i];
  return bytes;
}();

// Installs the handlers of the fatal signals, an alternate signal stack for
// the calling thread (a stack overflow still gets its frame) and the switch-off
// at exit(). False where the platform has none.
bool Install();

// Gives the calling thread an alternate signal stack of its own, so that a
// stack overflow on it still gets the frame; freed when the thread ends.
void PrepareThread();

// The port with descriptor `fd` has just been opened, its line not yet
// changed: remembers it with its line state. False for -1 (a device without a
// descriptor) or a descriptor that is not a terminal.
bool Arm(int fd);

// The port is about to be closed: forget the descriptor.
void Disarm();

// The switch-off itself: while a port is armed and nothing has switched it
// off yet, silences the port's descriptor, writes the all-off frame, waits for
// it to leave and gives the line back its state. Async-signal-safe.
void SwitchOff();

}  // namespace m32::link::emergency
