// The event log's file and its writer thread.
//
// Whoever tells an event (the link's step on the UI thread, the link thread
// when it parks) only puts a record into a queue of fixed size: no file I/O,
// no allocation beyond a record's own detail text, a short lock. The writer
// thread wakes every kWriteInterval (sooner when the queue is half full),
// formats what has come and writes it with one write and a flush, whole
// lines only, so a crash loses at most what was still queued. A full queue
// refuses records; they are counted and told as one events_lost row.
//
// A file that cannot be opened or written (a full disk, a folder that has
// gone) stops the log: one message on the error stream, records are dropped
// from then on, the caller never notices.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "eventlog/event_rows.h"

namespace m32::eventlog {

class LogWriter {
 public:
  static constexpr std::size_t kCapacity = std::size_t{1} << 15;
  static constexpr std::chrono::milliseconds kWriteInterval{50};

  // Opens `path` for appending (a new or empty file gets the header first)
  // and starts the writer. `errors` takes the one message of a failure.
  explicit LogWriter(const std::filesystem::path& path, std::FILE* errors = stderr);
  // Writes what is queued, then ends the thread.
  ~LogWriter();
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // Any thread. False when the record was refused (queue full or log stopped).
  bool Push(EventRecord&& record);
  // Writes everything queued so far before it returns (tests, benches).
  void Drain();

  bool Stopped() const { return stopped_.load(); }
  uint64_t Lost() const { return lost_total_.load(); }
  uint64_t Written() const { return written_.load(); }  // records written

 private:
  void Run();
  // Writes `text` and flushes; on failure stops the log with its message.
  void WriteOut(const std::string& text);
  void Fail(const char* what, int error);

  std::filesystem::path path_;
  std::FILE* errors_;
  std::FILE* file_ = nullptr;

  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<EventRecord> ring_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  uint64_t lost_pending_ = 0;
  uint64_t pushed_ = 0;    // records accepted
  uint64_t finished_ = 0;  // records taken and written (or dropped after a failure)
  bool quit_ = false;
  bool drain_ = false;  // Drain() waits: write at once
  std::condition_variable drained_;

  std::atomic<bool> stopped_{false};
  std::atomic<uint64_t> lost_total_{0};
  std::atomic<uint64_t> written_{0};
  std::thread thread_;
};

}  // namespace m32::eventlog
