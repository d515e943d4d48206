#include "config/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace m32::config {
namespace {

std::atomic<unsigned> g_temp_counter{0};

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The folder part of `path` ("." when it has none), for flushing the rename.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view data) {
  // A name of our own beside the target; O_EXCL refuses to reuse a stranger's file.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = path + ".tmp" + std::to_string(::getpid()) + "_" +
           std::to_string(g_temp_counter.fetch_add(1));
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; a failure here no longer endangers the data.
  const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

ReadStatus ReadFilePrefix(const std::string& path, std::size_t limit, std::string& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadStatus::kMissing : ReadStatus::kUnreadable;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return ReadStatus::kUnreadable;
  }
  ReadStatus status = ReadStatus::kOk;
  try {
    out.resize(limit);
    std::size_t got = 0;
    while (got < limit) {
      const ssize_t n = ::read(fd, out.data() + got, limit - got);
      if (n < 0) {
        if (errno == EINTR) continue;
        status = ReadStatus::kUnreadable;
        break;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    out.resize(got);
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  if (status != ReadStatus::kOk) out.clear();
  return status;
}

}  // namespace m32::config
