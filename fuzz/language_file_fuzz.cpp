// Any bytes as a language file beside the executable. The first byte picks the
// language (0..11, so that numbers past 9 and missing files are tried too);
// the rest is the file. Checks, beyond the sanitizers:
//  - all 131 entries exist afterwards and Get() answers any index without
//    throwing (EmptyText outside the table);
//  - the texts are exactly what a separate reading of the file's lines gives:
//    the first 32767 characters (of the UTF-8 text after a leading byte-order
//    mark, converted to Windows-1250), LF line ends with a CR before the LF dropped,
//    blank lines skipped, a line starting with two double quotes empty, a text
//    ending at its first zero byte;
//  - the template written from the loaded texts loads back to the same texts,
//    each in its entry (a text of only blanks or tabs comes back empty);
//  - Cp1250ToUtf8 gives valid UTF-8 and Utf8ToCp1250 brings every byte back
//    (the five bytes without a character come back as '?'); Utf8ToCp1250 on
//    any bytes gives no more bytes than it was given.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "config/text_table.h"
#include "core/code_page.h"
#include "fuzz_support.h"

namespace {

using m32::config::TextTable;
using m32::fuzz::Check;

constexpr std::size_t kMaxFile = 32767;

bool Blank(std::string_view line) {
  return line.find_first_not_of(std::string_view(" \t\0", 3)) == std::string_view::npos;
}

// The texts of a language file, read line by line from the front.
std::vector<std::string> ExpectedTexts(std::string_view bytes) {
  constexpr std::string_view kMark = "\xEF\xBB\xBF";
  const std::string converted =
      bytes.starts_with(kMark) ? m32::core::Utf8ToCp1250(bytes.substr(kMark.size())) : "";
  std::string_view file = bytes.starts_with(kMark) ? std::string_view(converted) : bytes;
  file = file.substr(0, kMaxFile);
  std::vector<std::string> texts;
  std::size_t start = 0;
  while (start < file.size() && texts.size() < TextTable::kEntries) {
    const std::size_t lf = file.find('\n', start);
    std::string_view line = file.substr(start, lf == std::string_view::npos ? lf : lf - start);
    if (lf != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    start = lf == std::string_view::npos ? file.size() : lf + 1;
    if (Blank(line)) continue;
    if (line.starts_with("\"\"")) {
      texts.emplace_back();
    } else {
      texts.emplace_back(line.substr(0, line.find('\0')));
    }
  }
  texts.resize(TextTable::kEntries);
  return texts;
}

std::vector<std::string> AllTexts(const TextTable& t) {
  std::vector<std::string> texts;
  for (int g = 0; g < TextTable::kGroups; ++g) {
    for (int k = 0; k < TextTable::kGroupSizes[static_cast<std::size_t>(g)]; ++k) {
      texts.push_back(t.Get(g, k));
    }
  }
  return texts;
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  Check(out.good(), "cannot write the language file");
}

bool Undefined(uint8_t b) {
  return b == 0x81 || b == 0x83 || b == 0x88 || b == 0x90 || b == 0x98;
}

void CheckCodePage(std::string_view bytes) {
  const std::string utf8 = m32::core::Cp1250ToUtf8(bytes);
  Check(m32::fuzz::ValidUtf8(utf8), "Cp1250ToUtf8 gave invalid UTF-8");
  const std::string back = m32::core::Utf8ToCp1250(utf8);
  Check(back.size() == bytes.size(), "Windows-1250 -> UTF-8 -> Windows-1250 changed the length");
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    Check(back[i] == (Undefined(b) ? '?' : bytes[i]), "a byte did not come back from UTF-8");
  }
  Check(m32::core::Utf8ToCp1250(bytes).size() <= bytes.size(),
        "Utf8ToCp1250 gave more bytes than it was given");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto language = static_cast<uint8_t>(data[0] % 12);
  const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);
  CheckCodePage(file);

  const std::filesystem::path& folder = m32::fuzz::ScratchFolder::Path();
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    std::filesystem::remove(e.path(), ec);
  }
  m32::config::ModulePath module;
  module.Derive((folder / "MERKAT32.EXE").string());
  // Languages 1..9 have their own file; 10 and 11 count as 0. Every third
  // input of a language 1..9 also leaves that file missing, to test the
  // fall-back to MNU.
  const bool own_file = language >= 1 && language <= 9 && (data[0] / 12) % 3 != 0;
  const std::string ext = own_file ? "MN" + std::to_string(language) : "MNU";
  WriteFile(module.SetExtension(ext), file);

  TextTable table;
  const TextTable::LoadResult result = table.LoadTexts(module, language);
  Check(result == TextTable::LoadResult::kLoaded, "a readable language file was not loaded");
  const std::vector<std::string> texts = AllTexts(table);
  Check(texts.size() == TextTable::kEntries, "the table does not hold 131 entries");
  Check(texts == ExpectedTexts(file), "the texts differ from the file's lines");
  for (const std::string& t : texts) CheckCodePage(t);
  for (int g = -1; g <= TextTable::kGroups; ++g) {
    for (int k = -1; k <= 65; ++k) {
      const std::string& t = table.Get(g, k);
      const bool inside = g >= 0 && g < TextTable::kGroups && k >= 0 &&
                          k < TextTable::kGroupSizes[static_cast<std::size_t>(g)];
      if (!inside) Check(t.empty(), "an index outside the table gave a text");
    }
  }

  // The template of these texts reads back the same (as long as it fits in
  // the size a language file may have).
  const std::string tmpl = table.TemplateText();
  if (tmpl.size() > kMaxFile) return 0;
  WriteFile(module.SetExtension("MNU"), tmpl);
  TextTable again;
  Check(again.LoadTexts(module, 0) == TextTable::LoadResult::kLoaded, "the template did not load");
  // A text of only blanks or tabs (left by a zero byte) is written as the
  // empty marker; every other text reads back as it was, in its place.
  std::vector<std::string> expected = texts;
  for (std::string& t : expected) {
    if (Blank(t)) t.clear();
  }
  Check(AllTexts(again) == expected, "the template of the loaded texts reads back differently");
  return 0;
}
