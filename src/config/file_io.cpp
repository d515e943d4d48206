#include "config/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <utility>

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

// A link is followed only when it is ours, root's or its folder owner's:
// someone who may merely add files to the folder must not be able to point
// our save at a file of ours elsewhere (the rule the kernel applies to links
// in shared folders, which following a link by hand would bypass).
bool TrustedLink(const struct stat& link, const std::string& link_path) {
  if (link.st_uid == ::geteuid() || link.st_uid == 0) return true;
  struct stat folder {};
  return ::stat(FolderOf(link_path).c_str(), &folder) == 0 && folder.st_uid == link.st_uid;
}

// Follows symbolic links from `path` to the file they finally name, which
// need not exist. False for a loop, a link that cannot be read or one that
// is not to be trusted.
bool FollowLinks(const std::string& path, std::string& out) {
  out = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(out.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISLNK(st.st_mode)) return true;
    if (!TrustedLink(st, out)) return false;
    std::string link(static_cast<std::size_t>(PATH_MAX), '\0');
    const ssize_t n = ::readlink(out.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return false;
    link.resize(static_cast<std::size_t>(n));
    if (link.front() != '/') {
      std::string next = FolderOf(out);
      next += '/';
      next += link;
      link = std::move(next);
    }
    out = std::move(link);
  }
  return false;
}

// Closes its descriptor when it goes, also when an allocation throws.
struct Descriptor {
  int fd = -1;
  Descriptor() = default;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

enum class TempResult {
  kDone,
  kNoWayBeside,  // no temporary file could be made or renamed over the target
  kFailed,       // writing or flushing failed
};

// Gives the new file the old one's owner, group and mode, as far as allowed.
void KeepOwnerAndMode(int fd, const struct stat& old) {
  if (::fchown(fd, old.st_uid, old.st_gid) != 0)
    (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  (void)::fchmod(fd, old.st_mode & 07777);
}

TempResult WriteThroughTemp(const std::string& target, std::string_view data,
                            const struct stat* old) {
  // A name of our own beside the target; O_EXCL refuses to reuse a stranger's file.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = target + ".tmp" + std::to_string(::getpid()) + "_" +
           std::to_string(g_temp_counter.fetch_add(1));
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return TempResult::kNoWayBeside;
  }
  if (fd < 0) return TempResult::kNoWayBeside;

  if (old != nullptr) KeepOwnerAndMode(fd, *old);
  bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok) {
    ::unlink(temp.c_str());
    return TempResult::kFailed;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    // A folder that lets us add files but not replace this one (a sticky
    // folder and another user's file).
    const bool refused = errno == EACCES || errno == EPERM;
    ::unlink(temp.c_str());
    return refused ? TempResult::kNoWayBeside : TempResult::kFailed;
  }
  // Make the rename itself durable; a failure here no longer endangers the data.
  const int dir = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return TempResult::kDone;
}

// The last resort for a file in a folder we may not write: nothing is cut off
// before the new bytes are in place, so a failure leaves the old length.
// `fd` is freshly opened, so its writes start at offset 0.
bool OverwriteInPlace(int fd, std::string_view data) {
  if (!WriteAll(fd, data)) return false;
  const auto at = static_cast<off_t>(data.size());
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  if (st.st_size > at && ::ftruncate(fd, at) != 0) return false;
  return ::fsync(fd) == 0;
}

}  // namespace

bool SaveFile(const std::string& path, std::string_view data) {
  std::string target;
  if (!FollowLinks(path, target)) return false;

  // What is there now decides what may be done to it.
  struct stat old {};
  bool exists = false;
  Descriptor in_place;  // the old file opened for writing, for the fallback
  {
    const int rd = ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (rd < 0) {
      if (errno != ENOENT) return false;  // there, but not ours to read
    } else {
      const bool regular = ::fstat(rd, &old) == 0 && S_ISREG(old.st_mode);
      ::close(rd);
      if (!regular) return false;
      exists = true;
      in_place.fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (in_place.fd < 0) return false;  // not ours to write: never replaced
    }
  }

  const TempResult r = WriteThroughTemp(target, data, exists ? &old : nullptr);
  if (r == TempResult::kNoWayBeside && in_place.fd >= 0) return OverwriteInPlace(in_place.fd, data);
  return r == TempResult::kDone;
}

ReadStatus ReadFilePrefix(const std::string& path, std::size_t limit, std::string& out) {
  out.clear();
  // O_NONBLOCK: a FIFO at the name must not hang the caller (regular files
  // ignore it).
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
