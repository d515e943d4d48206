// The replaceable user texts: TitleText, EmptyText and 13 groups with built-in
// Czech defaults, replaced from a language file beside the executable.
// Texts are kept as Windows-1250 bytes; windows decode them when they show them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"

namespace m32::config {

class TextTable {
 public:
  static constexpr int kGroups = 13;
  static constexpr std::array<int, kGroups> kGroupSizes = {2, 5, 4, 2, 2, 2, 32, 8, 64, 3, 2, 4, 1};
  static constexpr int kEntries = 131;

  TextTable();  // the built-in defaults

  // Group g, entry k as Windows-1250 bytes; EmptyText for an index outside the table.
  const std::string& Get(int g, int k) const;
  // The same, decoded to UTF-8 for display.
  std::string Utf8(int g, int k) const;
  const std::string& TitleText() const;
  static const std::string& EmptyText();

  enum class LoadResult {
    kLoaded,           // texts replaced from a file: re-caption the menu
    kTemplateWritten,  // default file was missing and has been written
    kUnchanged,        // nothing could be read or written
  };
  // LoadTexts: the file for `language` (MNU for 0, MN1..MN9), falling back to
  // MNU; writes the template when MNU is missing.
  LoadResult LoadTexts(ModulePath& module, uint8_t language);

  // The template layout of the current texts (CR LF line ends).
  std::string TemplateText() const;

 private:
  std::vector<std::string> entries_;  // 131, group after group
};

// Windows-1250 <-> UTF-8. Bytes without a character (0x81, 0x83, 0x88, 0x90,
// 0x98) decode to U+FFFD; characters outside the code page encode as '?'.
std::string Cp1250ToUtf8(std::string_view cp1250);
std::string Utf8ToCp1250(std::string_view utf8);

}  // namespace m32::config
