#include "config/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/temp_dir.h"

namespace m32::config {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

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

TEST(SettingsRecord, DefaultsAreTheDocumentedBytes) {
  RecordBytes expected{};
  expected[0] = 12;  // BaudDivisor 12 = 9600 Bd
  expected[85] = 8;
  expected[86] = 'E';
  expected[87] = 1;
  EXPECT_EQ(Encode(Defaults()), expected);

  SettingsRecord dirty;
  dirty.Reserved1.fill(0x55);
  dirty.Brightness.fill(7);
  dirty.Constants.fill(-3);
  ApplyDefaults(dirty);
  EXPECT_EQ(dirty, Defaults()) << "defaults must zero every byte, reserved ones included";
}

TEST(SettingsRecord, EncodeUsesLittleEndianOffsets) {
  SettingsRecord r;
  r.BaudDivisor = 0x11223344;
  r.Constants[0] = 0x0102;
  r.Constants[20] = -2;  // 0xFFFE
  r.Reserved1[0] = 0xA1;
  r.Reserved1[37] = 0xA2;
  r.PortIndex = 5;
  r.DataBits = 7;
  r.Parity = 'O';
  r.StopBits = 2;
  r.Language = 3;
  r.Brightness = {1, 2, 3, 4, 5, 6, 7, 0xFF};
  r.Reserved2 = {0xB1, 0xB2, 0xB3};
  const RecordBytes b = Encode(r);

  const std::pair<std::size_t, uint8_t> expected[] = {
      {0, 0x44},  {1, 0x33},  {2, 0x22},  {3, 0x11},  // BaudDivisor
      {4, 0x02},  {5, 0x01},                          // Constants[0]
      {44, 0xFE}, {45, 0xFF},                         // Constants[20]
      {46, 0xA1}, {83, 0xA2},                         // first reserved block
      {84, 5},    {85, 7},    {86, 'O'},  {87, 2},
      {88, 3},    {89, 1},    {96, 0xFF},  // Brightness[0], [7]
      {97, 0xB1}, {99, 0xB3},              // second reserved block
  };
  for (const auto& [offset, value] : expected) EXPECT_EQ(b[offset], value) << "offset " << offset;
  EXPECT_EQ(Decode(b), r);
}

TEST(SettingsRecord, DecodeEncodeKeepsEveryByte) {
  RecordBytes bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  EXPECT_EQ(Encode(Decode(bytes)), bytes);
}

// One clamp case: how a field is set in the file and what it must read as after loading.
struct ClampCase {
  const char* legend;
  void (*set)(SettingsRecord&);
  bool (*holds)(const SettingsRecord&);
};

const ClampCase kClampCases[] = {
    {"BaudDivisor 0 -> 1", [](SettingsRecord& r) { r.BaudDivisor = 0; },
     [](const SettingsRecord& r) { return r.BaudDivisor == 1; }},
    {"BaudDivisor 200000 -> 115200", [](SettingsRecord& r) { r.BaudDivisor = 200000; },
     [](const SettingsRecord& r) { return r.BaudDivisor == 115200; }},
    {"BaudDivisor 115200 stays", [](SettingsRecord& r) { r.BaudDivisor = 115200; },
     [](const SettingsRecord& r) { return r.BaudDivisor == 115200; }},
    {"BaudDivisor 0xFFFFFFFF (unsigned) -> 115200",
     [](SettingsRecord& r) { r.BaudDivisor = 0xFFFFFFFFU; },
     [](const SettingsRecord& r) { return r.BaudDivisor == 115200; }},
    {"DataBits 4 -> 5", [](SettingsRecord& r) { r.DataBits = 4; },
     [](const SettingsRecord& r) { return r.DataBits == 5; }},
    {"DataBits 9 -> 8", [](SettingsRecord& r) { r.DataBits = 9; },
     [](const SettingsRecord& r) { return r.DataBits == 8; }},
    {"DataBits 200 (unsigned) -> 8", [](SettingsRecord& r) { r.DataBits = 200; },
     [](const SettingsRecord& r) { return r.DataBits == 8; }},
    {"StopBits 0 -> 1", [](SettingsRecord& r) { r.StopBits = 0; },
     [](const SettingsRecord& r) { return r.StopBits == 1; }},
    {"StopBits 3 -> 2", [](SettingsRecord& r) { r.StopBits = 3; },
     [](const SettingsRecord& r) { return r.StopBits == 2; }},
    {"PortIndex 64 -> 0", [](SettingsRecord& r) { r.PortIndex = 64; },
     [](const SettingsRecord& r) { return r.PortIndex == 0; }},
    {"PortIndex 63 stays", [](SettingsRecord& r) { r.PortIndex = 63; },
     [](const SettingsRecord& r) { return r.PortIndex == 63; }},
    {"Language 10 -> 0", [](SettingsRecord& r) { r.Language = 10; },
     [](const SettingsRecord& r) { return r.Language == 0; }},
    {"Language 9 stays", [](SettingsRecord& r) { r.Language = 9; },
     [](const SettingsRecord& r) { return r.Language == 9; }},
    {"Parity o -> O", [](SettingsRecord& r) { r.Parity = 'o'; },
     [](const SettingsRecord& r) { return r.Parity == 'O'; }},
    {"Parity m -> M", [](SettingsRecord& r) { r.Parity = 'm'; },
     [](const SettingsRecord& r) { return r.Parity == 'M'; }},
    {"Parity e -> E", [](SettingsRecord& r) { r.Parity = 'e'; },
     [](const SettingsRecord& r) { return r.Parity == 'E'; }},
    {"Parity n -> N", [](SettingsRecord& r) { r.Parity = 'n'; },
     [](const SettingsRecord& r) { return r.Parity == 'N'; }},
    {"Parity S -> N", [](SettingsRecord& r) { r.Parity = 'S'; },
     [](const SettingsRecord& r) { return r.Parity == 'N'; }},
    {"Parity byte 0xC5 -> N", [](SettingsRecord& r) { r.Parity = static_cast<char>(0xC5); },
     [](const SettingsRecord& r) { return r.Parity == 'N'; }},
    {"Constants[0] -1 -> 0", [](SettingsRecord& r) { r.Constants[0] = -1; },
     [](const SettingsRecord& r) { return r.Constants[0] == 0; }},
    {"Constants[0] 256 -> 0", [](SettingsRecord& r) { r.Constants[0] = 256; },
     [](const SettingsRecord& r) { return r.Constants[0] == 0; }},
    {"Constants[0] 255 stays", [](SettingsRecord& r) { r.Constants[0] = 255; },
     [](const SettingsRecord& r) { return r.Constants[0] == 255; }},
    {"Constants[3] 3 -> 0", [](SettingsRecord& r) { r.Constants[3] = 3; },
     [](const SettingsRecord& r) { return r.Constants[3] == 0; }},
    {"Constants[3] -1 (signed) -> 0", [](SettingsRecord& r) { r.Constants[3] = -1; },
     [](const SettingsRecord& r) { return r.Constants[3] == 0; }},
    {"Constants[3] 2 stays", [](SettingsRecord& r) { r.Constants[3] = 2; },
     [](const SettingsRecord& r) { return r.Constants[3] == 2; }},
    {"Constants[4] 2 -> 0", [](SettingsRecord& r) { r.Constants[4] = 2; },
     [](const SettingsRecord& r) { return r.Constants[4] == 0; }},
    {"Constants[4] 1 stays", [](SettingsRecord& r) { r.Constants[4] = 1; },
     [](const SettingsRecord& r) { return r.Constants[4] == 1; }},
    {"Constants[7] -32768 stays", [](SettingsRecord& r) { r.Constants[7] = -32768; },
     [](const SettingsRecord& r) { return r.Constants[7] == -32768; }},
};

TEST(SettingsRecord, LoadClampsEveryField) {
  for (const ClampCase& c : kClampCases) {
    TempDir dir;
    ModulePath m = ModuleIn(dir);
    SettingsRecord in = Defaults();
    c.set(in);
    WriteBytes(dir.File("merkat32.CFG"), ToString(Encode(in)));

    Settings s;
    LoadSettings(m, s);
    EXPECT_TRUE(c.holds(s.record)) << c.legend;
    EXPECT_FALSE(s.SettingsDirty) << c.legend << ": a whole record is not a reason to save";
  }
}

TEST(SettingsRecord, ClampsLeaveOtherFieldsAlone) {
  SettingsRecord r = Defaults();
  r.Constants[0] = 300;
  r.Language = 12;
  r.Reserved1.fill(9);
  SettingsRecord expected = r;
  expected.Constants[0] = 0;
  expected.Language = 0;
  ClampSettings(r);
  ClampConstants(r);
  EXPECT_EQ(r, expected);
}

TEST(SettingsFile, ShortMissingOrLongFiles) {
  SettingsRecord odd = Defaults();
  odd.BaudDivisor = 6;
  odd.Language = 2;
  const std::string odd_bytes = ToString(Encode(odd));

  struct Case {
    const char* legend;
    bool write;
    std::string content;
    bool expect_defaults;
  } cases[] = {
      {"no file", false, "", true},
      {"empty file", true, "", true},
      {"99 bytes", true, odd_bytes.substr(0, 99), true},
      {"100 bytes", true, odd_bytes, false},
      {"150 bytes: the first 100 count", true, odd_bytes + std::string(50, '\x7F'), false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    ModulePath m = ModuleIn(dir);
    if (c.write) WriteBytes(dir.File("merkat32.CFG"), c.content);
    Settings s;
    s.record.BaudDivisor = 77;  // whatever was there must not survive a failed load
    LoadSettings(m, s);
    EXPECT_EQ(s.record, c.expect_defaults ? Defaults() : odd) << c.legend;
    EXPECT_EQ(s.SettingsDirty, c.expect_defaults) << c.legend;

    ASSERT_TRUE(SaveSettings(m, s.record)) << c.legend;
    EXPECT_EQ(ReadBytes(dir.File("merkat32.CFG")), ToString(Encode(s.record))) << c.legend;
  }
}

TEST(SettingsFile, ReservedBytesSurviveLoadAndSave) {
  TempDir dir;
  ModulePath m = ModuleIn(dir);
  RecordBytes bytes = Encode(Defaults());
  for (std::size_t i = 46; i < 84; ++i) bytes[i] = static_cast<uint8_t>(i);
  bytes[97] = 0xDE;
  bytes[98] = 0xAD;
  bytes[99] = 0xBE;
  WriteBytes(dir.File("merkat32.CFG"), ToString(bytes));

  Settings s;
  LoadSettings(m, s);
  ASSERT_TRUE(SaveSettings(m, s.record));
  EXPECT_EQ(ReadBytes(dir.File("merkat32.CFG")), ToString(bytes));
}

TEST(SettingsFile, SaveReplacesTheFileAndLeavesNothingElse) {
  TempDir dir;
  ModulePath m = ModuleIn(dir);
  WriteBytes(dir.File("merkat32.CFG"), std::string(300, 'x'));
  SettingsRecord r = Defaults();
  r.Brightness[3] = 200;
  ASSERT_TRUE(SaveSettings(m, r));
  EXPECT_EQ(ReadBytes(dir.File("merkat32.CFG")), ToString(Encode(r)));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"merkat32.CFG"});
}

