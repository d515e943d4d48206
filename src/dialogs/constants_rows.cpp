#include "dialogs/constants_rows.h"

#include "core/number_fields.h"

namespace m32::dialogs {

std::string ConstantLabel(unsigned row, std::string_view entry) {
  constexpr std::size_t kLabelChars = 40;
  entry = entry.substr(0, entry.find('\0'));
  return "[" + std::to_string(row) + "]  " + std::string(entry.substr(0, kLabelChars));
}

std::string ConstantText(int16_t value) {
  return std::to_string(value);
}

std::optional<std::string> CommitConstant(config::SettingsRecord& wc, int row,
                                          std::string_view text) {
  if (row < 0 || row >= kConstantRows) return std::nullopt;
  const int16_t value = ScanShort(text, kDialogScanChars).value;
  wc.Constants[static_cast<std::size_t>(row)] = value;
  return ConstantText(value);
}

}  // namespace m32::dialogs
