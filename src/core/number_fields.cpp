#include "core/number_fields.h"

#include <limits>

namespace m32 {
namespace {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The scanned number before it is narrowed to the caller's type.
struct Wide {
  int64_t value = 0;
  bool digits = false;
};

Wide ScanWide(std::string_view text, std::size_t max_chars) {
  // Past this every further digit changes nothing: the result saturates anyway.
  constexpr int64_t kCap = int64_t{1} << 40;
  const std::string_view t = text.substr(0, max_chars);
  std::size_t i = 0;
  while (i < t.size() && IsCSpace(t[i])) ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    negative = t[i] == '-';
    ++i;
  }
  Wide w;
  int64_t magnitude = 0;
  while (i < t.size() && IsDigit(t[i])) {
    w.digits = true;
    if (magnitude < kCap) magnitude = magnitude * 10 + (t[i] - '0');
    ++i;
  }
  w.value = negative ? -magnitude : magnitude;
  return w;
}

template <typename T>
T Saturate(int64_t v) {
  if (v < std::numeric_limits<T>::min()) return std::numeric_limits<T>::min();
  if (v > std::numeric_limits<T>::max()) return std::numeric_limits<T>::max();
  return static_cast<T>(v);
}

}  // namespace

IntScan ScanInt(std::string_view text, std::size_t max_chars) {
  const Wide w = ScanWide(text, max_chars);
  return {Saturate<int32_t>(w.value), w.digits};
}

ShortScan ScanShort(std::string_view text, std::size_t max_chars) {
  const Wide w = ScanWide(text, max_chars);
  return {Saturate<int16_t>(w.value), w.digits};
}

}  // namespace m32
