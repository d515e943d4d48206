#include "dialogs/port_settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace m32::dialogs {
namespace {

config::SettingsRecord Record() {
  config::SettingsRecord r;
  r.BaudDivisor = 12;
  r.DataBits = 8;
  r.Parity = 'E';
  r.StopBits = 1;
  return r;
}

TEST(ShowPortSettings, ShowsTheWorkingCopy) {
  auto wc = Record();
  wc.PortIndex = 63;
  wc.BaudDivisor = 0;  // never synchronised: becomes the default
  wc.DataBits = 7;
  wc.StopBits = 2;
  wc.Parity = 'e';  // only upper case names a list item
  const PortView v = ShowPortSettings(wc);
  EXPECT_EQ(v.com, "64");
  EXPECT_EQ(v.speed.divisor, "12");
  EXPECT_EQ(v.speed.speed, "9600");
  EXPECT_EQ(wc.BaudDivisor, 12u);
  EXPECT_EQ(v.data_bits_index, 2);
  EXPECT_EQ(v.stop_bits_index, 1);
  EXPECT_EQ(v.parity_index, 0);

  wc.DataBits = 0;
  wc.StopBits = 9;
  const PortView bad = ShowPortSettings(wc);
  EXPECT_EQ(bad.data_bits_index, -1);
  EXPECT_EQ(bad.stop_bits_index, -1);
}

TEST(PortCommit, ComField) {
  struct Case {
    const char* legend;
    const char* text;
    const char* shown;
    uint8_t port_index;
  } const cases[] = {
      {"zero becomes 1", "0", "1", 0},
      {"99 becomes 64", "99", "64", 63},
      {"no digits becomes 1", "x", "1", 0},
      {"digits then letters", "5a", "5", 4},
  };
  for (const auto& c : cases) {
    auto wc = Record();
    EXPECT_EQ(CommitCom(wc, c.text), c.shown) << c.legend;
    EXPECT_EQ(wc.PortIndex, c.port_index) << c.legend;
  }
}

TEST(PortCommit, SpeedFields) {
  struct Case {
    const char* legend;
    bool divisor_field;  // Ed_BR, else Ed_Bd
    const char* text;
    uint32_t divisor;
    const char* speed;
  } const cases[] = {
      {"divisor 7", true, "7", 7, "16457"},
      {"divisor above the range", true, "200000", 115200, "1"},
      {"divisor 0 becomes 1", true, "0", 1, "115200"},
      {"speed 50000 rounds up", false, "50000", 2, "57600"},
      {"speed without digits becomes 1 Bd", false, "abc", 115200, "1"},
      {"speed above the range", false, "999999", 1, "115200"},
      {"negative speed becomes 1 Bd", false, "-9600", 115200, "1"},
  };
  for (const auto& c : cases) {
    auto wc = Record();
    const SpeedView v = c.divisor_field ? CommitDivisor(wc, c.text) : CommitSpeed(wc, c.text);
    EXPECT_EQ(wc.BaudDivisor, c.divisor) << c.legend;
    EXPECT_EQ(v.divisor, std::to_string(c.divisor)) << c.legend;
    EXPECT_EQ(v.speed, c.speed) << c.legend;
  }
}

TEST(PortCommit, PresetList) {
  struct Case {
    const char* legend;
    int item;
    uint32_t divisor;
    const char* speed;
  } const cases[] = {
      {"first preset 150", 1, 768, "150"},
      {"last preset 115200", 11, 1, "115200"},
      {"heading item rewrites unchanged", 0, 3, "38400"},
      {"beyond the list rewrites unchanged", 12, 3, "38400"},
      {"no selection rewrites unchanged", -1, 3, "38400"},
  };
  for (const auto& c : cases) {
    auto wc = Record();
    wc.BaudDivisor = 3;
    const SpeedView v = CommitPreset(wc, c.item);
    EXPECT_EQ(wc.BaudDivisor, c.divisor) << c.legend;
    EXPECT_EQ(v.speed, c.speed) << c.legend;
  }
}

// The same index goes to all three lists; each list maps it on its own.
TEST(PortCommit, FormatLists) {
  struct Case {
    const char* legend;
    int index;
    uint8_t data_bits, stop_bits;
    char parity;
    int parity_shown;
  } const cases[] = {
      {"first items", 0, 5, 1, 'N', 0},
      {"second items", 1, 6, 2, 'O', 1},
      {"third items", 2, 7, 1, 'E', 2},  // stop bits 3 is out of range: 1
      {"fourth items", 3, 8, 1, 'M', 3},
      {"past every list", 4, 8, 1, 'N', 0},
      {"no selection", -1, 8, 1, 'N', 0},  // data bits 4 is out of range: 8
      {"largest index: no overflow when offset", std::numeric_limits<int>::max(), 8, 1, 'N', 0},
  };
  for (const auto& c : cases) {
    auto wc = Record();
    const int d = CommitDataBits(wc, c.index);
    const int s = CommitStopBits(wc, c.index);
    const int p = CommitParity(wc, c.index);
    EXPECT_EQ(wc.DataBits, c.data_bits) << c.legend;
    EXPECT_EQ(wc.StopBits, c.stop_bits) << c.legend;
    EXPECT_EQ(wc.Parity, c.parity) << c.legend;
    EXPECT_EQ(d, c.data_bits - 5) << c.legend;
    EXPECT_EQ(s, c.stop_bits - 1) << c.legend;
    EXPECT_EQ(p, c.parity_shown) << c.legend;
  }
}

}  // namespace
}  // namespace m32::dialogs
