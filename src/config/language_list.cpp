#include "config/language_list.h"

#include <new>
#include <string_view>
#include <utility>

#include "core/code_page.h"

namespace m32::config {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
// A UTF-8 character takes at most four bytes.
constexpr std::size_t kMaxUtf8Bytes = 4;

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

ReadStatus ReadLanguageFile(const std::string& path, std::string& text) {
  // Enough bytes for the most characters a file holds in either form.
  const ReadStatus status =
      ReadFilePrefix(path, kUtf8Mark.size() + kMaxUtf8Bytes * kMaxLanguageFile, text);
  if (status != ReadStatus::kOk) return status;
  if (text.starts_with(kUtf8Mark)) {
    text = core::Utf8ToCp1250(std::string_view(text).substr(kUtf8Mark.size()));
  }
  if (text.size() > kMaxLanguageFile) text.resize(kMaxLanguageFile);
  return status;
}

std::string LanguageExtension(int n) {
  return n == 0 ? std::string("MNU") : "MN" + std::to_string(n);
}

std::optional<std::string> ReadLanguageName(const std::string& path) {
  std::string text;
  try {
    if (ReadLanguageFile(path, text) != ReadStatus::kOk) return std::nullopt;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  std::size_t start = 0;
  while (start < text.size() && IsWhiteSpace(text[start])) ++start;
  std::size_t end = start;
  while (end < text.size() && text[end] != '\n' && text[end] != '\0') ++end;
  if (end > start && text[end - 1] == '\r' && end < text.size() && text[end] == '\n') --end;
  if (end == start) return std::nullopt;
  std::string name = text.substr(start, end - start);
  if (name.size() > kMaxLanguageName) name.resize(kMaxLanguageName);
  return name;
}

std::vector<LanguageChoice> ProbeLanguages(ModulePath& module) {
  std::vector<LanguageChoice> found;
  for (int n = 0; n <= 9; ++n) {
    std::optional<std::string> name = ReadLanguageName(module.SetExtension(LanguageExtension(n)));
    if (name) found.push_back({static_cast<uint8_t>(n), std::move(*name)});
  }
  return found;
}

}  // namespace m32::config
