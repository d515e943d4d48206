// The lighting test window over an in-memory line with a running link.
#include "service/lighting_window.h"

#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

#include "support/window_rig.h"

using m32::service::LightingTestWindow;
using m32::test_support::PumpWhile;
using m32::test_support::WindowRig;

namespace {

// Puts the focus on `focus` (leaving an entry field is a change of its own),
// runs until the window has sent a frame and taken the pending change with
// it, then holds the transmit queue busy so that nothing more is sent.
bool SettleAndHold(WindowRig& rig, QWidget* focus) {
  focus->setFocus(Qt::TabFocusReason);
  rig.device.fake.SetTxCount(0);
  const int before = rig.BrightnessFrames();
  const bool sent = PumpWhile([&] { return rig.BrightnessFrames() <= before; }, 5000);
  rig.device.fake.SetTxCount(1);
  return sent && rig.status.flags.OutputsChanged.load() == 0;
}

}  // namespace

class LightingWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void changesWaitForTheFrameAndOutliveClosing();
  void entryFieldEnterAppliesEscapeRestores();
  void aModemLineRepaintsItsOwnPanel();
  void withoutAPortKeysWorkAndLevelsAreTakenAndSaved();
};

void LightingWindowTest::changesWaitForTheFrameAndOutliveClosing() {
  WindowRig rig;
  QVERIFY(rig.OpenWithLink());
  LightingTestWindow w(rig.settings, rig.module, rig.texts, rig.status, rig.port, &rig.main_window);
  w.show();
  QVERIFY(w.HoldsLink());
  QVERIFY(SettleAndHold(rig, w.ToggleButton(0)));

  // Enter on the button is a click: accepted, shown in all four controls, waits to be sent.
  QTest::keyClick(w.ToggleButton(0), Qt::Key_Return);
  QCOMPARE(rig.settings.record.Brightness[0], 255);
  QCOMPARE(QStringList({w.LevelField(0)->text(), w.ToggleButton(0)->text(), w.LevelLabel(0)->text(),
                        QString::number(w.LevelBar(0)->value())}),
           QStringList({"255", "<<", "FF hex      100%", "255"}));
  QCOMPARE(rig.status.flags.OutputsChanged.load(), 1);

  // Changes made before the first has gone out wait, the newest per channel,
  // and are taken one per frame after it: the bar never keeps showing a level
  // that is not stored.
  w.ToggleButton(1)->click();
  w.LevelBar(2)->setValue(40);
  w.LevelBar(2)->setValue(99);
  QCOMPARE(rig.settings.record.Brightness[1], 0);
  QCOMPARE(rig.settings.record.Brightness[2], 0);
  QCOMPARE(w.LevelBar(2)->value(), 99);  // the moved bar shows where it was put
  rig.device.fake.SetTxCount(0);
  QVERIFY(PumpWhile(
      [&] {
        return rig.settings.record.Brightness[2] != 99 ||
               rig.status.flags.OutputsChanged.load() != 0;
      },
      5000));
  QCOMPARE(rig.settings.record.Brightness[1], 255);
  QCOMPARE(QStringList({w.ToggleButton(1)->text(), w.LevelLabel(2)->text()}),
           QStringList({"<<", "63 hex       38%"}));
  const auto frame = rig.device.fake.LastWrite();
  QCOMPARE(frame.size(), std::size_t{13});
  QCOMPARE(QList<int>({frame[2], frame[3], frame[4]}), QList<int>({255, 255, 99}));
  rig.device.fake.SetTxCount(1);

  // One change accepted but unsent, one waiting behind it: closing stores and
  // saves both.
  w.ToggleButton(3)->click();
  w.LevelBar(4)->setValue(77);
  QCOMPARE(rig.settings.record.Brightness[4], 0);
  const int link_frames = rig.LinkFrames();

  // Closing ends the worker, saves the levels (the last ones still unsent)
  // and lets the link go on.
  w.close();
  QVERIFY(!w.WorkerRunning());
  QCOMPARE(rig.status.flags.LightingDisplayActive.load(), 0);
  QVERIFY(!w.HoldsLink());
  m32::config::Settings saved;
  m32::config::LoadSettings(rig.module, saved);
  QCOMPARE(QList<int>({saved.record.Brightness[0], saved.record.Brightness[1],
                       saved.record.Brightness[3], saved.record.Brightness[4]}),
           QList<int>({255, 255, 255, 77}));
  QVERIFY(PumpWhile([&] { return rig.LinkFrames() <= link_frames; }, 5000));

  // Reopened, the window shows the levels as they were and sends them again.
  const int frames = rig.BrightnessFrames();
  w.show();
  QCOMPARE(w.ToggleButton(1)->text(), QStringLiteral("<<"));
  QVERIFY(PumpWhile([&] { return rig.BrightnessFrames() <= frames; }, 5000));
  QCOMPARE(rig.device.fake.LastWrite()[3], 255);
  w.close();
  QCOMPARE(rig.device.concurrent.load(), 0);
}

