#include "dialogs/port_settings.h"

#include <algorithm>

#include "core/number_fields.h"

namespace m32::dialogs {
namespace {

constexpr uint32_t kDefaultDivisor = 12;
constexpr uint32_t kDefaultSpeed = 9600;

// The field's number limited to lo..hi.
uint32_t FieldNumber(std::string_view text, int32_t lo, int32_t hi) {
  return static_cast<uint32_t>(std::clamp(ScanInt(text, kDialogScanChars).value, lo, hi));
}

SpeedView Sync(config::SettingsRecord& wc, uint32_t speed) {
  SyncSpeed(wc.BaudDivisor, speed);
  return {std::to_string(wc.BaudDivisor), std::to_string(speed)};
}

}  // namespace

void SyncSpeed(uint32_t& divisor, uint32_t& speed) {
  if (divisor != 0) {
    speed = config::kBaseBaud / divisor;
  } else if (speed != 0) {
    divisor = std::max<uint32_t>(config::kBaseBaud / speed, 1);
    speed = config::kBaseBaud / divisor;
  } else {
    divisor = kDefaultDivisor;
    speed = kDefaultSpeed;
  }
}

std::string HeadingItemText(std::string_view heading) {
  return " " + std::string(heading) + ":";
}

std::string PresetItemText(uint32_t speed) {
  std::string digits = std::to_string(speed);
  if (digits.size() < 6) digits.insert(0, 6 - digits.size(), ' ');
  return digits + " Bd";
}

std::vector<std::string> SpeedListItems(std::string_view heading) {
  std::vector<std::string> items;
  items.reserve(kPresetSpeeds.size() + 1);
  items.push_back(HeadingItemText(heading));
  for (const uint32_t s : kPresetSpeeds) items.push_back(PresetItemText(s));
  return items;
}

std::string BoxCaption(std::string_view text) {
  return " " + std::string(text) + ": ";
}

std::vector<std::string> DataBitsItems() {
  return {"5", "6", "7", "8"};
}
std::vector<std::string> StopBitsItems() {
  return {"1", "2"};
}
std::vector<std::string> ParityItems() {
  return {kParityNames.begin(), kParityNames.end()};
}

int ParityIndex(char parity) {
  for (std::size_t i = 0; i < kParityNames.size(); ++i) {
    if (kParityNames[i].front() == parity) return static_cast<int>(i);
  }
  return 0;
}

char ParityFromIndex(int index) {
  if (index < 0 || index >= static_cast<int>(kParityNames.size())) index = 0;
  return kParityNames[static_cast<std::size_t>(index)].front();
}

PortView ShowPortSettings(config::SettingsRecord& wc) {
  PortView v;
  v.com = std::to_string(wc.PortIndex + 1);
  v.speed = Sync(wc, 0);
  v.preset_index = 0;
  v.parity_index = ParityIndex(wc.Parity);
  const int data = wc.DataBits - 5;
  v.data_bits_index = data >= 0 && data <= 3 ? data : -1;
  const int stop = wc.StopBits - 1;
  v.stop_bits_index = stop >= 0 && stop <= 1 ? stop : -1;
  return v;
}

std::string CommitCom(config::SettingsRecord& wc, std::string_view text) {
  const uint32_t com = FieldNumber(text, 1, 64);
  wc.PortIndex = static_cast<uint8_t>(com - 1);
  return std::to_string(com);
}

SpeedView CommitDivisor(config::SettingsRecord& wc, std::string_view text) {
  wc.BaudDivisor = FieldNumber(text, 1, static_cast<int32_t>(config::kBaseBaud));
  return Sync(wc, 0);
}

SpeedView CommitSpeed(config::SettingsRecord& wc, std::string_view text) {
  const uint32_t speed = FieldNumber(text, 1, static_cast<int32_t>(config::kBaseBaud));
  wc.BaudDivisor = 0;
  return Sync(wc, speed);
}

SpeedView CommitPreset(config::SettingsRecord& wc, int item) {
  if (item >= 1 && item <= static_cast<int>(kPresetSpeeds.size())) {
    wc.BaudDivisor = 0;
    return Sync(wc, kPresetSpeeds[static_cast<std::size_t>(item - 1)]);
  }
  return Sync(wc, 0);
}

int CommitDataBits(config::SettingsRecord& wc, int index) {
  // The index is checked before it is offset, so that no index can overflow.
  wc.DataBits = static_cast<uint8_t>(index >= 0 && index <= 3 ? index + 5 : 8);
  return wc.DataBits - 5;
}

int CommitStopBits(config::SettingsRecord& wc, int index) {
  wc.StopBits = static_cast<uint8_t>(index >= 0 && index <= 1 ? index + 1 : 1);
  return wc.StopBits - 1;
}

int CommitParity(config::SettingsRecord& wc, int index) {
  wc.Parity = ParityFromIndex(index);
  return ParityIndex(wc.Parity);
}

}  // namespace m32::dialogs
