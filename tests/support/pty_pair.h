// A pseudo-terminal pair for tests: the slave's path stands in for a serial
// port, the master is the far end of the line (the controller's side).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace m32::test_support {

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return;
    char name[128] = {};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
      CloseMaster();
      return;
    }
    slave_path_ = name;
  }
  ~PtyPair() {
    CloseSlave();
    CloseMaster();
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && !slave_path_.empty(); }
  const std::string& slave_path() const { return slave_path_; }
  int master() const { return master_; }

  // A plain descriptor onto the slave held by the test, through which the
  // line state can be looked at from outside. Opened once; closed with the pair.
  int slave() {
    if (slave_ < 0) slave_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    return slave_;
  }
  void CloseSlave() {
    if (slave_ >= 0) ::close(slave_);
    slave_ = -1;
  }

  // The far end goes away: the slave side is hung up.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  bool Send(std::span<const uint8_t> bytes) const {
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Reads from the master until `want` bytes have come or `limit` has passed.
  std::vector<uint8_t> Receive(std::size_t want,
                               std::chrono::milliseconds limit = std::chrono::seconds(5)) const {
    std::vector<uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (got.size() < want && std::chrono::steady_clock::now() < end) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0 || (p.revents & POLLIN) == 0) continue;
      uint8_t buf[256];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
};

}  // namespace m32::test_support
