// The built controller-sim as the tool meets it: a COM1 symlink to a
// pseudo-terminal that answers frames, outlives the tool closing and
// reopening it, hangs up and comes back on command, and cleans up on SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_frames.h"
#include "support/process_support.h"

namespace m32::sim {
namespace {

using namespace m32::test_support;
using Bytes = std::vector<uint8_t>;

template <typename... Parts>
Bytes Cat(const Parts&... parts) {
  Bytes out;
  (out.insert(out.end(), parts.begin(), parts.end()), ...);
  return out;
}

// Opens COM1 as the tool does (the sim keeps the line raw), writes `send`
// (the first `split` bytes 20 ms ahead of the rest, as a slow writer may),
// and returns the n bytes that come back, or fewer if they stop coming.
Bytes Exchange(const fs::path& com, const Bytes& send, std::size_t n, std::size_t split = 0) {
  const int fd = open(com.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return {};
  if (split > 0) {
    (void)write(fd, send.data(), split);
    std::this_thread::sleep_for(20ms);
  }
  (void)write(fd, send.data() + split, send.size() - split);  // a failure shows as no answer
  Bytes got(n);
  std::size_t have = 0;
  pollfd p{fd, POLLIN, 0};
  while (have < n && poll(&p, 1, 5000) == 1) {
    const ssize_t k = read(fd, got.data() + have, n - have);
    if (k <= 0) break;
    have += static_cast<std::size_t>(k);
  }
  close(fd);
  got.resize(have);
  return got;
}

TEST(SimProcessTest, AnswersAcrossReopensAndHangUpsAndCleansUpOnSigterm) {
  ScratchFolder dir;
  const fs::path com1 = dir.path / "COM1";
  Sim sim(dir.path, {"--mode", "fixed", "--inputs", "05003412", "--format", "8E1", "--reopen",
                     "--reopen-delay-ms", "100"});
  ASSERT_TRUE(sim.Ready()) << ReadText(dir.path / "sim.out");
  const Bytes out = LinkFrameWith({0x01, 0x02, 0x00, 0x80});
  const Bytes in = LinkFrameWith({0x05, 0x00, 0x34, 0x12});

  EXPECT_EQ(Exchange(com1, out, 8, 3), in);
  // The tool closes and reopens the port: the board is still there.
  const Bytes noise = {0x00, 0x13};
  const Bytes bright = {0xA2, 0x68, 0xFF, 0, 0, 0, 0, 0, 0, 0x80, 0x01, 0x78, 0xFE};
  EXPECT_EQ(Exchange(com1, Cat(noise, bright, out), 14), Cat(MakeBrightnessReply(0x01, 1), in));

  // A hang-up with --reopen: COM1 comes back on a fresh pseudo-terminal.
  ASSERT_TRUE(sim.Send("hangup"));
  ASSERT_TRUE(WaitFor(
      [&] { return ReadText(sim.LogPath()).find(" EVENT reopen ") != std::string::npos; }, 10s))
      << ReadText(sim.LogPath());
  EXPECT_EQ(Exchange(com1, out, 8), in);

  EXPECT_EQ(sim.Process().Stop(SIGTERM, 10s), std::optional<int>(0));
  EXPECT_FALSE(fs::is_symlink(com1)) << "the COM1 symlink is removed";
  const std::string summary = ReadText(dir.path / "sim.out");
  EXPECT_NE(summary.find("frames in 4, frames out 4, bad frames 0, brightness frames 1"),
            std::string::npos)
      << summary;
  // The log as the process tests and benchmarks read it.
  const auto lines = SimLog(sim.LogPath()).All();
  EXPECT_EQ(CountTagged(lines, "IN", &out), 3);
  EXPECT_EQ(CountTagged(lines, "OUT", &in), 3);
  EXPECT_EQ(CountTagged(lines, "SKIP", &noise), 1);
}

}  // namespace
}  // namespace m32::sim
