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

#include "support/dialog_test_support.h"

using m32::SharedStatus;
using m32::config::Settings;
using m32::config::TextTable;
using m32::dialogs::ConstantsDialog;
using namespace m32::test_support;

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
    std::unique_ptr<ConstantsDialog> dialog;

    Fixture() {
      m32::config::ApplyDefaults(settings.record);
      dialog = std::make_unique<ConstantsDialog>(settings, texts, status, &main_window);
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
  // Captioned from the text table (row n shows entry n + 1), showing the live
  // record. A row shows what it stores; the limits come only with O. K. (the
  // limits themselves are the settings' own tests).
  void RowShowsWhatItStoresAndOkLimits() {
    Fixture f;
    f.settings.record.Constants[9] = -123;
    QVERIFY(f.Open());
    const QStringList captions{f.dialog->windowTitle(), f.Label(0)->text(), f.Label(20)->text()};
    QCOMPARE(captions, QStringList({"Konstanty", QString::fromUtf8("[0]  adresa regulátoru"),
                                    "[20]  " + QString::fromStdString(f.texts.Get(6, 21))}));
    QCOMPARE(f.Edit(9)->text(), QStringLiteral("-123"));
    QCOMPARE(Focused(), f.dialog->StornoButton());

    Enter(f.Edit(0));
    Retype(QStringLiteral("300"));
    Press(Qt::Key_Return);
    QCOMPARE(f.Edit(0)->text(), QStringLiteral("300"));
    QCOMPARE(f.dialog->WorkingCopy().Constants[0], int16_t{300});
    QCOMPARE(f.settings.record.Constants[0], int16_t{0});
    Enter(f.Edit(6));
    Retype(QStringLiteral("4711"));
    Press(Qt::Key_O, Qt::AltModifier);  // the row being typed commits, too
    QTRY_VERIFY(!f.dialog->isVisible());
    QCOMPARE(f.settings.record.Constants[0], int16_t{0});  // an address above 255 is cut to 0
    QCOMPARE(f.settings.record.Constants[6], int16_t{4711});
    QCOMPARE(f.settings.record.Constants[9], int16_t{-123});

    // The next opening shows the limited value.
    QVERIFY(f.Open());
    QCOMPARE(f.Edit(0)->text(), QStringLiteral("0"));
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
    f.Wheel(-120);
    QCOMPARE(f.Bar()->value(), 52);
    f.Tick();
    f.Wheel(120);
    QCOMPARE(f.Bar()->value(), 26);
    f.Tick();
    f.Wheel(0);  // no movement, still a report
    QCOMPARE(f.Bar()->value(), 26);
    QCOMPARE(f.status.WheelCountdown.load(), uint16_t{1});

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

    // Tab goes on from the last row to O. K., and from Storno back up to row 0.
    Press(Qt::Key_Tab);
    QCOMPARE(Focused(), f.dialog->OkButton());
    Press(Qt::Key_Tab);
    QCOMPARE(Focused(), f.dialog->StornoButton());
    Press(Qt::Key_Tab);
    QCOMPARE(Focused(), f.Edit(0));
    QVERIFY(f.Bar()->value() <= f.Edit(0)->y());
  }
};

QTEST_MAIN(ConstantsDialogTest)
#include "constants_dialog_test.moc"
