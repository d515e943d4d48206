// Single-byte Windows code pages decoded to UTF-8, and Windows-1250, the code
// page of every user text of this tool, both ways.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace m32::core {

// The code pages the help viewer understands; anything else reads as 1250.
// kSymbol is the layout of the Symbol font (Greek letters and mathematical
// signs on Latin keys).
enum class CodePage : uint16_t {
  kWindows1250 = 1250,
  kWindows1251 = 1251,
  kWindows1252 = 1252,
  kWindows1253 = 1253,
  kSymbol = 42,
};

// The page for a code page number (1250 for anything unknown).
CodePage CodePageFromNumber(long number);

// The page of a font's character set: 0 Western, 2 Symbol, 161 Greek,
// 204 Cyrillic, 238 East European. Nothing for the others (the document's own
// code page applies).
std::optional<CodePage> CodePageFromCharset(long charset);

// The Unicode code point of one byte; U+FFFD for a byte without a character.
char32_t DecodeByte(CodePage page, uint8_t byte);

// Appends the UTF-8 form of a code point (U+FFFD for surrogates and values
// beyond U+10FFFF).
void AppendUtf8(std::string& out, char32_t cp);

// One UTF-8 sequence read from the front of a text: its code point and its
// length in bytes. Length 0 for a malformed sequence (a bad lead byte, a
// sequence cut short, a missing continuation byte) or an empty text. Overlong
// forms and surrogates are read as they are written.
struct Utf8Char {
  char32_t cp;
  std::size_t length;
};
Utf8Char ReadUtf8(std::string_view text);

// Windows-1250 <-> UTF-8. Bytes without a character (0x81, 0x83, 0x88, 0x90,
// 0x98) decode to U+FFFD; characters outside the code page encode as '?', and
// so does each lead byte of a malformed sequence.
std::string Cp1250ToUtf8(std::string_view cp1250);
std::string Utf8ToCp1250(std::string_view utf8);

}  // namespace m32::core
