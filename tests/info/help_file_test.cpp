// Help file naming and loading, and the help files shipped with the tool.
#include "info/help_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace m32::info {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    path_ = fs::temp_directory_path() /
            ("m32_info_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(std::string_view ext) const {
    return (path_ / "TOOL.").string() + std::string(ext);
  }
  void Write(std::string_view ext, const std::string& content) const {
    std::ofstream(File(ext), std::ios::binary) << content;
  }

 private:
  fs::path path_;
};

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
  TempFolder dir;
  for (const std::string& ext : c.present) dir.Write(ext, ext);
  std::vector<std::string> asked;
  const HelpFileResult r = LoadHelpForLanguage(c.language, [&](std::string_view ext) {
    asked.emplace_back(ext);
    return dir.File(ext);
  });
  EXPECT_EQ(r.ok, c.ok) << c.legend;
  EXPECT_EQ(static_cast<int>(asked.size()), c.attempts) << c.legend;
  EXPECT_EQ(r.path, dir.File(c.shown_or_failed)) << c.legend;
  if (c.ok) {
    EXPECT_EQ(r.document.Text(), c.shown_or_failed) << c.legend;
    EXPECT_TRUE(r.error.empty()) << c.legend;
  } else {
    EXPECT_EQ(r.error, "Cannot open file " + dir.File(c.shown_or_failed) + ".") << c.legend;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, HelpLoading,
    ::testing::Values(
        LoadCase{"language 0 reads HLP", 0, {"HLP", "HL1"}, true, "HLP", 1},
        LoadCase{"language 3 with its file reads HL3", 3, {"HLP", "HL3"}, true, "HL3", 1},
        LoadCase{"language 3 without HL3 falls back to HLP", 3, {"HLP"}, true, "HLP", 2},
        LoadCase{"language 3 with neither names HLP in the error", 3, {}, false, "HLP", 2},
        LoadCase{"language 0 without HLP tries nothing else", 0, {"HL1"}, false, "HLP", 1},
        LoadCase{"an out-of-range language reads HLP once", 12, {}, false, "HLP", 1}));

TEST(HelpLoading, AFolderUnderTheNameIsNotAFile) {
  TempFolder dir;
  fs::create_directory(dir.File("HLP"));
  const HelpFileResult r = LoadHelpFile(dir.File("HLP"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "Cannot open file " + dir.File("HLP") + ".");
}

TEST(HelpLoading, AnEmptyFileIsAnEmptyDocument) {
  TempFolder dir;
  dir.Write("HLP", "");
  const HelpFileResult r = LoadHelpFile(dir.File("HLP"));
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.document.paragraphs.empty());
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

INSTANTIATE_TEST_SUITE_P(Data, ShippedHelp,
                         ::testing::Values(ShippedCase{"merkat32.HLP",
                                                       {"Nápověda", "vstupů a výstupů",
                                                        "„Lámání řádků zapnout“", "PRVNÍ KROKY",
                                                        "SÉRIOVÝ PORT V LINUXU", "/dev/ttyUSB0",
                                                        "dialout", "/dev/ttyS2"}},
                                           ShippedCase{"merkat32.HL1",
                                                       {"Help", "inputs and outputs", "FIRST STEPS",
                                                        "/dev/ttyUSB0", "dialout", "/dev/ttyS2"}}));

}  // namespace
}  // namespace m32::info
