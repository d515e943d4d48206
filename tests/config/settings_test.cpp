#include "config/settings.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "config/file_io.h"
#include "support/temp_dir.h"

namespace m32::config {
namespace {

using test_support::ReadBytes;
using test_support::TempDir;
using test_support::WriteBytes;

SettingsRecord Defaults() {
  SettingsRecord r;
  ApplyDefaults(r);
  return r;
}

std::string ToString(const RecordBytes& b) {
  return {b.begin(), b.end()};
}

// A module path whose executable lies in `dir` as "merkat32.exe".
ModulePath ModuleIn(const TempDir& dir) {
  ModulePath m;
  m.Derive(dir.File("merkat32.exe"));
  return m;
}

// A record with the fields given and distinct values in every other byte
// (constant n is 101 n - 999, but constant 7 is -32768).
SettingsRecord Rec(uint32_t divisor, uint8_t port, uint8_t data_bits, char parity,
                   uint8_t stop_bits, uint8_t language, int16_t c0, int16_t c3, int16_t c4) {
  SettingsRecord r;
  for (std::size_t i = 0; i < r.Constants.size(); ++i) r.Constants[i] = int16_t(i * 101 - 999);
  for (std::size_t i = 0; i < r.Reserved1.size(); ++i) r.Reserved1[i] = uint8_t(i + 1);
  r.Brightness = {1, 2, 3, 4, 5, 6, 7, 0xFF};
  r.Reserved2 = {0xDE, 0xAD, 0xBE};
  r.Constants[7] = -32768;
  r.BaudDivisor = divisor;
  r.PortIndex = port;
  r.DataBits = data_bits;
  r.Parity = parity;
  r.StopBits = stop_bits;
  r.Language = language;
  r.Constants[0] = c0;
  r.Constants[3] = c3;
  r.Constants[4] = c4;
  return r;
}

// Files written by earlier versions must read the same: the offsets are fixed.
TEST(SettingsRecord, EncodeUsesLittleEndianOffsets) {
  const RecordBytes b = Encode(Rec(0x11223344, 5, 7, 'O', 2, 3, 0x0102, 0, 0));
  const std::pair<std::size_t, uint8_t> expected[] = {
      {0, 0x44},  {1, 0x33},  {2, 0x22},  {3, 0x11},  // BaudDivisor
      {4, 0x02},  {5, 0x01},                          // Constants[0]
      {18, 0x00}, {19, 0x80},                         // Constants[7] = -32768
      {44, 0xFD}, {45, 0x03},                         // Constants[20] = 1021
      {46, 1},    {83, 38},                           // first reserved block
      {84, 5},    {85, 7},    {86, 'O'},  {87, 2},
      {88, 3},    {89, 1},    {96, 0xFF},  // Brightness[0], [7]
      {97, 0xDE}, {99, 0xBE},              // second reserved block
  };
  for (const auto& [offset, value] : expected) EXPECT_EQ(b[offset], value) << "offset " << offset;

  RecordBytes bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  EXPECT_EQ(Encode(Decode(bytes)), bytes) << "decoding and encoding keep every byte";
}

// What a start makes of the file it finds, and what the next save writes in
// its place, with nothing left beside it. A whole record (the first 100 bytes
// of a longer file) has every field clamped on its own and every other byte
// kept, and is no reason to save; no file or a short one gives the defaults,
// with nothing of the record held before, and asks for a save.
TEST(SettingsFile, LoadClampsOrDefaultsAndTheNextSaveWritesTheResultWhole) {
  const SettingsRecord whole = Rec(12, 3, 8, 'E', 1, 2, 7, 1, 1);
  struct Case {
    const char* legend;
    std::optional<std::string> file;
    SettingsRecord loaded;
    bool dirty;
  } const cases[] = {
      {"no file", std::nullopt, Defaults(), true},
      {"empty file", "", Defaults(), true},
      {"99 bytes", ToString(Encode(whole)).substr(0, 99), Defaults(), true},
      {"150 bytes: the first 100 count", ToString(Encode(whole)) + std::string(50, '\x7F'), whole,
       false},
      // divisor, COM index, data bits, parity, stop bits, language, constants 0, 3, 4
      {"below every range", ToString(Encode(Rec(0, 0, 4, 'o', 0, 0, -1, -1, -1))),
       Rec(1, 0, 5, 'O', 1, 0, 0, 0, 0), false},
      {"above every range", ToString(Encode(Rec(200000, 64, 9, 'm', 3, 10, 256, 3, 2))),
       Rec(115200, 0, 8, 'M', 2, 0, 0, 0, 0), false},
      {"at every upper limit", ToString(Encode(Rec(115200, 63, 8, 'e', 2, 9, 255, 2, 1))),
       Rec(115200, 63, 8, 'E', 2, 9, 255, 2, 1), false},
      {"at every lower limit", ToString(Encode(Rec(1, 0, 5, 'M', 1, 0, 0, 0, 0))),
       Rec(1, 0, 5, 'M', 1, 0, 0, 0, 0), false},
      {"a parity the lists do not offer", ToString(Encode(Rec(12, 3, 8, 'S', 1, 2, 7, 1, 1))),
       Rec(12, 3, 8, 'N', 1, 2, 7, 1, 1), false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    ModulePath m = ModuleIn(dir);
    if (c.file) WriteBytes(dir.File("merkat32.CFG"), *c.file);
    Settings s;
    s.record = Rec(77, 5, 6, 'O', 2, 3, 9, 9, 9);
    LoadSettings(m, s);
    EXPECT_EQ(Encode(s.record), Encode(c.loaded)) << c.legend;
    EXPECT_EQ(s.SettingsDirty, c.dirty) << c.legend;
    ASSERT_TRUE(SaveSettings(m, s.record)) << c.legend;
    EXPECT_EQ(ReadBytes(dir.File("merkat32.CFG")), ToString(Encode(c.loaded))) << c.legend;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"merkat32.CFG"}) << c.legend;
  }
}

// A settings name taken by something no save may replace: the start gets the
// defaults without hanging on it, the save fails quietly and leaves it (and
// no temporary file) alone, and the next save once the way is clear succeeds.
TEST(SettingsFile, NameTakenByAFolderOrAFifoIsLeftAloneAndTheNextSaveRetries) {
  namespace fs = std::filesystem;
  struct Case {
    const char* legend;
    std::function<void(const TempDir&)> scene;
  } const cases[] = {
      {"a folder (the final rename fails even for root)",
       [](const TempDir& d) {
         fs::create_directory(d.File("merkat32.CFG"));
         WriteBytes(d.File("merkat32.CFG/keep"), "old");
       }},
#ifndef _WIN32
      {"a FIFO", [](const TempDir& d) { ::mkfifo(d.File("merkat32.CFG").c_str(), 0644); }},
#endif
  };
  for (const Case& c : cases) {
    TempDir dir;
    ModulePath m = ModuleIn(dir);
    c.scene(dir);
    const auto type = fs::symlink_status(dir.File("merkat32.CFG")).type();
    Settings s;
    LoadSettings(m, s);
    EXPECT_EQ(s.record, Defaults()) << c.legend;
    EXPECT_TRUE(s.SettingsDirty) << c.legend;
    EXPECT_FALSE(SaveSettings(m, s.record)) << c.legend;
    EXPECT_EQ(fs::symlink_status(dir.File("merkat32.CFG")).type(), type) << c.legend;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"merkat32.CFG"}) << c.legend;
    if (fs::is_directory(dir.File("merkat32.CFG"))) {
      EXPECT_EQ(ReadBytes(dir.File("merkat32.CFG/keep")), "old") << c.legend;
    }

