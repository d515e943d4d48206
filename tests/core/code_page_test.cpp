// The Windows-1250 table is checked against the platform's own converter: the
// C library's iconv, or Windows' code page 1250 in the Windows build.
#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include "core/code_page.h"

namespace m32::core {
namespace {

#ifdef _WIN32
// One byte through Windows' code page 1250; false for a byte it has no
// character for (Windows gives those as C1 control codes).
class ReferenceConverter {
 public:
  bool Ok() const { return true; }
  bool Byte(char byte, std::string& out) const {
    wchar_t wide[2] = {};
    if (::MultiByteToWideChar(1250, MB_ERR_INVALID_CHARS, &byte, 1, wide, 2) != 1) return false;
    if (wide[0] >= 0x80 && wide[0] <= 0x9F) return false;
    char buf[8] = {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, 1, buf, sizeof buf, nullptr, nullptr);
    if (n <= 0) return false;
    out.assign(buf, static_cast<std::size_t>(n));
    return true;
  }
};
#else
// One byte through iconv; false when iconv rejects it.
class ReferenceConverter {
 public:
  ReferenceConverter() : cd_(iconv_open("UTF-8", "CP1250")) {}
  ~ReferenceConverter() {
    if (Ok()) iconv_close(cd_);
  }
  ReferenceConverter(const ReferenceConverter&) = delete;
  ReferenceConverter& operator=(const ReferenceConverter&) = delete;
  // iconv_open reports failure as (iconv_t)-1.
  bool Ok() const {
    return cd_ != reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)
  }
  bool Byte(char byte, std::string& out) const {
    char buf[8] = {};
    char* in = &byte;
    char* to = buf;
    std::size_t in_left = 1;
    std::size_t out_left = sizeof buf;
    if (iconv(cd_, &in, &in_left, &to, &out_left) == static_cast<std::size_t>(-1)) return false;
    out.assign(buf, sizeof buf - out_left);
    return true;
  }

 private:
  iconv_t cd_;
};
#endif

TEST(Cp1250, EveryByteMatchesThePlatformsConverter) {
  const ReferenceConverter reference;
  ASSERT_TRUE(reference.Ok()) << "CP1250 converter missing";
  std::string rejected;
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    std::string expected;
    if (reference.Byte(byte[0], expected)) {
      EXPECT_EQ(Cp1250ToUtf8(byte), expected) << "byte " << b;
      EXPECT_EQ(Utf8ToCp1250(expected), byte) << "byte " << b;
    } else {
      rejected += byte;
      EXPECT_EQ(Cp1250ToUtf8(byte), "\xEF\xBF\xBD") << "byte " << b << " has no character";
    }
  }
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
