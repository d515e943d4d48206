// Wall-clock times as ISO 8601 local time to the millisecond with the offset
// from UTC, e.g. 2026-12-08T19:03:08.123+01:00. The date, time and offset are
// worked out once a second; the milliseconds are appended each time.
#pragma once

#include <cstdint>
#include <string>

namespace m32::eventlog {

class WallClockText {
 public:
  // `unix_ms`: milliseconds since 1970-01-01 UTC.
  void Append(std::string& out, int64_t unix_ms);

 private:
  int64_t cached_second_ = INT64_MIN;
  std::string date_time_;  // "2026-12-08T19:03:08"
  std::string offset_;     // "+01:00"
};

// The offset text for a local time that is `offset_seconds` ahead of UTC.
std::string UtcOffsetText(int64_t offset_seconds);

}  // namespace m32::eventlog
