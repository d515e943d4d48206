// A pseudo-terminal that plays the board's end of the serial line, and the
// COMn symlink through which the tool finds its other end.
#pragma once

#include <string>

namespace m32::sim {

class PtyPort {
 public:
  PtyPort() = default;
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;
  ~PtyPort() { Close(); }

  // Creates the pair. The master is non-blocking. The simulator keeps one
  // descriptor of the slave open itself, in raw mode, so that the pair
  // survives the tool closing and reopening its end (with no slave open the
  // master only reports hang-ups) and so that the tool's line settings can
  // be read back from it.
  bool Open(std::string& error);
  void Close();
  bool IsOpen() const { return master_ >= 0; }
  int master() const { return master_; }
  int slave() const { return slave_; }
  const std::string& slave_path() const { return slave_path_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
};

// Points `link` at `target`, replacing a dangling symlink, or (with force) a
// live one. Refuses to replace anything that is not a symlink.
bool PointLink(const std::string& link, const std::string& target, bool force, std::string& error);
// Removes `link` if it still points at `target`.
void RemoveLinkIfOurs(const std::string& link, const std::string& target);

}  // namespace m32::sim
