// The settings file on a machine the technician does not own: the built tool
// run as an unprivileged user against files and folders an administrator
// prepared, started on a pseudo-terminal and ended with SIGTERM.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/process_support.h"
#include "support/pty_pair.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using m32::test_support::Child;
using m32::test_support::ScratchFolder;

// The unprivileged user the tool runs as: nobody, or one made for the test.
std::optional<std::pair<uid_t, gid_t>> Unprivileged(const fs::path& scratch) {
  const auto find = [](const char* name) -> std::optional<std::pair<uid_t, gid_t>> {
    const passwd* pw = ::getpwnam(name);  // NOLINT(concurrency-mt-unsafe): no threads here
    if (pw == nullptr) return std::nullopt;
    return std::make_pair(pw->pw_uid, pw->pw_gid);
  };
  if (auto user = find("nobody")) return user;
  if (auto user = find("m32tester")) return user;
  Child useradd;
  if (!useradd.Start({"/usr/sbin/useradd", "-r", "-M", "-s", "/usr/sbin/nologin", "m32tester"},
                     scratch / "useradd.out") ||
      useradd.WaitEnd(30s) != std::optional<int>(0)) {
    return std::nullopt;
  }
  return find("m32tester");
}

constexpr uid_t kRoot = 0;
constexpr uid_t kStranger = 54321;  // no one's account

// Legend: the folder's mode (owned by root); where the settings file lies
// (beside the tool, or behind a link there) with its owner and mode; then what
// it must hold after a start and SIGTERM: the record as written (divisor 0) or
// clamped (divisor 1), its owner and mode.
TEST(SettingsProcess, AnotherUsersFilesAndFoldersAfterAStartAndSigterm) {
  if (::geteuid() != 0) GTEST_SKIP() << "switching to an unprivileged user needs root";
  ScratchFolder scratch;
  const auto user = Unprivileged(scratch.path);
  ASSERT_TRUE(user) << "no unprivileged user to run the tool as";
  const uid_t kUser = user->first;

  struct Case {
    const char* legend;
    fs::perms folder;
    std::optional<uid_t> link_owner;  // the file lies behind a link of this owner's
    uid_t owner;
    fs::perms mode;
    bool clamped;  // false: every byte as it was
  } const cases[] = {
      {"root's 0600 file in a 0777 folder: unreadable, never written over", fs::perms(0777),
       std::nullopt, kRoot, fs::perms(0600), false},
      {"the user's 0666 file in root's 0555 folder: written in place", fs::perms(0555),
       std::nullopt, kUser, fs::perms(0666), true},
      {"the user's 0444 file: an administrator's lock, never replaced", fs::perms(0777),
       std::nullopt, kUser, fs::perms(0444), false},
      {"root's link to the user's 0600 file: the target gets the record, the link stays",
       fs::perms(0777), kRoot, kUser, fs::perms(0600), true},
      {"a stranger's link in the shared folder to the user's file: not followed", fs::perms(0777),
       kStranger, kUser, fs::perms(0600), false},
      {"the user's 0640 file in a 0777 folder: replaced with its mode kept", fs::perms(0777),
       std::nullopt, kUser, fs::perms(0640), true},
      {"root's 0666 file in a sticky 1777 folder: the rename is refused, written in place",
       fs::perms(01777), std::nullopt, kRoot, fs::perms(0666), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    ScratchFolder dir;
    m32::test_support::PtyPair line;
    ASSERT_TRUE(line.ok());
    ::chmod(line.slave_path().c_str(), 0666);  // the user's to open
    fs::create_symlink(line.slave_path(), dir.path / "COM1");

    const fs::path name = dir.path / "merkat32.CFG";
    fs::path file = name;
    if (c.link_owner) {
      fs::create_directory(dir.path / "real");
      fs::permissions(dir.path / "real", fs::perms(0777));
      file = dir.path / "real" / "settings";
      fs::create_symlink(file, name);
      ASSERT_EQ(::lchown(name.c_str(), *c.link_owner, *c.link_owner), 0);
    }
    ASSERT_TRUE(m32::test_support::WriteSettings(file, {.divisor = 0}));
    std::string want = m32::test_support::ReadText(file);
    if (c.clamped) want[0] = 1;
    ASSERT_EQ(::chown(file.c_str(), c.owner, c.owner == kRoot ? 0 : user->second), 0);
    fs::permissions(file, c.mode);
    fs::permissions(dir.path, c.folder);

    Child tool;
    tool.RunAs(user->first, user->second);
    ASSERT_TRUE(m32::test_support::StartTool(tool, dir.path, {"HOME=/nonexistent"}));
    // Frames on the line: start-up has read the settings and run its save.
    EXPECT_GE(line.Receive(16, 10s).size(), 16u) << "the tool did not reach its link";
    EXPECT_EQ(tool.Stop(SIGTERM, 5s), std::optional<int>(0));

    EXPECT_EQ(fs::is_symlink(name), c.link_owner.has_value());
    EXPECT_EQ(m32::test_support::ReadText(file), want);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, c.owner);
    EXPECT_EQ(fs::perms(st.st_mode & 07777), c.mode);
    for (const auto& e : fs::recursive_directory_iterator(dir.path)) {
      EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
    }
    fs::permissions(dir.path, fs::perms::owner_all, fs::perm_options::add);
  }
}

}  // namespace
