#include "core/number_fields.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace m32 {
namespace {

using namespace std::string_view_literals;

// Both scans read the text alike and differ only in the range they saturate to.
struct ScanCase {
  const char* legend;
  std::string_view text;
  std::size_t max_chars;
  int32_t as_int;    // ScanInt
  int16_t as_short;  // ScanShort
  bool digits;
};

TEST(Scan, ReadsLikeAPercentDScanAndSaturates) {
  const std::string long_digits(5000, '7');
  const std::string blanks_then_five = std::string(49, ' ') + "5";
  const std::string blanks_past_limit = std::string(50, ' ') + "5";
  const ScanCase cases[] = {
      {"leading blanks of every C kind", " \t\n\v\f\r42", 50, 42, 42, true},
      {"plus sign", "+17", 50, 17, 17, true},
      {"minus sign", "-3", 50, -3, -3, true},
      {"leading zeros", "007", 50, 7, 7, true},
      {"digits stop at a letter", "12abc", 50, 12, 12, true},
      {"empty text", "", 50, 0, 0, false},
      {"letters only", "abc", 50, 0, 0, false},
      {"sign only", "-", 50, 0, 0, false},
      {"blank between sign and digits", "- 5", 50, 0, 0, false},
      {"int16 upper limit", "32767", 50, 32767, 32767, true},
      {"one above int16 saturates, does not wrap to -32768", "32768", 50, 32768, 32767, true},
      {"int16 lower limit", "-32768", 50, -32768, -32768, true},
      {"below int16", "-40000", 50, -40000, -32768, true},
      {"exactly int32 max", "2147483647", 50, INT32_MAX, 32767, true},
      {"exactly int32 min", "-2147483648", 50, INT32_MIN, -32768, true},
      {"above int32 saturates", "99999999999", 50, INT32_MAX, 32767, true},
      {"below int32 saturates", "-99999999999", 50, INT32_MIN, -32768, true},
      {"very long run of digits", long_digits, 50, INT32_MAX, 32767, true},
      {"only the first max_chars count", "12345", 3, 123, 123, true},
      {"digit at the last counted place", blanks_then_five, 50, 5, 5, true},
      {"digit just past the limit", blanks_past_limit, 50, 0, 0, false},
      {"NUL ends the text", "4\0002"sv, 50, 4, 4, true},
      {"0xA0 is no blank",
       "\xA0"
       "5",
       50, 0, 0, false},
  };
  for (const auto& c : cases) {
    const IntScan i = ScanInt(c.text, c.max_chars);
    const ShortScan s = ScanShort(c.text, c.max_chars);
    EXPECT_EQ(i.value, c.as_int) << c.legend;
    EXPECT_EQ(s.value, c.as_short) << c.legend;
    EXPECT_EQ(i.digits, c.digits) << c.legend;
    EXPECT_EQ(s.digits, c.digits) << c.legend;
  }
}

}  // namespace
}  // namespace m32
