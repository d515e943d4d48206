// The replaceable user texts: TitleText, EmptyText and 13 groups with built-in
// Czech defaults, replaced from a language file beside the executable.
// Texts are kept as Windows-1250 bytes; windows decode them when they show them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/settings.h"

namespace m32::config {

// One entry of the table: its group and its place in the group.
struct TextId {
  int group;
  int entry;
};

// Every entry by name, in the order of the language file.
namespace text {
inline constexpr TextId kLanguageNative{0, 0};  // the built-in language's own name
inline constexpr TextId kLanguageCaption{0, 1};
inline constexpr TextId kMenuSettings{1, 0};
inline constexpr TextId kMenuTest{1, 1};
inline constexpr TextId kMenuService{1, 2};
inline constexpr TextId kMenuHelp{1, 3};
inline constexpr TextId kMenuExit{1, 4};
inline constexpr TextId kMenuLanguage{2, 0};
inline constexpr TextId kMenuConstants{2, 1};
inline constexpr TextId kMenuPort{2, 2};
inline constexpr TextId kMenuPrinter{2, 3};
inline constexpr TextId kMenuCommTest{3, 0};
inline constexpr TextId kMenuLightingTest{3, 1};
inline constexpr TextId kMenuDocumentation{4, 0};
inline constexpr TextId kMenuAbout{4, 1};
inline constexpr TextId kButtonCancel{5, 0};
inline constexpr TextId kButtonOk{5, 1};
inline constexpr TextId kConstantsCaption{6, 0};
// The label of constant n (0..30).
constexpr TextId ConstantLabel(int n) {
  return {6, n + 1};
}
inline constexpr TextId kPortCaption{7, 0};
inline constexpr TextId kPortPresets{7, 1};
inline constexpr TextId kPortBox{7, 2};
inline constexpr TextId kPortSpeedBox{7, 3};
inline constexpr TextId kPortFormatBox{7, 4};
inline constexpr TextId kPortName{7, 5};        // "Sériový port"
inline constexpr TextId kPortCannotOpen{7, 6};  // "nelze otevřít"
inline constexpr TextId kPortCannotSet{7, 7};   // "nelze nastavit"
// The caption of I/O channel i (0..63).
constexpr TextId ChannelCaption(int i) {
  return {8, i};
}
inline constexpr TextId kCommTestCaption{9, 0};
inline constexpr TextId kCommTestSend{9, 1};
inline constexpr TextId kCommTestReceive{9, 2};
inline constexpr TextId kLightingCaption{10, 0};
inline constexpr TextId kLightingBrightness{10, 1};
inline constexpr TextId kHelpCaption{11, 0};
inline constexpr TextId kHelpCannotOpen{11, 1};
inline constexpr TextId kHelpWrapOn{11, 2};   // offered while wrapping is off
inline constexpr TextId kHelpWrapOff{11, 3};  // offered while wrapping is on
inline constexpr TextId kAboutCaption{12, 0};
}  // namespace text

class TextTable {
 public:
  static constexpr int kGroups = 13;
  static constexpr std::array<int, kGroups> kGroupSizes = {2, 5, 4, 2, 2, 2, 32, 8, 64, 3, 2, 4, 1};
  static constexpr int kEntries = 131;

  TextTable();  // the built-in defaults

  // Group g, entry k as Windows-1250 bytes; EmptyText for an index outside the table.
  const std::string& Get(int g, int k) const;
  const std::string& Get(TextId id) const { return Get(id.group, id.entry); }
  // The same, decoded to UTF-8 for display.
  std::string Utf8(int g, int k) const;
  std::string Utf8(TextId id) const { return Utf8(id.group, id.entry); }
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

}  // namespace m32::config
