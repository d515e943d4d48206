// Help viewer figures: the time from showing the viewer to its first paint
// with the file's text, and the longest stretch the UI thread was busy (no
// timer tick got through) meanwhile. Offscreen, in-process, one HelpViewer beside
// a help file made here; the median of several showings per file.
//
//   help_load_bench [WORD]     only the files whose name holds WORD
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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

struct Figures {
  double shown_ms = 0;
  double longest_busy_ms = 0;
};

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
  QTimer ticker;
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const double now = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    longest = std::max(longest, now - last_tick);
    last_tick = now;
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
  while (!painted && clock.elapsed() < 30000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  }
  Figures f;
  f.shown_ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  // The view goes on laying out the rest of a long text in slices.
  const qint64 until = clock.elapsed() + 1500;
  while (clock.elapsed() < until) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  f.longest_busy_ms = longest;
  help.hide();
  ticker.stop();
  return f;
}

const char* g_only = nullptr;

void Report(const char* name, const std::string& content, double target_ms, int showings) {
  if (g_only != nullptr && std::string(name).find(g_only) == std::string::npos) return;
  std::vector<Figures> runs;
  for (int i = 0; i < showings; ++i) runs.push_back(ShowOnce(content));
  std::sort(runs.begin(), runs.end(),
            [](const Figures& a, const Figures& b) { return a.shown_ms < b.shown_ms; });
  double busy = 0;
  for (const Figures& f : runs) busy = std::max(busy, f.longest_busy_ms);
  const Figures& median = runs[runs.size() / 2];
  std::printf(
      "%-44s %6.2f MB  shown %7.1f ms (target <= %.0f)  %s   longest UI stall %6.1f ms "
      "(target <= 100)  %s\n",
      name, static_cast<double>(content.size()) / 1e6, median.shown_ms, target_ms,
      median.shown_ms <= target_ms ? "ok" : "MISSED", busy, busy <= 100 ? "ok" : "MISSED");
  (void)std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): first thing in main, no other thread yet
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  if (argc >= 2) g_only = argv[1];
  const std::string head = "{\\rtf1\\ansi\\ansicpg1250 ";
  Report("pandoc manual, text only", PandocManual(kTwoMb), 250, 5);
  Report("pandoc manual at the size limit", PandocManual(kLimit), 2000, 3);
  Report("a style change on every word", Repeat(head, "{\\b x}{\\i y}{\\ul z} ", kLimit), 2000, 3);
  Report("empty paragraphs only", Repeat(head, "\\par ", kLimit), 2000, 3);
  Report("table cells only", Repeat(head, "\\intbl a\\cell\\row ", kLimit), 2000, 3);
  Report("8-bit text in one paragraph", Repeat(head, "\\'e8\\'ed ", kLimit), 2000, 3);
  Report("groups only", Repeat(head, "{}", kLimit), 2000, 3);
  return 0;
}
