// Help file naming and loading, and the help files shipped with the tool.
#include "info/help_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace m32::info {
namespace {

using test_support::TempDir;
using test_support::WriteBytes;

TEST(HelpExtension, NamesPerLanguage) {
  // Legend: 0 is the default file; 1..9 add their digit; anything else reads as 0.
  EXPECT_EQ(HelpExtension(0), "HLP");
  EXPECT_EQ(HelpExtension(1), "HL1");
  EXPECT_EQ(HelpExtension(9), "HL9");
  EXPECT_EQ(HelpExtension(10), "HLP");
  EXPECT_EQ(HelpExtension(-1), "HLP");
}

TEST(HelpLoading, FollowsTheFallback) {
  struct Case {
    const char* legend;
    int language;
    std::vector<std::string> present;  // extensions written, content = the extension
    bool ok;
    std::string shown_or_failed;  // the extension shown, or the one named in the error
    int attempts;                 // files asked for
  };
  const Case cases[] = {
      {"language 0 reads HLP", 0, {"HLP", "HL1"}, true, "HLP", 1},
      {"language 3 with its file reads HL3", 3, {"HLP", "HL3"}, true, "HL3", 1},
      {"language 3 without HL3 falls back to HLP", 3, {"HLP"}, true, "HLP", 2},
      {"language 3 with neither names HLP in the error", 3, {}, false, "HLP", 2},
      {"language 0 without HLP tries nothing else", 0, {"HL1"}, false, "HLP", 1},
  };
  for (const Case& c : cases) {
    TempDir dir;
    auto file = [&](std::string_view ext) { return dir.File("TOOL." + std::string(ext)); };
    for (const std::string& ext : c.present) WriteBytes(file(ext), ext);
    std::vector<std::string> asked;
    const HelpFileResult r = LoadHelpForLanguage(c.language, [&](std::string_view ext) {
      asked.emplace_back(ext);
      return file(ext);
    });
    EXPECT_EQ(r.ok, c.ok) << c.legend;
    EXPECT_EQ(static_cast<int>(asked.size()), c.attempts) << c.legend;
    EXPECT_EQ(r.path, file(c.shown_or_failed)) << c.legend;
    if (c.ok) {
      EXPECT_EQ(r.document.Text(), c.shown_or_failed) << c.legend;
      EXPECT_TRUE(r.error.empty()) << c.legend;
    } else {
      EXPECT_EQ(r.error, "Cannot open file " + file(c.shown_or_failed) + ".") << c.legend;
    }
  }
}

TEST(HelpLoading, AFolderUnderTheNameIsNotAFileAndAnEmptyFileIsAnEmptyDocument) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("TOOL.HLP"));
  const HelpFileResult folder = LoadHelpFile(dir.File("TOOL.HLP"));
  EXPECT_FALSE(folder.ok);
  EXPECT_EQ(folder.error, "Cannot open file " + dir.File("TOOL.HLP") + ".");
  WriteBytes(dir.File("TOOL.HL1"), "");
  const HelpFileResult empty = LoadHelpFile(dir.File("TOOL.HL1"));
  EXPECT_TRUE(empty.ok);
  EXPECT_TRUE(empty.document.paragraphs.empty());
}

// A plain file of more lines than the cap keeps every line, consecutive
// lines sharing a paragraph, so its document stays of bounded size.
TEST(HelpLoading, APlainFileOfManyLinesKeepsEveryLineInBoundedParagraphs) {
  const std::size_t cap = kMaxPlainParagraphs;
  auto lines = [](const std::string& line_end, std::size_t n, const std::string& text) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) (s += text) += line_end;
    return s;
  };
  struct Case {
    const char* legend;
    std::string file;
    std::size_t paragraphs;  // as many as this
    std::string text;        // the lines joined by '\n'
  };
  const std::string ab = lines("\n", cap, "ab");
  const Case cases[] = {
      {"as many lines as the cap: a paragraph each", ab, cap, ab.substr(0, ab.size() - 1)},
      {"one line more: two lines a paragraph", ab + "cd\n", cap / 2 + 1, ab + "cd"},
      {"16 MiB of empty lines", std::string(kMaxHelpFileBytes, '\n'), cap,
       std::string(kMaxHelpFileBytes - 1, '\n')},
      {"CR LF and a lone CR end lines too", lines("\r\n", cap, "a") + lines("\r", cap, "b"), cap,
       lines("\n", cap, "a") + lines("\n", cap - 1, "b") + "b"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteBytes(dir.File("TOOL.HLP"), c.file);
    const HelpFileResult r = LoadHelpFile(dir.File("TOOL.HLP"));
    ASSERT_TRUE(r.ok) << c.legend;
    EXPECT_EQ(r.document.paragraphs.size(), c.paragraphs) << c.legend;
    EXPECT_TRUE(r.document.Text() == c.text) << c.legend;
  }
}

// The viewer's loader stops a plain read at once when the viewer is closed
// or the tool ends.
TEST(HelpLoading, APlainReadAskedToStopEndsEarly) {
  const Document d = ReadHelpText(std::string(1U << 20U, '\n'), [] { return true; });
  EXPECT_TRUE(d.paragraphs.empty());
}

// The help files that ship beside the executable read as rich text with bold
// headings, no undecodable byte and no control word shown as text; each holds
// the viewer's menu item as the Czech file names it or the first steps, and
// the serial port set-up on Linux.
TEST(ShippedHelp, ReadsAsRichTextWithItsCharacters) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"merkat32.HLP", {"„Lámání řádků zapnout“", "SÉRIOVÝ PORT V LINUXU", "dialout"}},
      {"merkat32.HL1", {"FIRST STEPS", "/dev/ttyUSB0", "dialout"}},
  };
  for (const auto& [file, must_contain] : cases) {
    const HelpFileResult r = LoadHelpFile(std::string(M32_DATA_DIR) + "/" + file);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.document.rich) << file;
    EXPECT_GT(r.document.paragraphs.size(), 40U) << file;
    const std::string text = r.document.Text();
    EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos) << file << ": undecodable byte";
    EXPECT_EQ(text.find('\\'), std::string::npos) << file << ": control word shown as text";
    for (const std::string& s : must_contain) {
      EXPECT_NE(text.find(s), std::string::npos) << file << " lacks " << s;
    }
    bool any_bold = false;
    for (const auto& p : r.document.paragraphs) {
      for (const auto& run : p.runs) any_bold = any_bold || run.style.bold;
    }
    EXPECT_TRUE(any_bold) << file << ": headings are bold";
  }
}

}  // namespace
}  // namespace m32::info
