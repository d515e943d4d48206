// The Windows-1250 table is checked against the C library's converter.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "core/code_page.h"

namespace m32::core {
namespace {

// One byte through iconv; false when iconv rejects it.
bool IconvByte(iconv_t cd, char byte, std::string& out) {
  char buf[8] = {};
  char* in = &byte;
  char* to = buf;
  std::size_t in_left = 1;
  std::size_t out_left = sizeof buf;
  if (iconv(cd, &in, &in_left, &to, &out_left) == static_cast<std::size_t>(-1)) return false;
  out.assign(buf, sizeof buf - out_left);
  return true;
}

TEST(Cp1250, EveryByteMatchesIconv) {
  iconv_t cd = iconv_open("UTF-8", "CP1250");
  // iconv_open reports failure as (iconv_t)-1.
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1))  // NOLINT(performance-no-int-to-ptr)
      << "CP1250 converter missing";
  std::string rejected;
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    std::string expected;
    if (IconvByte(cd, byte[0], expected)) {
      EXPECT_EQ(Cp1250ToUtf8(byte), expected) << "byte " << b;
      EXPECT_EQ(Utf8ToCp1250(expected), byte) << "byte " << b;
    } else {
      rejected += byte;
      EXPECT_EQ(Cp1250ToUtf8(byte), "\xEF\xBF\xBD") << "byte " << b << " has no character";
    }
  }
  iconv_close(cd);
  EXPECT_EQ(rejected, std::string("\x81\x83\x88\x90\x98"));
}

TEST(Cp1250, EncodingOddInput) {
  struct Case {
    const char* legend;
    std::string utf8;
    std::string cp1250;
  } cases[] = {
      {"outside the code page", "日本", "??"},
      {"replacement character", "\xEF\xBF\xBD", "?"},
      {"four-byte character",
       "a\xF0\x9F\x98\x80"
       "b",
       "a?b"},
      {"truncated sequence", "a\xC4", "a?"},
      {"stray continuation byte", "\x80x", "?x"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToCp1250(c.utf8), c.cp1250) << c.legend;
}

}  // namespace
}  // namespace m32::core
