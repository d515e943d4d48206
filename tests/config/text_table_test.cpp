#include "config/text_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "config/temp_dir.h"

namespace m32::config {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

constexpr int kTotal = TextTable::kEntries;

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "text must end with CR LF and hold no bare line ends";
  return lines;
}

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

TEST(TextTable, DefaultsAreWindows1250) {
  const TextTable t;
  EXPECT_EQ(t.Get(0, 0),
            "\xC8"
            "e\x9Atina");
  EXPECT_EQ(t.Utf8(0, 0), "Čeština");
  EXPECT_EQ(t.Utf8(1, 0), "&Nastavení parametrů");
  EXPECT_EQ(t.Utf8(3, 1), "Test &osvětlení");
  EXPECT_EQ(t.Utf8(5, 1), "&O. K.");
  EXPECT_EQ(t.Utf8(6, 5), "1 = ext. tlačítka <DTR>");
  EXPECT_EQ(t.Utf8(7, 0), "Konfigurace sériového portu");
  EXPECT_EQ(t.Utf8(11, 1), "Soubor nápovědy nelze otevřít. Zobrazit podrobnosti?");
  EXPECT_EQ(t.Utf8(12, 0), "O programu");
  EXPECT_EQ(t.Get(6, 2), "\"\"") << "unnamed entries show the empty marker until a file is read";
  EXPECT_EQ(t.Get(8, 63), "\"\"");
  EXPECT_EQ(t.TitleText().rfind(" M e r k a t - 3 2  verze 1.10  ", 0), 0U);
  EXPECT_EQ(TextTable::EmptyText(), "");
  // Every default converts back and forth without loss.
  for (const std::string& text : AllTexts(t)) EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(text)), text);
}

TEST(TextTable, OutsideTheTableIsEmpty) {
  const TextTable t;
  EXPECT_EQ(t.Get(-1, 0), "");
  EXPECT_EQ(t.Get(13, 0), "");
  EXPECT_EQ(t.Get(0, 2), "");
  EXPECT_EQ(t.Get(8, 64), "");
  EXPECT_EQ(t.Get(12, -1), "");
}

TEST(TextTable, TemplateLayout) {
  const TextTable t;
  const std::vector<std::string> lines = SplitCrLf(t.TemplateText());
  ASSERT_EQ(lines.size(), 152U);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1],
            "\xC8"
            "e\x9Atina");
  EXPECT_EQ(lines[2], "Jazyk");
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(lines[4], "&Nastaven\xED parametr\xF9");
  // Group 8 starts after 13 + 4 + ... lines: find its leading empty line by the text before it.
  const auto before = std::find(lines.begin(), lines.end(), "nelze nastavit");
  ASSERT_NE(before, lines.end());
  auto it = before + 1;
  EXPECT_EQ(*it++, "") << "empty line before group 8";
  for (int block = 0; block < 8; ++block) {
    for (int k = 0; k < 8; ++k) EXPECT_EQ(*it++, "\"\"") << "block " << block << " entry " << k;
    EXPECT_EQ(*it++, "") << "empty line after block " << block;
  }
  EXPECT_EQ(*it++, "") << "empty line before group 9";
  EXPECT_EQ(*it, "Test komunikace");
  EXPECT_EQ(lines.back(), "O programu");
  int empty = 0;
  for (const std::string& l : lines) empty += l.empty() ? 1 : 0;
  EXPECT_EQ(empty, 13 + 8);
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
  EXPECT_EQ(next.Utf8(3, 1), "Test &osvětlení");
  EXPECT_EQ(next.Get(8, 0), "");
  EXPECT_EQ(next.Get(6, 1), "adresa regul\xE1toru");
}