void LightingWindowTest::entryFieldEnterAppliesEscapeRestores() {
  WindowRig rig;
  QVERIFY(rig.OpenWithLink());
  LightingTestWindow w(rig.settings, rig.module, rig.texts, rig.status, rig.port, &rig.main_window);
  w.show();
  QLineEdit* e = w.LevelField(5);
  QVERIFY(SettleAndHold(rig, w.LevelBar(5)));
  QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
  QCoreApplication::sendEvent(e, &in);
  e->setText(QStringLiteral("300"));
  QTest::keyClick(e, Qt::Key_Return);  // applied, limited to the range and shown as taken
  QCOMPARE(rig.settings.record.Brightness[5], 255);
  QCOMPARE(e->text(), QStringLiteral("255"));

  // Escape puts back the text of the last Enter, changes no level and leaves the window open.
  QVERIFY(SettleAndHold(rig, w.LevelBar(5)));
  e->setText(QStringLiteral("200"));
  QTest::keyClick(e, Qt::Key_Escape);
  QCOMPARE(e->text(), QStringLiteral("255"));
  QCOMPARE(rig.settings.record.Brightness[5], 255);
  QCOMPARE(rig.status.flags.OutputsChanged.load(), 0);
  QVERIFY(w.isVisible());
  w.close();
}

void LightingWindowTest::aModemLineRepaintsItsOwnPanel() {
  WindowRig rig;
  QVERIFY(rig.OpenWithLink());
  LightingTestWindow w(rig.settings, rig.module, rig.texts, rig.status, rig.port, &rig.main_window);
  w.show();
  QVERIFY(PumpWhile([&] { return w.PanelPaints(3) < 1; }, 5000));  // the first step paints all
  m32::serial::ModemLines lines;
  lines.cts = true;
  rig.device.fake.SetModem(lines);
  QVERIFY(PumpWhile([&] { return w.PanelPaints(2) < 2; }, 5000));
  QCOMPARE(w.ModemPanel(2)->palette().color(QPalette::Window), QColor(Qt::black));
  QCOMPARE(w.PanelPaints(0) + w.PanelPaints(1) + w.PanelPaints(3), 3);
  w.close();
}

// With no port (after "CHYBA 01") the keys work, changes are still taken one
// after the other while the window is open, and the levels reach the settings
// file at the close.
void LightingWindowTest::withoutAPortKeysWorkAndLevelsAreTakenAndSaved() {
  WindowRig rig;
  LightingTestWindow w(rig.settings, rig.module, rig.texts, rig.status, rig.port, &rig.main_window);
  w.show();
  w.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  QCOMPARE(QApplication::focusWidget(), w.ChannelGroup(0));  // activation puts the focus on Kan1
  // Alt+digit moves into that group's field.
  w.ToggleButton(2)->setFocus(Qt::TabFocusReason);
  QTest::keyClick(&w, Qt::Key_3, Qt::AltModifier);
  QCOMPARE(QApplication::focusWidget(), w.LevelField(2));
  QTest::keyClick(&w, Qt::Key_8, Qt::AltModifier);
  QCOMPARE(QApplication::focusWidget(), w.LevelField(7));
  // The track bar's keys, one after the other from 100: Up and Page Up go
  // towards the minimum, as Left and Home do.
  const struct {
    Qt::Key key;
    int position;
  } bar_keys[] = {{Qt::Key_Up, 99},        {Qt::Key_PageUp, 83}, {Qt::Key_Down, 84},
                  {Qt::Key_PageDown, 100}, {Qt::Key_Left, 99},   {Qt::Key_Right, 100},
                  {Qt::Key_Home, 0},       {Qt::Key_End, 255}};
  w.LevelBar(0)->setValue(100);
  for (const auto& row : bar_keys) {
    QTest::keyClick(w.LevelBar(0), row.key);
    QCOMPARE(w.LevelBar(0)->value(), row.position);
  }

  for (int k = 0; k < m32::service::kChannels; ++k) {
    w.LevelField(k)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.LevelField(k), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(w.LevelField(k), QString::number(10 * k + 3));
    QTest::keyClick(w.LevelField(k), Qt::Key_Return);
  }
  const auto stored = [&rig](int k) {
    return rig.settings.record.Brightness[static_cast<std::size_t>(k)];
  };
  QVERIFY(PumpWhile([&] { return stored(7) != 73 || stored(0) != 3; }, 5000));
  w.close();
  m32::config::Settings saved;
  m32::config::LoadSettings(rig.module, saved);
  for (int k = 0; k < m32::service::kChannels; ++k) {
    QCOMPARE(saved.record.Brightness[static_cast<std::size_t>(k)], 10 * k + 3);
  }
}

QTEST_MAIN(LightingWindowTest)
#include "lighting_window_test.moc"
