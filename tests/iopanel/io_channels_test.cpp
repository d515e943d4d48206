#include "iopanel/io_channels.h"

#include <gtest/gtest.h>

namespace m32::iopanel {
namespace {

using Bytes = std::array<uint8_t, 4>;

TEST(IoChannels, PackOutputBits) {
  struct Case {
    const char* legend;
    std::vector<int> on;
    Bytes want;
  };
  const Case cases[] = {
      {"all off", {}, {0x00, 0x00, 0x00, 0x00}},
      {"out1, out10, out32: byte 0 bit 0, byte 1 bit 1, byte 3 bit 7",
       {0, 9, 31},
       {0x01, 0x02, 0x00, 0x80}},
      {"inputs never reach the output bytes", {32, 40, 63}, {0x00, 0x00, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    ChannelStates s{};
    for (int i : c.on) s[static_cast<std::size_t>(i)] = 1;
    EXPECT_EQ(PackOutputBits(s), c.want) << c.legend;
  }
  ChannelStates all{};
  all.fill(1);
  EXPECT_EQ(PackOutputBits(all), (Bytes{0xFF, 0xFF, 0xFF, 0xFF})) << "all on";
}

TEST(IoChannels, InputBitsFollowTheFrameLayout) {
  const Bytes in = {0x05, 0x00, 0x34, 0x80};  // in1, in3, in19, in21, in22, in32
  std::vector<int> on;
  for (int i = 32; i < 64; ++i) {
    if (InputBit(in, i) != 0) on.push_back(i - 31);
  }
  EXPECT_EQ(on, (std::vector<int>{1, 3, 19, 21, 22, 32}));
  EXPECT_EQ(InputBit(in, 5), 0) << "an output channel is never an input bit";
  EXPECT_EQ(InputBit(in, 64), 0) << "beyond the row";
}

// The A/D value takes the place of in25..in32 (mode 1) or in17..in32 (mode 2);
// any other mode shows every channel and no value.
TEST(IoChannels, AdModeDecidesTheValueShownAndTheChannelsLeft) {
  struct Case {
    const char* legend;
    int16_t mode;
    Bytes in;
    const char* text;
    int visible;
  };
  const Case cases[] = {
      {"mode 1, 255", 1, {0, 0, 0, 255}, "   255", 56},
      {"mode 1 ignores byte 2", 1, {0, 0, 0x99, 0}, "     0", 56},
      {"mode 2, 34 12 = +4660", 2, {0, 0, 0x34, 0x12}, "  +4660", 48},
      {"mode 2, FF FF = -1", 2, {0, 0, 0xFF, 0xFF}, "     -1", 48},
      {"mode 2, 00 00 = +0", 2, {0, 0, 0x00, 0x00}, "     +0", 48},
      {"mode 2, 00 80 = -32768", 2, {0, 0, 0x00, 0x80}, " -32768", 48},
      {"mode 0 shows nothing", 0, {1, 2, 3, 4}, "", 64},
      {"an unknown mode shows nothing", 7, {1, 2, 3, 4}, "", 64},
      {"a negative mode shows nothing", -1, {1, 2, 3, 4}, "", 64},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatAdValue(c.mode, c.in), c.text) << c.legend;
    EXPECT_EQ(VisibleChannels(c.mode), c.visible) << c.legend;
  }
}

TEST(IoChannels, CaptionsCutOutputNamesAt20AndNeverOverflow) {
  const std::string name30(30, 'x');
  const std::string name300(300, 'y');
  EXPECT_EQ(ChannelCaption(0, ""), "out1: ");
  EXPECT_EQ(ChannelCaption(32, ""), "in1: ");
  EXPECT_EQ(ChannelCaption(31, name30), "out32: " + std::string(20, 'x'));
  EXPECT_EQ(ChannelCaption(63, name30), "in32: " + name30) << "input names are shown whole";
  const std::string long_caption = ChannelCaption(63, name300);
  EXPECT_EQ(long_caption.size(), kCaptionMax) << "a 300-character input name is cut to fit";
  EXPECT_EQ(long_caption.substr(0, 6), "in32: ");
}

}  // namespace
}  // namespace m32::iopanel
