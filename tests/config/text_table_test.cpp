#include "config/text_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/code_page.h"
#include "support/temp_dir.h"

namespace m32::config {
namespace {

using core::Cp1250ToUtf8;
using core::Utf8ToCp1250;
using test_support::ReadBytes;
using test_support::TempDir;
using test_support::WriteBytes;
using namespace std::string_literals;

constexpr int kTotal = TextTable::kEntries;

std::vector<std::string> AllTexts(const TextTable& t) {
  std::vector<std::string> texts;
  for (int g = 0; g < TextTable::kGroups; ++g) {
    for (int k = 0; k < TextTable::kGroupSizes[static_cast<std::size_t>(g)]; ++k) {
      texts.push_back(t.Get(g, k));
    }
  }
  return texts;
}

// Texts "t0" .. "t130", one per line, LF line ends.
std::string NumberedTexts(int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += "t" + std::to_string(i) + "\n";
  return s;
}

class TextFiles : public ::testing::Test {
 protected:
  TextFiles() { module_.Derive(dir_.File("merkat32.exe")); }
  std::string Name(const char* ext) const { return dir_.File(std::string("merkat32.") + ext); }
  // Loads `content` as the MNU file into a fresh table.
  TextTable LoadFromMnu(const std::string& content) {
    WriteBytes(Name("MNU"), content);
    TextTable t;
    EXPECT_EQ(t.LoadTexts(module_, 0), TextTable::LoadResult::kLoaded);
    return t;
  }

  TempDir dir_;
  ModulePath module_;
};

// The built-in texts are Windows-1250 bytes; unnamed entries hold the empty
// marker until a file is read; outside the table every text is empty.
TEST(TextTable, DefaultsAndBounds) {
  const TextTable t;
  EXPECT_EQ(t.Get(0, 0),
            "\xC8"
            "e\x9Atina");
  EXPECT_EQ(t.Utf8(0, 0), "Čeština");
  EXPECT_EQ(t.Get(8, 63), "\"\"");
  for (const std::string& text : AllTexts(t)) EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(text)), text);
  const std::pair<int, int> outside[] = {{-1, 0}, {13, 0}, {0, 2}, {8, 64}, {12, -1}};
  for (const auto& [g, k] : outside) EXPECT_EQ(t.Get(g, k), "") << g << "/" << k;
}

TEST_F(TextFiles, MissingDefaultFileGetsTheTemplate) {
  TextTable t;
  EXPECT_EQ(t.LoadTexts(module_, 0), TextTable::LoadResult::kTemplateWritten);
  EXPECT_EQ(ReadBytes(Name("MNU")), TextTable().TemplateText());
  EXPECT_EQ(AllTexts(t), AllTexts(TextTable())) << "the built-in texts stay";
  EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"merkat32.MNU"});

  // The next start reads the template: unnamed entries become empty texts.
  TextTable next;
  EXPECT_EQ(next.LoadTexts(module_, 0), TextTable::LoadResult::kLoaded);
  std::vector<std::string> expected = AllTexts(TextTable());
  std::replace(expected.begin(), expected.end(), "\"\""s, ""s);
  EXPECT_EQ(AllTexts(next), expected);
}

TEST_F(TextFiles, LineRules) {
  struct Case {
    const char* legend;
    std::string first_lines;  // followed by "rest" lines
    std::string expected;     // group 0 entry 0
  } cases[] = {
      {"marker with trailing characters", "\"\"ignored here\r\n", ""},
      {"blank before the quotes keeps the line", " \"\"x\n", " \"\"x"},
      {"leading tab and trailing blanks are kept", "\tName  \r\n", "\tName  "},
      {"CR only before LF is dropped", "a\rb\r\n", "a\rb"},
      {"a text ends at a zero character", "ab\0cd\n"s, "ab"},
      {"lines of blanks, tabs and zeros are skipped", "\n\r\n \t\n\0\t\nFirst\n"s, "First"},
      {"one quote is text", "\"x\n", "\"x"},
      {"UTF-8 after its byte-order mark", "\xEF\xBB\xBF\xC4\x8C\xC5\xA1\r\n", "\xC8\x9A"},
      {"Windows-1250 bytes that only begin like the mark", "\xEF\xBB\xC8\n", "\xEF\xBB\xC8"},
  };
  for (const Case& c : cases) {
    const TextTable t = LoadFromMnu(c.first_lines + "second\n");
    EXPECT_EQ(t.Get(0, 0), c.expected) << c.legend;
    EXPECT_EQ(t.Get(0, 1), "second") << c.legend;
  }
}

