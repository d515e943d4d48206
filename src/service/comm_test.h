// The raw communication test: the send field's hexadecimal parser, the ring of
// the last 32 received bytes with its display line, and the refresh step that
// reads and writes the port. All of it runs on the user-interface thread; the
// window only shows the texts returned here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "serial/serial_device.h"

namespace m32::service {

inline constexpr std::size_t kSendFieldChars = 120;  // the parser sees this much of the field
inline constexpr std::size_t kSendMax = 32;          // bytes sent per write at most
inline constexpr std::size_t kRingSize = 32;         // received bytes shown
inline constexpr std::size_t kReceiveLineChars = 3 * kRingSize + 1;  // 97

// The bytes parsed from the send field.
struct SendBuffer {
  std::array<uint8_t, kSendMax> bytes{};
  uint16_t count = 0;
  std::span<const uint8_t> View() const { return {bytes.data(), count}; }
};

// Parses the first 120 characters of the send field. A pair starts at an ASCII
// letter or digit that is not the last character; it counts when up to two
// hexadecimal digits can be read from it ("0x"/"0X" is no number), and then
// always uses two characters, even when only one digit was read. Anything
// else is skipped one character at a time. At most 32 bytes.
SendBuffer ParseSendField(std::string_view text);

// The field rewritten: "%02X " per byte; with no bytes, the parsed text (the
// first 120 characters) unchanged.
std::string CanonicalSendText(const SendBuffer& buffer, std::string_view text);

// The last 32 received bytes, in slot order, and the slot the next byte
// overwrites (which holds the oldest byte).
class ReceiveRing {
 public:
  void Clear() { bytes_.fill(0); }
  void ResetPosition() { position_ = 0; }
  void Push(uint8_t b);
  void Push(std::span<const uint8_t> bytes);
  uint16_t Position() const { return position_; }
  const std::array<uint8_t, kRingSize>& Bytes() const { return bytes_; }
  // 32 cells " XX" with " ==" at the write position, then one blank: 97 characters.
  std::string Line() const;

 private:
  std::array<uint8_t, kRingSize> bytes_{};
  uint16_t position_ = 0;
};

// What the window shows after a step; empty members leave a control as it is.
struct CommView {
  std::optional<std::string> receive_line;  // REdit
  std::optional<std::string> send_text;     // WEdit, rewritten in canonical form
  // Received bytes still queued after the step's read (more were waiting
  // than a step reads).
  uint32_t unread = 0;
};

// The state of the test window and its refresh step.
class CommTest {
 public:
  // At each activation: the next parse rewrites the field; writing starts at slot 0.
  void Activate();
  // At the worker's start: the ring is cleared.
  void StartWorker() { ring_.Clear(); }

  // The send box was clicked or the send field left: the next parse rewrites
  // the field. With the send box unticked that parse happens now (the result
  // is returned); with it ticked the next refresh step does it.
  std::optional<std::string> SendBoxClick(bool send_ticked, std::string_view send_text);

  // One refresh step. With the port closed or its status unreadable, nothing
  // is read or written; the send field is still parsed while the send box is
  // ticked.
  CommView Step(serial::SerialDevice& port, bool send_ticked, bool receive_ticked,
                std::string_view send_text);

  const ReceiveRing& Ring() const { return ring_; }
  const SendBuffer& Send() const { return send_; }
  bool ReformatPending() const { return reformat_; }

 private:
  // Parses the field; returns the rewritten text when a rewrite was asked for.
  std::optional<std::string> SendPart(std::string_view send_text);

  ReceiveRing ring_;
  SendBuffer send_;
  bool reformat_ = true;
};

}  // namespace m32::service