TEST_F(TextFiles, TemplateWithoutEmptyLinesLoadsTheSame) {
  const TextTable defaults;
  std::string compact;
  for (const std::string& l : SplitCrLf(defaults.TemplateText())) {
    if (!l.empty()) compact += l + "\r\n";
  }
  const TextTable from_template = LoadFromMnu(defaults.TemplateText());
  const TextTable from_compact = LoadFromMnu(compact);
  EXPECT_EQ(AllTexts(from_compact), AllTexts(from_template));

  // Blank, tab and zero-only lines anywhere change nothing.
  std::string noisy;
  for (const std::string& l : SplitCrLf(compact + "\r\n"))
    noisy += l + "\n \t \n\t\n" + '\0' + "\n";
  EXPECT_EQ(AllTexts(LoadFromMnu(noisy)), AllTexts(from_template));
}

TEST_F(TextFiles, LineRules) {
  struct Case {
    const char* legend;
    std::string first_lines;  // followed by "rest" lines
    std::string expected;     // group 0 entry 0
  } cases[] = {
      {"marker with trailing characters", "\"\"ignored here\n", ""},
      {"marker alone", "\"\"\r\n", ""},
      {"blank before the quotes keeps the line", " \"\"x\n", " \"\"x"},
      {"trailing blanks are kept", "Name  \r\n", "Name  "},
      {"leading tab is kept", "\tName\n", "\tName"},
      {"CR only before LF is dropped", "a\rb\r\n", "a\rb"},
      {"a text ends at a zero character", std::string("ab\0cd\n", 6), "ab"},
      {"blank lines before the first text", "\n\r\n  \t\r\nFirst\n", "First"},
      {"one quote is text", "\"x\n", "\"x"},
  };
  for (const Case& c : cases) {
    const TextTable t = LoadFromMnu(c.first_lines + "second\n");
    EXPECT_EQ(t.Get(0, 0), c.expected) << c.legend;
    EXPECT_EQ(t.Get(0, 1), "second") << c.legend;
  }
}

TEST_F(TextFiles, ShortAndEmptyFiles) {
  const TextTable three = LoadFromMnu("Lang\r\nCaption\r\nMenu0");  // no line end at the end
  EXPECT_EQ(three.Get(0, 0), "Lang");
  EXPECT_EQ(three.Get(0, 1), "Caption");
  EXPECT_EQ(three.Get(1, 0), "Menu0");
  for (int k = 1; k < 5; ++k) EXPECT_EQ(three.Get(1, k), "") << "menu item " << k;
  EXPECT_EQ(three.Get(12, 0), "");

  const TextTable empty = LoadFromMnu("");
  for (const std::string& text : AllTexts(empty)) EXPECT_EQ(text, "");
}

TEST_F(TextFiles, LongerFileFillsTheTableAndIgnoresTheRest) {
  const TextTable t = LoadFromMnu(NumberedTexts(kTotal + 20));
  const std::vector<std::string> texts = AllTexts(t);
  ASSERT_EQ(texts.size(), static_cast<std::size_t>(kTotal));
  for (int i = 0; i < kTotal; ++i)
    EXPECT_EQ(texts[static_cast<std::size_t>(i)], "t" + std::to_string(i));
}

TEST_F(TextFiles, OnlyTheFirst32767CharactersCount) {
  // 32,763 characters, an LF and "abc" fill the limit exactly; "def" lies beyond it.
  const std::string first(32763, 'x');
  const TextTable t = LoadFromMnu(first + "\nabc" + "def\nlast\n");
  EXPECT_EQ(t.Get(0, 0), first);
  EXPECT_EQ(t.Get(0, 1), "abc");
  EXPECT_EQ(t.Get(1, 0), "");
}

TEST_F(TextFiles, ChosenLanguageFallsBackToTheDefaultFile) {
  WriteBytes(Name("MNU"), "Default\n");
  WriteBytes(Name("MN2"), "Second\n");
  TextTable t;
  EXPECT_EQ(t.LoadTexts(module_, 2), TextTable::LoadResult::kLoaded);
  EXPECT_EQ(t.Get(0, 0), "Second");
  EXPECT_EQ(t.LoadTexts(module_, 3), TextTable::LoadResult::kLoaded);
  EXPECT_EQ(t.Get(0, 0), "Default") << "MN3 is missing: MNU is used";
  // A folder where MN4 should be counts as unreadable, too.
  std::filesystem::create_directory(Name("MN4"));
  EXPECT_EQ(t.LoadTexts(module_, 4), TextTable::LoadResult::kLoaded);
  EXPECT_EQ(t.Get(0, 0), "Default");
}