    fs::remove_all(dir.File("merkat32.CFG"));
    EXPECT_TRUE(SaveSettings(m, Defaults())) << c.legend;
    EXPECT_EQ(ReadBytes(dir.File("merkat32.CFG")), ToString(Encode(Defaults()))) << c.legend;
  }
}

// What a save does to the 300-byte file it finds (the cases that depend on
// another user's rights are the process test's, run as an unprivileged user):
// the new bytes only, the file's mode kept, no temporary file left.
TEST(SaveFile, ReplacesFollowsOrOverwritesInPlace) {
  namespace fs = std::filesystem;
  const std::string data = ToString(Encode(Rec(7, 1, 7, 'O', 2, 3, 1, 2, 1)));
  struct Case {
    const char* legend;
    std::string file;  // relative to the folder
    fs::perms mode;
    bool behind_link;  // saved to as "a.CFG", a link to `file`
  } const cases[] = {
      {"a 0640 file: replaced whole, mode kept", "a.CFG", fs::perms(0640), false},
      {"link to a file in another folder: the target gets the bytes, the link stays", "real/x.CFG",
       fs::perms(0600), true},
      {"no room for a temporary name beside it: overwritten in place, the tail cut off",
       std::string(250, 'n'), fs::perms(0604), false},
  };
  for (const auto& c : cases) {
    TempDir dir;
    fs::create_directory(dir.path() / "real");
    WriteBytes(dir.File(c.file), std::string(300, 'x'));
    fs::permissions(dir.File(c.file), c.mode);
    if (c.behind_link) fs::create_symlink(c.file, dir.path() / "a.CFG");
    const std::string name = dir.File(c.behind_link ? "a.CFG" : c.file);
    EXPECT_TRUE(SaveFile(name, data)) << c.legend;
    EXPECT_EQ(fs::is_symlink(name), c.behind_link) << c.legend;
    EXPECT_EQ(ReadBytes(dir.File(c.file)), data) << c.legend;
    EXPECT_EQ(fs::status(dir.File(c.file)).permissions(), c.mode) << c.legend;
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
      EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << c.legend;
    }
  }
}

