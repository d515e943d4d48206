// The number fields: ScanInt/ScanShort, the lighting test's level field and the
// commit of every control of the port and constants dialogs, on any text.
//
// Input: byte 0 picks how many characters the scan sees (0..63); bytes 1-4 are
// a list index or row number (int32, little-endian); the rest is the field's
// text. The working copy starts as the first 100 bytes of the input.
//
// Checks, beyond the sanitizers:
//  - ScanInt and ScanShort agree with a reading through strtoll, saturated,
//    of the text cut at the scan length and at its first NUL;
//  - every commit leaves its field inside the range it promises, changes no
//    other field, shows the value it stored, and leaves values that the
//    record's own clamps no longer change;
//  - the level field gives the scan limited to 0..255.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "core/number_fields.h"
#include "dialogs/constants_rows.h"
#include "dialogs/port_settings.h"
#include "fuzz_support.h"
#include "service/brightness.h"

namespace {

using m32::config::SettingsRecord;
using m32::fuzz::Check;

struct Reference {
  int64_t value = 0;
  bool digits = false;
};

// "%d" through the C library: strtoll on the first `max_chars` bytes as a C
// string, in the "C" locale.
Reference ReferenceScan(std::string_view text, std::size_t max_chars) {
  const std::string c_string(text.substr(0, max_chars));
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(c_string.c_str(), &end, 10);
  return {v, end != c_string.c_str()};
}

template <typename T>
T Saturated(int64_t v) {
  if (v < std::numeric_limits<T>::min()) return std::numeric_limits<T>::min();
  if (v > std::numeric_limits<T>::max()) return std::numeric_limits<T>::max();
  return static_cast<T>(v);
}

int64_t Limited(int64_t v, int64_t lo, int64_t hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

// Everything but the serial port fields.
bool SameOtherThanPort(SettingsRecord a, SettingsRecord b) {
  b.PortIndex = a.PortIndex;
  b.BaudDivisor = a.BaudDivisor;
  b.DataBits = a.DataBits;
  b.StopBits = a.StopBits;
  b.Parity = a.Parity;
  return a == b;
}

void CheckScans(std::string_view text, std::size_t max_chars) {
  const Reference ref = ReferenceScan(text, max_chars);
  const m32::IntScan i = m32::ScanInt(text, max_chars);
  Check(i.value == Saturated<int32_t>(ref.value) && i.digits == ref.digits,
        "ScanInt differs from strtoll");
  const m32::ShortScan s = m32::ScanShort(text, max_chars);
  Check(s.value == Saturated<int16_t>(ref.value) && s.digits == ref.digits,
        "ScanShort differs from strtoll");
}

void CheckPortCommits(SettingsRecord wc, std::string_view text, int index) {
  const int64_t field = ReferenceScan(text, m32::kDialogScanChars).value;
  constexpr uint32_t kBase = m32::config::kBaseBaud;

  SettingsRecord before = wc;
  const m32::dialogs::PortView shown = m32::dialogs::ShowPortSettings(wc);
  Check(wc.BaudDivisor != 0 && SameOtherThanPort(before, wc), "showing changed the record");
  Check(shown.com == std::to_string(wc.PortIndex + 1), "Ed_com does not show PortIndex + 1");
  Check(shown.speed.divisor == std::to_string(wc.BaudDivisor) &&
            shown.speed.speed == std::to_string(kBase / wc.BaudDivisor),
        "the speed fields do not match the divisor");
  Check(shown.data_bits_index >= -1 && shown.data_bits_index <= 3 && shown.stop_bits_index >= -1 &&
            shown.stop_bits_index <= 1 && shown.parity_index >= 0 && shown.parity_index <= 3,
        "a list index outside its list");

  before = wc;
  const std::string com = m32::dialogs::CommitCom(wc, text);
  Check(wc.PortIndex == Limited(field, 1, 64) - 1 && com == std::to_string(wc.PortIndex + 1),
        "Ed_com commit");

  m32::dialogs::SpeedView v = m32::dialogs::CommitDivisor(wc, text);
  Check(wc.BaudDivisor == Limited(field, 1, kBase), "Ed_BR commit");
  Check(v.divisor == std::to_string(wc.BaudDivisor) &&
            v.speed == std::to_string(kBase / wc.BaudDivisor),
        "Ed_BR shows other values than stored");

  v = m32::dialogs::CommitSpeed(wc, text);
  const auto speed = static_cast<uint32_t>(Limited(field, 1, kBase));
  Check(wc.BaudDivisor == kBase / speed && v.divisor == std::to_string(wc.BaudDivisor) &&
            v.speed == std::to_string(kBase / wc.BaudDivisor),
        "Ed_Bd commit");

  const uint32_t divisor_before = wc.BaudDivisor;
  v = m32::dialogs::CommitPreset(wc, index);
  if (index >= 1 && index <= static_cast<int>(m32::dialogs::kPresetSpeeds.size())) {
    Check(
        wc.BaudDivisor == kBase / m32::dialogs::kPresetSpeeds[static_cast<std::size_t>(index - 1)],
        "Ed_rychl commit of a preset");
  } else {
    Check(wc.BaudDivisor == divisor_before, "Ed_rychl commit of the heading changed the speed");
  }
  Check(v.divisor == std::to_string(wc.BaudDivisor), "Ed_rychl shows another divisor");

  const int data_index = m32::dialogs::CommitDataBits(wc, index);
  Check(wc.DataBits >= 5 && wc.DataBits <= 8 && data_index == wc.DataBits - 5, "Ed_dta commit");
  const int stop_index = m32::dialogs::CommitStopBits(wc, index);
  Check(wc.StopBits >= 1 && wc.StopBits <= 2 && stop_index == wc.StopBits - 1, "Ed_stp commit");
  const int parity_index = m32::dialogs::CommitParity(wc, index);
  Check(parity_index >= 0 && parity_index <= 3 &&
            wc.Parity == m32::dialogs::ParityFromIndex(parity_index),
        "Ed_par commit");
  Check(SameOtherThanPort(before, wc), "a port commit changed another field");

  // O. K. copies the working copy back and clamps it: nothing left to change.
  SettingsRecord clamped = wc;
  m32::config::ClampSettings(clamped);
  Check(clamped.PortIndex == wc.PortIndex && clamped.BaudDivisor == wc.BaudDivisor &&
            clamped.DataBits == wc.DataBits && clamped.StopBits == wc.StopBits &&
            clamped.Parity == wc.Parity,
        "the clamp changed a committed port field");
}

void CheckConstantCommit(SettingsRecord wc, std::string_view text, int row) {
  const SettingsRecord before = wc;
  const auto shown = m32::dialogs::CommitConstant(wc, row, text);
  if (row < 0 || row >= m32::dialogs::kConstantRows) {
    Check(!shown.has_value() && wc == before, "a row outside the dialog was committed");
    return;
  }
  const auto r = static_cast<std::size_t>(row);
  const int16_t expected = Saturated<int16_t>(ReferenceScan(text, m32::kDialogScanChars).value);
  Check(shown.has_value() && wc.Constants[r] == expected, "constant commit");
  Check(*shown == std::to_string(expected) &&
            m32::ScanShort(*shown, m32::kDialogScanChars).value == expected,
        "the constant shown does not read back as stored");
  SettingsRecord other = wc;
  other.Constants[r] = before.Constants[r];
  Check(other == before, "a constant commit changed another field");

  const std::string label = m32::dialogs::ConstantLabel(static_cast<unsigned>(row), text);
  Check(label.size() <= 6 + 40 && label.find('\0') == std::string::npos, "row label too long");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::size_t max_chars = data[0] % 64U;
  const auto index = static_cast<int32_t>(
      static_cast<uint32_t>(data[1]) | (static_cast<uint32_t>(data[2]) << 8) |
      (static_cast<uint32_t>(data[3]) << 16) | (static_cast<uint32_t>(data[4]) << 24));
  const std::string_view text(reinterpret_cast<const char*>(data + 5), size - 5);

  CheckScans(text, max_chars);
  CheckScans(text, m32::kDialogScanChars);
  CheckScans(text, text.size());

  const int64_t level = Limited(ReferenceScan(text, m32::kLevelScanChars).value, 0, 255);
  Check(m32::service::ParseLevel(text) == level,
        "the level field is not the scan limited to 0..255");

  m32::config::RecordBytes block{};
  for (std::size_t i = 0; i < block.size() && i < size; ++i) block[i] = data[i];
  const SettingsRecord wc = m32::config::Decode(block);
  CheckPortCommits(wc, text, index);
  CheckConstantCommit(wc, text, index);
  CheckConstantCommit(wc, text, static_cast<int>(data[1] % 23U) - 1);
  return 0;
}
