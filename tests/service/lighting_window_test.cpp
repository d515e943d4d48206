// The lighting test window over an in-memory line with a running link.
#include "service/lighting_window.h"

#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QtTest>
#include <fstream>
#include <iterator>
#include <vector>

#include "service/window_rig.h"

using m32::TWjas;
using m32::service::testing::PumpWhile;
using m32::service::testing::WindowRig;

namespace {

// BrightnessFrames written so far.
int BrightnessFrames(const WindowRig& rig) {
  return rig.device.CountWrites(13, 0xA2, 0x68);
}

// Puts the focus on `focus` (leaving an entry field is a change of its own),
// runs until the window has sent a frame and taken the pending change with
// it, then holds the transmit queue busy so that nothing more is sent.
bool SettleAndHold(WindowRig& rig, QWidget* focus) {
  focus->setFocus(Qt::TabFocusReason);
  rig.device.SetTxPending(0);
  const int before = BrightnessFrames(rig);
  const bool sent = PumpWhile([&] { return BrightnessFrames(rig) <= before; }, 5000);
  rig.device.SetTxPending(1);
  return sent && rig.status.flags.OutputsChanged.load() == 0;
}

void Enter(QWidget* w) {
  QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
  QCoreApplication::sendEvent(w, &in);
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

}  // namespace

class LightingWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void layoutAndDefaultLevels();
  void modemPanelsRepaintOnlyOnChange();
  void aChangeWaitsForTheFrameBeforeTheNext();
  void buttonTogglesBetweenOffAndFull();
  void entryFieldEnterAppliesEscapeRestores();
  void altDigitMovesIntoTheGroupsField();
  void closingEndsWorkerWritesSettingsAndResumesLink();
};

void LightingWindowTest::layoutAndDefaultLevels() {
  WindowRig rig;  // no settings file: every level 0; no port open
  TWjas w(rig.settings, rig.module, rig.texts, rig.status, *rig.port, &rig.main_window);
  w.show();
  QCOMPARE(w.frameGeometry().size(), QSize(664, 724));
  // Where the platform reports no frame, the client area stands at the spot.
  const QPoint spot(rig.main_window.x() + 4, 0);
  QVERIFY(w.pos() == spot || w.geometry().topLeft() == spot);
  QCOMPARE(w.windowTitle(), QString::fromUtf8("Test osvětlení"));
  for (int i = 0; i < 8; ++i) {
    const QString legend = QStringLiteral("channel %1").arg(i + 1);
    QVERIFY2(w.Kan(i)->title() == QStringLiteral(" Jas &%1 : ").arg(i + 1), qPrintable(legend));
    QVERIFY2(w.Kan(i)->geometry() == QRect(16, 16 + 80 * i, 600, 72), qPrintable(legend));
    QVERIFY2(w.Edit(i)->text() == QStringLiteral("0"), qPrintable(legend));
    QVERIFY2(w.Jas(i)->value() == 0, qPrintable(legend));
    QVERIFY2(w.Tl(i)->text() == QStringLiteral(">>"), qPrintable(legend));
    QVERIFY2(w.Label(i)->text() == QStringLiteral("00 hex        0%"), qPrintable(legend));
  }
  QCOMPARE(w.Label(0)->geometry(), QRect(208, 14, 200, 16));
  QCOMPARE(w.Edit(0)->geometry(), QRect(16, 36, 40, 24));
  QCOMPARE(w.Jas(0)->geometry(), QRect(68, 32, 480, 32));
  QCOMPARE(w.Tl(0)->geometry(), QRect(560, 36, 24, 24));
  QCOMPARE(w.Jas(0)->maximum(), 255);
  QCOMPARE(w.Jas(0)->pageStep(), 16);
  QCOMPARE(w.Jas(0)->tickInterval(), 16);
  QCOMPARE(w.Jas(0)->tickPosition(), QSlider::TicksAbove);
  const char* captions[] = {"RI", "DCD", "CTS", "DSR"};
  for (int j = 0; j < 4; ++j) {
    QCOMPARE(w.ModemPanel(j)->text(), QString::fromLatin1(captions[j]));
    QCOMPARE(w.ModemPanel(j)->geometry(), QRect(150 + 100 * j, 2, 40, 20));
  }
  QVERIFY(!w.HoldsLink());  // no port: nothing to take over
  w.close();
}

