// Help file naming and loading, and the help files shipped with the tool.
#include "info/help_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
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

struct LoadCase {
  const char* legend;
  int language;
  std::vector<std::string> present;  // extensions written, content = the extension
  bool ok;
  std::string shown_or_failed;  // the extension shown, or the one named in the error
  int attempts;                 // files asked for
};

class HelpLoading : public ::testing::TestWithParam<LoadCase> {};

TEST_P(HelpLoading, FollowsTheFallback) {
  const LoadCase& c = GetParam();
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

INSTANTIATE_TEST_SUITE_P(
    Files, HelpLoading,
    ::testing::Values(
        LoadCase{"language 0 reads HLP", 0, {"HLP", "HL1"}, true, "HLP", 1},
        LoadCase{"language 3 with its file reads HL3", 3, {"HLP", "HL3"}, true, "HL3", 1},
        LoadCase{"language 3 without HL3 falls back to HLP", 3, {"HLP"}, true, "HLP", 2},
        LoadCase{"language 3 with neither names HLP in the error", 3, {}, false, "HLP", 2},
        LoadCase{"language 0 without HLP tries nothing else", 0, {"HL1"}, false, "HLP", 1}));

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

// The help files that ship beside the executable.
struct ShippedCase {
  const char* file;
  std::vector<std::string> must_contain;  // UTF-8
};

class ShippedHelp : public ::testing::TestWithParam<ShippedCase> {};

TEST_P(ShippedHelp, ReadsAsRichTextWithItsCharacters) {
  const ShippedCase& c = GetParam();
  const HelpFileResult r = LoadHelpFile(std::string(M32_DATA_DIR) + "/" + c.file);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.document.rich) << c.file;
  EXPECT_GT(r.document.paragraphs.size(), 40U) << c.file;
  const std::string text = r.document.Text();
  EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos) << c.file << ": undecodable byte";
  EXPECT_EQ(text.find('\\'), std::string::npos) << c.file << ": control word shown as text";
  for (const std::string& s : c.must_contain) {
    EXPECT_NE(text.find(s), std::string::npos) << c.file << " lacks " << s;
  }
  bool any_bold = false;
  for (const auto& p : r.document.paragraphs) {
    for (const auto& run : p.runs) any_bold = any_bold || run.style.bold;
  }
  EXPECT_TRUE(any_bold) << c.file << ": headings are bold";
}

// Legend: per shipped file, texts it must hold: the viewer's menu item as the
// Czech file names it or the first steps, and the serial port set-up on Linux.
INSTANTIATE_TEST_SUITE_P(
    Data, ShippedHelp,
    ::testing::Values(ShippedCase{"merkat32.HLP",
                                  {"„Lámání řádků zapnout“", "SÉRIOVÝ PORT V LINUXU", "dialout"}},
                      ShippedCase{"merkat32.HL1", {"FIRST STEPS", "/dev/ttyUSB0", "dialout"}}));

}  // namespace
}  // namespace m32::info
