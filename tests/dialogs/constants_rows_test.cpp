#include "dialogs/constants_rows.h"

#include <gtest/gtest.h>

#include <string>

namespace m32::dialogs {
namespace {

TEST(ConstantLabel, FormatsRowAndAtMostFortyCharacters) {
  const std::string fifty(50, 'a');
  struct Case {
    const char* legend;
    unsigned row;
    std::string entry;
    std::string label;
  } const cases[] = {
      {"long entry is cut to 40", 1, fifty, "[1]  " + std::string(40, 'a')},
      {"NUL ends the entry", 2, std::string("ab\0cd", 5), "[2]  ab"},
  };
  for (const auto& c : cases) EXPECT_EQ(ConstantLabel(c.row, c.entry), c.label) << c.legend;
}

TEST(CommitConstant, StoresTheScannedNumberAndShowsIt) {
  struct Case {
    const char* legend;
    int row;
    const char* text;
    int16_t stored;
    const char* shown;
  } const cases[] = {
      {"plain", 0, "300", 300, "300"},  // limited only on O. K.
      {"negative kept as typed", 1, "-12", -12, "-12"},
      {"letters only", 4, "abc", 0, "0"},
      {"above 16 bits saturates, last row", 20, "40000", 32767, "32767"},
      {"below 16 bits saturates", 8, "-99999", -32768, "-32768"},
  };
  for (const auto& c : cases) {
    config::SettingsRecord wc;
    wc.Constants.fill(5);
    const auto shown = CommitConstant(wc, c.row, c.text);
    ASSERT_TRUE(shown.has_value()) << c.legend;
    EXPECT_EQ(*shown, c.shown) << c.legend;
    EXPECT_EQ(wc.Constants[static_cast<std::size_t>(c.row)], c.stored) << c.legend;
    // The field shows what is stored: reading the shown text back stores the same.
    config::SettingsRecord again;
    CommitConstant(again, c.row, *shown);
    EXPECT_EQ(again.Constants[static_cast<std::size_t>(c.row)], c.stored) << c.legend;
    for (int other = 0; other < kConstantRows; ++other) {
      if (other != c.row) {
        EXPECT_EQ(wc.Constants[static_cast<std::size_t>(other)], 5) << c.legend;
      }
    }
  }
}

TEST(CommitConstant, RowOutsideTheTableChangesNothing) {
  config::SettingsRecord wc;
  const auto before = wc;
  EXPECT_FALSE(CommitConstant(wc, 21, "9").has_value());
  EXPECT_FALSE(CommitConstant(wc, -1, "9").has_value());
  EXPECT_EQ(wc, before);
}

}  // namespace
}  // namespace m32::dialogs