void LightingWindowTest::modemPanelsRepaintOnlyOnChange() {
  WindowRig rig;
  QVERIFY(rig.OpenWithLink());
  TWjas w(rig.settings, rig.module, rig.texts, rig.status, *rig.port, &rig.main_window);
  w.show();
  QVERIFY(PumpWhile([&] { return w.WorkerSteps() < 3; }, 5000));
  for (int j = 0; j < 4; ++j) QCOMPARE(w.PanelPaints(j), 1);  // the first step paints all
  const unsigned steps = w.WorkerSteps();
  QVERIFY(PumpWhile([&] { return w.WorkerSteps() < steps + 3; }, 5000));
  for (int j = 0; j < 4; ++j) QCOMPARE(w.PanelPaints(j), 1);  // nothing changed

  m32::serial::ModemLines lines;
  lines.cts = true;
  rig.device.SetModem(lines);
  QVERIFY(PumpWhile([&] { return w.PanelPaints(2) < 2; }, 5000));
  const QPalette cts = w.ModemPanel(2)->palette();
  QCOMPARE(cts.color(QPalette::Window), QColor(Qt::black));
  QCOMPARE(cts.color(QPalette::WindowText), QColor(Qt::white));
  QCOMPARE(w.PanelPaints(0), 1);
  QCOMPARE(w.PanelPaints(1), 1);
  QCOMPARE(w.PanelPaints(3), 1);
  w.close();

  // Reopened, a new worker paints every panel again.
  w.show();
  QVERIFY(PumpWhile([&] { return w.PanelPaints(0) < 2; }, 5000));
  QCOMPARE(w.PanelPaints(2), 3);
  w.close();
}

void LightingWindowTest::aChangeWaitsForTheFrameBeforeTheNext() {
  WindowRig rig;
  QVERIFY(rig.OpenWithLink());
  TWjas w(rig.settings, rig.module, rig.texts, rig.status, *rig.port, &rig.main_window);
  w.show();
  QVERIFY(SettleAndHold(rig, w.Tl(0)));

  w.Tl(0)->click();  // accepted: waits to be sent
  QCOMPARE(rig.settings.record.Brightness[0], 255);
  QCOMPARE(rig.status.flags.OutputsChanged.load(), 1);
  QCOMPARE(rig.status.LightingSendCountdown.load(), 20);

  w.Tl(1)->click();  // ignored: the first change has not gone out
  w.Jas(2)->setValue(99);
  w.Edit(3)->setText(QStringLiteral("77"));
  QTest::keyClick(w.Edit(3), Qt::Key_Return);
  QCOMPARE(rig.settings.record.Brightness[1], 0);
  QCOMPARE(rig.settings.record.Brightness[2], 0);
  QCOMPARE(rig.settings.record.Brightness[3], 0);
  QCOMPARE(w.Tl(1)->text(), QStringLiteral(">>"));
  QCOMPARE(w.Jas(2)->value(), 99);  // the moved bar shows where it was put

  // The next frame carries the first change; then changes are taken again.
  rig.device.SetTxPending(0);
  QVERIFY(PumpWhile([&] { return rig.status.flags.OutputsChanged.load() != 0; }, 5000));
  const auto frame = rig.device.Writes().back();
  QCOMPARE(frame.size(), std::size_t{13});
  QCOMPARE(frame[2], 255);
  QCOMPARE(frame[3], 0);
  rig.device.SetTxPending(1);
  w.Tl(1)->click();
  QCOMPARE(rig.settings.record.Brightness[1], 255);
  QCOMPARE(w.Tl(1)->text(), QStringLiteral("<<"));
  w.close();
}

void LightingWindowTest::buttonTogglesBetweenOffAndFull() {
  WindowRig rig;
  QVERIFY(rig.OpenWithLink());
  TWjas w(rig.settings, rig.module, rig.texts, rig.status, *rig.port, &rig.main_window);
  w.show();
  struct Row {
    const char* legend;
    uint8_t from;
    uint8_t to;
    const char* caption;
    const char* label;
  } const rows[] = {
      {"off goes to full", 0, 255, "<<", "FF hex      100%"},
      {"full goes to off", 255, 0, ">>", "00 hex        0%"},
      {"a low level goes to off", 1, 0, ">>", "00 hex        0%"},
      {"a middle level goes to off", 128, 0, ">>", "00 hex        0%"},
  };
  for (const Row& r : rows) {
    QVERIFY2(SettleAndHold(rig, w.Tl(4)), r.legend);
    rig.settings.record.Brightness[4] = r.from;
    w.ChannelDisplay(4);
    QTest::keyClick(w.Tl(4), Qt::Key_Return);  // Enter on the button is a click
    QVERIFY2(rig.settings.record.Brightness[4] == r.to, r.legend);
    QVERIFY2(w.Tl(4)->text() == QString::fromLatin1(r.caption), r.legend);
    QVERIFY2(w.Label(4)->text() == QString::fromLatin1(r.label), r.legend);
    QVERIFY2(w.Jas(4)->value() == r.to, r.legend);
    QVERIFY2(w.Edit(4)->text() == QString::number(r.to), r.legend);
  }
  w.close();
}

