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
  r.PortIndex = 0;
  r.DataBits = 8;
  r.Parity = 'E';
  r.StopBits = 1;
  return r;
}

TEST(SyncSpeed, KeepsDivisorAndSpeedConsistent) {
  struct Case {
    const char* legend;
    uint32_t divisor, speed, want_divisor, want_speed;
  } const cases[] = {
      {"divisor wins over speed", 12, 50, 12, 9600},
      {"divisor 7 gives 16457", 7, 0, 7, 16457},
      {"divisor 1 is the base rate", 1, 0, 1, 115200},
      {"largest divisor gives 1 Bd", 115200, 0, 115200, 1},
      {"9600 exactly", 0, 9600, 12, 9600},
      {"50000 rounds up to 57600", 0, 50000, 2, 57600},
      {"80000 rounds up to 115200", 0, 80000, 1, 115200},
      {"100 Bd", 0, 100, 1152, 100},
      {"1 Bd", 0, 1, 115200, 1},
      {"neither set: the default", 0, 0, 12, 9600},
      {"speed above the base does not divide by zero", 0, 200000, 1, 115200},
  };
  for (const auto& c : cases) {
    uint32_t d = c.divisor;
    uint32_t s = c.speed;
    SyncSpeed(d, s);
    EXPECT_EQ(d, c.want_divisor) << c.legend;
    EXPECT_EQ(s, c.want_speed) << c.legend;
  }
}

TEST(PortLists, ItemTexts) {
  const auto items = SpeedListItems(
      "P\xF8"
      "edvolby");
  ASSERT_EQ(items.size(), 12u);  // the open list shows every item
  EXPECT_EQ(items[0],
            " P\xF8"
            "edvolby:");
  EXPECT_EQ(items[1], "   150 Bd");
  EXPECT_EQ(items[2], "   300 Bd");
  EXPECT_EQ(items[3], "  1200 Bd");  // no 600 between
  EXPECT_EQ(items[6], "  9600 Bd");
  EXPECT_EQ(items[11], "115200 Bd");
  EXPECT_EQ(BoxCaption("Port"), " Port: ");
  EXPECT_EQ(DataBitsItems(), (std::vector<std::string>{"5", "6", "7", "8"}));
  EXPECT_EQ(StopBitsItems(), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(ParityItems(), (std::vector<std::string>{"None", "Odd", "Even", "Mark"}));
}

TEST(PortLists, ParityIndexRules) {
  struct Case {
    const char* legend;
    char parity;
    int index;
  } const cases[] = {
      {"none", 'N', 0},
      {"odd", 'O', 1},
      {"even", 'E', 2},
      {"mark", 'M', 3},
      {"lower case matches nothing", 'e', 0},
      {"space parity is not offered", 'S', 0},
      {"zero byte", '\0', 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ParityIndex(c.parity), c.index) << c.legend;
  EXPECT_EQ(ParityFromIndex(3), 'M');
  EXPECT_EQ(ParityFromIndex(4), 'N');
  EXPECT_EQ(ParityFromIndex(-1), 'N');
}

TEST(ShowPortSettings, ShowsTheWorkingCopy) {
  auto wc = Record();
  wc.PortIndex = 63;
  wc.BaudDivisor = 0;  // never synchronised: becomes the default
  wc.DataBits = 7;
  wc.StopBits = 2;
  wc.Parity = 'Q';
  const PortView v = ShowPortSettings(wc);
  EXPECT_EQ(v.com, "64");
  EXPECT_EQ(v.speed.divisor, "12");
  EXPECT_EQ(v.speed.speed, "9600");
  EXPECT_EQ(wc.BaudDivisor, 12u);
  EXPECT_EQ(v.preset_index, 0);
  EXPECT_EQ(v.data_bits_index, 2);
  EXPECT_EQ(v.stop_bits_index, 1);
  EXPECT_EQ(v.parity_index, 0);  // an unknown parity shows "None"

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
      {"COM1", "1", "1", 0},
      {"zero becomes 1", "0", "1", 0},
      {"negative becomes 1", "-3", "1", 0},
      {"99 becomes 64", "99", "64", 63},
      {"huge number becomes 64", "99999999999", "64", 63},
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
      {"divisor without digits becomes 1", true, "", 1, "115200"},
      {"speed 9600", false, "9600", 12, "9600"},
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
      {"9600", 6, 12, "9600"},
      {"28800", 8, 4, "28800"},
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

TEST(PortCommit, FormatLists) {
  struct Case {
    const char* legend;
    int index;
    uint8_t data_bits, stop_bits;
    char parity;
  } const cases[] = {
      {"first items", 0, 5, 1, 'N'},
      {"second items", 1, 6, 2, 'O'},
      {"third items", 2, 7, 1, 'E'},  // stop bits 3 is out of range: 1
      {"fourth items", 3, 8, 1, 'M'},
      {"past every list", 4, 8, 1, 'N'},
      {"no selection", -1, 8, 1, 'N'},  // data bits 4 is out of range: 8
      {"largest index: no overflow when offset", std::numeric_limits<int>::max(), 8, 1, 'N'},
      {"smallest index", std::numeric_limits<int>::min(), 8, 1, 'N'},
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
    EXPECT_EQ(p, ParityIndex(c.parity)) << c.legend;
  }
}

TEST(PortCommit, TouchesOnlyItsOwnField) {
  auto wc = Record();
  wc.Constants[0] = 7;
  wc.Brightness[3] = 99;
  auto before = wc;
  CommitCom(wc, "3");
  before.PortIndex = 2;
  EXPECT_EQ(wc, before);
  CommitSpeed(wc, "1200");
  before.BaudDivisor = 96;
  EXPECT_EQ(wc, before);
}

}  // namespace
}  // namespace m32::dialogs
