#include "pty_port.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace m32::sim {
namespace {

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::generic_category().message(errno);
}

std::string ReadLink(const std::string& link) {
  char buf[4096];
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  if (n < 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace

bool PtyPort::Open(std::string& error) {
  Close();
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) {
    error = Errno("posix_openpt");
    return false;
  }
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof name) != 0) {
    error = Errno("pty set-up");
    Close();
    return false;
  }
  slave_path_ = name;
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0 ||
      fcntl(master_, F_SETFD, FD_CLOEXEC) != 0) {
    error = Errno("fcntl");
    Close();
    return false;
  }
  slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave_ < 0) {
    error = Errno("open slave");
    Close();
    return false;
  }
  termios t{};
  if (tcgetattr(slave_, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(slave_, TCSANOW, &t);
  }
  return true;
}

void PtyPort::Close() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = -1;
  master_ = -1;
  slave_path_.clear();
}

bool PointLink(const std::string& link, const std::string& target, bool force, std::string& error) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = link + " exists and is not a symlink";
      return false;
    }
    const std::string old = ReadLink(link);
    struct stat live {};
    if (!force && old != target && stat(link.c_str(), &live) == 0) {
      error = link + " points at a live device " + old + " (use --force)";
      return false;
    }
  }
  // A new link under a temporary name, renamed over the old one: the name
  // never points at nothing while it is being replaced.
  const std::string tmp = link + ".tmp" + std::to_string(getpid());
  unlink(tmp.c_str());
  if (symlink(target.c_str(), tmp.c_str()) != 0) {
    error = Errno(("symlink " + link).c_str());
    return false;
  }
  if (rename(tmp.c_str(), link.c_str()) != 0) {
    error = Errno(("rename to " + link).c_str());
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

void RemoveLinkIfOurs(const std::string& link, const std::string& target) {
  if (!target.empty() && ReadLink(link) == target) unlink(link.c_str());
}

}  // namespace m32::sim
