// The language files present beside the executable, each with its own name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/file_io.h"
#include "config/settings.h"

namespace m32::config {

// The longest language name shown; longer names are cut.
constexpr std::size_t kMaxLanguageName = 49;

struct LanguageChoice {
  uint8_t number;    // 0 (MNU) to 9 (MN9)
  std::string name;  // Windows-1250, at most kMaxLanguageName bytes
};

// A language file holds at most this many characters; the rest is ignored.
constexpr std::size_t kMaxLanguageFile = 32767;

// The text of a language file as Windows-1250, at most kMaxLanguageFile
// characters. The file's bytes are taken as they are, except in a file that
// starts with the UTF-8 byte-order mark (an editor's "UTF-8" save): the mark
// is skipped and the rest is read as UTF-8.
ReadStatus ReadLanguageFile(const std::string& path, std::string& text);

// The extension of language n's file: "MNU" for 0, "MN1" to "MN9" otherwise.
std::string LanguageExtension(int n);

// The language's own name: the first line that is not white space, without the
// white space before it and without the line end. Nothing when the file cannot
// be read or holds only white space.
std::optional<std::string> ReadLanguageName(const std::string& path);

// Probes the ten language files in order 0..9; `module` ends up naming the last one probed.
std::vector<LanguageChoice> ProbeLanguages(ModulePath& module);

}  // namespace m32::config