// The texts fill the entries in order; a file with fewer leaves the rest
// empty, a file with more has the rest ignored.
TEST_F(TextFiles, TextsFillTheEntriesInOrder) {
  struct Case {
    const char* legend;
    std::string content;
    int texts;
  } const cases[] = {
      {"three texts, no line end after the last", "t0\r\nt1\r\nt2", 3},
      {"empty file", "", 0},
      {"more texts than entries", NumberedTexts(kTotal + 20), kTotal},
  };
  for (const Case& c : cases) {
    std::vector<std::string> expected(kTotal);
    for (int i = 0; i < c.texts; ++i)
      expected[static_cast<std::size_t>(i)] = "t" + std::to_string(i);
    EXPECT_EQ(AllTexts(LoadFromMnu(c.content)), expected) << c.legend;
  }
}

TEST_F(TextFiles, OnlyTheFirst32767CharactersCount) {
  // 32,763 characters, an LF and "abc" fill the limit exactly; "def" lies
  // beyond it. In UTF-8 the limit counts characters, not bytes.
  const struct {
    const char* legend;
    std::string mark, character, stored;
  } cases[] = {{"Windows-1250", "", "x", "x"}, {"UTF-8", "\xEF\xBB\xBF", "\xC4\x8D", "\xE8"}};
  for (const auto& c : cases) {
    std::string first;
    for (int i = 0; i < 32763; ++i) first += c.character;
    const TextTable t = LoadFromMnu(c.mark + first + "\nabc" + "def\nlast\n");
    EXPECT_EQ(t.Get(0, 0).size(), 32763U) << c.legend;
    EXPECT_EQ(t.Get(0, 0).find_first_not_of(c.stored), std::string::npos) << c.legend;
    EXPECT_EQ(t.Get(0, 1), "abc") << c.legend;
    EXPECT_EQ(t.Get(1, 0), "") << c.legend;
  }
}

TEST_F(TextFiles, ChosenLanguageFallsBackToTheDefaultFile) {
  WriteBytes(Name("MNU"), "Default\n");
  WriteBytes(Name("MN2"), "Second\n");
  std::filesystem::create_directory(Name("MN4"));
  const std::pair<uint8_t, const char*> cases[] = {
      {2, "Second"}, {3, "Default"} /* MN3 is missing */, {4, "Default"} /* MN4 a folder */};
  TextTable t;
  for (const auto& [language, first] : cases) {
    EXPECT_EQ(t.LoadTexts(module_, language), TextTable::LoadResult::kLoaded) << int(language);
    EXPECT_EQ(t.Get(0, 0), first) << "language " << int(language);
  }
}

// When the chosen file and MNU are gone, MNU is written from the texts in use:
// empty and blank texts as the empty marker, so that every later text reads
// back into its own entry.
TEST_F(TextFiles, NoFileReadableWritesTheTextsInUseAsTheTemplate) {
  // Entry 0/1 is empty; 1/0 holds a CR that is no line end, so it is a text,
  // and cut at its zero byte only a tab is left.
  WriteBytes(Name("MN1"), "A\n\"\"\n\t\0\r \nB\n"s + NumberedTexts(kTotal));
  TextTable t;
  ASSERT_EQ(t.LoadTexts(module_, 1), TextTable::LoadResult::kLoaded);
  ASSERT_EQ(t.Get(1, 0), "\t");
  const std::vector<std::string> before = AllTexts(t);
  std::filesystem::remove(Name("MN1"));

  EXPECT_EQ(t.LoadTexts(module_, 1), TextTable::LoadResult::kTemplateWritten);
  EXPECT_EQ(AllTexts(t), before);
  EXPECT_EQ(ReadBytes(Name("MNU")), t.TemplateText());
  EXPECT_EQ(ReadBytes(Name("MNU")).rfind("\r\nA\r\n\"\"\r\n", 0), 0U);
  TextTable reread;
  ASSERT_EQ(reread.LoadTexts(module_, 0), TextTable::LoadResult::kLoaded);
  std::vector<std::string> expected = before;
  expected[2] = "";  // the tab
  EXPECT_EQ(AllTexts(reread), expected);
}

// Neither a language file nor the template can be had: the built-in texts
// stay and nothing in the folder is replaced or added.
TEST_F(TextFiles, NoFileAndNoTemplateChangesNothing) {
  struct Case {
    const char* legend;
    std::string exe;
  } const cases[] = {
      {"MNU is a folder: unreadable, never overwritten", "merkat32.exe"},
      {"the tool's folder has vanished", "missing/merkat32.exe"},
  };
  std::filesystem::create_directory(Name("MNU"));
  WriteBytes(dir_.File("merkat32.MNU/inside"), "keep");
  for (const Case& c : cases) {
    ModulePath module;
    module.Derive(dir_.File(c.exe));
    TextTable t;
    EXPECT_EQ(t.LoadTexts(module, 5), TextTable::LoadResult::kUnchanged) << c.legend;
    EXPECT_EQ(AllTexts(t), AllTexts(TextTable())) << c.legend;
    EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"merkat32.MNU"}) << c.legend;
    EXPECT_EQ(ReadBytes(dir_.File("merkat32.MNU/inside")), "keep") << c.legend;
  }
}

}  // namespace
}  // namespace m32::config
