#include "config/text_table.h"

#include <cstddef>
#include <new>
#include <utility>

#include "config/file_io.h"
#include "config/language_list.h"

namespace m32::config {
namespace {

// A language file holds at most this many characters; the rest is ignored.
constexpr std::size_t kMaxLanguageFile = 32767;

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

// Unicode code points of the bytes 0x80..0xFF; U+FFFD where the code page has no character.
constexpr std::array<char16_t, 128> kCp1250High = {
    0x20AC, 0xFFFD, 0x201A, 0xFFFD, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0xFFFD, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 0x88
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0xFFFD, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 0x98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // 0xA0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // 0xA8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // 0xB0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // 0xB8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // 0xC0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // 0xC8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // 0xD0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // 0xD8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // 0xE0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // 0xE8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // 0xF0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // 0xF8
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

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char EncodeCp1250(char32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  if (cp == 0xFFFD) return '?';
  for (std::size_t i = 0; i < kCp1250High.size(); ++i) {
    if (kCp1250High[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

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
  return Cp1250ToUtf8(Get(g, k));
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
      const ReadStatus status = ReadFilePrefix(name, kMaxLanguageFile, text);
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

std::string Cp1250ToUtf8(std::string_view cp1250) {
  std::string out;
  out.reserve(cp1250.size());
  for (const char c : cp1250) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{kCp1250High[b - 0x80U]});
  }
  return out;
}

std::string Utf8ToCp1250(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    std::size_t len = 0;
    char32_t cp = 0;
    if (b < 0x80) {
      len = 1;
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2;
      cp = b & 0x1FU;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
      cp = b & 0x0FU;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
      cp = b & 0x07U;
    }
    bool valid = len != 0 && i + len <= utf8.size();
    for (std::size_t j = 1; valid && j < len; ++j) {
      const auto cont = static_cast<unsigned char>(utf8[i + j]);
      if ((cont & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (cont & 0x3FU);
    }
    if (!valid) {
      out += '?';  // a malformed sequence: one replacement per bad lead byte
      ++i;
      continue;
    }
    out += EncodeCp1250(cp);
    i += len;
  }
  return out;
}

}  // namespace m32::config
