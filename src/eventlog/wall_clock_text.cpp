#include "eventlog/wall_clock_text.h"

#include <cstdio>
#include <ctime>

namespace m32::eventlog {
namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int64_t SecondsOf(const std::tm& t) {
  return DaysFromCivil(t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1),
                       static_cast<unsigned>(t.tm_mday)) *
             86400 +
         t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

bool Split(std::time_t t, std::tm& local, std::tm& utc) {
#if defined(_WIN32)
  return localtime_s(&local, &t) == 0 && gmtime_s(&utc, &t) == 0;
#else
  return localtime_r(&t, &local) != nullptr && gmtime_r(&t, &utc) != nullptr;
#endif
}

}  // namespace

std::string UtcOffsetText(int64_t offset_seconds) {
  const char sign = offset_seconds < 0 ? '-' : '+';
  const int64_t a = (offset_seconds < 0 ? -offset_seconds : offset_seconds) / 60;
  char text[16];
  (void)std::snprintf(text, sizeof text, "%c%02d:%02d", sign, static_cast<int>(a / 60),
                      static_cast<int>(a % 60));
  return text;
}

void WallClockText::Append(std::string& out, int64_t unix_ms) {
  int64_t second = unix_ms / 1000;
  int64_t ms = unix_ms % 1000;
  if (ms < 0) {
    ms += 1000;
    --second;
  }
  if (second != cached_second_) {
    cached_second_ = second;
    std::tm local{};
    std::tm utc{};
    if (!Split(static_cast<std::time_t>(second), local, utc)) {
      date_time_ = "0000-00-00T00:00:00";
      offset_ = "+00:00";
    } else {
      char text[40];
      (void)std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900,
                          local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec);
      date_time_ = text;
      offset_ = UtcOffsetText(SecondsOf(local) - SecondsOf(utc));
    }
  }
  out += date_time_;
  out += '.';
  out += static_cast<char>('0' + ms / 100);
  out += static_cast<char>('0' + ms / 10 % 10);
  out += static_cast<char>('0' + ms % 10);
  out += offset_;
}

}  // namespace m32::eventlog
