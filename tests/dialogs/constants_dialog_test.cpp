// The constants dialog driven from the keyboard and the mouse wheel.
#include "dialogs/constants_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpontaneKeyEvent>
#include <QWheelEvent>
#include <QtTest>
#include <memory>

#include "dialogs/dialog_test_support.h"

using m32::SharedStatus;
using m32::TWkonst;
using m32::config::Settings;
using m32::config::SettingsRecord;
using m32::config::TextTable;
using namespace m32::dialogs::testing;

namespace {

// Counts the wheel events that reach an object, without taking them.
class WheelCounter : public QObject {
 public:
  int wheels = 0;
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::Wheel) ++wheels;
    return false;
  }
};

}  // namespace

class ConstantsDialogTest : public QObject {
  Q_OBJECT

 private:
  struct Fixture {
    Settings settings;
    TextTable texts;
    SharedStatus status;
    QWidget main_window;
    std::unique_ptr<TWkonst> dialog;

    Fixture() {
      m32::config::ApplyDefaults(settings.record);
      main_window.move(40, 60);
      dialog = std::make_unique<TWkonst>(settings, texts, status, &main_window);
    }
    bool Open() {
      dialog->show();
      return QTest::qWaitForWindowActive(dialog.get());
    }
    QLineEdit* Edit(int row) const {
      return dialog->findChild<QLineEdit*>(QStringLiteral("Edit%1").arg(row));
    }
    QLabel* Label(int row) const {
      return dialog->findChild<QLabel*>(QStringLiteral("Label%1").arg(row));
    }
    QScrollBar* Bar() const { return dialog->ScrollBox()->verticalScrollBar(); }
    // One notch of the wheel over row 5's field (a positive delta turns away
    // from the technician).
    void Wheel(int delta) const {
      QWidget* target = Edit(5);
      const QPointF at(5, 5);
      QWheelEvent e(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
      // As from the window system: left unhandled, it travels on to the parents
      // (sendEvent would clear the mark).
      QSpontaneKeyEvent::setSpontaneous(&e);
      qApp->notify(target, &e);
    }
    // One heartbeat tick's worth of ageing.
    void Tick() {
      if (status.WheelCountdown.load() > 0) status.WheelCountdown.fetch_sub(1);
    }
  };

 private slots:
  void FormAsDesigned() {
    Fixture f;
    QVERIFY(f.Open());
    QCOMPARE(f.dialog->size(), QSize(449, 347));
    QCOMPARE(f.dialog->pos(), QPoint(44, 92));
    QCOMPARE(f.dialog->windowTitle(), QStringLiteral("Konstanty"));
    QScrollArea* box = f.dialog->ScrollBox();
    QCOMPARE(box->objectName(), QStringLiteral("ScrollBox1"));
    QCOMPARE(box->geometry(), QRect(0, 0, 449, 305));
    QCOMPARE(box->frameShape(), QFrame::NoFrame);
    QCOMPARE(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(box->widget()->height(), 672);
    QCOMPARE(f.Bar()->maximum(), 672 - 305);
    QCOMPARE(f.dialog->OkButton()->geometry(), QRect(131, 310, 78, 25));
    QCOMPARE(f.dialog->StornoButton()->geometry(), QRect(251, 310, 78, 25));
    // Row 0 where it was designed (scrolled down by 26), every row 26 below.
    for (int row : {0, 1, 20}) {
      QCOMPARE(f.Label(row)->pos(), QPoint(11, 22 + 26 * row));
      QCOMPARE(f.Edit(row)->geometry(), QRect(315, 18 + 26 * row, 98, 24));
      QCOMPARE(f.Edit(row)->maxLength(), 10);
    }
    QCOMPARE(f.Label(0)->text(), QString::fromUtf8("[0]  adresa regulátoru"));
    QCOMPARE(f.Label(3)->text(), QString::fromUtf8("[3]  1 = A/D převodník"));
    QCOMPARE(f.Label(20)->text(),
             QStringLiteral("[20]  ") + QString::fromStdString(f.texts.Get(6, 21)));
    QCOMPARE(Focused(), f.dialog->StornoButton());
  }

  // The scan and its saturation are the rows' own tests; here: the field shows
  // what is stored, and the limits come only with O. K.
  void RowsShowAndCommit_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("live_after_ok");
    // clang-format off
    QTest::newRow("address 300 is cut to 0")     << 0 << "300"    << "300"   << 0;
    QTest::newRow("address 255 stays")           << 0 << "255"    << "255"   << 255;
    QTest::newRow("A/D mode 5 is cut to 0")      << 3 << "5"      << "5"     << 0;
    QTest::newRow("DTR option 2 is cut to 0")    << 4 << "2"      << "2"     << 0;
    // clang-format on
  }
  void RowsShowAndCommit() {
    QFETCH(int, row);
    QFETCH(QString, typed);
    Fixture f;
    f.settings.record.Constants[9] = -123;
    QVERIFY(f.Open());
    QCOMPARE(f.Edit(9)->text(), QStringLiteral("-123"));
    Enter(f.Edit(row));
    Retype(typed);
    Press(Qt::Key_Return);
    QFETCH(QString, shown);
    QCOMPARE(f.Edit(row)->text(), shown);
    // The field shows what is stored; the limits come with O. K.
    QCOMPARE(static_cast<int>(f.dialog->WorkingCopy().Constants[static_cast<std::size_t>(row)]),
             shown.toInt());
    QCOMPARE(f.settings.record.Constants[static_cast<std::size_t>(row)], int16_t{0});
    Enter(f.dialog->OkButton());
    Press(Qt::Key_Return);
    QVERIFY(!f.dialog->isVisible());
    QTEST(static_cast<int>(f.settings.record.Constants[static_cast<std::size_t>(row)]),
          "live_after_ok");
    QCOMPARE(f.settings.record.Constants[9], int16_t{-123});

    // The next opening shows the limited value.
    QVERIFY(f.Open());
    QCOMPARE(f.Edit(row)->text().toInt(),
             static_cast<int>(f.settings.record.Constants[static_cast<std::size_t>(row)]));
  }

