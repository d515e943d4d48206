#include "iopanel/io_channels.h"

#include <cstdio>

namespace m32::iopanel {

std::array<uint8_t, 4> PackOutputBits(const ChannelStates& states) {
  uint32_t v = 0;
  for (int k = 0; k < kOutputs; ++k) {
    if (states[static_cast<std::size_t>(k)] != 0) v |= (1U << k);
  }
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

uint8_t InputBit(const std::array<uint8_t, 4>& input_bytes, int channel) {
  const int n = channel - kOutputs;
  if (n < 0 || n >= kOutputs) return 0;
  return static_cast<uint8_t>((input_bytes[static_cast<std::size_t>(n / 8)] >> (n % 8)) & 1U);
}

int VisibleChannels(int16_t ad_mode) {
  switch (ad_mode) {
    case 1:
      return 56;
    case 2:
      return 48;
    default:
      return kChannels;
  }
}

std::string FormatAdValue(int16_t ad_mode, const std::array<uint8_t, 4>& input_bytes) {
  char buf[16] = {};
  if (ad_mode == 1) {
    // Both forms fit the buffer (at most 7 characters), so nothing is cut.
    (void)std::snprintf(buf, sizeof buf, "   %3hu", static_cast<unsigned short>(input_bytes[3]));
  } else if (ad_mode == 2) {
    const auto v =
        static_cast<int16_t>(static_cast<uint16_t>(input_bytes[2] | (input_bytes[3] << 8)));
    (void)std::snprintf(buf, sizeof buf, " %+6d", static_cast<int>(v));
  }
  return buf;
}

BoxPos ChannelPosition(int channel) {
  return {(channel / 32) * 200 + 12, (channel % 32) * 14 + 16};
}

std::string ChannelCaption(int channel, std::string_view name) {
  const bool output = channel < kOutputs;
  std::string caption = (output ? "out" : "in") + std::to_string(channel % 32 + 1) + ": ";
  const std::size_t room = output ? 20 : kCaptionMax - caption.size();
  caption.append(name.substr(0, room));
  return caption;
}

}  // namespace m32::iopanel
