// The live panel: the main window in this process, headless, on a real
// pseudo-terminal line with controller-sim at 9600 Bd 8E1 at the other end.
// Clicks and keys on the boxes must reach the line; frames from the sim must
// check the input boxes and paint them yellow. Time limits are generous.
#include <QCheckBox>
#include <QColor>
#include <QPalette>
#include <QtTest>
#include <memory>

#include "app/main_window.h"
#include "link/process_support.h"

using namespace m32::process;

namespace {

const QColor kYellow(255, 255, 0);

// The main window on COM1 of a scratch folder, the sim there already.
struct LivePanel {
  ScratchFolder dir;
  std::unique_ptr<Sim> sim;
  std::unique_ptr<SimLog> log;
  std::vector<LogLine> lines;
  m32::AppContext ctx;
  std::unique_ptr<m32::TWmenu> menu;

  bool Start(const std::vector<std::string>& sim_args) {
    if (!WriteSettings(dir.path / "merkat32.CFG", LineFile{})) return false;
    std::vector<std::string> args{"--format", "8E1"};
    args.insert(args.end(), sim_args.begin(), sim_args.end());
    sim = std::make_unique<Sim>(dir.path, args);
    if (!sim->Ready()) return false;
    log = std::make_unique<SimLog>(sim->LogPath());
    ctx.exe_path = (dir.path / "merkat32").string();
    menu = std::make_unique<m32::TWmenu>(ctx);
    menu->FormCreate();
    return true;
  }
  ~LivePanel() {
    if (menu) menu->CloseSequence();
    menu.reset();
    if (sim) sim->Send("quit");
  }
  m32::iopanel::IoPanel& Panel() { return *menu->Panel(); }
  m32::iopanel::ChannelBox* Box(int i) { return Panel().Box(i); }

  // True once the sim has received a frame carrying `outputs` at or after `since`.
  bool SentSince(int64_t since, std::array<uint8_t, 4> outputs) {
    for (auto& l : log->Poll()) lines.push_back(std::move(l));
    const auto want = LinkFrameWith(outputs);
    for (const auto& l : lines) {
      if (l.tag == "IN" && l.us >= since && l.bytes == want) return true;
    }
    return false;
  }
  // Every frame the sim received at or after `since` carried `outputs` (and
  // there was at least one).
  bool OnlySentSince(int64_t since, std::array<uint8_t, 4> outputs) {
    for (auto& l : log->Poll()) lines.push_back(std::move(l));
    const auto want = LinkFrameWith(outputs);
    int n = 0;
    for (const auto& l : lines) {
      if (l.tag != "IN" || l.us < since) continue;
      if (l.bytes != want) return false;
      ++n;
    }
    return n > 0;
  }
  bool Live() {
    return ctx.status.flags.IoDisplayActive.load() != 0 && SentSince(0, {0, 0, 0, 0}) &&
           Box(0)->isEnabled();
  }
  // The 32 input boxes show `in` (check marks and colours).
  bool Shows(std::array<uint8_t, 4> in) {
    for (int i = 0; i < 32; ++i) {
      const bool on = ((in[static_cast<std::size_t>(i / 8)] >> (i % 8)) & 1U) != 0;
      const auto* box = Box(32 + i);
      const bool yellow = box->palette().color(QPalette::Window) == kYellow;
      if (box->isChecked() != on || yellow != on) return false;
    }
    return true;
  }
};

// A point on the box's check mark, where a click certainly lands.
QPoint OnIndicator(QWidget* w) {
  return {8, w->height() / 2};
}

}  // namespace

class ProcessPanelTest : public QObject {
  Q_OBJECT

 private slots:
  void clicksAndKeysPutOutputsOnTheLine();
  void inputFramesCheckTheInputBoxesAndPaintThemYellow();
  void noiseOnTheLineDoesNotKeepInputsFromTheBoxes();
};

