// The event log: a LineEventSink that stamps each line event with the wall
// clock and the time since the port opened and queues it for the writer.
// Started from the command line: --log FILE, or --log alone for a file
// named by the date and time in a "logs" folder beside the settings file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "eventlog/log_writer.h"
#include "link/line_watch.h"

namespace m32::eventlog {

class EventLog final : public link::LineEventSink {
 public:
  // `ad_mode` gives the A/D mode in force; asked on the thread telling the
  // event (the link thread), so it must read only what that thread may.
  EventLog(const std::filesystem::path& path, std::function<int16_t()> ad_mode,
           std::FILE* errors = stderr);

  void OnLineEvent(link::LineEvent&& event) override;
  LogWriter& Writer() { return writer_; }

 private:
  std::function<int16_t()> ad_mode_;
  std::atomic<std::chrono::steady_clock::rep> opened_{0};
  LogWriter writer_;
};

// What the command line asks for: no log, a file, or a file of the default name.
struct LogRequest {
  bool wanted = false;
  std::string file;                   // UTF-8; empty: the default name
  std::vector<std::size_t> consumed;  // the positions of the words it took
};

// Looks for --log [FILE] or --log=FILE in the arguments (the program name
// first). A word after --log that begins with '-' is not its file.
LogRequest FindLogRequest(const std::vector<std::string>& args);

// The file to write: the one asked for, or
// <settings folder>/logs/YYYY-MM-DD_HH-MM-SS.csv by the local time `now`
// (the logs folder is made when missing).
std::filesystem::path LogFilePath(const LogRequest& request,
                                  const std::filesystem::path& settings_folder, std::time_t now);

}  // namespace m32::eventlog
