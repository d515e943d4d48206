// Single-byte Windows code pages met in help files, decoded to UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace m32::info {

// The code pages the help viewer understands; anything else reads as 1250,
// the code page of every user text of this tool. kSymbol is the layout of the
// Symbol font (Greek letters and mathematical signs on Latin keys).
enum class CodePage : uint16_t {
  kWindows1250 = 1250,
  kWindows1251 = 1251,
  kWindows1252 = 1252,
  kWindows1253 = 1253,
  kSymbol = 42,
};

// The page for an \ansicpgN or \cpgN number (1250 for anything unknown).
CodePage CodePageFromNumber(long number);

// The page of a font's character set (\fcharsetN): 0 Western, 2 Symbol,
// 161 Greek, 204 Cyrillic, 238 East European. Nothing for the others (the
// document's own code page applies).
std::optional<CodePage> CodePageFromCharset(long charset);

// The Unicode code point of one byte; U+FFFD for a byte without a character.
char32_t DecodeByte(CodePage page, uint8_t byte);

// Appends the UTF-8 form of a code point (U+FFFD for surrogates and values
// beyond U+10FFFF).
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace m32::info
