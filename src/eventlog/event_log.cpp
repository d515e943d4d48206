#include "eventlog/event_log.h"

#include <system_error>
#include <utility>

namespace m32::eventlog {

EventLog::EventLog(const std::filesystem::path& path, std::function<int16_t()> ad_mode,
                   std::FILE* errors)
    : ad_mode_(std::move(ad_mode)), writer_(path, errors) {}

void EventLog::OnLineEvent(link::LineEvent&& event) {
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  if (event.kind == link::LineEventKind::kPortOpened ||
      event.kind == link::LineEventKind::kPortReopened) {
    opened_.store(now);
  }
  EventRecord r;
  r.unix_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::system_clock::now().time_since_epoch())
                  .count();
  r.since_open_us = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::duration(now - opened_.load()))
                        .count();
  if (event.kind == link::LineEventKind::kInputsAccepted && ad_mode_) r.ad_mode = ad_mode_();
  r.event = std::move(event);
  (void)writer_.Push(std::move(r));
}

LogRequest FindLogRequest(const std::vector<std::string>& args) {
  LogRequest request;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--log=", 0) == 0) {
      request.wanted = true;
      request.file = a.substr(6);
      request.consumed.push_back(i);
    } else if (a == "--log") {
      request.wanted = true;
      request.file.clear();
      request.consumed.push_back(i);
      if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') {
        request.file = args[++i];
        request.consumed.push_back(i);
      }
    }
  }
  return request;
}

std::filesystem::path LogFilePath(const LogRequest& request,
                                  const std::filesystem::path& settings_folder, std::time_t now) {
  if (!request.file.empty()) {
    return std::filesystem::path(std::u8string(request.file.begin(), request.file.end()));
  }
  std::tm t{};
#if defined(_WIN32)
  localtime_s(&t, &now);
#else
  localtime_r(&now, &t);
#endif
  const std::filesystem::path folder = settings_folder / "logs";
  std::error_code ec;  // a folder that cannot be made shows when the file is opened
  std::filesystem::create_directories(folder, ec);
  char name[40] = {};
  if (std::strftime(name, sizeof name, "%Y-%m-%d_%H-%M-%S.csv", &t) == 0) return folder / "log.csv";
  return folder / name;
}

}  // namespace m32::eventlog