TEST_F(TextFiles, NoFileReadableKeepsTheTextsLoadedBefore) {
  WriteBytes(Name("MN1"), NumberedTexts(kTotal));
  TextTable t;
  ASSERT_EQ(t.LoadTexts(module_, 1), TextTable::LoadResult::kLoaded);
  const std::vector<std::string> before = AllTexts(t);
  std::filesystem::remove(Name("MN1"));

  EXPECT_EQ(t.LoadTexts(module_, 1), TextTable::LoadResult::kTemplateWritten);
  EXPECT_EQ(AllTexts(t), before);
  EXPECT_EQ(ReadBytes(Name("MNU")), t.TemplateText()) << "the template holds the texts in use";
  TextTable reread;
  ASSERT_EQ(reread.LoadTexts(module_, 0), TextTable::LoadResult::kLoaded);
  EXPECT_EQ(AllTexts(reread), before);
}

TEST_F(TextFiles, EmptyEntriesReadBackFromATemplate) {
  TextTable t = LoadFromMnu("Only\n");  // every other entry is empty now
  std::filesystem::remove(Name("MNU"));
  ASSERT_EQ(t.LoadTexts(module_, 0), TextTable::LoadResult::kTemplateWritten);
  const std::vector<std::string> lines = SplitCrLf(ReadBytes(Name("MNU")));
  EXPECT_EQ(lines.size(), 152U);
  EXPECT_EQ(lines[2], "\"\"");
  TextTable reread;
  ASSERT_EQ(reread.LoadTexts(module_, 0), TextTable::LoadResult::kLoaded);
  EXPECT_EQ(AllTexts(reread), AllTexts(t));
}

TEST_F(TextFiles, BlankTextKeepsItsPlaceInTheTemplate) {
  // The second line holds a CR that is no line end, so it is a text; cut at its
  // zero byte, only a tab is left.
  TextTable t = LoadFromMnu(std::string("A\n\t\0\r \nB\n", 9));
  ASSERT_EQ(t.Get(0, 1), "\t");
  ASSERT_EQ(t.Get(1, 0), "B");
  std::filesystem::remove(Name("MNU"));
  ASSERT_EQ(t.LoadTexts(module_, 0), TextTable::LoadResult::kTemplateWritten);
  TextTable reread;
  ASSERT_EQ(reread.LoadTexts(module_, 0), TextTable::LoadResult::kLoaded);
  EXPECT_EQ(reread.Get(0, 0), "A");
  EXPECT_EQ(reread.Get(0, 1), "") << "written as the empty marker";
  EXPECT_EQ(reread.Get(1, 0), "B") << "later texts stay in their entries";
}

TEST_F(TextFiles, UnreadableDefaultFileIsNeverOverwritten) {
  std::filesystem::create_directory(Name("MNU"));
  WriteBytes(dir_.File("merkat32.MNU/inside"), "keep");
  TextTable t;
  EXPECT_EQ(t.LoadTexts(module_, 5), TextTable::LoadResult::kUnchanged);
  EXPECT_EQ(AllTexts(t), AllTexts(TextTable()));
  EXPECT_TRUE(std::filesystem::is_directory(Name("MNU")));
  EXPECT_EQ(ReadBytes(dir_.File("merkat32.MNU/inside")), "keep");
}

TEST_F(TextFiles, UnwritableFolderChangesNothing) {
  // The folder has vanished: neither reading nor writing the template is possible.
  ModulePath gone;
  gone.Derive(dir_.File("missing/merkat32.exe"));
  TextTable t;
  EXPECT_EQ(t.LoadTexts(gone, 0), TextTable::LoadResult::kUnchanged);
  EXPECT_EQ(AllTexts(t), AllTexts(TextTable()));
  EXPECT_TRUE(dir_.Entries().empty());
}

}  // namespace
}  // namespace m32::config
