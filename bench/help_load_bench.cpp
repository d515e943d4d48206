// Help viewer figures: the time from showing the viewer to its first paint
// with the file's text, the longest stretch the UI thread was busy (no timer
// tick got through: the link's steps run there, so this is the longest gap
// in the frames on the line) from the showing until the text is laid out, a
// word-wrap toggle and a resize included, and the process's peak memory.
// Offscreen, one HelpViewer beside a help file made here; each file in a
// process of its own (so that its peak memory is its own), the median of
// several showings per file.
//
//   help_load_bench [WORD]     only the files whose name holds WORD
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/text_table.h"
#include "info/help_window.h"

namespace {

constexpr std::size_t kTwoMb = 2U * 1000U * 1000U;
constexpr std::size_t kLimit = 16U * 1024U * 1024U - 64U;

// A manual as pandoc writes it: headings, paragraphs of Czech text with
// \u escapes, bold and italic words, a bulleted list.
std::string PandocManual(std::size_t size) {
  std::string rtf =
      "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 \\fswiss Helvetica;}{\\f1 \\fmodern Courier;}}\n"
      "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}\n\\widowctrl\\hyphauto\n";
  for (int n = 1;; ++n) {
    std::string chapter =
        "{\\pard \\ql \\f0 \\sa180 \\li0 \\fi0 \\outlinelevel1 \\b \\fs32 Kapitola " +
        std::to_string(n) + "\\par}\n";
    for (int p = 0; p < 6; ++p) {
      chapter +=
          "{\\pard \\ql \\f0 \\sa180 \\li0 \\fi0 Program m\\u283?\\u345?\\u237? vstupy a "
          "v\\u253?stupy regul\\u225?toru {\\b tla\\u269?\\u237?tkem} Mezern\\u237?k a "
          "{\\i kl\\u225?vesou} Enter; p\\u345?i chyb\\u283? zobraz\\u237? "
          "hl\\u225?\\u353?en\\u237? "
          "a nastaven\\u237? se ulo\\u382?\\u237? do souboru.\\par}\n";
    }
    chapter +=
        "{\\pard \\ql \\f0 \\sa0 \\li360 \\fi-360 \\bullet \\tx360\\tab polo\\u382?ka "
        "seznamu\\sa180\\par}\n";
    if (rtf.size() + chapter.size() >= size) break;
    rtf += chapter;
  }
  return rtf + "}";
}

// Files at the size limit, each hard in its own way.
std::string Repeat(std::string head, const std::string& unit, std::size_t size) {
  while (head.size() + unit.size() < size) head += unit;
  return head + "}";
}

// A plain text of `lines` lines of `line` each.
std::string Lines(const std::string& line, std::size_t lines) {
  std::string text;
  text.reserve((line.size() + 1) * lines);
  for (std::size_t i = 0; i < lines; ++i) (text += line) += '\n';
  return text;
}

struct Figures {
  double shown_ms = 0;
  double longest_busy_ms = 0;      // wall time between two ticks
  double longest_busy_cpu_ms = 0;  // the UI thread's CPU time between two ticks
};

// CPU time of the calling thread, in ms.
double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Runs the event loop for `ms`.
void Spin(const QElapsedTimer& clock, qint64 ms) {
  const qint64 until = clock.elapsed() + ms;
  while (clock.elapsed() < until) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

Figures ShowOnce(const std::string& content) {
  QTemporaryDir dir;
  m32::config::Settings settings;
  m32::config::ModulePath module;
  m32::config::TextTable texts;
  module.Derive((dir.path() + "/TOOL.EXE").toStdString());
  std::ofstream(dir.filePath("TOOL.HLP").toStdString(), std::ios::binary) << content;
  QWidget main;
  m32::info::HelpViewer help(settings, module, texts, &main);

  QElapsedTimer clock;
  double last_tick = 0;
  double longest = 0;
  double last_tick_cpu = ThreadCpuMs();
  double longest_cpu = 0;
  QTimer ticker;
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const double now = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    longest = std::max(longest, now - last_tick);
    last_tick = now;
    const double cpu = ThreadCpuMs();
    longest_cpu = std::max(longest_cpu, cpu - last_tick_cpu);
    last_tick_cpu = cpu;
  });
  bool painted = false;
  struct PaintSpy : QObject {
    bool* painted;
    bool* armed;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint && *armed) *painted = true;
      return false;
    }
  };
  bool loaded = false;
  PaintSpy spy;
  spy.painted = &painted;
  spy.armed = &loaded;
  help.TextView()->viewport()->installEventFilter(&spy);
  help.PlainView()->viewport()->installEventFilter(&spy);
  QObject::connect(&help, &m32::info::HelpViewer::Loaded, [&] { loaded = true; });

  ticker.start();
  clock.start();
  help.show();
  if (help.LoadFailed()) {
    std::printf("the viewer refused the file\n");
    return {};
  }
  const double after_show = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  longest = std::max(longest, after_show);
  last_tick = after_show;
  longest_cpu = std::max(longest_cpu, ThreadCpuMs() - last_tick_cpu);
  last_tick_cpu = ThreadCpuMs();
  while (!painted && clock.elapsed() < 60000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  }
  Figures f;
  f.shown_ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  // The view may go on laying out the rest of a long text in slices; then
  // the technician switches wrapping off and on and widens the window.
  Spin(clock, 1500);
  help.ToggleWordWrap();
  Spin(clock, 300);
  help.ToggleWordWrap();
  Spin(clock, 300);
  help.resize(help.width() + 200, help.height());
  Spin(clock, 1500);
  f.longest_busy_ms = longest;
  f.longest_busy_cpu_ms = longest_cpu;
  help.hide();
  ticker.stop();
  return f;
}

