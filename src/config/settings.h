// The settings record and its file beside the executable.
//
// The record is 100 bytes, stored byte for byte, integers little-endian:
//   0  u32  BaudDivisor        84 u8 PortIndex    88 u8 Language
//   4  21 x i16 Constants      85 u8 DataBits     89 8 x u8 Brightness
//   46 38 reserved bytes       86 char Parity     97 3 reserved bytes
//                              87 u8 StopBits
// Encoding and decoding are explicit; nothing relies on struct layout.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace m32::config {

constexpr std::size_t kRecordSize = 100;

// The line speed is stored as a divisor of this rate (BaudDivisor).
inline constexpr uint32_t kBaseBaud = 115200;
using RecordBytes = std::array<uint8_t, kRecordSize>;

struct SettingsRecord {
  uint32_t BaudDivisor = 0;
  std::array<int16_t, 21> Constants{};
  std::array<uint8_t, 38> Reserved1{};
  uint8_t PortIndex = 0;
  uint8_t DataBits = 0;
  char Parity = 0;
  uint8_t StopBits = 0;
  uint8_t Language = 0;
  std::array<uint8_t, 8> Brightness{};
  std::array<uint8_t, 3> Reserved2{};

  // The entries of Constants that the program itself reads.
  static constexpr std::size_t kControllerAddress = 0;  // 0..255
  static constexpr std::size_t kAdMode = 3;             // 0..2
  static constexpr std::size_t kDtrOption = 4;          // 1: DTR raised while the port is open
  int16_t ControllerAddress() const { return Constants[kControllerAddress]; }
  int16_t AdMode() const { return Constants[kAdMode]; }
  bool DtrOn() const { return Constants[kDtrOption] != 0; }

  friend bool operator==(const SettingsRecord&, const SettingsRecord&) = default;
};

RecordBytes Encode(const SettingsRecord& r);
SettingsRecord Decode(std::span<const uint8_t, kRecordSize> bytes);

void ApplyDefaults(SettingsRecord& r);
void ClampSettings(SettingsRecord& r);
void ClampConstants(SettingsRecord& r);

// The executable's path with a replaceable three-letter extension; names
// every data file (CFG, MNU, MN1..MN9, HLP, HL1..HL9) beside the executable.
class ModulePath {
 public:
  // DeriveModulePath: from the executable's full path. The extension is
  // searched for in the file name only; without one, ".XXX" is appended.
  void Derive(std::string_view exe_path);
  // The executable's real path as the platform reports it (symlinks resolved).
  static std::string PlatformExecutablePath();
  // SetExtension: writes the three letters and returns the full file name.
  const std::string& SetExtension(std::string_view ext3);
  // The name set last.
  const std::string& Path() const { return path_; }
  // The folder that holds the executable, with a trailing separator.
  std::string Folder() const;

  // The settings file: "CFG" beside the executable, or, once a settings folder
  // is given, the file of the same name in that folder. Becomes Path().
  const std::string& SettingsFile();
  // A folder (with a trailing separator) for the settings file; empty: beside
  // the executable.
  void UseSettingsFolder(std::string folder) { settings_folder_ = std::move(folder); }
  const std::string& SettingsFolder() const { return settings_folder_; }
  // The user's own folder for programs' settings, with a trailing separator:
  // $XDG_CONFIG_HOME (or ~/.config) on Linux, %APPDATA% on Windows; empty
  // when the environment names none.
  static std::string PlatformUserConfigFolder();

 private:
  std::string path_;
  std::string settings_folder_;
  std::string stem_;  // path_ up to and including the dot before the extension
  std::size_t extension_pos_ = 0;
};

// A copy installed for all users (the Debian package, the Windows installer
// under Program Files) lies in a folder its users may not write. Such a copy
// has this file beside its executable, and then each user's settings file
// lies in `user_config`/merkat32/ under the executable's name (merkat32.CFG).
// A copy without it (a folder copied anywhere, the portable zip) keeps its
// settings beside itself. Returns the folder for UseSettingsFolder: empty for
// beside the executable, and also when `user_config` is empty.
inline constexpr std::string_view kPerUserSettingsMarker = "per-user-settings";
std::string SettingsFolderFor(const ModulePath& module, std::string_view user_config);

// The live record with its dirty flag.
struct Settings {
  SettingsRecord record;
  bool SettingsDirty = false;
};

// LoadSettings: reads the settings file (SettingsFile), takes the defaults (and marks dirty) when
// the file cannot supply 100 bytes, then clamps.
void LoadSettings(ModulePath& module, Settings& s);
// SaveSettings: writes the settings file (SettingsFile, its folder made
// when missing) by SaveFile (a temporary file renamed over the
// old one; never over a file this user may not read or write). Failures are
// silent; the result is for tests.
bool SaveSettings(ModulePath& module, const SettingsRecord& r);

}  // namespace m32::config
