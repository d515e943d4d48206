// The live panel: the main window in this process, headless, on a real
// pseudo-terminal line with controller-sim at 9600 Bd 8E1 at the other end.
// Clicks on the boxes must reach the line; frames from the sim must check the
// input boxes and paint them yellow, through noise too. Time limits are generous.
#include <QCheckBox>
#include <QColor>
#include <QPalette>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "app/main_window.h"
#include "support/process_support.h"

using namespace m32::test_support;

namespace {

const QColor kYellow(255, 255, 0);
using Bytes = std::array<uint8_t, 4>;

// The main window on COM1 of a scratch folder, the sim there already.
struct LivePanel {
  ScratchFolder dir;
  std::unique_ptr<Sim> sim;
  std::unique_ptr<SimLog> log;
  std::vector<LogLine> lines;
  m32::AppContext ctx;
  std::unique_ptr<m32::app::MainWindow> menu;

  bool Start(std::vector<std::string> args) {
    if (!WriteSettings(dir.path / "merkat32.CFG", LineFile{})) return false;
    args.insert(args.begin(), {"--format", "8E1"});
    sim = std::make_unique<Sim>(dir.path, args);
    if (!sim->Ready()) return false;
    log = std::make_unique<SimLog>(sim->LogPath());
    ctx.exe_path = (dir.path / "merkat32").string();
    menu = std::make_unique<m32::app::MainWindow>(ctx);
    menu->StartUp();
    return true;
  }
  ~LivePanel() {
    if (menu) menu->CloseSequence();
    menu.reset();
    if (sim) sim->Send("quit");
  }
  m32::iopanel::ChannelBox* Box(int i) { return menu->Panel()->Box(i); }
  bool Yellow(int i) { return Box(i)->palette().color(QPalette::Window) == kYellow; }

  // True once the sim has received a frame carrying `outputs` at or after `since`.
  bool SentSince(int64_t since, Bytes outputs) {
    for (auto& l : log->Poll()) lines.push_back(std::move(l));
    const auto want = LinkFrameWith(outputs);
    return std::any_of(lines.begin(), lines.end(), [&](const LogLine& l) {
      return l.tag == "IN" && l.us >= since && l.bytes == want;
    });
  }
  bool Live() {
    return ctx.status.flags.IoDisplayActive.load() != 0 && SentSince(0, {0, 0, 0, 0}) &&
           Box(0)->isEnabled();
  }
  // The 32 input boxes show `in` (check marks and colours).
  bool Shows(Bytes in) {
    for (int i = 0; i < 32; ++i) {
      const bool on = ((in[static_cast<std::size_t>(i / 8)] >> (i % 8)) & 1U) != 0;
      if (Box(32 + i)->isChecked() != on || Yellow(32 + i) != on) return false;
    }
    return true;
  }
};

}  // namespace

class ProcessPanelTest : public QObject {
  Q_OBJECT

 private slots:
  void clicksReachTheLineAndTheAnswersTheBoxesThroughNoise() {
    LivePanel p;
    // Mirror: the sim answers with inputs = outputs; some answers come with
    // garbage before them, in pieces or with a spoilt checksum.
    QVERIFY(p.Start({"--garbage", "30", "--split", "30", "--bad-checksum", "10", "--seed", "11"}));
    QTRY_VERIFY_WITH_TIMEOUT(p.Live(), 15000);
    // Legend: a click on the check mark switches out6 on, the next one off
    // again; each time the frames on the line carry it and its answer checks
    // in6 alone. (Which key does what is the panel window's test.)
    for (const Bytes out : {Bytes{0x20, 0, 0, 0}, Bytes{0, 0, 0, 0}}) {
      const int64_t t = MonotonicUs();
      QTest::mouseClick(p.Box(5), Qt::LeftButton, {}, {8, p.Box(5)->height() / 2});
      QTRY_VERIFY_WITH_TIMEOUT(p.SentSince(t, out), 10000);
      QCOMPARE(p.Yellow(5), out[0] != 0);
      QTRY_VERIFY_WITH_TIMEOUT(p.Shows(out), 15000);
    }
    // The noise really was there.
    QVERIFY(CountTagged(p.lines, "GARBAGE") > 0 || CountTagged(p.log->All(), "GARBAGE") > 0);
  }
};

QTEST_MAIN(ProcessPanelTest)
#include "process_panel_test.moc"
