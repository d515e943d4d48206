// The I/O panel driven with real mouse clicks and key presses, headless.
#include <QMainWindow>
#include <QtTest>

#include "iopanel/io_panel_window.h"

using m32::iopanel::IoPanel;

class IoPanelTest : public QObject {
  Q_OBJECT

 private:
  struct Rig {
    m32::SharedStatus status;
    m32::config::Settings settings;
    m32::config::TextTable texts;
    QMainWindow form;
    IoPanel* panel;
    explicit Rig(int16_t ad_mode = 0) {
      settings.record.Constants[3] = ad_mode;
      panel = new IoPanel(status, settings, texts, &form);
      form.setCentralWidget(panel);
      form.resize(420, 452);
      panel->LayoutIoPanel(&form);
      status.flags.IoDisplayActive.store(1);
      panel->RefreshIoPanel(false);
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
    }
    QColor Colour(int i) const { return panel->Box(i)->palette().color(QPalette::Window); }
  };

  static void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, 8)); }

 private slots:
  void clickSwitchesAnOutputAndPaintsItYellow() {
    Rig r;
    Click(r.panel->Box(5));
    QCOMPARE(r.panel->States()[5], uint8_t{1});
    QCOMPARE(r.Colour(5), QColor(255, 255, 0));
    Click(r.panel->Box(5));
    QCOMPARE(r.panel->States()[5], uint8_t{0});
    QCOMPARE(r.Colour(5), r.panel->palette().color(QPalette::Button));
  }

  void spaceAndTabSwitchOutputsFromTheKeyboard() {
    Rig r;
    r.panel->FocusLastOutput();
    QTest::keyClick(r.panel->Box(0), Qt::Key_Space);
    QCOMPARE(r.panel->States()[0], uint8_t{1});
    for (int i = 0; i < 5; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), r.panel->Box(5));
    QTest::keyClick(r.panel->Box(5), Qt::Key_Space);
    r.panel->PackOutputs();  // the states reach the output bytes
    QCOMPARE(r.status.OutputBytes[0], uint8_t{0x21});
    QCOMPARE(r.status.flags.OutputsChanged.load(), uint8_t{1});
    // Tab never lands on an input: 32 tabs come round to the first output.
    for (int i = 0; i < 32; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      auto* box = qobject_cast<m32::iopanel::ChannelBox*>(QApplication::focusWidget());
      QVERIFY(box != nullptr);
      QVERIFY(box->TabOrder() < 32);
    }
  }

  void enterTogglesAnOutputAndOnlyMovesTheFocusOnAnInput() {
    Rig r;
    r.panel->Box(3)->setFocus();
    QTest::keyClick(r.panel->Box(3), Qt::Key_Return);
    QCOMPARE(r.panel->States()[3], uint8_t{1});
    QVERIFY(r.panel->Box(3)->isChecked());
    QTest::keyClick(r.panel->Box(3), Qt::Key_Enter);
    QCOMPARE(r.panel->States()[3], uint8_t{0});
    QTest::keyClick(r.panel->Box(40), Qt::Key_Return);
    QCOMPARE(r.panel->States()[40], uint8_t{0});
    QCOMPARE(QApplication::focusWidget(), r.panel->Box(3));
  }

  void escOnAnInputSwitchesAllOutputsOff() {
    Rig r;
    for (int i : {0, 7, 31}) Click(r.panel->Box(i));
    QTest::keyClick(r.panel->Box(50), Qt::Key_Escape);
    for (int i = 0; i < 32; ++i) {
      QCOMPARE(r.panel->States()[static_cast<std::size_t>(i)], uint8_t{0});
      QVERIFY(!r.panel->Box(i)->isChecked());
    }
  }

  void clickOnAnInputChangesNeitherStateNorColourAndReturnsTheFocus() {
    Rig r;
    Click(r.panel->Box(2));
    Click(r.panel->Box(40));
    QCOMPARE(r.panel->States()[40], uint8_t{0});
    QVERIFY(!r.panel->Box(40)->isChecked());
    QCOMPARE(r.Colour(40), r.panel->palette().color(QPalette::Button));
    QCOMPARE(QApplication::focusWidget(), r.panel->Box(2));
  }

  void inputsShowTheirBitsYellow() {
    Rig r;
    r.status.InputBytes.Put({0xFF, 0x01, 0x00, 0x80});
    r.status.flags.InputsReceived.store(1);
    r.panel->ShowInputs();
    QCOMPARE(r.status.flags.InputsReceived.load(), uint8_t{0});
    // Which bit is which input is the channel packing's own table.
    QVERIFY(r.panel->Box(32)->isChecked());
    QCOMPARE(r.Colour(32), QColor(255, 255, 0));
    QVERIFY(!r.panel->Box(41)->isChecked());
    QCOMPARE(r.Colour(41), r.panel->palette().color(QPalette::Button));
    QVERIFY(r.panel->Box(63)->isChecked());
    // Without A/D mode the last input shows and the A/D value does not.
    QVERIFY(r.panel->Box(63)->isVisible());
    QVERIFY(!r.panel->AdBox()->isVisible());
    QVERIFY(!r.panel->AdLabel()->isVisible());
  }

  // How many boxes each A/D mode hides and the number formats are the channel
  // packing's own tables; one mode proves the wiring (mode 0 is the default rig).
  void adModeHidesBoxesAndShowsTheValue() {
    Rig r(2);
    r.status.InputBytes.Put({0, 0, 0x34, 0x12});
    r.panel->ShowInputs();
    for (int i = 0; i < 64; ++i) QCOMPARE(r.panel->Box(i)->isVisible(), i < 48);
    QVERIFY(r.panel->AdBox()->isVisible());
    QVERIFY(r.panel->AdLabel()->isVisible());
    QCOMPARE(r.panel->AdBox()->text(), QStringLiteral("  +4660"));
  }

  void stoppedPanelIsGreyedAndCleared() {
    Rig r(1);
    Click(r.panel->Box(1));
    r.panel->AdBox()->setText("   12");
    r.status.flags.IoDisplayActive.store(0);
    r.panel->RefreshIoPanel(false);
    for (int i = 0; i < 64; ++i) {
      QVERIFY(!r.panel->Box(i)->isEnabled());
      QVERIFY(!r.panel->Box(i)->isChecked());
    }
    QCOMPARE(r.panel->States()[1], uint8_t{0});
    QVERIFY(r.panel->AdBox()->text().isEmpty());
    QVERIFY(!r.panel->AdBox()->isEnabled());
  }
};

QTEST_MAIN(IoPanelTest)
#include "io_panel_window_test.moc"
