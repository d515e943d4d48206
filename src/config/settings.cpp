#include "config/settings.h"

#include <filesystem>
#include <system_error>

#include "config/file_io.h"

namespace m32::config {
namespace {

constexpr std::size_t kConstantsOffset = 4;
constexpr std::size_t kReserved1Offset = 46;
constexpr std::size_t kPortIndexOffset = 84;
constexpr std::size_t kDataBitsOffset = 85;
constexpr std::size_t kParityOffset = 86;
constexpr std::size_t kStopBitsOffset = 87;
constexpr std::size_t kLanguageOffset = 88;
constexpr std::size_t kBrightnessOffset = 89;
constexpr std::size_t kReserved2Offset = 97;

constexpr uint32_t kMaxBaudDivisor = kBaseBaud;  // the slowest speed is 1 Bd

void PutU16(RecordBytes& b, std::size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v & 0xFFU);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

uint16_t GetU16(std::span<const uint8_t, kRecordSize> b, std::size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

}  // namespace

RecordBytes Encode(const SettingsRecord& r) {
  RecordBytes b{};
  for (std::size_t i = 0; i < 4; ++i)
    b[i] = static_cast<uint8_t>((r.BaudDivisor >> (8 * i)) & 0xFFU);
  for (std::size_t i = 0; i < r.Constants.size(); ++i) {
    PutU16(b, kConstantsOffset + 2 * i, static_cast<uint16_t>(r.Constants[i]));
  }
  for (std::size_t i = 0; i < r.Reserved1.size(); ++i) b[kReserved1Offset + i] = r.Reserved1[i];
  b[kPortIndexOffset] = r.PortIndex;
  b[kDataBitsOffset] = r.DataBits;
  b[kParityOffset] = static_cast<uint8_t>(r.Parity);
  b[kStopBitsOffset] = r.StopBits;
  b[kLanguageOffset] = r.Language;
  for (std::size_t i = 0; i < r.Brightness.size(); ++i) b[kBrightnessOffset + i] = r.Brightness[i];
  for (std::size_t i = 0; i < r.Reserved2.size(); ++i) b[kReserved2Offset + i] = r.Reserved2[i];
  return b;
}

SettingsRecord Decode(std::span<const uint8_t, kRecordSize> b) {
  SettingsRecord r;
  r.BaudDivisor = 0;
  for (std::size_t i = 0; i < 4; ++i) r.BaudDivisor |= static_cast<uint32_t>(b[i]) << (8 * i);
  for (std::size_t i = 0; i < r.Constants.size(); ++i) {
    r.Constants[i] = static_cast<int16_t>(GetU16(b, kConstantsOffset + 2 * i));
  }
  for (std::size_t i = 0; i < r.Reserved1.size(); ++i) r.Reserved1[i] = b[kReserved1Offset + i];
  r.PortIndex = b[kPortIndexOffset];
  r.DataBits = b[kDataBitsOffset];
  r.Parity = static_cast<char>(b[kParityOffset]);
  r.StopBits = b[kStopBitsOffset];
  r.Language = b[kLanguageOffset];
  for (std::size_t i = 0; i < r.Brightness.size(); ++i) r.Brightness[i] = b[kBrightnessOffset + i];
  for (std::size_t i = 0; i < r.Reserved2.size(); ++i) r.Reserved2[i] = b[kReserved2Offset + i];
  return r;
}

void ApplyDefaults(SettingsRecord& r) {
  r = SettingsRecord{};  // all 100 bytes zero, reserved bytes included
  r.BaudDivisor = 12;    // 9600 Bd
  r.DataBits = 8;
  r.Parity = 'E';
  r.StopBits = 1;
}

void ClampSettings(SettingsRecord& r) {
  if (r.Language >= 10) r.Language = 0;
  if (r.PortIndex >= 64) r.PortIndex = 0;
  if (r.BaudDivisor > kMaxBaudDivisor) r.BaudDivisor = kMaxBaudDivisor;
  if (r.BaudDivisor == 0) r.BaudDivisor = 1;
  if (r.DataBits > 8) r.DataBits = 8;
  if (r.DataBits < 5) r.DataBits = 5;
  if (r.StopBits > 2) r.StopBits = 2;
  if (r.StopBits == 0) r.StopBits = 1;
  switch (r.Parity) {
    case 'E':
    case 'e':
      r.Parity = 'E';
      break;
    case 'M':
    case 'm':
      r.Parity = 'M';
      break;
    case 'O':
    case 'o':
      r.Parity = 'O';
      break;
    default:
      r.Parity = 'N';
      break;
  }
}

void ClampConstants(SettingsRecord& r) {
  int16_t& address = r.Constants[SettingsRecord::kControllerAddress];
  if (address < 0 || address > 255) address = 0;
  int16_t& ad_mode = r.Constants[SettingsRecord::kAdMode];
  if (ad_mode < 0 || ad_mode > 2) ad_mode = 0;
  int16_t& dtr = r.Constants[SettingsRecord::kDtrOption];
  if (dtr != 1) dtr = 0;
}

namespace {

// What ends a folder name in the executable's path.
#if defined(_WIN32)
constexpr const char* kFolderSeparators = "/\\";
constexpr char kNativeSeparator = '\\';
#else
constexpr const char* kFolderSeparators = "/";
constexpr char kNativeSeparator = '/';
#endif

}  // namespace

void ModulePath::Derive(std::string_view exe_path) {
  path_.assign(exe_path);
  // Only the file name may hold the extension: a dot in a folder name must not
  // make the data files take the folder's name. A leading dot marks a hidden
  // file, not an extension.
  const std::size_t slash = path_.find_last_of(kFolderSeparators);
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = path_.rfind('.');
  if (dot != std::string::npos && dot > name_start) {
    stem_ = path_.substr(0, dot + 1);
  } else {
    stem_ = path_ + ".";
  }
  extension_pos_ = stem_.size();
}

const std::string& ModulePath::SetExtension(std::string_view ext3) {
  path_.assign(stem_, 0, extension_pos_);
  path_.append(ext3.substr(0, 3));
  return path_;
}

std::string ModulePath::Folder() const {
  const std::size_t slash = stem_.find_last_of(kFolderSeparators);
  if (slash == std::string::npos) return {};
  return stem_.substr(0, slash + 1);
}

const std::string& ModulePath::SettingsFile() {
  SetExtension("CFG");
  if (!settings_folder_.empty()) {
    const std::size_t slash = path_.find_last_of(kFolderSeparators);
    path_ = settings_folder_ + path_.substr(slash == std::string::npos ? 0 : slash + 1);
  }
  return path_;
}

std::string SettingsFolderFor(const ModulePath& module, std::string_view user_config) {
  if (user_config.empty()) return {};
  std::string marker_bytes;
  if (ReadFilePrefix(module.Folder() + std::string(kPerUserSettingsMarker), 0, marker_bytes) !=
      ReadStatus::kOk) {
    return {};
  }
  std::string folder(user_config);
  folder += "merkat32";
  folder += kNativeSeparator;
  return folder;
}

void LoadSettings(ModulePath& module, Settings& s) {
  std::string bytes;
  const std::string& name = module.SettingsFile();
  bool loaded = false;
  try {
    if (ReadFilePrefix(name, kRecordSize, bytes) == ReadStatus::kOk &&
        bytes.size() == kRecordSize) {
      RecordBytes block{};
      for (std::size_t i = 0; i < kRecordSize; ++i) block[i] = static_cast<uint8_t>(bytes[i]);
      s.record = Decode(block);
      loaded = true;
    }
  } catch (const std::bad_alloc&) {
    loaded = false;
  }
  if (!loaded) {
    ApplyDefaults(s.record);
    s.SettingsDirty = true;
  }
  ClampSettings(s.record);
  ClampConstants(s.record);
}

bool SaveSettings(ModulePath& module, const SettingsRecord& r) {
  const RecordBytes b = Encode(r);
  const std::string& name = module.SettingsFile();
  try {
    if (!module.SettingsFolder().empty()) {
      // The user's folder may not be there yet (a first start); a failure
      // shows as SaveFile's.
      std::error_code ec;
      const std::string& folder = module.SettingsFolder();
      std::filesystem::create_directories(
          std::filesystem::path(std::u8string(folder.begin(), folder.end())), ec);
    }
    return SaveFile(name, std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace m32::config
