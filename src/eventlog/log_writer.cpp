#include "eventlog/log_writer.h"

#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace m32::eventlog {
namespace {

constexpr std::size_t kBatch = 4096;

std::FILE* OpenForAppend(const std::filesystem::path& path) {
#if defined(_WIN32)
  return _wfopen(path.c_str(), L"ab");
#else
  return std::fopen(path.c_str(), "ab");
#endif
}

int64_t NowUnixMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

LogWriter::LogWriter(const std::filesystem::path& path, std::FILE* errors)
    : path_(path), errors_(errors), ring_(kCapacity) {
  file_ = OpenForAppend(path_);
  if (file_ == nullptr) {
    Fail("cannot be opened", errno);
    return;
  }
  // Appending to an earlier log: its header is already there.
  if (std::fseek(file_, 0, SEEK_END) == 0 && std::ftell(file_) == 0) WriteOut(CsvHeader());
  if (stopped_.load()) return;
  thread_ = std::thread([this] { Run(); });
}

LogWriter::~LogWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (file_ != nullptr) (void)std::fclose(file_);
}

void LogWriter::Fail(const char* what, int error) {
  stopped_.store(true);
  if (errors_ != nullptr) {
    // The message of the error code; std::strerror shares one buffer among threads.
    const std::string reason = std::generic_category().message(error);
    (void)std::fprintf(errors_, "merkat32: event log %s %s (%s); the log stops here\n",
                       path_.string().c_str(), what, reason.c_str());
    (void)std::fflush(errors_);
  }
  if (file_ != nullptr) {
    (void)std::fclose(file_);
    file_ = nullptr;
  }
}

bool LogWriter::Push(EventRecord&& record) {
  if (stopped_.load(std::memory_order_relaxed)) return false;
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (size_ == kCapacity) {
      ++lost_pending_;
      lost_total_.fetch_add(1, std::memory_order_relaxed);
      return false;
    }
    ring_[(head_ + size_) % kCapacity] = std::move(record);
    ++size_;
    ++pushed_;
    wake = size_ == kCapacity / 2;
  }
  if (wake) cv_.notify_one();
  return true;
}

void LogWriter::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t target = pushed_;
  if (!thread_.joinable()) return;
  drain_ = true;
  cv_.notify_one();
  drained_.wait(lock, [&] { return finished_ >= target || quit_; });
}

void LogWriter::WriteOut(const std::string& text) {
  if (file_ == nullptr || text.empty()) return;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
    Fail("cannot be written", errno);
    return;
  }
#if !defined(_WIN32)
  // A folder taken away under an open file leaves it writable but gone.
  struct stat st {};
  if (::fstat(fileno(file_), &st) == 0 && st.st_nlink == 0) Fail("has gone", ENOENT);
#endif
}

void LogWriter::Run() {
  std::vector<EventRecord> batch;
  batch.reserve(kBatch);
  std::string text;
  text.reserve(kBatch * 96);
  RowFormatter rows;
  bool last = false;
  while (!last) {
    uint64_t lost = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait_for(lock, kWriteInterval,
                   [this] { return quit_ || drain_ || size_ >= kCapacity / 2; });
      while (size_ > 0 && batch.size() < kBatch) {
        batch.push_back(std::move(ring_[head_]));
        head_ = (head_ + 1) % kCapacity;
        --size_;
      }
      lost = lost_pending_;
      lost_pending_ = 0;
      if (size_ == 0) drain_ = false;
      last = quit_ && size_ == 0;
    }
    text.clear();
    if (!stopped_.load()) {
      for (const EventRecord& r : batch) rows.Append(text, r);
      if (lost > 0) rows.AppendLost(text, NowUnixMs(), lost);
      WriteOut(text);
      if (!stopped_.load()) written_.fetch_add(batch.size(), std::memory_order_relaxed);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished_ += batch.size();
    }
    drained_.notify_all();
    batch.clear();
  }
}

}  // namespace m32::eventlog
