// Number fields: the text of an edit field read as a signed decimal integer in
// the manner of a C "%d" (or "%hd") scan of its first few characters.
//
//   - leading blanks (space, \t, \n, \v, \f, \r) are skipped;
//   - an optional '+' or '-' follows;
//   - digits are taken up to the first other character;
//   - text without digits (also a lone sign) reads as 0, and `digits` is false.
//
// Out-of-range numbers saturate instead of overflowing: ScanInt gives
// INT32_MIN..INT32_MAX, ScanShort gives -32768..32767 (99999 reads as 32767,
// -40000 as -32768). Callers limit the result further where they need to.
// The functions take raw bytes and are safe on any input (any length, NUL or
// non-ASCII bytes); a NUL byte ends the text as it would end a C string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace m32 {

// The dialogs read the first 50 characters of a field, the lighting test 31.
inline constexpr std::size_t kDialogScanChars = 50;
inline constexpr std::size_t kLevelScanChars = 31;

struct IntScan {
  int32_t value = 0;
  bool digits = false;  // at least one digit was read
};

struct ShortScan {
  int16_t value = 0;
  bool digits = false;
};

// The value of one hexadecimal digit (0-9, A-F, a-f), or -1 for any other
// character.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The upper-case hexadecimal digit of the low four bits of `value`.
constexpr char HexDigit(unsigned value) {
  return "0123456789ABCDEF"[value & 0x0Fu];
}

// "%d" of the first `max_chars` bytes of `text`, saturated to the int32 range.
IntScan ScanInt(std::string_view text, std::size_t max_chars);
// "%hd" of the first `max_chars` bytes of `text`, saturated to the int16 range.
ShortScan ScanShort(std::string_view text, std::size_t max_chars);

}  // namespace m32
