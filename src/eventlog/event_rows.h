// The event log's records and their CSV rows.
//
// A record is one line event as the link told it, stamped when it was told;
// a frame's record becomes one row per channel that changed:
//
//   time,monotonic_ms,frame,event,channel,old,new,detail
//   2026-12-08T19:03:08.123+01:00,1234.567,117,output,out5,0,1,
//   2026-12-08T19:03:08.132+01:00,1243.701,118,input,in5,0,1,
//   2026-12-08T19:03:08.140+01:00,1251.002,119,input,adc,4660,4661,
//   2026-12-08T19:03:09.000+01:00,2110.500,,frames_dropped,,,,3
//
// time: wall clock, local, ISO 8601 to the millisecond with the offset;
// monotonic_ms: since the port opened, to the microsecond; frame: the number
// of the frame written (outputs, the close's all-off frames) or of the valid
// frame received (inputs) since the port opened. Inputs hidden behind the
// A/D value (A/D modes 1 and 2) are told as the value on channel adc.
#pragma once

#include <cstdint>
#include <string>

#include "eventlog/wall_clock_text.h"
#include "link/line_watch.h"

namespace m32::eventlog {

struct EventRecord {
  int64_t unix_ms = 0;  // wall clock
  int64_t since_open_us = 0;
  int16_t ad_mode = 0;  // for input frames
  link::LineEvent event;
};

// The header line, with its line end.
const std::string& CsvHeader();
// The event's name in the event column ("output", "line_silent", ...).
const char* EventName(link::LineEventKind kind);

class RowFormatter {
 public:
  // Appends the record's rows (none for a frame whose shown channels kept
  // their states).
  void Append(std::string& out, const EventRecord& r);
  // A row telling that `count` events did not fit into the queue.
  void AppendLost(std::string& out, int64_t unix_ms, uint64_t count);

 private:
  void Row(std::string& out, const EventRecord& r, const char* event, std::string_view channel,
           std::string_view old_value, std::string_view new_value, std::string_view detail);
  WallClockText clock_;
  int64_t last_us_ = 0;  // of the last row, for the lost-events row
};

}  // namespace m32::eventlog
