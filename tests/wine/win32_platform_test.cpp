// The platform calls of the Windows build besides the port, under wine: the
// executable's path, data file names from it, the settings file written
// through the Windows file calls. (The console's close requests are not
// here: wine delivers no console control events to a program without a
// console of its own.)
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "config/file_io.h"
#include "config/settings.h"
#include "config/utf8_path_win32.h"

namespace m32::config {
namespace {

// A fresh folder under the temporary folder, named in UTF-8 with letters
// outside the code page and a dot; removed with its files at the end.
struct Win32TempFolder {
  const std::filesystem::path wide =
      std::filesystem::temp_directory_path() /
      (L"m\u011B\u0159en\u00ED.v2-" + std::to_wstring(::GetCurrentProcessId()));
  const std::string path = (std::filesystem::create_directory(wide), Utf8Path(wide.wstring()));
  ~Win32TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(wide, ignored);
  }
  std::vector<std::wstring> Files() const {
    std::vector<std::wstring> names;
    for (const auto& f : std::filesystem::directory_iterator(wide)) {
      names.push_back(f.path().filename().wstring());
    }
    return names;
  }
};

TEST(Win32ModulePath, TheExecutablesPathNamesTheDataFiles) {
  const std::string exe = ModulePath::PlatformExecutablePath();
  ASSERT_GT(exe.size(), 3U);
  EXPECT_EQ(exe.substr(1, 2), ":\\") << exe;
  const std::string name = "\\win32_platform_test.exe";
  EXPECT_EQ(exe.substr(exe.size() - std::min(exe.size(), name.size())), name) << exe;

  const std::tuple<const char*, const char*, const char*> rows[] = {
      // legend, executable, settings file
      {"plain", "C:\\Tools\\MERKAT32.EXE", "C:\\Tools\\MERKAT32.CFG"},
      {"a dot in a folder: only the last dot of the name counts", "C:\\a.b\\TOOL.X",
       "C:\\a.b\\TOOL.CFG"},
      {"no dot in the name, a dot in the folder", "D:\\v1.2\\tool", "D:\\v1.2\\tool.CFG"},
      {"forward slashes work too", "C:/x.y/tool", "C:/x.y/tool.CFG"},
  };
  for (const auto& [legend, path, cfg] : rows) {
    ModulePath m;
    m.Derive(path);
    EXPECT_EQ(m.SetExtension("CFG"), cfg) << legend;
  }
  ModulePath m;
  m.Derive("C:\\a.b\\TOOL.X");
  EXPECT_EQ(m.Folder(), "C:\\a.b\\");
}

TEST(Win32SettingsFile, SavedWholeInAnyFolderAndNothingLeftBeside) {
  Win32TempFolder folder;
  ModulePath module;
  module.Derive(folder.path + "\\merkat32.exe");
  Settings s;
  LoadSettings(module, s);
  EXPECT_TRUE(s.SettingsDirty) << "no file yet: defaults";
  s.record.PortIndex = 9;
  s.record.Brightness[7] = 200;
  ASSERT_TRUE(SaveSettings(module, s.record));
  s.record.PortIndex = 3;
  ASSERT_TRUE(SaveSettings(module, s.record)) << "over the old file";
  EXPECT_EQ(folder.Files(), std::vector<std::wstring>{L"merkat32.CFG"});
  std::string bytes;
  ASSERT_EQ(ReadFilePrefix(module.SetExtension("CFG"), 1000, bytes), ReadStatus::kOk);
  EXPECT_EQ(bytes.size(), 100U);
  Settings back;
  LoadSettings(module, back);
  EXPECT_FALSE(back.SettingsDirty);
  EXPECT_EQ(std::tuple(back.record.PortIndex, back.record.Brightness[7]),
            std::tuple(uint8_t{3}, uint8_t{200}));
}

TEST(Win32Files, ReadFailuresAreTold) {
  Win32TempFolder folder;
  std::string bytes = "old";
  EXPECT_EQ(ReadFilePrefix(folder.path + "\\none.CFG", 100, bytes), ReadStatus::kMissing);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(ReadFilePrefix(folder.path, 100, bytes), ReadStatus::kUnreadable) << "a folder";
  EXPECT_FALSE(SaveFile(folder.path + "\\no-such-folder\\x.CFG", "x"));
  EXPECT_TRUE(folder.Files().empty());
}

}  // namespace
}  // namespace m32::config