void ProcessPanelTest::clicksAndKeysPutOutputsOnTheLine() {
  LivePanel p;
  QVERIFY(p.Start({}));  // mirror: the sim answers with inputs = outputs
  QTRY_VERIFY_WITH_TIMEOUT(p.Live(), 15000);

  // Legend: the action, then the outputs every later frame must carry.
  int64_t t = MonotonicUs();
  QTest::mouseClick(p.Box(5), Qt::LeftButton, {}, OnIndicator(p.Box(5)));  // out6 on
  QTRY_VERIFY_WITH_TIMEOUT(p.SentSince(t, {0x20, 0, 0, 0}), 10000);
  QVERIFY(p.Box(5)->palette().color(QPalette::Window) == kYellow);
  // The mirrored answer comes back as in6.
  QTRY_VERIFY_WITH_TIMEOUT(p.Shows({0x20, 0, 0, 0}), 10000);

  t = MonotonicUs();
  QTest::keyClick(p.Box(9), Qt::Key_Return);  // Enter toggles out10 on
  QTRY_VERIFY_WITH_TIMEOUT(p.SentSince(t, {0x20, 0x02, 0, 0}), 10000);

  t = MonotonicUs();
  p.Box(31)->setFocus();
  QTest::keyClick(p.Box(31), Qt::Key_Space);  // the space bar toggles out32 on
  QTRY_VERIFY_WITH_TIMEOUT(p.SentSince(t, {0x20, 0x02, 0, 0x80}), 10000);

  t = MonotonicUs();
  QTest::mouseClick(p.Box(5), Qt::LeftButton, {}, OnIndicator(p.Box(5)));  // out6 off again
  QTRY_VERIFY_WITH_TIMEOUT(p.SentSince(t, {0, 0x02, 0, 0x80}), 10000);
  QTRY_VERIFY_WITH_TIMEOUT(p.Shows({0, 0x02, 0, 0x80}), 10000);

  t = MonotonicUs();
  QTest::keyClick(p.Box(40), Qt::Key_Escape);  // Esc, even on an input box: all off
  QTRY_VERIFY_WITH_TIMEOUT(p.SentSince(t, {0, 0, 0, 0}), 10000);
  QTRY_VERIFY_WITH_TIMEOUT(p.Shows({0, 0, 0, 0}), 10000);

  // A click on an input box puts nothing on the line.
  t = MonotonicUs();
  QTest::mouseClick(p.Box(33), Qt::LeftButton, {}, OnIndicator(p.Box(33)));
  QTest::qWait(500);
  QVERIFY(p.OnlySentSince(t, {0, 0, 0, 0}));
  QVERIFY(p.Shows({0, 0, 0, 0}));
}

void ProcessPanelTest::inputFramesCheckTheInputBoxesAndPaintThemYellow() {
  LivePanel p;
  QVERIFY(p.Start({"--mode", "fixed", "--inputs", "05800001"}));
  QTRY_VERIFY_WITH_TIMEOUT(p.Live(), 15000);
  // in1, in3, in16 and in25 on; everything else off and grey.
  QTRY_VERIFY_WITH_TIMEOUT(p.Shows({0x05, 0x80, 0x00, 0x01}), 10000);
  QVERIFY(p.Box(34)->isChecked());
  QVERIFY(!p.Box(33)->isChecked());
  QVERIFY(p.Box(33)->palette().color(QPalette::Window) != kYellow);

  // Legend: inputs the sim reports next, as its control command takes them.
  const std::vector<std::array<uint8_t, 4>> steps{
      {0xFF, 0xFF, 0xFF, 0xFF},  // all on: every input box yellow
      {0x00, 0x00, 0x00, 0x00},  // all off again: every colour back
      {0x00, 0x00, 0x00, 0x80},  // only the last input, in32
  };
  for (const auto& in : steps) {
    char cmd[64];
    (void)std::snprintf(cmd, sizeof cmd, "inputs %02X %02X %02X %02X", in[0], in[1], in[2], in[3]);
    QVERIFY(p.sim->Send(cmd));
    QTRY_VERIFY_WITH_TIMEOUT(p.Shows(in), 10000);
  }
  // The outputs stay off throughout.
  const int64_t t = MonotonicUs();
  QTRY_VERIFY_WITH_TIMEOUT(p.SentSince(t, {0, 0, 0, 0}), 10000);
}

void ProcessPanelTest::noiseOnTheLineDoesNotKeepInputsFromTheBoxes() {
  LivePanel p;
  QVERIFY(p.Start({"--mode", "fixed", "--inputs", "A55A0FF0", "--garbage", "30", "--split", "30",
                   "--bad-checksum", "10", "--seed", "11"}));
  QTRY_VERIFY_WITH_TIMEOUT(p.Live(), 15000);
  QTRY_VERIFY_WITH_TIMEOUT(p.Shows({0xA5, 0x5A, 0x0F, 0xF0}), 15000);
  QVERIFY(p.sim->Send("inputs 3C C3 00 FF"));
  QTRY_VERIFY_WITH_TIMEOUT(p.Shows({0x3C, 0xC3, 0x00, 0xFF}), 15000);
  // And the outputs still get through.
  const int64_t t = MonotonicUs();
  QTest::mouseClick(p.Box(0), Qt::LeftButton, {}, OnIndicator(p.Box(0)));
  QTRY_VERIFY_WITH_TIMEOUT(p.SentSince(t, {0x01, 0, 0, 0}), 10000);
  // The noise really was there.
  QVERIFY(CountTagged(p.lines, "GARBAGE") > 0 || CountTagged(p.log->All(), "GARBAGE") > 0);
}

QTEST_MAIN(ProcessPanelTest)
#include "process_panel_test.moc"
