// The help files beside the executable: their names per language and their
// loading with the one fallback to the default language's file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "info/rich_text.h"

namespace m32::info {

// "HLP" for language 0, "HL1".."HL9" for 1..9; any other number reads as 0.
std::string HelpExtension(int language);

// Help files larger than this are refused rather than read into memory.
constexpr std::uintmax_t kMaxHelpFileBytes = 16U * 1024U * 1024U;

struct HelpFileResult {
  bool ok = false;
  std::string path;   // the file read, or the last one tried
  std::string error;  // the failure's description, e.g. "Cannot open file /x/T.HLP."
  std::string bytes;  // the file's content
  Document document;  // filled by the Load functions only
};

// Reads one file whole.
HelpFileResult ReadHelpFile(const std::string& path);
// Reads one file whole and turns it into a document.
HelpFileResult LoadHelpFile(const std::string& path);

// The full file name for a three-letter extension (ModulePath::SetExtension).
using HelpNamer = std::function<std::string(std::string_view ext3)>;

// The file of `language`; when that cannot be read and the language is not 0,
// the default language's file once. The result describes the last attempt.
// Reading a file never fails for its content: any bytes make a document.
HelpFileResult ReadHelpForLanguage(int language, const HelpNamer& name_for);
// The same, with the document made from the bytes.
HelpFileResult LoadHelpForLanguage(int language, const HelpNamer& name_for);

}  // namespace m32::info
