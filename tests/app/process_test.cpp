// The built executable as a technician's machine runs it: copied into a
// folder, started headless, ended with SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "support/process_support.h"
#include "support/pty_pair.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using m32::test_support::Child;
using m32::test_support::ScratchFolder;
using m32::test_support::WaitFor;

// A settings file that is too long, with fields out of range and reserved
// bytes set: the tool reads it clamped and, at SIGTERM, writes its 100 bytes
// back with the reserved bytes as they were. (The clamp of every field is the
// settings tests' table.)
TEST(Process, SigtermSavesTheSettingsClampedWithReservedBytesAndEndsWithZero) {
  ScratchFolder dir;
  // COM1 on a pseudo-terminal: the port opens without a message box whatever
  // serial hardware the machine has.
  m32::test_support::PtyPair line;
  ASSERT_TRUE(line.ok());
  fs::create_symlink(line.slave_path(), dir.path / "COM1");

  std::vector<uint8_t> cfg(150, 0);
  cfg[0] = 0;      // divisor 0 -> 1
  cfg[50] = 0xAB;  // reserved
  cfg[85] = 9;     // DataBits -> 8
  cfg[86] = 'm';   // -> 'M'
  cfg[88] = 12;    // Language -> 0
  cfg[98] = 0xCD;  // reserved
  {
    std::ofstream f(dir.path / "merkat32.CFG", std::ios::binary);
    f.write(reinterpret_cast<const char*>(cfg.data()), static_cast<std::streamsize>(cfg.size()));
  }
  Child tool;
  ASSERT_TRUE(m32::test_support::StartTool(tool, dir.path));
  // The language template is written once start-up has read the settings.
  ASSERT_TRUE(WaitFor([&] { return fs::exists(dir.path / "merkat32.MNU"); }, 10s));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(tool.Stop(SIGTERM, 5s), std::optional<int>(0));

  std::ifstream f(dir.path / "merkat32.CFG", std::ios::binary);
  const std::vector<uint8_t> out{std::istreambuf_iterator<char>(f), {}};
  std::vector<uint8_t> want(cfg.begin(), cfg.begin() + 100);
  want[0] = 1;
  want[85] = 8;
  want[86] = 'M';
  want[87] = 1;  // StopBits 0 -> 1
  want[88] = 0;
  EXPECT_EQ(out, want);
}
