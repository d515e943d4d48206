// The walk's reports: the human text on stdout, CSV (RFC 4180, UTF-8), JUnit
// XML (one testcase a channel) and a one-page HTML report (also the source of
// the PDF). All texts are UTF-8.
#pragma once

#include <string>

#include "walk/walk_judge.h"

namespace m32::walk {

// What identifies the board and the run.
struct ReportInfo {
  std::string serial;         // the board's serial number (--serial)
  std::string operator_name;  // who ran it (--operator)
  std::string date;           // local date and time, "2026-12-08 18:07:11"
  std::string timestamp;      // ISO 8601 for JUnit, "2026-12-08T18:07:11"
  std::string tool_version;   // "merkat32-walk 1.10"
  std::string line;           // "COM1 9600 Bd 8E1"
  double seconds = 0;         // the walk's own time, all runs
};

// One line a channel (failures first, then by channel), the A/D check if any,
// and a summary line.
std::string HumanReport(const WalkResult& result, const ReportInfo& info);
std::string CsvReport(const WalkResult& result, const ReportInfo& info);
std::string JunitReport(const WalkResult& result, const ReportInfo& info);
std::string HtmlReport(const WalkResult& result, const ReportInfo& info);

// "out5 -> in5", "out2 -> none", "in5 = 1" (an input held constant, no feed).
std::string ChannelLabel(const ChannelResult& r);

}  // namespace m32::walk