  void OkAcceleratorCommitsTheRowBeingTyped() {
    Fixture f;
    QVERIFY(f.Open());
    Enter(f.Edit(6));
    Retype(QStringLiteral("4711"));
    Press(Qt::Key_O, Qt::AltModifier);
    QTRY_VERIFY(!f.dialog->isVisible());
    QCOMPARE(f.settings.record.Constants[6], int16_t{4711});
  }

  void EnterAndEscapeMoveOn() {
    Fixture f;
    f.settings.record.Constants[3] = 2;
    QVERIFY(f.Open());
    Enter(f.Edit(19));
    Press(Qt::Key_Return);
    QCOMPARE(Focused(), f.Edit(20));
    Press(Qt::Key_Return);
    QCOMPARE(Focused(), f.dialog->OkButton());  // Edit20 is followed by O. K.
    Enter(f.Edit(20));
    Press(Qt::Key_Tab);
    QCOMPARE(Focused(), f.dialog->OkButton());  // and so it is for the Tab key

    Enter(f.Edit(3));
    Press(Qt::Key_End);
    QTest::keyClicks(Focused(), "9");
    Press(Qt::Key_Backspace);
    Press(Qt::Key_Backspace);
    QTest::keyClicks(Focused(), "77");
    Press(Qt::Key_Escape);
    QCOMPARE(f.Edit(3)->text(), QStringLiteral("2"));
    QCOMPARE(Focused(), f.Edit(4));
    QCOMPARE(f.dialog->WorkingCopy().Constants[3], int16_t{2});
    QVERIFY(f.dialog->isVisible());

    Enter(f.dialog->OkButton());
    Press(Qt::Key_Escape);  // nothing happens on O. K.
    QVERIFY(f.dialog->isVisible());
  }

  void StornoKeepsEveryConstant() {
    Fixture f;
    for (std::size_t i = 0; i < 21; ++i) f.settings.record.Constants[i] = int16_t(i * 3 - 20);
    const SettingsRecord before = f.settings.record;
    QVERIFY(f.Open());
    for (int row : {0, 4, 11}) {
      Enter(f.Edit(row));
      Retype(QStringLiteral("1000"));
      Press(Qt::Key_Return);
    }
    Enter(f.dialog->StornoButton());
    Press(Qt::Key_Escape);
    QVERIFY(!f.dialog->isVisible());
    QCOMPARE(f.settings.record, before);
    QVERIFY(f.Open());
    QCOMPARE(f.Edit(11)->text(), QStringLiteral("13"));
  }

  // However many reports one notch makes (field, scroll box, form), and
  // however many notches come, one row per heartbeat tick.
  void WheelScrollsOneRowPerTick() {
    Fixture f;
    QVERIFY(f.Open());
    WheelCounter at_form;
    f.dialog->installEventFilter(&at_form);
    f.Wheel(-120);
    QCOMPARE(f.Bar()->value(), 26);
    QCOMPARE(at_form.wheels, 1);  // left unhandled, it went on to the form
    QCOMPARE(f.status.WheelCountdown.load(), uint16_t{1});
    for (int i = 0; i < 5; ++i) f.Wheel(-120);
    QCOMPARE(f.Bar()->value(), 26);
    f.Tick();
    for (int i = 0; i < 5; ++i) f.Wheel(-120);
    QCOMPARE(f.Bar()->value(), 52);
    f.Tick();
    f.Wheel(120);
    QCOMPARE(f.Bar()->value(), 26);
    f.Tick();
    f.Wheel(0);  // no movement, still a report
    QCOMPARE(f.Bar()->value(), 26);
    QCOMPARE(f.status.WheelCountdown.load(), uint16_t{1});
    for (int i = 0; i < 30; ++i) {
      f.Tick();
      f.Wheel(-120);
    }
    QCOMPARE(f.Bar()->value(), 672 - 305);  // the bar keeps the range

    // Reopening starts at the top with the wheel free.
    Enter(f.dialog->StornoButton());
    Press(Qt::Key_Return);
    QVERIFY(!f.dialog->isVisible());
    QVERIFY(f.Open());
    QCOMPARE(f.Bar()->value(), 0);
    QCOMPARE(f.status.WheelCountdown.load(), uint16_t{0});
  }

  void KeyboardBringsTheRowIntoView() {
    Fixture f;
    QVERIFY(f.Open());
    Enter(f.Edit(10));
    for (int i = 0; i < 10; ++i) Press(Qt::Key_Return);
    QCOMPARE(Focused(), f.Edit(20));
    const QRect view = f.dialog->ScrollBox()->viewport()->rect();
    const QRect field(f.Edit(20)->mapTo(f.dialog->ScrollBox()->viewport(), QPoint(0, 0)),
                      f.Edit(20)->size());
    QVERIFY(view.contains(field));
    QVERIFY(f.Bar()->value() > 0);

    // And back up: from Storno the Tab key reaches row 0 at the top.
    Press(Qt::Key_Return);
    Press(Qt::Key_Tab);
    QCOMPARE(Focused(), f.dialog->StornoButton());
    Press(Qt::Key_Tab);
    QCOMPARE(Focused(), f.Edit(0));
    QVERIFY(f.Bar()->value() <= f.Edit(0)->y());
  }
};

QTEST_MAIN(ConstantsDialogTest)
#include "constants_dialog_test.moc"
