// The built controller-sim as the tool meets it: a COMn symlink to a
// pseudo-terminal that answers frames, survives the tool closing and
// reopening it, and cleans up on SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim_frames.h"

extern char** environ;

namespace m32::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return fd;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  cfsetispeed(&t, B115200);
  cfsetospeed(&t, B115200);
  tcsetattr(fd, TCSANOW, &t);
  tcflush(fd, TCIOFLUSH);
  return fd;
}

// Reads exactly n bytes or gives up after a generous deadline.
Bytes ReadN(int fd, std::size_t n) {
  Bytes got;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (got.size() < n && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    uint8_t buf[64];
    const ssize_t k = read(fd, buf, std::min(sizeof buf, n - got.size()));
    if (k <= 0) break;
    got.insert(got.end(), buf, buf + k);
  }
  return got;
}

class SimProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Read once, before any thread of the test runs.
    const char* exe = std::getenv("M32_CONTROLLER_SIM");  // NOLINT(concurrency-mt-unsafe)
    ASSERT_NE(exe, nullptr) << "M32_CONTROLLER_SIM names the controller-sim binary";
    exe_ = exe;
    char tmpl[] = "/tmp/m32simXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (const char* f : {"/COM1", "/out.txt", "/log.txt"}) unlink((dir_ + f).c_str());
    rmdir(dir_.c_str());
  }
  void Start(std::vector<std::string> extra) {
    std::vector<std::string> args = {exe_, "--dir", dir_, "--no-stdin", "--log", dir_ + "/log.txt"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    const std::string out = dir_ + "/out.txt";
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    ASSERT_EQ(posix_spawn(&pid_, exe_.c_str(), &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    struct stat st {};
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (lstat(Com1().c_str(), &st) != 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(lstat(Com1().c_str(), &st), 0) << ReadFile(out);
    ASSERT_TRUE(S_ISLNK(st.st_mode));
  }
  // Sends SIGTERM and returns the exit status, or -1 if it does not end.
  int Stop() {
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }
  std::string Com1() const { return dir_ + "/COM1"; }

  std::string exe_;
  std::string dir_;
  pid_t pid_ = -1;
};

TEST_F(SimProcessTest, AnswersFramesAcrossReopensAndCleansUpOnSigterm) {
  Start({"--mode", "fixed", "--inputs", "05003412", "--format", "8E1"});
  const auto out = MakeLinkFrame({0x01, 0x02, 0x00, 0x80});
  const auto expected = MakeLinkFrame({0x05, 0x00, 0x34, 0x12});

  int fd = OpenRaw(Com1());
  ASSERT_GE(fd, 0);
  // The tool's frame in two pieces, as a slow writer may send it.
  ASSERT_EQ(write(fd, out.data(), 3), 3);
  std::this_thread::sleep_for(20ms);
  ASSERT_EQ(write(fd, out.data() + 3, 5), 5);
  EXPECT_EQ(ReadN(fd, 8), Bytes(expected.begin(), expected.end()));
  close(fd);

  // The tool closes and reopens the port: the board is still there.
  fd = OpenRaw(Com1());
  ASSERT_GE(fd, 0);
  Bytes bright = {0xA2, 0x68, 0xFF, 0, 0, 0, 0, 0, 0, 0x80, 0x01, 0x78, 0xFE};
  Bytes burst = {0x00, 0x13};  // noise first
  burst.insert(burst.end(), bright.begin(), bright.end());
  burst.insert(burst.end(), out.begin(), out.end());
  ASSERT_EQ(write(fd, burst.data(), burst.size()), static_cast<ssize_t>(burst.size()));
  const Bytes reply = ReadN(fd, kBrightnessReplySize + kLinkFrameSize);
  ASSERT_EQ(reply.size(), kBrightnessReplySize + kLinkFrameSize);
  const Bytes brightness_reply(reply.begin(), reply.begin() + 6);
  EXPECT_EQ(brightness_reply[0], kSync);
  EXPECT_EQ(brightness_reply[1], kBrightnessType);
  EXPECT_EQ(brightness_reply[5], kEndMark);
  EXPECT_EQ(Sum8(brightness_reply), 0);
  EXPECT_EQ(Bytes(reply.begin() + 6, reply.end()), Bytes(expected.begin(), expected.end()));
  close(fd);

  EXPECT_EQ(Stop(), 0);
  struct stat st {};
  EXPECT_NE(lstat(Com1().c_str(), &st), 0) << "the COM1 symlink is removed";
  const std::string summary = ReadFile(dir_ + "/out.txt");
  EXPECT_NE(summary.find("frames in 3, frames out 3, bad frames 0, brightness frames 1"),
            std::string::npos)
      << summary;
  const std::string log = ReadFile(dir_ + "/log.txt");
  EXPECT_NE(log.find(" IN A2 6B 01 02 00 80 72 FE\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" OUT A2 6B 05 00 34 12 AA FE\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" SKIP 00 13\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace m32::sim
