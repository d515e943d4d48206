// The file helpers on Windows. Paths are UTF-8 and go to the wide-character
// calls, so a folder with any name works.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "config/file_io.h"
#include "config/utf8_path_win32.h"

namespace m32::config {
namespace {

std::atomic<unsigned> g_temp_counter{0};

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  bool Close() {
    if (h_ == INVALID_HANDLE_VALUE) return true;
    const bool closed = ::CloseHandle(h_) != FALSE;
    h_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE h_;
};

bool WriteAll(HANDLE h, std::string_view data) {
  while (!data.empty()) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1U << 30));
    DWORD written = 0;
    if (!::WriteFile(h, data.data(), chunk, &written, nullptr) || written == 0) return false;
    data.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool SaveFile(const std::string& path, std::string_view data) {
  const std::wstring target = WidePath(path);
  if (target.empty()) return false;
  // A name of our own beside the target; CREATE_NEW refuses to reuse a stranger's file.
  std::wstring temp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 16 && h == INVALID_HANDLE_VALUE; ++attempt) {
    temp = target + L".tmp" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
           std::to_wstring(g_temp_counter.fetch_add(1));
    h = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  Handle file(h);
  if (!file.ok()) return false;
  bool ok = WriteAll(file.get(), data) && ::FlushFileBuffers(file.get());
  ok = file.Close() && ok;
  // The rename is the moment the new file takes the old one's place; with
  // write-through it is on the disk when the call returns.
  if (ok) {
    ok = ::MoveFileExW(temp.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  }
  if (!ok) ::DeleteFileW(temp.c_str());
  return ok;
}

ReadStatus ReadFilePrefix(const std::string& path, std::size_t limit, std::string& out) {
  out.clear();
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return ReadStatus::kMissing;
  Handle file(::CreateFileW(wide.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) {
    const DWORD err = ::GetLastError();
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? ReadStatus::kMissing
                                                                      : ReadStatus::kUnreadable;
  }
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) return ReadStatus::kUnreadable;
  out.resize(limit);
  std::size_t got = 0;
  while (got < limit) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(limit - got, 1U << 30));
    DWORD n = 0;
    if (!::ReadFile(file.get(), out.data() + got, chunk, &n, nullptr)) {
      out.clear();
      return ReadStatus::kUnreadable;
    }
    if (n == 0) break;
    got += n;
  }
  out.resize(got);
  return ReadStatus::kOk;
}

}  // namespace m32::config