void LightingWindowTest::entryFieldEnterAppliesEscapeRestores() {
  WindowRig rig;
  QVERIFY(rig.OpenWithLink());
  TWjas w(rig.settings, rig.module, rig.texts, rig.status, *rig.port, &rig.main_window);
  w.show();
  QLineEdit* e = w.Edit(5);
  struct Row {
    const char* legend;
    const char* typed;
    int level;
    const char* shown;
  } const rows[] = {
      {"above the range", "300", 255, "255"}, {"below the range", "-5", 0, "0"},
      {"no number", "abc", 0, "0"},           {"digits then letters", "12abc", 12, "12"},
      {"leading blank", " 7", 7, "7"},        {"hex prefix is no number", "0x10", 0, "0"},
  };
  for (const Row& r : rows) {
    QVERIFY2(SettleAndHold(rig, w.Jas(5)), r.legend);
    Enter(e);
    e->setText(QString::fromLatin1(r.typed));
    QTest::keyClick(e, Qt::Key_Return);
    QVERIFY2(rig.settings.record.Brightness[5] == r.level, r.legend);
    QVERIFY2(e->text() == QString::fromLatin1(r.shown), r.legend);
    QVERIFY2(w.SavedEntryText() == QString::fromLatin1(r.shown), r.legend);
  }

  // Escape puts back the text the field had on entry and changes no level.
  QVERIFY(SettleAndHold(rig, w.Jas(5)));
  Enter(e);
  e->setText(QStringLiteral("200"));
  QTest::keyClick(e, Qt::Key_Escape);
  QCOMPARE(e->text(), QStringLiteral("0"));
  QCOMPARE(rig.settings.record.Brightness[5], 0);
  QVERIFY(w.isVisible());  // Escape does not close this window
  w.close();
}

void LightingWindowTest::altDigitMovesIntoTheGroupsField() {
  WindowRig rig;
  TWjas w(rig.settings, rig.module, rig.texts, rig.status, *rig.port, &rig.main_window);
  w.show();
  w.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  QCOMPARE(QApplication::focusWidget(), w.Edit(0));  // activation puts the focus into Kan1
  w.Tl(2)->setFocus(Qt::TabFocusReason);
  QTest::keyClick(&w, Qt::Key_3, Qt::AltModifier);
  QCOMPARE(QApplication::focusWidget(), w.Edit(2));
  QTest::keyClick(&w, Qt::Key_8, Qt::AltModifier);
  QCOMPARE(QApplication::focusWidget(), w.Edit(7));
  w.close();
}

void LightingWindowTest::closingEndsWorkerWritesSettingsAndResumesLink() {
  WindowRig rig;
  QVERIFY(rig.OpenWithLink());
  TWjas w(rig.settings, rig.module, rig.texts, rig.status, *rig.port, &rig.main_window);
  w.show();
  QVERIFY(w.HoldsLink());
  QVERIFY(SettleAndHold(rig, w.Tl(0)));
  w.Tl(0)->click();
  QVERIFY(PumpWhile([&] { return rig.status.flags.LightingDisplayActive.load() == 0; }, 5000));
  const int link_frames = rig.LinkFrames();

  w.close();  // the close box
  QVERIFY(!w.isVisible());
  QVERIFY(!w.WorkerRunning());
  QCOMPARE(rig.status.flags.LightingDisplayActive.load(), 0);
  QVERIFY(!w.HoldsLink());
  const std::vector<uint8_t> file = ReadAll(rig.dir.File("merkat32.CFG"));
  QCOMPARE(file.size(), std::size_t{100});
  QCOMPARE(file[89], 255);  // channel 1's level
  QCOMPARE(file[90], 0);
  rig.device.SetTxPending(0);
  QVERIFY(PumpWhile([&] { return rig.LinkFrames() <= link_frames; }, 5000));

  // Reopened, the window shows the levels as they were and sends them again.
  const int frames = BrightnessFrames(rig);
  w.show();
  QCOMPARE(w.Tl(0)->text(), QStringLiteral("<<"));
  QVERIFY(PumpWhile([&] { return BrightnessFrames(rig) <= frames; }, 5000));
  QCOMPARE(rig.device.Writes().back()[2], 255);
  w.close();
  QCOMPARE(rig.device.Concurrent(), 0);
}

QTEST_MAIN(LightingWindowTest)
#include "lighting_window_test.moc"
