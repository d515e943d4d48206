// The built executable as a technician's machine runs it: copied into an empty
// folder as MERKAT32, started headless, ended with SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// An empty folder with COM1 pointing at a pseudo-terminal, so the port opens
// without a message box whatever serial hardware the machine has.
struct TempDir {
  fs::path path;
  int master = -1;
  TempDir() {
    char tmpl[] = "/tmp/m32procXXXXXX";
    path = ::mkdtemp(tmpl);
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char slave[128] = {};
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0 &&
        ::ptsname_r(master, slave, sizeof slave) == 0) {
      fs::create_symlink(slave, path / "COM1");
    }
  }
  ~TempDir() {
    if (master >= 0) ::close(master);
    fs::remove_all(path);
  }
};

std::vector<uint8_t> Read(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Started headless: the child's environment is this one with
// QT_QPA_PLATFORM=offscreen, built before the fork, since between fork and exec
// only async-signal-safe calls are sound.
pid_t Start(const fs::path& exe) {
  const std::string platform = "QT_QPA_PLATFORM=";
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string_view(*e).substr(0, platform.size()) != platform) env.emplace_back(*e);
  }
  env.push_back(platform + "offscreen");
  std::vector<char*> envp;
  envp.reserve(env.size() + 1);
  for (std::string& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string path = exe.string();
  char* const args[] = {path.data(), nullptr};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execve(path.c_str(), args, envp.data());
    ::_exit(127);
  }
  return pid;
}

// Waits for the child; -1 when it did not end within the time.
int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(10ms);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

template <typename Pred>
bool WaitFor(Pred p, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!p() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(10ms);
  return p();
}

}  // namespace

TEST(Process, FirstStartWritesDefaultsAndSigtermEndsWithZero) {
  TempDir dir;
  const fs::path exe = dir.path / "MERKAT32";
  fs::copy_file(M32_EXE, exe);
  const pid_t pid = Start(exe);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(dir.path / "MERKAT32.CFG"); }, 10s));
  ASSERT_TRUE(WaitFor([&] { return fs::exists(dir.path / "MERKAT32.MNU"); }, 5s));
  std::this_thread::sleep_for(200ms);
  ::kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid, 5s), 0);
  const auto cfg = Read(dir.path / "MERKAT32.CFG");
  ASSERT_EQ(cfg.size(), 100U);
  std::vector<uint8_t> want(100, 0);
  want[0] = 12;
  want[85] = 8;
  want[86] = 'E';
  want[87] = 1;
  EXPECT_EQ(cfg, want);
}

TEST(Process, OversizedSettingsAreClampedKeepReservedAndSavedOnSigterm) {
  TempDir dir;
  const fs::path exe = dir.path / "MERKAT32";
  fs::copy_file(M32_EXE, exe);
  std::vector<uint8_t> cfg(150, 0);
  cfg[0] = 0;     // divisor 0 -> 1
  cfg[4] = 0x2C;  // Constants[0] = 300 -> 0
  cfg[5] = 0x01;
  cfg[10] = 3;     // Constants[3] = 3 -> 0
  cfg[12] = 2;     // Constants[4] = 2 -> 0
  cfg[50] = 0xAB;  // reserved
  cfg[84] = 70;    // PortIndex -> 0
  cfg[85] = 9;     // DataBits -> 8
  cfg[86] = 'm';   // -> 'M'
  cfg[87] = 0;     // StopBits -> 1
  cfg[88] = 12;    // Language -> 0
  cfg[98] = 0xCD;  // reserved
  {
    std::ofstream f(dir.path / "MERKAT32.CFG", std::ios::binary);
    f.write(reinterpret_cast<const char*>(cfg.data()), static_cast<std::streamsize>(cfg.size()));
  }
  const pid_t pid = Start(exe);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(dir.path / "MERKAT32.MNU"); }, 10s));
  std::this_thread::sleep_for(300ms);
  const auto t0 = std::chrono::steady_clock::now();
  ::kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid, 5s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
  const auto out = Read(dir.path / "MERKAT32.CFG");
  ASSERT_EQ(out.size(), 100U);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[4], 0);
  EXPECT_EQ(out[5], 0);
  EXPECT_EQ(out[10], 0);
  EXPECT_EQ(out[12], 0);
  EXPECT_EQ(out[50], 0xAB);
  EXPECT_EQ(out[84], 0);
  EXPECT_EQ(out[85], 8);
  EXPECT_EQ(out[86], 'M');
  EXPECT_EQ(out[87], 1);
  EXPECT_EQ(out[88], 0);
  EXPECT_EQ(out[98], 0xCD);
}