// Peak resident memory of this process so far, in MB.
double PeakMb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

struct Row {
  const char* name;
  std::function<std::string()> content;
  double target_ms;
  int showings;
};

constexpr double kStallTargetMs = 100;
constexpr double kMemoryTargetMb = 500;

void Report(const Row& row) {
  const std::string content = row.content();
  std::vector<Figures> runs;
  for (int i = 0; i < row.showings; ++i) runs.push_back(ShowOnce(content));
  std::sort(runs.begin(), runs.end(),
            [](const Figures& a, const Figures& b) { return a.shown_ms < b.shown_ms; });
  double busy = 0;
  double busy_cpu = 0;
  for (const Figures& f : runs) {
    busy = std::max(busy, f.longest_busy_ms);
    busy_cpu = std::max(busy_cpu, f.longest_busy_cpu_ms);
  }
  const Figures& median = runs[runs.size() / 2];
  const double peak = PeakMb();
  std::printf(
      "%-40s %6.2f MB  shown %7.1f ms (target <= %.0f) %-6s  longest UI stall %6.1f ms "
      "(target <= %.0f) %-6s (its CPU %6.1f ms)  peak memory %5.0f MB (target <= %.0f) %s\n",
      row.name, static_cast<double>(content.size()) / 1e6, median.shown_ms, row.target_ms,
      median.shown_ms <= row.target_ms ? "ok" : "MISSED", busy, kStallTargetMs,
      busy <= kStallTargetMs ? "ok" : "MISSED", busy_cpu, peak, kMemoryTargetMb,
      peak <= kMemoryTargetMb ? "ok" : "MISSED");
  (void)std::fflush(stdout);
}

std::vector<Row> Rows() {
  const std::string head = "{\\rtf1\\ansi\\ansicpg1250 ";
  return {
      {"pandoc manual, text only", [] { return PandocManual(kTwoMb); }, 250, 5},
      {"pandoc manual at the size limit", [] { return PandocManual(kLimit); }, 2000, 3},
      {"a style change on every word",
       [head] { return Repeat(head, "{\\b x}{\\i y}{\\ul z} ", kLimit); }, 2000, 3},
      {"empty paragraphs only", [head] { return Repeat(head, "\\par ", kLimit); }, 2000, 3},
      {"table cells only", [head] { return Repeat(head, "\\intbl a\\cell\\row ", kLimit); }, 2000,
       3},
      {"8-bit text in one paragraph", [head] { return Repeat(head, "\\'e8\\'ed ", kLimit); }, 2000,
       3},
      {"groups only", [head] { return Repeat(head, "{}", kLimit); }, 2000, 3},
      // Plain text of many short lines.
      {"plain: 512 KiB of empty lines", [] { return std::string(512U * 1024U, '\n'); }, 1000, 3},
      {"plain: 1 M lines of ab", [] { return Lines("ab", 1U << 20U); }, 2000, 3},
      {"plain: 699,050 lines of 23 characters",
       [] { return Lines("Vstup 12 je zapnut: ano", 699'050); }, 2000, 3},
      {"plain: 16 MiB of empty lines", [] { return std::string(kLimit, '\n'); }, 2000, 3},
  };
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<Row> rows = Rows();
  // Each file in a process of its own: this program again with "--row N".
  if (argc == 3 && std::strcmp(argv[1], "--row") == 0) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): first thing in main, no other thread yet
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    Report(rows.at(static_cast<std::size_t>(std::atoi(argv[2]))));
    return 0;
  }
  const char* only = argc >= 2 ? argv[1] : nullptr;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (only != nullptr && std::string(rows[i].name).find(only) == std::string::npos) continue;
    const std::string index = std::to_string(i);
    const pid_t child = ::fork();
    if (child == 0) {
      ::execl("/proc/self/exe", argv[0], "--row", index.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    if (child > 0) ::waitpid(child, &status, 0);
    if (child < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::printf("%-40s the run failed\n", rows[i].name);
    }
  }
  return 0;
}
