// Single-byte Windows code pages met in help files, decoded to UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace m32::info {

// The code pages the help viewer understands; anything else reads as 1250,
// the code page of every user text of this tool.
enum class CodePage { kWindows1250 = 1250, kWindows1252 = 1252 };

// The page for an \ansicpgN number (1250 for anything unknown).
CodePage CodePageFromNumber(long number);

// The Unicode code point of one byte; U+FFFD for a byte without a character.
char32_t DecodeByte(CodePage page, uint8_t byte);

// Appends the UTF-8 form of a code point (U+FFFD for surrogates and values
// beyond U+10FFFF).
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace m32::info