TEST(ModulePath, NamesDataFilesBesideTheExecutable) {
  const std::string long_dir = "/" + std::string(300, 'd') + ".x/" + std::string(200, 'e');
  struct Case {
    const char* legend;
    std::string exe;
    std::string cfg;
    std::string folder;
  } cases[] = {
      {"plain extension", "C:/APP/MERKAT32.EXE", "C:/APP/MERKAT32.CFG", "C:/APP/"},
      {"no extension, dotted folder", "/opt/tools.d/merkat32", "/opt/tools.d/merkat32.CFG",
       "/opt/tools.d/"},
      {"two dots in the name", "/x/merkat.32.bin", "/x/merkat.32.CFG", "/x/"},
      {"hidden file has no extension", "/x/.merkat", "/x/.merkat.CFG", "/x/"},
      {"no folder", "merkat32", "merkat32.CFG", ""},
      {"long path is never cut", long_dir + "/m.exe", long_dir + "/m.CFG", long_dir + "/"},
  };
  for (const Case& c : cases) {
    ModulePath m;
    m.Derive(c.exe);
    EXPECT_EQ(m.SetExtension("CFG"), c.cfg) << c.legend;
    EXPECT_EQ(m.Folder(), c.folder) << c.legend;
  }
}

// Where the settings file lies. Legend: whether the per-user marker lies
// beside the executable; whether the user has a settings folder; whether the
// file then goes to <that folder>/merkat32/ (made on the first save) rather
// than beside the executable.
TEST(ModulePath, AnInstalledCopyKeepsEachUsersSettingsInTheUsersFolder) {
  struct Case {
    const char* legend;
    bool marker;
    bool user_folder;
    bool per_user;
  } const cases[] = {
      {"a folder copy: beside the executable", false, true, false},
      {"an installed copy: in the user's folder", true, true, true},
      {"an installed copy, the user has no folder: beside it", true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    TempDir dir;
    TempDir home;
    ModulePath m = ModuleIn(dir);
    if (c.marker) WriteBytes(dir.File(std::string(kPerUserSettingsMarker)), "");
    m.UseSettingsFolder(SettingsFolderFor(m, c.user_folder ? home.File("") : ""));
    const std::string user_file = home.File("merkat32/merkat32.CFG");
    const std::string beside = dir.File("merkat32.CFG");
    // Compared as paths: Windows writes its own separator between the folders.
    EXPECT_EQ(std::filesystem::path(m.SettingsFile()),
              std::filesystem::path(c.per_user ? user_file : beside));

    const SettingsRecord saved = Rec(24, 2, 7, 'O', 2, 1, 5, 2, 1);
    ASSERT_TRUE(SaveSettings(m, saved));
    EXPECT_EQ(ReadBytes(c.per_user ? user_file : beside), ToString(Encode(saved)));
    EXPECT_EQ(std::filesystem::exists(c.per_user ? beside : user_file), false);
    Settings s;
    LoadSettings(m, s);
    EXPECT_EQ(s.record, saved);
    EXPECT_FALSE(s.SettingsDirty);
    EXPECT_EQ(m.SetExtension("MNU"), dir.File("merkat32.MNU")) << "other files stay beside it";
  }
}

TEST(ModulePath, PlatformPathIsTheRealFile) {
  const std::string exe = ModulePath::PlatformExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_TRUE(std::filesystem::path(exe).is_absolute());
  EXPECT_TRUE(std::filesystem::is_regular_file(exe));
  EXPECT_FALSE(std::filesystem::is_symlink(exe));
  EXPECT_EQ(std::filesystem::path(exe).filename(), "test_config");
}

}  // namespace
}  // namespace m32::config
