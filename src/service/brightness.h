// The lighting test's frames and texts: the 13-byte BrightnessFrame sent to the
// controller, the 6-byte BrightnessReply it answers with and the state machine
// that finds replies in the received bytes, the level field's parse and the
// captions of a channel.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/shared_status.h"
#include "link/frame_bytes.h"
#include "serial/serial_device.h"

namespace m32::service {

inline constexpr int kChannels = 8;
inline constexpr std::size_t kFrameSize = 13;
inline constexpr std::size_t kReplySize = 6;
inline constexpr uint8_t kFrameType = 0x68;
inline constexpr uint8_t kFullLevel = 255;
// LightingSendCountdown in units of about 50 ms.
inline constexpr uint16_t kSendAfterChange = 20;
inline constexpr uint16_t kSendAfterStart = 50;

using Levels = std::array<uint8_t, kChannels>;
using BrightnessFrame = std::array<uint8_t, kFrameSize>;
using ReplyBytes = std::array<uint8_t, kReplySize>;

// A2 68, the eight levels, the address, the checksum (all 13 bytes sum to 0
// modulo 256) and FE.
BrightnessFrame BuildBrightnessFrame(const Levels& levels, uint8_t address);

// Byte 5 is FE and the six bytes sum to 0 modulo 256.
bool ReplyValid(const ReplyBytes& reply);

// Where the reply parser takes its bytes from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to buf.size() bytes that are waiting; returns how many were read.
  virtual std::size_t Read(std::span<uint8_t> buf) = 0;
};

// The serial device as a byte source.
class SerialByteSource final : public ByteSource {
 public:
  explicit SerialByteSource(serial::SerialDevice& port) : port_(port) {}
  std::size_t Read(std::span<uint8_t> buf) override { return port_.Read(buf); }

 private:
  serial::SerialDevice& port_;
};

// Bytes from memory (tests, fuzzing).
class SpanByteSource final : public ByteSource {
 public:
  explicit SpanByteSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  std::size_t Read(std::span<uint8_t> buf) override;
  std::size_t Left() const { return bytes_.size(); }

 private:
  std::span<const uint8_t> bytes_;
};

// Finds BrightnessReplies in the received bytes, one pass per refresh step:
//   state 0: reads 1 byte; anything but A2 is dropped and the pass ends, so a
//            stray byte costs one step;
//   state 1: reads 1 byte; anything but 68 starts the search again;
//   state 2: waits until 4 bytes are waiting, then reads them and ends the reply.
class BrightnessReplyParser {
 public:
  enum class Outcome { kNone, kValid, kInvalid };

  void Reset() { state_ = 0; }
  // One pass over `waiting` bytes that the source reports as waiting.
  Outcome Pass(ByteSource& source, uint32_t waiting);
  int State() const { return state_; }
  const ReplyBytes& Reply() const { return reply_; }

 private:
  int state_ = 0;
  ReplyBytes reply_{};
};

// The level typed into a channel's field: the first 31 characters read like a
// "%d" scan, limited to 0..255 (text without digits gives 0).
uint8_t ParseLevel(std::string_view text);
// The level in decimal, as the field shows it.
std::string LevelText(uint8_t level);
// The channel label "%02X hex      %3u%%" with the level and level * 100 / 255.
std::string LevelLabel(uint8_t level);
// The channel button: ">>" at level 0, "<<" otherwise.
std::string_view ButtonCaption(uint8_t level);
// The level the button sets: 255 from 0, 0 from any other level.
uint8_t ToggledLevel(uint8_t level);
// The channel's group caption " %s &%1u : " (word, channel 1..8).
std::string GroupCaption(std::string_view word, unsigned channel);

// Accepting a change of channel `channel` (0..7) to `level`: ignored while an
// earlier change waits to be sent (OutputsChanged set) or for a channel beyond
// the row. Otherwise stores the level, sets LightingSendCountdown to 20 and
// OutputsChanged; returns true, and the window redraws the channel.
bool AcceptLevelChange(Levels& levels, SharedStatus& status, int channel, uint8_t level);

}  // namespace m32::service
