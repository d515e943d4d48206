// The log's writer: lines reach the file whole; a file that cannot be opened
// or written stops the log with one message and never troubles the caller;
// the command line's --log.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "eventlog/event_log.h"
#include "eventlog/log_writer.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using m32::eventlog::EventRecord;
using m32::eventlog::LogWriter;
using m32::link::LineEventKind;

std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::string ReadAll(std::FILE* f) {
  std::rewind(f);
  std::string s;
  for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) s += static_cast<char>(c);
  return s;
}

EventRecord Silent() {
  EventRecord r;
  r.event.kind = LineEventKind::kLineSilent;
  return r;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(LogWriter, WritesWholeLinesAndAppendsToAnEarlierLogWithoutASecondHeader) {
  m32::test_support::TempDir dir;
  const fs::path file = dir.path() / "s.csv";
  for (int run = 0; run < 2; ++run) {
    LogWriter w(file, nullptr);
    ASSERT_TRUE(w.Push(Silent()));
    w.Drain();
    EXPECT_EQ(w.Written(), 1U);
  }
  const std::string text = ReadAll(file);
  EXPECT_EQ(text.rfind(m32::eventlog::CsvHeader(), 0), 0U) << text;
  EXPECT_EQ(Count(text, "time,monotonic_ms"), 1);
  EXPECT_EQ(Count(text, ",line_silent,"), 2);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(LogWriter, AFileThatCannotBeWrittenStopsTheLogWithOneMessage) {
  struct Row {
    const char* what;
    fs::path (*file)(const fs::path& dir);
    void (*after_first)(const fs::path& dir);  // what happens once the log runs
    const char* message;
  };
  const Row rows[] = {
      {"folder missing", [](const fs::path& d) { return d / "no" / "s.csv"; }, nullptr,
       "cannot be opened"},
      {"disk full", [](const fs::path&) { return fs::path("/dev/full"); }, nullptr,
       "cannot be written"},
      {"folder taken away", [](const fs::path& d) { return d / "sub" / "s.csv"; },
       [](const fs::path& d) { fs::remove_all(d / "sub"); }, "has gone"},
  };
  for (const Row& r : rows) {
    m32::test_support::TempDir dir;
    fs::create_directory(dir.path() / "sub");
    std::FILE* errors = std::tmpfile();
    ASSERT_NE(errors, nullptr);
    {
      LogWriter w(r.file(dir.path()), errors);
      w.Push(Silent());
      w.Drain();
      if (r.after_first != nullptr) {
        EXPECT_FALSE(w.Stopped()) << r.what;
        r.after_first(dir.path());
      }
      for (int i = 0; i < 3; ++i) {
        w.Push(Silent());
        w.Drain();
      }
      EXPECT_TRUE(w.Stopped()) << r.what;
      EXPECT_FALSE(w.Push(Silent())) << r.what;
    }
    const std::string said = ReadAll(errors);
    std::fclose(errors);
    EXPECT_EQ(Count(said, "\n"), 1) << r.what << ": " << said;
    EXPECT_NE(said.find(r.message), std::string::npos) << r.what << ": " << said;
  }
}

TEST(LogRequest, LogAloneOrWithItsFile) {
  struct Row {
    std::vector<std::string> args;
    bool wanted;
    const char* file;
  };
  const Row rows[] = {
      {{"merkat32"}, false, ""},
      {{"merkat32", "--log", "s.csv"}, true, "s.csv"},
      {{"merkat32", "--log=a b.csv"}, true, "a b.csv"},
      {{"merkat32", "--log"}, true, ""},
      {{"merkat32", "--log", "--other"}, true, ""},
  };
  for (const Row& r : rows) {
    const auto got = m32::eventlog::FindLogRequest(r.args);
    EXPECT_EQ(got.wanted, r.wanted) << r.args.size();
    EXPECT_EQ(got.file, r.file);
  }
  m32::test_support::TempDir dir;
  m32::eventlog::LogRequest alone;
  alone.wanted = true;
  const fs::path p = m32::eventlog::LogFilePath(alone, dir.path(), std::time_t{1'765'000'000});
  EXPECT_EQ(p.parent_path(), dir.path() / "logs");
  EXPECT_TRUE(fs::is_directory(dir.path() / "logs"));
  EXPECT_EQ(p.filename().string().size(), std::string("2025-12-06_05-46-40.csv").size()) << p;
}

}  // namespace
