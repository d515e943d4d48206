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

 private:
  std::string path_;
  std::string stem_;  // path_ up to and including the dot before the extension
  std::size_t extension_pos_ = 0;
};

// The live record with its dirty flag.
struct Settings {
  SettingsRecord record;
  bool SettingsDirty = false;
};

// LoadSettings: reads "CFG", takes the defaults (and marks dirty) when the
// file cannot supply 100 bytes, then clamps.
void LoadSettings(ModulePath& module, Settings& s);
// SaveSettings: writes "CFG" by SaveFile (a temporary file renamed over the
// old one; never over a file this user may not read or write). Failures are
// silent; the result is for tests.
bool SaveSettings(ModulePath& module, const SettingsRecord& r);

}  // namespace m32::config
