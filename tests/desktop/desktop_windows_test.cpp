// The windows on a real desktop (an X server with a window manager): where
// their frames land and how large they are, and where the keyboard focus goes.
// Frames are read from the X server itself, not from Qt's idea of them.
#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <map>
#include <memory>

#include "app/main_window.h"
#include "iopanel/io_panel_window.h"
#include "support/fake_serial_device.h"
#include "support/process_support.h"

using m32::test_support::FakeSerialDevice;

namespace {

// Runs an X tool and returns what it printed.
QString Run(const QString& program, const QStringList& args) {
  static const m32::test_support::ScratchFolder scratch;
  std::vector<std::string> argv{QStandardPaths::findExecutable(program).toStdString()};
  for (const QString& a : args) argv.push_back(a.toStdString());
  const auto output = scratch.path / "tool.out";
  m32::test_support::Child tool;
  if (!tool.Start(argv, output) || tool.WaitEnd(std::chrono::seconds(5)) != 0) return {};
  QFile f(QString::fromStdString(output.string()));
  return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

// The frame the window manager put around the window, as the X server sees it.
QRect XFrame(const QWidget* w) {
  const QString tree = Run("xwininfo", {"-id", QString::number(w->winId()), "-tree"});
  const auto parent = QRegularExpression("Parent window id: (0x[0-9a-fA-F]+)").match(tree);
  if (!parent.hasMatch()) return {};
  const QString info = Run("xwininfo", {"-id", parent.captured(1)});
  const auto number = [&info](const QString& label) {
    const auto m = QRegularExpression(label + R"(:\s+(-?\d+))").match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
  };
  return {number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"),
          number("Height")};
}

// True while the X server shows `w` (mapped, not minimised).
bool XViewable(const QWidget* w) {
  return Run("xwininfo", {"-id", QString::number(w->winId())}).contains("IsViewable");
}

// Waits until the X server shows `w`'s frame such that `ok` holds; returns
// nothing, or the last frame seen.
QString FrameWaitFails(const QWidget* w, const std::function<bool(const QRect&)>& ok) {
  QRect f;
  if (QTest::qWaitFor([&] { return ok(f = XFrame(w)); }, 3000)) return {};
  return QString("frame %1,%2 %3x%4").arg(f.x()).arg(f.y()).arg(f.width()).arg(f.height());
}

// Notes that a wheel event reached `target`, whatever became of it there.
struct WheelSpy : QObject {
  QObject* target;
  bool seen = false;
  explicit WheelSpy(QObject* t) : target(t) { qApp->installEventFilter(this); }
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (watched == target && e->type() == QEvent::Wheel) seen = true;
    return false;
  }
};

// The tool started in a fresh folder with a help file and a second language,
// all eight windows created.
struct Desk {
  QTemporaryDir dir;
  m32::AppContext ctx;
  FakeSerialDevice* line = nullptr;
  std::unique_ptr<m32::app::MainWindow> menu;

  Desk() {
    for (const auto& [ext, text] :
         {std::pair{"HLP", "Test v/v\n"}, std::pair{"MN1", "English\n"}}) {
      QFile f(dir.filePath(QString("MERKAT32.") + ext));
      if (f.open(QIODevice::WriteOnly)) f.write(text);
    }
    ctx.exe_path = dir.filePath("MERKAT32").toStdString();
    auto device = std::make_unique<FakeSerialDevice>(false);
    line = device.get();
    ctx.device = std::move(device);
    menu = std::make_unique<m32::app::MainWindow>(ctx);
    menu->StartUp();
    menu->CreateChildWindows();
  }
  QWidget* Window(const QString& name) const {
    const m32::app::ChildWindows& w = menu->Windows();
    return std::map<QString, QWidget*>{{"jazyk", w.language},  {"konst", w.constants},
                                       {"komunikace", w.port}, {"tstkom", w.comm_test},
                                       {"help", w.help},       {"oprog", w.about},
                                       {"jas", w.lighting}}
        .at(name);
  }
  bool DisplayRunning() const {
    return menu->Panel()->Box(0)->isEnabled() && ctx.status.flags.IoDisplayActive.load() != 0;
  }
  // Shows the window and waits until it has the keyboard.
  static bool Open(QWidget* w) {
    w->show();
    return QTest::qWaitFor([w] { return QApplication::activeWindow() == w; }, 5000);
  }
};

}  // namespace

class DesktopWindowsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    desk_ = std::make_unique<Desk>();
    QVERIFY(QTest::qWaitForWindowActive(desk_->menu.get()));
    QTRY_VERIFY(desk_->DisplayRunning());
  }
  void cleanup() { desk_.reset(); }

  // The main window's frame: the design size after start, never below the
  // minimum.
  void mainWindowFrame_data() {
    QTest::addColumn<QSize>("client");  // invalid: as started
    QTest::addColumn<QSize>("outer");
    QTest::newRow("after start: 420 x 548") << QSize() << QSize(420, 548);
    QTest::newRow("shrunk to 250 x 200: 300 x 315") << QSize(250, 200) << QSize(300, 315);
  }
  void mainWindowFrame() {
    QFETCH(QSize, client);
    QFETCH(QSize, outer);
    if (client.isValid()) desk_->menu->resize(client);
    const QString fails =
        FrameWaitFails(desk_->menu.get(), [&](const QRect& f) { return f.size() == outer; });
    QVERIFY2(fails.isEmpty(), qPrintable(fails));
  }

  // Every window's frame at its first and second opening: 4 px right of and
  // 32 px below the main window's frame (the lighting test at the top of the
  // screen), with the outer size where the design gives one. Between the
  // openings the window is closed, or minimised (the help viewer, which is
  // not modal): opened again, it is back on the screen.
  void frames_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<bool>("at_top");
    QTest::addColumn<QSize>("outer");  // invalid: only the client size is designed
    QTest::addColumn<bool>("minimised");
    QTest::newRow("port dialog") << "komunikace" << false << QSize() << false;
    QTest::newRow("constants dialog") << "konst" << false << QSize() << false;
    QTest::newRow("language dialog") << "jazyk" << false << QSize() << false;
    QTest::newRow("communication test") << "tstkom" << false << QSize() << false;
    QTest::newRow("lighting test: 664 x 724") << "jas" << true << QSize(664, 724) << false;
    QTest::newRow("help viewer: 691 x 395") << "help" << false << QSize(691, 395) << false;
    QTest::newRow("help viewer minimised, shown again: restored")
        << "help" << false << QSize(691, 395) << true;
    QTest::newRow("about window") << "oprog" << false << QSize() << false;
  }
  void frames() {
    QFETCH(QString, window);
    QFETCH(bool, at_top);
    QFETCH(QSize, outer);
    QFETCH(bool, minimised);
    QRect main;
    const QString main_fails = FrameWaitFails(desk_->menu.get(), [&](const QRect& f) {
      main = f;
      return f.height() == 548;
    });
    QVERIFY2(main_fails.isEmpty(), qPrintable("main window: " + main_fails));
    const QPoint want = at_top ? QPoint(main.x() + 4, 0) : main.topLeft() + QPoint(4, 32);
    QWidget* w = desk_->Window(window);
    for (int opening = 1; opening <= 2; ++opening) {
      w->show();
      const QString fails = FrameWaitFails(w, [&](const QRect& f) {
        const QPoint off = f.topLeft() - want;
        return std::abs(off.x()) <= 1 && std::abs(off.y()) <= 1 &&
               (!outer.isValid() || f.size() == outer) && XViewable(w);
      });
      if (minimised && opening == 1 && fails.isEmpty()) {
        // As the technician does it: the window manager's minimise.
        Run("xdotool", {"windowminimize", QString::number(w->winId())});
        QTRY_VERIFY(!XViewable(w) && w->isMinimized());
        continue;
      }
      w->close();
      QVERIFY2(fails.isEmpty(), qPrintable(QString("opening %1: %2, want %3,%4")
                                               .arg(opening)
                                               .arg(fails)
                                               .arg(want.x())
                                               .arg(want.y())));
      QTRY_VERIFY(!w->isVisible());
    }
  }

  // After the service menu stopped the display and T e s t started it again,
  // the box of the last output used has the focus: Space switches it.
  void focusReturnsToTheLastOutput() {
    m32::app::MainWindow* menu = desk_->menu.get();
    QTest::mouseClick(menu->Panel()->Box(3), Qt::LeftButton, {}, QPoint(6, 8));
    QCOMPARE(menu->Panel()->LastOutputChannel(), 3);
    Run("xdotool", {"key", "alt+s"});
    QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
    Run("xdotool", {"key", "Escape", "Escape"});
    QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
    QTRY_VERIFY(!menu->Panel()->Box(3)->isEnabled());
    Run("xdotool", {"key", "alt+t"});
    QTRY_VERIFY(desk_->DisplayRunning());
    QTRY_COMPARE(QApplication::focusWidget(), menu->Panel()->Box(3));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QCOMPARE(menu->Panel()->States()[3], uint8_t{1});
  }

  // The line's health on the panel: the board stops answering (its line hung
  // up), the input column is greyed within 0.6 s while the outputs stay
  // live; after the port is reopened the first frame brings it back.
  void inputColumnGreyedWhileTheLineIsSilent() {
    m32::app::MainWindow* menu = desk_->menu.get();
    m32::iopanel::IoPanel* panel = menu->Panel();
    const auto frame = m32::test_support::LinkFrameWith({0, 0x10, 0, 0});  // in13 on
    QElapsedTimer since_last;
    QTimer board;
    QObject::connect(&board, &QTimer::timeout, [&] {
      desk_->line->Feed(frame);
      since_last.start();
    });
    const auto inputs_live = [&] {
      bool live = panel->Box(63)->isEnabled() && panel->Box(44)->isChecked();
      for (int i = 32; i < 64; ++i) live = live && panel->Box(i)->isEnabled();
      return live;
    };
    const auto inputs_grey = [&] {
      bool grey = true;
      for (int i = 32; i < 64; ++i) grey = grey && !panel->Box(i)->isEnabled();
      return grey && !panel->AdBox()->isEnabled();
    };
    board.start(10);
    QTRY_VERIFY(inputs_live());
    board.stop();  // hang-up
    QVERIFY(QTest::qWaitFor(inputs_grey, 2000));
    const qint64 greyed_after = since_last.elapsed();
    QVERIFY2(greyed_after >= 450 && greyed_after <= 600, qPrintable(QString::number(greyed_after)));
    QVERIFY(panel->Box(0)->isEnabled() && panel->Box(31)->isEnabled());
    // The display restarted while the line stays silent: still grey.
    menu->OnServiceMenuOpened();
    QTRY_VERIFY(!panel->Box(0)->isEnabled());
    menu->StartIoDisplay();
    QTRY_VERIFY(panel->Box(0)->isEnabled());
    QVERIFY(inputs_grey());
    desk_->ctx.port->ClosePort();  // the port dialog's O. K.
    desk_->ctx.port->OpenPort();
    board.start(10);
    QTRY_VERIFY_WITH_TIMEOUT(inputs_live(), 1000);
    board.stop();
  }

  // The lighting test opens with the focus on its first group, so the first
  // click on channel 1's ">>" is taken and sends the full level.
  void lightingFirstClickSendsFullLevel() {
    QWidget* jas = desk_->Window("jas");
    QVERIFY(Desk::Open(jas));
    QCOMPARE(QApplication::focusWidget(), jas->findChild<QGroupBox*>("Kan1"));
    QTest::mouseClick(jas->findChild<QAbstractButton*>("Tl1"), Qt::LeftButton);
    const bool sent = QTest::qWaitFor(
        [&] {
          const auto w = desk_->line->LastWrite();
          return w.size() == 13 && w[1] == 0x68 && w[2] == 0xFF;
        },
        1000);
    jas->close();
    QVERIFY(sent);
  }

  // Switching to another program and back keeps the language dialog as the
  // technician left it: the choice not yet confirmed and the focus.
  void languageChoiceSurvivesSwitchingAway() {
    QWidget* jazyk = desk_->Window("jazyk");
    jazyk->setWindowModality(Qt::NonModal);  // the other window stands for another program
    QVERIFY(Desk::Open(jazyk));
    auto* english = jazyk->findChild<QRadioButton*>("RadioButton1");
    QVERIFY(english != nullptr && english->isVisible() && !english->isChecked());
    QTest::mouseClick(english, Qt::LeftButton, {}, QPoint(6, 8));
    QVERIFY(english->isChecked());
    QWidget other;
    QVERIFY(Desk::Open(&other));
    jazyk->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(jazyk));
    QVERIFY(english->isChecked());
    QCOMPARE(QApplication::focusWidget(), english);
    jazyk->close();
  }

  // A turn of the mouse wheel over a list of the port dialog changes it only
  // when the list has the focus.
  void wheelChangesOnlyTheFocusedList_data() {
    QTest::addColumn<bool>("focused");
    QTest::addColumn<int>("step");  // how far one notch down moves the parity list
    QTest::newRow("list without focus: unchanged") << false << 0;
    QTest::newRow("list with focus: next item") << true << 1;
  }
  void wheelChangesOnlyTheFocusedList() {
    QFETCH(bool, focused);
    QFETCH(int, step);
    QWidget* dialog = desk_->Window("komunikace");
    QVERIFY(Desk::Open(dialog));
    auto* parity = dialog->findChild<QComboBox*>("Ed_par");
    parity->setCurrentIndex(0);
    if (focused) parity->setFocus(Qt::TabFocusReason);
    WheelSpy spy(parity);
    const QPoint at = parity->mapToGlobal(parity->rect().center());
    Run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "5"});
    QTRY_VERIFY(spy.seen);
    const int shown = parity->currentIndex();
    dialog->close();
    QCOMPARE(shown, step);
  }

 private:
  std::unique_ptr<Desk> desk_;
};

QTEST_MAIN(DesktopWindowsTest)
#include "desktop_windows_test.moc"
