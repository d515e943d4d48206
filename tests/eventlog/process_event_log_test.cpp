// The built tool with --log against controller-sim: the CSV read back tells
// each event of a scripted board in order; a kill -9 leaves only whole lines
// behind them; Python's csv module reads the file as it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/process_support.h"

namespace {

using namespace m32::test_support;
using namespace std::chrono_literals;

using CsvRow = std::vector<std::string>;
enum Column { kTime, kMonotonic, kFrame, kEvent, kChannel, kOld, kNew, kDetail };

// The file's complete lines (those ended by CR LF), split per RFC 4180.
// A line that does not split into 8 fields ends the reading with `bad` set.
std::vector<CsvRow> ReadCsv(const fs::path& file, bool& bad) {
  const std::string text = ReadText(file);
  std::vector<CsvRow> rows;
  CsvRow row(1);
  bool quoted = false;
  bad = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        row.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        row.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      if (row.size() != 8) {
        bad = true;
        return rows;
      }
      rows.push_back(row);
      row.assign(1, "");
    } else {
      row.back() += c;
    }
  }
  return rows;
}

bool StartLoggingTool(Child& tool, const fs::path& folder, const fs::path& log,
                      std::vector<std::string> env) {
  const fs::path exe = folder / "merkat32";
  std::error_code ec;
  fs::copy_file(M32_EXE, exe, fs::copy_options::skip_existing, ec);
  if (ec) return false;
  return tool.Start({exe.string(), "--log", log.string()}, folder / "tool.out", env);
}

// Python's csv module on the file: the number of rows it read, or -1.
int PythonRows(const fs::path& file, const fs::path& folder) {
  const std::string python = Which("python3");
  if (python.empty()) return -2;
  Child py;
  if (!py.Start({python, M32_CSV_CHECK, file.string()}, folder / "py.out")) return -1;
  if (py.WaitEnd(30s) != std::optional<int>(0)) return -1;
  return std::stoi(ReadText(folder / "py.out"));
}

// Legend: events of the tool's own line in the order told (channel changes
// and the counted drops are checked apart).
TEST(ProcessEventLog, AScriptedBoardIsToldEventByEventInOrder) {
  ScratchFolder dir;
  VirtualDesk desk(dir.path);
  if (!desk.Available()) GTEST_SKIP() << "needs Xvfb and xdotool";
  ASSERT_TRUE(WriteSettings(dir.path / "merkat32.CFG", LineFile{}));  // 9600 Bd 8E1
  Sim sim(dir.path, {"--format", "8E1", "--reopen", "--reopen-delay-ms", "300", "--seed", "3"});
  ASSERT_TRUE(sim.Ready());
  SimLog simlog(sim.LogPath());
  const fs::path csv = dir.path / "s.csv";
  Child tool;
  ASSERT_TRUE(StartLoggingTool(tool, dir.path, csv, desk.Env()));
  const auto answers = [&] { return CountTagged(simlog.All(), "OUT"); };
  ASSERT_TRUE(WaitFor([&] { return answers() >= 20; }, 20s));
  std::this_thread::sleep_for(1s);  // the display runs and out1 has the focus

  // The board mirrors the outputs: out1 on and off from the keyboard.
  ASSERT_TRUE(desk.Key("space"));
  std::this_thread::sleep_for(400ms);
  ASSERT_TRUE(desk.Key("space"));
  std::this_thread::sleep_for(400ms);
  ASSERT_TRUE(sim.Send("silence 900"));  // line_silent, then frames_back
  std::this_thread::sleep_for(1500ms);
  ASSERT_TRUE(sim.Send("bad-checksum 100"));  // a burst too short to be a silence
  std::this_thread::sleep_for(200ms);
  ASSERT_TRUE(sim.Send("bad-checksum 0"));
  std::this_thread::sleep_for(1500ms);
  ASSERT_TRUE(sim.Send("hangup"));  // the board comes back on a new pty 300 ms later
  std::this_thread::sleep_for(1200ms);
  // The technician reopens the port: the port dialog's O. K., then the test item.
  for (const char* k : {"alt+n", "k"}) ASSERT_TRUE(desk.Key(k));
  ASSERT_TRUE(desk.WaitWindow("^Konfigurace", 10s));
  ASSERT_TRUE(desk.Key("alt+o"));
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(desk.Key("alt+t"));
  const int before = answers();
  ASSERT_TRUE(WaitFor([&] { return answers() >= before + 20; }, 20s)) << "no answers after reopen";
  ASSERT_EQ(tool.Stop(SIGTERM, 10s), std::optional<int>(0)) << ReadText(dir.path / "tool.out");

  bool bad = false;
  const std::vector<CsvRow> rows = ReadCsv(csv, bad);
  ASSERT_FALSE(bad);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows[0],
            (CsvRow{"time", "monotonic_ms", "frame", "event", "channel", "old", "new", "detail"}));
  std::vector<std::string> line_events;
  std::vector<std::string> changes;
  int dropped = 0;
  double last_drop_ms = -1e9;
  double last_ms = -1;
  std::string last_time;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const CsvRow& r = rows[i];
    const double ms = std::stod(r[kMonotonic]);
    const bool opened = r[kEvent] == "port_opened" || r[kEvent] == "port_reopened";
    if (!opened) {
      EXPECT_GE(ms, last_ms) << "monotonic_ms goes back at row " << i;
    }
    EXPECT_GE(r[kTime], last_time) << "time goes back at row " << i;
    last_ms = ms;
    last_time = r[kTime];
    if (r[kEvent] == "output" || r[kEvent] == "input") {
      changes.push_back(r[kChannel] + " " + r[kOld] + ">" + r[kNew]);
      EXPECT_FALSE(r[kFrame].empty());
    } else if (r[kEvent] == "frames_dropped") {
      dropped += std::stoi(r[kDetail]);
      EXPECT_GE(ms - last_drop_ms, 990.0) << "two drop rows within a second";
      last_drop_ms = ms;
    } else {
      line_events.push_back(r[kEvent]);
    }
  }
  // clang-format off
  const std::vector<std::string> want_changes{
      "out1 0>1", "in1 0>1",   // switched on, the board's answer a frame later
      "out1 1>0", "in1 1>0"};
  const std::vector<std::string> want_line{
      "port_opened",
      "line_silent", "frames_back",            // the board's silence
      "hangup", "outputs_cleared",             // its pty closed: taken down
      "port_closed", "port_reopened",          // and back by itself
      "port_closed", "port_reopened",          // the port dialog's O. K.
      "close_all_off", "close_all_off", "close_all_off",
      "port_closed"};
  // clang-format on
  EXPECT_EQ(changes, want_changes);
  // The display's own all-off on its way out may come as a fourth close frame.
  std::vector<std::string> line = line_events;
  if (line.size() == want_line.size() + 1 && line[line.size() - 2] == "close_all_off") {
    line.erase(line.end() - 2);
  }
  EXPECT_EQ(line, want_line);
  EXPECT_EQ(dropped, CountTagged(simlog.All(), "CORRUPT")) << "bad frames counted";
  EXPECT_GT(dropped, 0);
  const int py = PythonRows(csv, dir.path);
  if (py != -2) {
    EXPECT_EQ(py, static_cast<int>(rows.size()) - 1) << ReadText(dir.path / "py.out");
  }
}

