// The I/O panel's plain logic: 64 channels (0-31 outputs out1-out32, 32-63
// inputs in1-in32), their bit assignment in OutputBytes/InputBytes, the
// geometry of the boxes, the caption and A/D texts.
//
//   channel i < 32: OutputBytes byte i/8, bit i%8
//   channel i >= 32: InputBytes byte (i-32)/8, bit (i-32)%8
//   A/D mode 1: InputBytes byte 3 unsigned, in25-in32 hidden
//   A/D mode 2: InputBytes bytes 2 (low) and 3 (high) signed, in17-in32 hidden
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace m32::iopanel {

constexpr int kChannels = 64;
constexpr int kOutputs = 32;

using ChannelStates = std::array<uint8_t, kChannels>;

// Bit k of the result is ChannelStates[k] != 0 for k = 0..31, least
// significant byte first.
std::array<uint8_t, 4> PackOutputBits(const ChannelStates& states);
// The state of input channel i (32..63) in the input bytes.
uint8_t InputBit(const std::array<uint8_t, 4>& input_bytes, int channel);

// Channels 0..n-1 are visible: 56 in mode 1, 48 in mode 2, 64 otherwise.
int VisibleChannels(int16_t ad_mode);
// The A/D text for modes 1 and 2 ("   %3hu", " %+6d"); empty otherwise.
std::string FormatAdValue(int16_t ad_mode, const std::array<uint8_t, 4>& input_bytes);

struct BoxPos {
  int left;
  int top;
};
BoxPos ChannelPosition(int channel);

// The caption of channel i from its name (Windows-1250 bytes): "out%u: %.20s"
// for outputs, "in%u: %s" for inputs. Input names are cut so the caption
// stays within 255 characters.
std::string ChannelCaption(int channel, std::string_view name);
constexpr std::size_t kCaptionMax = 255;

}  // namespace m32::iopanel