TEST(SettingsFile, FailedSaveIsSilentAndLeavesNoTemporaryFile) {
  // The settings name taken by a folder: the final rename fails even for root.
  TempDir dir;
  ModulePath m = ModuleIn(dir);
  std::filesystem::create_directory(dir.File("merkat32.CFG"));
  WriteBytes(dir.File("merkat32.CFG/keep"), "old");

  EXPECT_FALSE(SaveSettings(m, Defaults()));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"merkat32.CFG"});
  EXPECT_EQ(ReadBytes(dir.File("merkat32.CFG/keep")), "old");

  // The next save tries again and succeeds once the way is clear.
  std::filesystem::remove_all(dir.File("merkat32.CFG"));
  EXPECT_TRUE(SaveSettings(m, Defaults()));
  EXPECT_EQ(ReadBytes(dir.File("merkat32.CFG")), ToString(Encode(Defaults())));
}

TEST(SettingsFile, ReadOnlyFolderKeepsTheOldFile) {
  if (testing::RunningAsRoot()) GTEST_SKIP() << "root may write into read-only folders";
  TempDir dir;
  ModulePath m = ModuleIn(dir);
  const std::string old = ToString(Encode(Defaults()));
  WriteBytes(dir.File("merkat32.CFG"), old);
  std::filesystem::permissions(
      dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  SettingsRecord r = Defaults();
  r.Language = 4;
  EXPECT_FALSE(SaveSettings(m, r));
  EXPECT_EQ(ReadBytes(dir.File("merkat32.CFG")), old);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"merkat32.CFG"});
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
      {"only the last dot counts", "/opt/a.b/TOOL.X", "/opt/a.b/TOOL.CFG", "/opt/a.b/"},
      {"no extension, dotted folder", "/opt/tools.d/merkat32", "/opt/tools.d/merkat32.CFG",
       "/opt/tools.d/"},
      {"no extension", "/usr/bin/merkat32", "/usr/bin/merkat32.CFG", "/usr/bin/"},
      {"two dots in the name", "/x/merkat.32.bin", "/x/merkat.32.CFG", "/x/"},
      {"long extension is replaced", "/x/merkat32.exe1", "/x/merkat32.CFG", "/x/"},
      {"trailing dot", "/x/merkat32.", "/x/merkat32.CFG", "/x/"},
      {"hidden file has no extension", "/x/.merkat", "/x/.merkat.CFG", "/x/"},
      {"no folder", "merkat32", "merkat32.CFG", ""},
      {"long path is never cut", long_dir + "/m.exe", long_dir + "/m.CFG", long_dir + "/"},
  };
  for (const Case& c : cases) {
    ModulePath m;
    m.Derive(c.exe);
    EXPECT_EQ(m.SetExtension("CFG"), c.cfg) << c.legend;
    EXPECT_EQ(m.Path(), c.cfg) << c.legend;
    EXPECT_EQ(m.Folder(), c.folder) << c.legend;
  }
}

TEST(ModulePath, SetExtensionReplacesTheLastOne) {
  ModulePath m;
  m.Derive("/opt/merkat32.exe");
  m.SetExtension("MNU");
  EXPECT_EQ(m.SetExtension("HL3"), "/opt/merkat32.HL3");
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
