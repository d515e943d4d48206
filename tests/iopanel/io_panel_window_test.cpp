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
    QColor Off() const { return panel->palette().color(QPalette::Button); }
  };

  static void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, 8)); }

 private slots:
  // Each way of switching an output switches it on (yellow) and off again; the
  // same on an input changes neither its state nor its colour, and the focus
  // stays on (or comes back to) the output last used.
  void outputsSwitchAndInputsStayAsReported_data() {
    QTest::addColumn<int>("key");  // 0: a mouse click
    QTest::newRow("click") << 0;
    QTest::newRow("Space") << int(Qt::Key_Space);
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter on the keypad") << int(Qt::Key_Enter);
  }
  void outputsSwitchAndInputsStayAsReported() {
    QFETCH(int, key);
    Rig r;
    const auto act = [key](QWidget* w) { key == 0 ? Click(w) : QTest::keyClick(w, Qt::Key(key)); };
    r.panel->Box(3)->setFocus();
    act(r.panel->Box(3));
    QCOMPARE(r.panel->States()[3], uint8_t{1});
    QVERIFY(r.panel->Box(3)->isChecked());
    QCOMPARE(r.Colour(3), QColor(255, 255, 0));
    act(r.panel->Box(40));
    QCOMPARE(r.panel->States()[40], uint8_t{0});
    QVERIFY(!r.panel->Box(40)->isChecked());
    QCOMPARE(r.Colour(40), r.Off());
    QCOMPARE(QApplication::focusWidget(), r.panel->Box(3));
    act(r.panel->Box(3));
    QCOMPARE(r.panel->States()[3], uint8_t{0});
    QVERIFY(!r.panel->Box(3)->isChecked());
    QCOMPARE(r.Colour(3), r.Off());
  }

  // Tab walks the outputs only; what is switched reaches the output bytes, and
  // Escape on an input switches every output off.
  void keyboardSwitchesOutputsAndEscapeSwitchesAllOff() {
    Rig r;
    r.panel->FocusLastOutput();
    QTest::keyClick(r.panel->Box(0), Qt::Key_Space);
    for (int i = 0; i < 5; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), r.panel->Box(5));
    QTest::keyClick(r.panel->Box(5), Qt::Key_Space);
    Click(r.panel->Box(31));
    r.panel->PackOutputs();
    QCOMPARE(r.status.OutputBytes.Get(), (std::array<uint8_t, 4>{0x21, 0, 0, 0x80}));
    QCOMPARE(r.status.flags.OutputsChanged.load(), uint8_t{1});
    // 32 tabs come round without landing on an input.
    for (int i = 0; i < 32; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      auto* box = qobject_cast<m32::iopanel::ChannelBox*>(QApplication::focusWidget());
      QVERIFY(box != nullptr);
      QVERIFY(box->TabOrder() < 32);
    }
    QTest::keyClick(r.panel->Box(50), Qt::Key_Escape);
    for (int i = 0; i < 32; ++i) QVERIFY(!r.panel->Box(i)->isChecked());
    r.panel->PackOutputs();
    QCOMPARE(r.status.OutputBytes.Get(), (std::array<uint8_t, 4>{0, 0, 0, 0}));
  }

  // Each visible input box shows its bit, yellow when set; an A/D mode hides
  // the last rows behind the value. Which bit is which input, how many rows a
  // mode hides and the number formats are the channel packing's own tables.
  void inputsShowTheirBitsAndTheAdValue_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("ad_text");  // empty: the A/D value is hidden
    QTest::newRow("no A/D value: every input shows") << 0 << QString();
    QTest::newRow("16-bit A/D value behind in17..in32") << 2 << QStringLiteral("  +4660");
  }
  void inputsShowTheirBitsAndTheAdValue() {
    QFETCH(int, mode);
    QFETCH(QString, ad_text);
    Rig r(static_cast<int16_t>(mode));
    const std::array<uint8_t, 4> in{0xFF, 0x01, 0x34, 0x12};
    r.status.InputBytes.Put(in);
    r.status.flags.InputsReceived.store(1);
    r.panel->ShowInputs();
    QCOMPARE(r.status.flags.InputsReceived.load(), uint8_t{0});
    const int visible = m32::iopanel::VisibleChannels(static_cast<int16_t>(mode));
    for (int i = 0; i < 64; ++i) {
      QCOMPARE(r.panel->Box(i)->isVisible(), i < visible);
      if (i < 32 || i >= visible) continue;
      const bool on = m32::iopanel::InputBit(in, i) != 0;
      QCOMPARE(r.panel->Box(i)->isChecked(), on);
      QCOMPARE(r.Colour(i), on ? QColor(255, 255, 0) : r.Off());
    }
    QCOMPARE(r.panel->AdBox()->isVisible(), !ad_text.isEmpty());
    QCOMPARE(r.panel->AdLabel()->isVisible(), !ad_text.isEmpty());
    if (!ad_text.isEmpty()) QCOMPARE(r.panel->AdBox()->text(), ad_text);
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
