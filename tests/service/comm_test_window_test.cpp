// The communication test window over an in-memory line with a running link.
#include "service/comm_test_window.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QLineEdit>
#include <QtTest>

#include "support/window_rig.h"

using m32::service::CommTestWindow;
using m32::test_support::PumpWhile;
using m32::test_support::Spin;
using m32::test_support::WindowRig;

namespace {

// The receive line once every slot holds a looped-back byte of "55 AA" sent
// over and over from slot 0 on: 55 in the even slots, AA in the odd ones, and
// the marker at the (even) slot the next byte goes to.
bool LoopedBack(const QString& line) {
  const auto marker = line.indexOf(QStringLiteral("==")) / 3;
  QString want;
  for (int i = 0; i < 32; ++i) want += i == marker ? " ==" : (i % 2 == 0 ? " 55" : " AA");
  return marker % 2 == 0 && line == want + " ";
}

}  // namespace

class CommTestWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void theLinkParksWhileBytesLoopBackAndGoesOnAfterEscape();
  void keysAndLeavingTheSendFieldWithoutAnOpenPort();
  void aBurstRepaintsTheLineOncePerDisplayFrameEndingOnTheLastStep();
};

void CommTestWindowTest::theLinkParksWhileBytesLoopBackAndGoesOnAfterEscape() {
  WindowRig rig;
  rig.device.loopback = true;
  QVERIFY(rig.OpenWithLink());
  QVERIFY(PumpWhile([&] { return rig.LinkFrames() < 3; }, 5000));

  CommTestWindow w(rig.status, rig.texts, rig.port, &rig.main_window);
  w.SendField()->setText(QStringLiteral("55 AA"));
  w.show();
  QVERIFY(!w.SendBox()->isChecked() && !w.ReceiveBox()->isChecked());
  QCOMPARE(w.SendField()->text(), QStringLiteral("55 AA"));  // the field keeps its text
  QVERIFY(w.HoldsLink());
  QVERIFY(PumpWhile([&] { return !rig.LinkParked(); }, 5000));
  const int frames_while_open = rig.LinkFrames();

  // Both boxes ticked: the field is rewritten, its bytes come back and fill the line.
  w.ReceiveBox()->click();
  w.SendBox()->click();
  QVERIFY2(PumpWhile([&] { return !LoopedBack(w.ReceiveLine()->text()); }, 5000),
           qPrintable(w.ReceiveLine()->text()));
  QCOMPARE(w.SendField()->text(), QStringLiteral("55 AA "));
  // The whole line fits the field, borders and margins aside, shown from slot 0.
  const QLineEdit* line = w.ReceiveLine();
  QVERIFY(line->fontMetrics().horizontalAdvance(line->text()) + 8 <= line->width());
  QCOMPARE(line->cursorPosition(), 0);
  QCOMPARE(rig.LinkFrames(), frames_while_open);  // no LinkFrame while the window has the port

  // Escape closes; the worker has ended before the link goes on.
  QTest::keyClick(w.SendField(), Qt::Key_Escape);
  QVERIFY(!w.isVisible());
  QVERIFY(!w.WorkerRunning());
  QVERIFY(!w.HoldsLink());
  QVERIFY(PumpWhile([&] { return rig.LinkFrames() <= frames_while_open; }, 5000));
  QCOMPARE(rig.device.concurrent.load(), 0);  // never two threads on the port at once
}

