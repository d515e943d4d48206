// The built executable as a technician's machine runs it: copied into an empty
// folder as MERKAT32, started headless, ended with SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "link/process_support.h"
#include "serial/pty_pair.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using m32::process::Child;
using m32::process::ScratchFolder;
using m32::process::WaitFor;

namespace {

// An empty folder with the executable copied in as MERKAT32 and COM1 pointing
// at a pseudo-terminal, so the port opens without a message box whatever
// serial hardware the machine has.
struct Folder {
  ScratchFolder dir;
  m32::testing::PtyPair line;
  fs::path path = dir.path;
  fs::path exe = dir.path / "MERKAT32";
  Folder() {
    fs::copy_file(M32_EXE, exe);
    if (line.ok()) fs::create_symlink(line.slave_path(), dir.path / "COM1");
  }
  bool Start(Child& tool) const {
    return tool.Start({exe.string()}, dir.path / "tool.out", {"QT_QPA_PLATFORM=offscreen"});
  }
};

std::vector<uint8_t> Read(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(Process, FirstStartWritesDefaultsAndSigtermEndsWithZero) {
  Folder dir;
  Child tool;
  ASSERT_TRUE(dir.Start(tool));
  ASSERT_TRUE(WaitFor([&] { return fs::exists(dir.path / "MERKAT32.CFG"); }, 10s));
  ASSERT_TRUE(WaitFor([&] { return fs::exists(dir.path / "MERKAT32.MNU"); }, 5s));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(tool.Stop(SIGTERM, 5s), std::optional<int>(0));
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
  Folder dir;
  Child tool;
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
  ASSERT_TRUE(dir.Start(tool));
  ASSERT_TRUE(WaitFor([&] { return fs::exists(dir.path / "MERKAT32.MNU"); }, 10s));
  std::this_thread::sleep_for(300ms);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(tool.Stop(SIGTERM, 5s), std::optional<int>(0));
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
