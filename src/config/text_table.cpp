#include "config/text_table.h"

#include <cstddef>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "config/file_io.h"
#include "config/language_list.h"
#include "core/code_page.h"

namespace m32::config {
namespace {

// The empty marker: a line starting with two double quotes stands for an empty text.
constexpr const char* kMarker = "\"\"";

constexpr const char* kTitle = " M e r k a t - 3 2  verze 1.10  (c) Merkat 2026";

// Built-in Czech texts, Windows-1250 bytes, group after group.
constexpr std::array<const char*, TextTable::kEntries> kDefaults = {
    // group 0
    "\xC8"
    "e\x9Atina",  // Čeština
    "Jazyk",
    // group 1
    "&Nastaven\xED parametr\xF9",  // &Nastavení parametrů
    "&T e s t",
    "&Servis",
    "N\xE1&pov\xEC"
    "da",  // Ná&pověda
    "&Konec",
    // group 2
    "&Jazyk",
    "K&onstanty",
    "&Komunikace",
    "&Tisk\xE1rna",  // &Tiskárna
    // group 3
    "Test &komunikace",
    "Test &osv\xECtlen\xED",  // Test &osvětlení
    // group 4
    "&Dokumentace",
    "&O programu",
    // group 5
    "&Storno",
    "&O. K.",
    // group 6
    "Konstanty",
    "adresa regul\xE1toru",  // adresa regulátoru
    kMarker,
    kMarker,  // entries 2..3
    "1 = A/D p\xF8"
    "evodn\xEDk",                     // 1 = A/D převodník
    "1 = ext. tla\xE8\xEDtka <DTR>",  // 1 = ext. tlačítka <DTR>
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,  // entries 6..13
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,  // entries 14..21
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,  // entries 22..29
    kMarker,
    kMarker,  // entries 30..31
    // group 7
    "Konfigurace s\xE9riov\xE9ho portu",  // Konfigurace sériového portu
    "P\xF8"
    "edvolby",  // Předvolby
    "Port",
    "Rychlost",
    "Form\xE1t",            // Formát
    "S\xE9riov\xFD port",   // Sériový port
    "nelze otev\xF8\xEDt",  // nelze otevřít
    "nelze nastavit",
    // group 8
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,  // entries 0..7
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,  // entries 8..15
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,  // entries 16..23
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,  // entries 24..31
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,  // entries 32..39
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,  // entries 40..47
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,  // entries 48..55
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,
    kMarker,  // entries 56..63
    // group 9
    "Test komunikace",
    "&vys\xEDl\xE1n\xED:",  // &vysílání:
    "&p\xF8\xEDjem:",       // &příjem:
    // group 10
    "Test osv\xECtlen\xED",  // Test osvětlení
    "Jas",
    // group 11
    "N\xE1pov\xEC"
    "da",  // Nápověda
    "Soubor n\xE1pov\xEC"
    "dy nelze otev\xF8\xEDt. Zobrazit podrobnosti?",  // Soubor nápovědy nelze otevřít. Zobrazit
                                                      // podrobnosti?
    "L\xE1m\xE1n\xED \xF8\xE1"
    "dk\xF9 zapnout",  // Lámání řádků zapnout
    "L\xE1m\xE1n\xED \xF8\xE1"
    "dk\xF9 vypnout",  // Lámání řádků vypnout
    // group 12
    "O programu",
};

constexpr int FirstIndexOfGroup(int g) {
  int index = 0;
  for (int i = 0; i < g; ++i) index += TextTable::kGroupSizes[static_cast<std::size_t>(i)];
  return index;
}

bool IsBlankLine(std::string_view line) {
  for (const char c : line) {
    if (c != ' ' && c != '\t' && c != '\0') return false;
  }
  return true;
}

// Splits the text of a language file into its texts, line by line.
class LineParser {
 public:
  explicit LineParser(std::string_view text) : text_(text) {}

  // NextText: the next text, or EmptyText once the text is used up. A CR just
  // before an LF belongs to the line end; lines of only blanks, tabs or zero
  // characters are skipped; a line that starts with two double quotes is an
  // empty text; every other line is the text exactly, blanks included, up to
  // its first zero character.
  std::string NextText() {
    while (pos_ < text_.size()) {
      while (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
      const std::size_t start = pos_;
      while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      std::string_view line = text_.substr(start, pos_ - start);
      if (pos_ < text_.size()) {
        ++pos_;  // past the LF
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      }
      if (IsBlankLine(line)) continue;
      if (line.size() >= 2 && line[0] == '"' && line[1] == '"') return {};
      const std::size_t zero = line.find('\0');
      if (zero != std::string_view::npos) line = line.substr(0, zero);
      return std::string(line);
    }
    return {};
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

TextTable::TextTable() {
  entries_.reserve(kEntries);
  for (const char* text : kDefaults) entries_.emplace_back(text);
}

const std::string& TextTable::Get(int g, int k) const {
  if (g < 0 || g >= kGroups || k < 0 || k >= kGroupSizes[static_cast<std::size_t>(g)]) {
    return EmptyText();
  }
  const int index = FirstIndexOfGroup(g) + k;
  return entries_[static_cast<std::size_t>(index)];
}

std::string TextTable::Utf8(int g, int k) const {
  return core::Cp1250ToUtf8(Get(g, k));
}

const std::string& TextTable::TitleText() const {
  static const std::string title(kTitle);
  return title;
}

const std::string& TextTable::EmptyText() {
  static const std::string empty;
  return empty;
}

std::string TextTable::TemplateText() const {
  std::string out;
  std::size_t index = 0;
  for (int g = 0; g < kGroups; ++g) {
    out += "\r\n";
    const int size = kGroupSizes[static_cast<std::size_t>(g)];
    for (int k = 0; k < size; ++k) {
      const std::string& text = entries_[index++];
      // An empty entry is written as the marker, so that the file reads back the
      // same. So is a text of only blanks or tabs (a line cut short by a zero
      // byte can give one): written as it is, the reader would skip its line
      // and every later text would move up by one entry.
      out += IsBlankLine(text) ? std::string(kMarker) : text;
      out += "\r\n";
      if (g == 8 && k % 8 == 7) out += "\r\n";
    }
  }
  return out;
}

TextTable::LoadResult TextTable::LoadTexts(ModulePath& module, uint8_t language) {
  int n = language <= 9 ? language : 0;
  try {
    for (;;) {
      const std::string& name = module.SetExtension(LanguageExtension(n));
      std::string text;
      const ReadStatus status = ReadLanguageFile(name, text);
      if (status == ReadStatus::kOk) {
        // Parse into a new table; the texts in use change only once all is read.
        std::vector<std::string> loaded;
        loaded.reserve(kEntries);
        LineParser parser(text);
        for (int i = 0; i < kEntries; ++i) loaded.push_back(parser.NextText());
        entries_.swap(loaded);
        return LoadResult::kLoaded;
      }
      if (n != 0) {
        n = 0;  // the chosen language's file is missing: use the default file
        continue;
      }
      // The default file: write the template only when there is none, never
      // over a file that exists but cannot be read.
      if (status == ReadStatus::kMissing && SaveFile(name, TemplateText())) {
        return LoadResult::kTemplateWritten;
      }
      return LoadResult::kUnchanged;
    }
  } catch (const std::bad_alloc&) {
    return LoadResult::kUnchanged;
  }
}

}  // namespace m32::config
