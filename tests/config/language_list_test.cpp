#include "config/language_list.h"

#include <gtest/gtest.h>

#include <string>

#include "config/temp_dir.h"

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
      {"empty file", "", std::nullopt},
      {"cut to 49", std::string(60, 'n') + "\n", std::string(49, 'n')},
      {"49 exactly", std::string(49, 'n'), std::string(49, 'n')},
  };
  for (const Case& c : cases) {
    testing::TempDir dir;
    testing::WriteBytes(dir.File("f"), c.content);
    EXPECT_EQ(ReadLanguageName(dir.File("f")), c.name) << c.legend;
  }
  testing::TempDir dir;
  EXPECT_EQ(ReadLanguageName(dir.File("missing")), std::nullopt);
  EXPECT_EQ(ReadLanguageName(dir.path().string()), std::nullopt) << "a folder is no file";
}

TEST(LanguageList, ProbesTheTenFilesInOrder) {
  testing::TempDir dir;
  testing::WriteBytes(dir.File("m.MN7"), "Seven\n");
  testing::WriteBytes(dir.File("m.MNU"), "Default\n");
  testing::WriteBytes(dir.File("m.MN2"), "\n\n");  // only white space: not listed
  testing::WriteBytes(dir.File("m.MN9"), "Nine\n");
  testing::WriteBytes(dir.File("m.MN0"), "Zero is MNU\n");  // never probed
  ModulePath module;
  module.Derive(dir.File("m.exe"));
  const std::vector<LanguageChoice> found = ProbeLanguages(module);
  ASSERT_EQ(found.size(), 3U);
  EXPECT_EQ(found[0].number, 0);
  EXPECT_EQ(found[0].name, "Default");
  EXPECT_EQ(found[1].number, 7);
  EXPECT_EQ(found[2].number, 9);
  EXPECT_EQ(found[2].name, "Nine");
  EXPECT_EQ(LanguageExtension(0), "MNU");
  EXPECT_EQ(LanguageExtension(5), "MN5");
}

}  // namespace
}  // namespace m32::config
