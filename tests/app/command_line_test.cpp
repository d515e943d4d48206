// The command line: what ends the run before anything is opened, and what is
// left to start the tool.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <filesystem>
#include <string>
#include <vector>

#include "support/process_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using m32::app::CommandLine;
using Outcome = CommandLine::Outcome;

// Legend: the arguments after the program's name; the outcome; a piece of
// the text it prints (empty: prints nothing).
TEST(CommandLine, HelpVersionAndUnknownOptionsEndTheRunEverythingElseStartsIt) {
  QCoreApplication::setApplicationName(QStringLiteral("merkat32"));
  QCoreApplication::setApplicationVersion(QStringLiteral("9.8"));
  struct Case {
    QStringList args;
    Outcome outcome;
    const char* says;
  } const cases[] = {
      {{}, Outcome::kRun, ""},
      {{"--help"}, Outcome::kHelp, "--version"},
      {{"-h"}, Outcome::kHelp, "--help"},
      {{"--help-all"}, Outcome::kHelp, "--version"},
      {{"--version"}, Outcome::kVersion, "merkat32 9.8\n"},
      {{"-v"}, Outcome::kVersion, "merkat32 9.8\n"},
      {{"--help", "--version"}, Outcome::kHelp, "Usage:"},
      {{"--frobnicate"}, Outcome::kError, "frobnicate"},
      {{"-x"}, Outcome::kError, "--help"},
      {{"--help", "--frobnicate"}, Outcome::kError, "frobnicate"},
      {{"-platform", "offscreen"}, Outcome::kRun, ""},
      {{"-style", "fusion", "-reverse"}, Outcome::kRun, ""},
      {{"some-file.txt"}, Outcome::kRun, ""},
      {{"--log"}, Outcome::kRun, ""},
      {{"--log", "s.csv"}, Outcome::kRun, ""},
      {{"--log=s.csv", "-platform", "offscreen"}, Outcome::kRun, ""},
      {{"--log", "--version"}, Outcome::kVersion, "merkat32 9.8\n"},
      {{"--help"}, Outcome::kHelp, "--log"},
  };
  for (const Case& c : cases) {
    const QString legend = c.args.join(QLatin1Char(' '));
    SCOPED_TRACE(legend.toStdString());
    const CommandLine got = m32::app::ParseCommandLine(QStringList{"merkat32"} + c.args);
    EXPECT_EQ(got.outcome, c.outcome);
    EXPECT_TRUE(got.text.contains(QString::fromUtf8(c.says))) << got.text.toStdString();
    EXPECT_EQ(got.text.isEmpty(), c.outcome == Outcome::kRun);
  }
  EXPECT_EQ((CommandLine{Outcome::kHelp, {}}).ExitStatus(), 0);
  EXPECT_EQ((CommandLine{Outcome::kVersion, {}}).ExitStatus(), 0);
  EXPECT_EQ((CommandLine{Outcome::kError, {}}).ExitStatus(), 2);
}

// The built tool, copied into an empty folder and started with no display:
// it ends with the status given and leaves the folder as it was (no
// settings, no language template), without trying to open a window (which
// would abort the run without a display).
// Legend: the arguments; the exit status; a piece of what it prints.
TEST(CommandLineProcess, EndsBeforeAnyWindowPortOrFile) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  } const cases[] = {
      {{"--help"}, 0, "--version"},
      {{"--version"}, 0, "merkat32 " M32_VERSION "\n"},
      {{"--no-such-option"}, 2, "no-such-option"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    m32::test_support::ScratchFolder dir;
    const fs::path exe = dir.path / "merkat32";
    fs::copy_file(M32_EXE, exe);
    m32::test_support::ScratchFolder out_dir;
    std::vector<std::string> argv{exe.string()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    m32::test_support::Child tool;
    ASSERT_TRUE(tool.Start(argv, out_dir.path / "out",
                           {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="}));
    EXPECT_EQ(tool.WaitEnd(10s), std::optional<int>(c.status));
    EXPECT_NE(m32::test_support::ReadText(out_dir.path / "out").find(c.says), std::string::npos)
        << m32::test_support::ReadText(out_dir.path / "out");
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir.path)) files.push_back(e.path().filename());
    EXPECT_EQ(files, std::vector<std::string>{"merkat32"});
  }
  // The version that cannot be written is no success.
  m32::test_support::Child full;
  ASSERT_TRUE(full.Start({M32_EXE, "--version"}, "/dev/full", {"DISPLAY=", "QT_QPA_PLATFORM="}));
  EXPECT_EQ(full.WaitEnd(10s), std::optional<int>(1));
}

}  // namespace
