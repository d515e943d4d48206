// The constants dialog's logic: row labels, row texts and the commit of a row
// into the working copy of the settings record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/settings.h"

namespace m32::dialogs {

inline constexpr int kConstantRows = 21;

// Row label "[%u]  %.40s": the row number in brackets, two blanks and at most
// 40 characters of the entry (a NUL byte ends the entry, as in a C string).
std::string ConstantLabel(unsigned row, std::string_view entry);

// The row's field text: the constant in decimal ("%d" of the signed value).
std::string ConstantText(int16_t value);

// Commit of row `row` when its field loses the focus: the first 50 characters
// read like a "%hd" scan (out-of-range numbers saturate to -32768..32767, text
// without digits gives 0), stored in Constants[row]. Returns the text the
// field shows, the number stored; nothing for a row outside 0..20.
std::optional<std::string> CommitConstant(config::SettingsRecord& wc, int row,
                                          std::string_view text);

}  // namespace m32::dialogs
