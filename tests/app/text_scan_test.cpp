#include "app/text_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace m32 {
namespace {

using namespace std::string_view_literals;

struct IntCase {
  const char* legend;
  std::string_view text;
  std::size_t max_chars;
  int32_t value;
  bool digits;
};

TEST(ScanInt, ReadsLikeAPercentDScan) {
  const std::string long_digits(5000, '7');
  const std::string blanks_then_five = std::string(49, ' ') + "5";
  const std::string blanks_past_limit = std::string(50, ' ') + "5";
  const IntCase cases[] = {
      {"plain number", "123", 50, 123, true},
      {"leading blanks of every C kind", " \t\n\v\f\r42", 50, 42, true},
      {"plus sign", "+17", 50, 17, true},
      {"minus sign", "-3", 50, -3, true},
      {"digits stop at a letter", "12abc", 50, 12, true},
      {"trailing blank ends the number", "64 1", 50, 64, true},
      {"empty text", "", 50, 0, false},
      {"letters only", "abc", 50, 0, false},
      {"sign only", "-", 50, 0, false},
      {"two signs", "+-5", 50, 0, false},
      {"blank between sign and digits", "- 5", 50, 0, false},
      {"hex prefix reads the 0", "0x10", 50, 0, true},
      {"leading zeros", "007", 50, 7, true},
      {"above int32 saturates", "99999999999", 50, INT32_MAX, true},
      {"below int32 saturates", "-99999999999", 50, INT32_MIN, true},
      {"exactly int32 max", "2147483647", 50, INT32_MAX, true},
      {"exactly int32 min", "-2147483648", 50, INT32_MIN, true},
      {"very long run of digits", long_digits, 50, INT32_MAX, true},
      {"only the first max_chars count", "12345", 3, 123, true},
      {"digit at the last counted place", blanks_then_five, 50, 5, true},
      {"digit just past the limit", blanks_past_limit, 50, 0, false},
      {"NUL ends the text",
       "4\0"
       "2"sv,
       50, 4, true},
      {"non-ASCII byte before digits",
       "\xE9"
       "5",
       50, 0, false},
      {"non-ASCII byte after digits", "5\xFF", 50, 5, true},
      {"0xA0 is no blank",
       "\xA0"
       "5",
       50, 0, false},
  };
  for (const auto& c : cases) {
    const IntScan r = ScanInt(c.text, c.max_chars);
    EXPECT_EQ(r.value, c.value) << c.legend;
    EXPECT_EQ(r.digits, c.digits) << c.legend;
  }
}

struct ShortCase {
  const char* legend;
  std::string_view text;
  int16_t value;
  bool digits;
};

TEST(ScanShort, ReadsLikeAPercentHdScanAndSaturates) {
  const ShortCase cases[] = {
      {"in range", "1234", 1234, true},
      {"negative in range", "-77", -77, true},
      {"upper limit", "32767", 32767, true},
      {"lower limit", "-32768", -32768, true},
      {"one above saturates, does not wrap to -32768", "32768", 32767, true},
      {"40000 saturates, does not wrap to -25536", "40000", 32767, true},
      {"65537 saturates, does not wrap to 1", "65537", 32767, true},
      {"below the range", "-40000", -32768, true},
      {"ten nines, the field's full length", "9999999999", 32767, true},
      {"letters only", "zz", 0, false},
      {"12 then letters", "12ab", 12, true},
  };
  for (const auto& c : cases) {
    const ShortScan r = ScanShort(c.text, kDialogScanChars);
    EXPECT_EQ(r.value, c.value) << c.legend;
    EXPECT_EQ(r.digits, c.digits) << c.legend;
  }
}

}  // namespace
}  // namespace m32