void CommTestWindowTest::keysAndLeavingTheSendFieldWithoutAnOpenPort() {
  WindowRig rig;  // the port is never opened: no link
  CommTestWindow w(rig.status, rig.texts, rig.port, &rig.main_window);
  const QString wide = QString::fromUtf8("\xe2\x82\xac\xe4\xb8\x80");  // no Windows-1250 form
  struct Row {
    const char* legend;
    QWidget* control;
    Qt::Key key;  // 0: the focus leaves the control
    QString typed;
    bool send_after;
    bool receive_after;
    QString field_after;
  } const rows[] = {
      {"Enter on WBox ticks it", w.SendBox(), Qt::Key_Return, "", true, false, ""},
      {"Enter on RBox ticks it", w.ReceiveBox(), Qt::Key_Enter, "", false, true, ""},
      {"Escape in RBox closes", w.ReceiveBox(), Qt::Key_Escape, "", false, false, ""},
      {"Escape in REdit is the line's own: the window stays", w.ReceiveLine(), Qt::Key_Escape, "",
       false, false, ""},
      {"Enter in WEdit rewrites it, ticks no box", w.SendField(), Qt::Key_Return, "5 a", false,
       false, "05 "},
      {"leaving WEdit rewrites it", w.SendField(), Qt::Key(0), "1 2 3", false, false, "01 02 "},
      {"a field without a Windows-1250 form keeps its text", w.SendField(), Qt::Key(0), wide, false,
       false, wide},
  };
  for (const Row& r : rows) {
    w.show();
    w.SendField()->setText(r.typed);
    if (r.key != 0) {
      QTest::keyClick(r.control, r.key);
    } else {
      QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
      QCoreApplication::sendEvent(r.control, &out);
    }
    QVERIFY2(w.isVisible() == (r.key != Qt::Key_Escape || r.control == w.ReceiveLine()), r.legend);
    QVERIFY2(w.SendBox()->isChecked() == r.send_after, r.legend);
    QVERIFY2(w.ReceiveBox()->isChecked() == r.receive_after, r.legend);
    QVERIFY2(w.SendField()->text() == r.field_after, r.legend);
    if (r.send_after || r.receive_after) {
      QTest::keyClick(r.control, r.key);  // a second Enter unticks the box
      QVERIFY2(!w.SendBox()->isChecked() && !w.ReceiveBox()->isChecked(), r.legend);
    }
    w.close();
    QVERIFY2(!w.WorkerRunning(), r.legend);
  }

  // The port was never opened: there is no link to hold, and the refresh step
  // still rewrites the field but reads and writes nothing.
  w.SendField()->setText(QStringLiteral("55"));
  w.show();
  QVERIFY(!w.HoldsLink());
  w.SendBox()->click();
  w.ReceiveBox()->click();
  QVERIFY(PumpWhile([&] { return w.SendField()->text() != QStringLiteral("55 "); }, 5000));
  Spin(300);
  // The closed port's wait returns at once: the worker rests out its interval, no spinning.
  QVERIFY(w.WorkerSteps() < 20);
  QVERIFY(w.ReceiveLine()->text().isEmpty());
  QCOMPARE(rig.device.fake.Calls().write + rig.device.fake.Calls().read, 0);
  w.close();
}

void CommTestWindowTest::aBurstRepaintsTheLineOncePerDisplayFrameEndingOnTheLastStep() {
  WindowRig rig;
  QVERIFY(rig.OpenWithLink());
  CommTestWindow w(rig.status, rig.texts, rig.port, &rig.main_window);
  w.show();
  w.ReceiveBox()->click();
  QVERIFY(PumpWhile([&] { return !rig.LinkParked() || w.WorkerSteps() == 0; }, 5000));
  // Each new text makes the line lay itself out and ask for a repaint (the
  // toolkit merges the paint events themselves, not that work).
  int repaints = 0;
  QObject::connect(w.ReceiveLine(), &QLineEdit::textChanged, [&repaints] { ++repaints; });

  // 1,000 bytes, each taken by a step of its own with the events processed
  // after it, as a line delivering byte by byte would have it.
  constexpr int kBytes = 1000;
  QElapsedTimer burst;
  burst.start();
  const unsigned worker_steps = w.WorkerSteps();
  for (int i = 0; i < kBytes; ++i) {
    rig.device.fake.Feed({static_cast<uint8_t>(i)});
    w.RefreshStep();
    QCoreApplication::processEvents();
  }
  const qint64 frames = burst.elapsed() / CommTestWindow::kLineFrame.count() + 1;
  const auto steps = static_cast<int>(kBytes + w.WorkerSteps() - worker_steps);
  Spin(3 * static_cast<int>(CommTestWindow::kLineFrame.count()));

  // Every byte went through the ring; the line shows the state after the last step.
  QCOMPARE(static_cast<int>(w.Test().Ring().Position()), kBytes % 32);
  QCOMPARE(w.ReceiveLine()->text().toStdString(), w.Test().Ring().Line());
  // Painted at most once a display frame (and once more for the final state).
  QVERIFY2(
      repaints <= frames + 1 && repaints * 4 < steps,
      qPrintable(
          QStringLiteral("%1 repaints, %2 steps, %3 frames").arg(repaints).arg(steps).arg(frames)));
  w.close();
}

QTEST_MAIN(CommTestWindowTest)
#include "comm_test_window_test.moc"
