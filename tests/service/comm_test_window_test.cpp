// The communication test window over an in-memory line with a running link.
#include "service/comm_test_window.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QStringList>
#include <QtTest>

#include "service/window_rig.h"

using m32::TWtstkom;
using m32::service::testing::PumpWhile;
using m32::service::testing::Spin;
using m32::service::testing::WindowRig;

namespace {

void LeaveField(QWidget* w) {
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QCoreApplication::sendEvent(w, &out);
}

// The receive line's 32 cells, "==" for the marker.
QStringList Cells(const QString& line) {
  QStringList cells;
  for (int i = 0; i + 3 <= line.size() && cells.size() < 32; i += 3) cells << line.mid(i + 1, 2);
  return cells;
}

}  // namespace

class CommTestWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void activationParksTheLinkAndClosingHandsItBack();
  void keysOfTheThreeControls();
  void leavingTheSendFieldRewritesIt();
  void loopedBackBytesFillTheReceiveLine();
  void withoutAnOpenPortTheWindowStaysQuiet();
};

void CommTestWindowTest::activationParksTheLinkAndClosingHandsItBack() {
  WindowRig rig;
  QVERIFY(rig.OpenWithLink());
  QVERIFY(PumpWhile([&] { return rig.LinkFrames() < 3; }, 5000));

  TWtstkom w(rig.status, rig.texts, *rig.port, &rig.main_window);
  w.SendField()->setText(QStringLiteral("kept"));
  w.show();
  QCOMPARE(w.size(), QSize(625, 142));
  // Where the platform reports no frame, the client area stands at the spot.
  const QPoint spot = rig.main_window.pos() + QPoint(4, 32);
  QVERIFY(w.pos() == spot || w.geometry().topLeft() == spot);
  QCOMPARE(w.windowTitle(), QString::fromUtf8("Test komunikace"));
  QCOMPARE(w.SendBox()->text(), QString::fromUtf8("&vysílání:"));
  QCOMPARE(w.ReceiveBox()->text(), QString::fromUtf8("&příjem:"));
  QVERIFY(!w.SendBox()->isChecked());
  QVERIFY(!w.ReceiveBox()->isChecked());
  QVERIFY(w.ReceiveLine()->text().isEmpty());
  QVERIFY(w.ReceiveLine()->isReadOnly());
  QCOMPARE(w.SendField()->text(), QStringLiteral("kept"));  // the field keeps its text
  QVERIFY(w.WorkerRunning());
  QVERIFY(w.HoldsLink());

  // Once the link has parked no LinkFrame goes out while the window is open.
  QVERIFY(PumpWhile([&] { return !rig.port->Link()->IsPaused(); }, 5000));
  QVERIFY(PumpWhile([&] { return w.WorkerSteps() < 1; }, 5000));
  const int frames_while_open = rig.LinkFrames();
  Spin(150);
  QCOMPARE(rig.LinkFrames(), frames_while_open);

  // Escape closes; the worker has ended before the link goes on.
  QTest::keyClick(w.SendField(), Qt::Key_Escape);
  QVERIFY(!w.isVisible());
  QVERIFY(!w.WorkerRunning());
  QVERIFY(!w.HoldsLink());
  QVERIFY(!rig.port->Link()->IsPaused() ||
          PumpWhile([&] { return rig.port->Link()->IsPaused(); }, 5000));
  QVERIFY(PumpWhile([&] { return rig.LinkFrames() <= frames_while_open; }, 5000));
  QCOMPARE(rig.device.Concurrent(), 0);  // never two threads on the port at once
}

void CommTestWindowTest::keysOfTheThreeControls() {
  WindowRig rig;
  TWtstkom w(rig.status, rig.texts, *rig.port, &rig.main_window);
  struct Row {
    const char* legend;
    int control;  // 0 WBox, 1 WEdit, 2 RBox
    Qt::Key key;
    bool send_after;
    bool receive_after;
    bool open_after;
  } const rows[] = {
      {"Enter on WBox ticks it", 0, Qt::Key_Return, true, false, true},
      {"Enter on RBox ticks it", 2, Qt::Key_Enter, false, true, true},
      {"Enter in WEdit changes no box", 1, Qt::Key_Return, false, false, true},
      {"Escape in WBox closes", 0, Qt::Key_Escape, false, false, false},
      {"Escape in WEdit closes", 1, Qt::Key_Escape, false, false, false},
      {"Escape in RBox closes", 2, Qt::Key_Escape, false, false, false},
  };
  for (const Row& r : rows) {
    w.show();
    QWidget* controls[] = {w.SendBox(), w.SendField(), w.ReceiveBox()};
    QTest::keyClick(controls[r.control], r.key);
    QVERIFY2(w.isVisible() == r.open_after, r.legend);
    if (r.open_after) {
      QVERIFY2(w.SendBox()->isChecked() == r.send_after, r.legend);
      QVERIFY2(w.ReceiveBox()->isChecked() == r.receive_after, r.legend);
      QTest::keyClick(controls[r.control], r.key);  // Enter on a box toggles it back
      QVERIFY2(!w.SendBox()->isChecked() && !w.ReceiveBox()->isChecked(), r.legend);
      w.close();
    }
    QVERIFY2(!w.WorkerRunning(), r.legend);
  }
}

