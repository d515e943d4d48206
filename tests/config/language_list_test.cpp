#include "config/language_list.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace m32::config {
namespace {

TEST(LanguageList, NameIsTheFirstNonBlankLine) {
  struct Case {
    const char* legend;
    std::string content;
    std::optional<std::string> name;
  } cases[] = {
      {"template", "\r\nEnglish\r\nLanguage\r\n", "English"},
      {"blank lines and indent before", "\n  \t\r\n \t Deutsch \r\nx\n", "Deutsch "},
      {"no line end", "Polski", "Polski"},
      {"lone CR stays", "a\rb\n", "a\rb"},
      {"only white space", " \r\n\t\n\n", std::nullopt},
      {"cut to 49", std::string(60, 'n') + "\n", std::string(49, 'n')},
      {"UTF-8 after its byte-order mark, in Windows-1250", "\xEF\xBB\xBF\r\n\xC4\x8C\xC5\xA1\r\n",
       "\xC8\x9A"},
  };
  for (const Case& c : cases) {
    test_support::TempDir dir;
    test_support::WriteBytes(dir.File("f"), c.content);
    EXPECT_EQ(ReadLanguageName(dir.File("f")), c.name) << c.legend;
  }
  test_support::TempDir dir;
  EXPECT_EQ(ReadLanguageName(dir.File("missing")), std::nullopt);
  EXPECT_EQ(ReadLanguageName(dir.path().string()), std::nullopt) << "a folder is no file";
}

}  // namespace
}  // namespace m32::config
