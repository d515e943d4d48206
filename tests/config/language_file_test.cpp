// The English language file shipped beside the executable.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>

#include "config/text_table.h"
#include "core/code_page.h"
#include "support/temp_dir.h"

namespace m32::config {
namespace {

using core::Cp1250ToUtf8;
using core::Utf8ToCp1250;

TEST(EnglishFile, TranslatesEveryText) {
  const std::string shipped = std::string(M32_SOURCE_DIR) + "/data/merkat32.MN1";
  const std::string bytes = test_support::ReadBytes(shipped);
  ASSERT_FALSE(bytes.empty()) << shipped;

  test_support::TempDir dir;
  test_support::WriteBytes(dir.File("merkat32.MN1"), bytes);
  ModulePath module;
  module.Derive(dir.File("merkat32.exe"));
  TextTable english;
  ASSERT_EQ(english.LoadTexts(module, 1), TextTable::LoadResult::kLoaded);

  // Written in the template layout, it is its own template.
  EXPECT_EQ(english.TemplateText(), bytes);
  EXPECT_EQ(english.Get(0, 0), "English");
  // Saved by an editor as UTF-8 with a byte-order mark, it reads the same,
  // and its template is still Windows-1250.
  test_support::WriteBytes(dir.File("merkat32.MN1"), "\xEF\xBB\xBF" + Cp1250ToUtf8(bytes));
  TextTable twin;
  ASSERT_EQ(twin.LoadTexts(module, 1), TextTable::LoadResult::kLoaded);
  EXPECT_EQ(twin.TemplateText(), bytes);

  const TextTable czech;
  for (int g = 0; g < TextTable::kGroups; ++g) {
    std::string keys;  // the accelerators of one menu or button row
    for (int k = 0; k < TextTable::kGroupSizes[static_cast<std::size_t>(g)]; ++k) {
      const std::string& text = english.Get(g, k);
      const bool czech_named = czech.Get(g, k) != "\"\"";
      EXPECT_EQ(!text.empty(), czech_named) << "group " << g << " entry " << k << ": " << text;
      EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(text)), text) << "group " << g << " entry " << k;
      if (g < 1 || g > 5) continue;
      // Menu items and dialog buttons: exactly one accelerator, on a letter,
      // and no two items of a menu on the same letter.
      const std::size_t amp = text.find('&');
      ASSERT_NE(amp, std::string::npos) << text;
      EXPECT_EQ(text.find('&', amp + 1), std::string::npos) << text;
      ASSERT_TRUE(amp + 1 < text.size() && std::isalpha(static_cast<unsigned char>(text[amp + 1])))
          << text;
      const char key = static_cast<char>(std::tolower(static_cast<unsigned char>(text[amp + 1])));
      if (g <= 4) {
        EXPECT_EQ(keys.find(key), std::string::npos) << "group " << g << ": " << text;
      }
      keys += key;
    }
  }
}

}  // namespace
}  // namespace m32::config