// Each input change the board makes at 115200 Bd (A/D mode, the value up by
// one each answer); a kill -9 in the middle leaves whole lines that parse.
TEST(ProcessEventLog, AKillInTheMiddleLeavesOnlyWholeLinesBehindIt) {
  ScratchFolder dir;
  LineFile line;
  line.divisor = 1;
  line.ad_mode = 2;
  ASSERT_TRUE(WriteSettings(dir.path / "merkat32.CFG", line));
  Sim sim(dir.path, {"--format", "8E1", "--mode", "adc"});
  ASSERT_TRUE(sim.Ready());
  const fs::path csv = dir.path / "s.csv";
  Child tool;
  ASSERT_TRUE(StartLoggingTool(tool, dir.path, csv, {"QT_QPA_PLATFORM=offscreen"}));
  ASSERT_TRUE(WaitFor([&] { return fs::exists(csv) && fs::file_size(csv) > 200'000; }, 30s));
  tool.Kill();
  bool bad = false;
  const std::vector<CsvRow> rows = ReadCsv(csv, bad);
  EXPECT_FALSE(bad);
  ASSERT_GT(rows.size(), 1000U);
  // Every answer the board put on the line (it skips values it could not
  // send in time) is told, in order: the A/D values of the rows are the
  // values of the sim's answers from the first one told on.
  std::vector<int> told;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    if (rows[i][kChannel] == "adc") told.push_back(std::stoi(rows[i][kNew]));
  }
  std::vector<int> sent;
  for (const auto& l : SimLog(sim.LogPath()).All()) {
    if (l.tag == "OUT" && l.bytes.size() == 8) {
      sent.push_back(static_cast<int16_t>(static_cast<uint16_t>(l.bytes[4] | (l.bytes[5] << 8))));
    }
  }
  ASSERT_FALSE(told.empty());
  const auto first = std::find(sent.begin(), sent.end(), told.front());
  ASSERT_NE(first, sent.end());
  const std::vector<int> expected(
      first, first + std::min<std::ptrdiff_t>(sent.end() - first,
                                              static_cast<std::ptrdiff_t>(told.size())));
  EXPECT_EQ(told, expected);
  const std::size_t adc = told.size();
  EXPECT_GT(adc, 1000U);
}

}  // namespace