void CommTestWindowTest::leavingTheSendFieldRewritesIt() {
  WindowRig rig;
  TWtstkom w(rig.status, rig.texts, *rig.port, &rig.main_window);
  struct Row {
    const char* legend;
    const char* typed;
    const char* shown;
    int count;
  } const rows[] = {
      {"single digits pair with the blank after them", "1 2 3", "01 02 ", 2},
      {"letters: one pair, the lone c is dropped", "abc", "AB ", 1},
      {"pairs written together", "414243", "41 42 43 ", 3},
      {"no usable pair keeps the text", "xyz", "xyz", 0},
      {"a field wider than Windows-1250 keeps its text", "\xe2\x82\xac\xe4\xb8\x80",
       "\xe2\x82\xac\xe4\xb8\x80", 0},
  };
  w.show();
  for (const Row& r : rows) {
    w.SendField()->setText(QString::fromUtf8(r.typed));
    LeaveField(w.SendField());
    QVERIFY2(w.SendField()->text() == QString::fromUtf8(r.shown), r.legend);
    QVERIFY2(w.Test().Send().count == r.count, r.legend);
  }
  // Enter in the field does the same as leaving it.
  w.SendField()->setText(QStringLiteral("5 a"));
  QTest::keyClick(w.SendField(), Qt::Key_Return);
  QCOMPARE(w.SendField()->text(), QStringLiteral("05 "));
  w.close();
}

void CommTestWindowTest::loopedBackBytesFillTheReceiveLine() {
  WindowRig rig;
  rig.device.SetLoopback(true);
  QVERIFY(rig.OpenWithLink());
  TWtstkom w(rig.status, rig.texts, *rig.port, &rig.main_window);
  w.show();
  QVERIFY(PumpWhile([&] { return !rig.port->Link()->IsPaused(); }, 5000));
  w.SendField()->setText(QStringLiteral("55 AA"));
  w.ReceiveBox()->click();
  w.SendBox()->click();
  // Until every slot has been written once, some cells still show 00.
  QVERIFY(PumpWhile(
      [&] {
        const QStringList cells = Cells(w.ReceiveLine()->text());
        return cells.size() < 32 || cells.contains(QStringLiteral("00"));
      },
      5000));
  const QStringList cells = Cells(w.ReceiveLine()->text());
  QCOMPARE(cells.size(), 32);
  QCOMPARE(cells.count(QStringLiteral("==")), 1);
  const int marker = static_cast<int>(cells.indexOf(QStringLiteral("==")));
  for (int i = 1; i < 31; ++i) {
    const QString& a = cells[(marker + i) % 32];
    const QString& b = cells[(marker + i + 1) % 32];
    QVERIFY2((a == "55" && b == "AA") || (a == "AA" && b == "55"),
             qPrintable(w.ReceiveLine()->text()));
  }
  QCOMPARE(w.SendField()->text(), QStringLiteral("55 AA "));  // rewritten by the first step
  w.close();
  QCOMPARE(rig.device.Concurrent(), 0);
}

void CommTestWindowTest::withoutAnOpenPortTheWindowStaysQuiet() {
  WindowRig rig;  // the port is never opened: no link
  TWtstkom w(rig.status, rig.texts, *rig.port, &rig.main_window);
  w.SendField()->setText(QStringLiteral("55"));
  w.show();
  QVERIFY(!w.HoldsLink());
  w.SendBox()->click();
  w.ReceiveBox()->click();
  // The field is still read by the refresh step, which reads and writes nothing.
  QVERIFY(PumpWhile([&] { return w.SendField()->text() != QStringLiteral("55 "); }, 5000));
  Spin(300);
  // The worker rests out its interval on a closed port instead of spinning.
  QVERIFY(w.WorkerSteps() < 20);
  QVERIFY(w.ReceiveLine()->text().isEmpty());
  QVERIFY(rig.device.Writes().empty());
  w.close();
  QVERIFY(!w.WorkerRunning());
}

QTEST_MAIN(CommTestWindowTest)
#include "comm_test_window_test.moc"
