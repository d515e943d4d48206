// The main window headless on an in-memory serial line: start-up files, the
// menu that stops the display, the test command and the close.
#include <QDialog>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "app/main_window.h"
#include "service/comm_test_window.h"
#include "service/lighting_window.h"
#include "support/fake_serial_device.h"

using m32::test_support::FakeSerialDevice;
using Bytes = std::array<uint8_t, 4>;

namespace {

std::vector<uint8_t> ReadFile(const QString& path) {
  std::ifstream f(path.toStdString(), std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The main window started as MERKAT32 in `folder` (a fresh one by default).
struct Rig {
  QTemporaryDir own;
  QString folder;
  m32::AppContext ctx;
  FakeSerialDevice* line = nullptr;
  std::unique_ptr<m32::app::MainWindow> menu;

  explicit Rig(const QString& in = QString()) : folder(in.isEmpty() ? own.path() : in) {
    ctx.exe_path = (folder + "/MERKAT32").toStdString();
    auto device = std::make_unique<FakeSerialDevice>(false);
    line = device.get();
    ctx.device = std::move(device);
    menu = std::make_unique<m32::app::MainWindow>(ctx);
    menu->StartUp();
  }
  QString File(const char* name) const { return folder + "/" + name; }
  QCheckBox* Box0() const { return menu->Panel()->Box(0); }
  bool WaitDisplay(uint8_t on) {
    return QTest::qWaitFor([&] { return ctx.status.flags.IoDisplayActive.load() == on; }, 3000);
  }
  bool WaitBox0Enabled(bool on) {
    return QTest::qWaitFor([&] { return Box0()->isEnabled() == on; }, 2000);
  }
  // The output bytes of the last frame written to the line.
  Bytes LastOutputs() const {
    const FakeSerialDevice::Bytes w = line->LastWrite();
    Bytes b{0xEE, 0xEE, 0xEE, 0xEE};
    // The frame that ends the write (the port's final write has a fill before it).
    if (w.size() >= 8) std::copy(w.end() - 6, w.end() - 2, b.begin());
    return b;
  }
  bool WaitFrame(Bytes want) {
    return QTest::qWaitFor([&] { return LastOutputs() == want; }, 3000);
  }
  void SwitchOut1On() {
    QVERIFY(WaitBox0Enabled(true));
    QTest::mouseClick(Box0(), Qt::LeftButton, {}, QPoint(6, 8));
    QVERIFY(WaitFrame({1, 0, 0, 0}));
  }
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void firstStartWritesDefaultsAndTheTemplateTheSecondReadsIt() {
    Rig r;
    m32::config::SettingsRecord defaults;
    m32::config::ApplyDefaults(defaults);
    const m32::config::RecordBytes want = m32::config::Encode(defaults);
    QVERIFY(ReadFile(r.File("MERKAT32.CFG")) == std::vector<uint8_t>(want.begin(), want.end()));
    QVERIFY(QFileInfo::exists(r.File("MERKAT32.MNU")));
    QCOMPARE(r.menu->ServiceMenu()->actions().at(1)->text(), QString::fromUtf8("&Osvětlení"));
    // The display runs, and out1 takes the focus for the keyboard at once.
    QVERIFY(r.WaitDisplay(1));
    QCOMPARE(r.menu->DisplayThreadsStarted(), 1);
    QVERIFY(QTest::qWaitFor([&] { return r.menu->focusWidget() == r.Box0(); }, 2000));
    r.menu->CloseSequence();

    // The second start takes its captions from the template the first wrote.
    Rig again(r.folder);
    QCOMPARE(again.menu->ServiceMenu()->actions().at(1)->text(),
             QString::fromUtf8("Test &osvětlení"));
  }

  void serviceMenuStopsTheDisplayAndTheTestCommandRestartsIt() {
    Rig r;
    r.SwitchOut1On();
    r.ctx.settings.SettingsDirty = false;
    r.menu->ServiceMenu()->popup(r.menu->mapToGlobal(QPoint(10, 10)));
    r.menu->ServiceMenu()->hide();  // dismissed without a choice
    QVERIFY(r.ctx.settings.SettingsDirty);
    QVERIFY(r.WaitDisplay(0));
    QVERIFY(r.WaitFrame({0, 0, 0, 0}));  // the next frames carry all outputs off
    QVERIFY(r.WaitBox0Enabled(false));
    QVERIFY(!r.Box0()->isChecked());

    // The test command writes the pending settings and restarts with all off.
    QFile::remove(r.File("MERKAT32.CFG"));
    r.menu->StartIoDisplay();
    QVERIFY(!r.ctx.settings.SettingsDirty);
    QVERIFY(QFileInfo::exists(r.File("MERKAT32.CFG")));
    QVERIFY(r.WaitDisplay(1));
    QVERIFY(r.WaitBox0Enabled(true));
    QCOMPARE(r.menu->Panel()->States()[0], uint8_t{0});
    // Further test commands while it runs start no second display thread.
    r.menu->StartIoDisplay();
    r.menu->StartIoDisplay();
    QCOMPARE(r.menu->DisplayThreadsStarted(), 2);
  }

  // A line that hangs up: left alone under a modal window and while the
  // display is stopped; taken down once it runs, the inputs greyed; the port
  // comes back by itself and the inputs stay greyed until the board answers.
  void aHungUpLineComesBackWithTheOutputsOffAndTheInputsGreyUntilItAnswers() {
    QTemporaryDir dir;
    QVERIFY(QFile::link("/dev/null", dir.path() + "/COM1"));
    Rig r(dir.path());
    r.SwitchOut1On();
    r.line->SetHungUp(true);
    QDialog modal(r.menu.get());
    QTimer::singleShot(600, &modal, [&] { modal.done(r.ctx.port->IsOpen() ? 1 : 0); });
    QCOMPARE(modal.exec(), 1);
    r.menu->OnServiceMenuOpened();
    QVERIFY(r.WaitDisplay(0));
    QTest::qWait(600);
    QVERIFY(r.ctx.port->IsOpen());
    r.menu->StartIoDisplay();
    QVERIFY(QTest::qWaitFor([&] { return !r.ctx.port->IsOpen(); }, 3000));
    QVERIFY(!r.menu->Panel()->Box(32)->isEnabled());
    r.line->SetHungUp(false);
    QVERIFY(QTest::qWaitFor([&] { return r.ctx.port->IsOpen(); }, 3000));
    QVERIFY(r.WaitFrame({0, 0, 0, 0}));
    QVERIFY(!r.menu->Panel()->Box(32)->isEnabled());
    r.line->Feed({0xA2, 0x6B, 0x00, 0x00, 0x00, 0x00, 0xF5, 0xFE});  // in: all off
    QVERIFY(QTest::qWaitFor([&] { return r.menu->Panel()->Box(32)->isEnabled(); }, 3000));
    r.menu->CloseSequence();
  }

  // The event log's rows of inputs are told on the link thread: the A/D mode
  // they are cut by is published when the constants dialog closes.
  void constantsDialogPublishesTheAdModeForTheLinkThread() {
    Rig r;
    r.menu->CreateChildWindows();
    QTimer::singleShot(100, r.menu->Windows().constants, [&] {
      r.ctx.settings.record.Constants[m32::config::SettingsRecord::kAdMode] = 2;
      r.menu->Windows().constants->reject();
    });
    r.menu->ShowConstantsDialog();
    QCOMPARE(r.ctx.ad_mode.load(), int16_t{2});
    r.menu->CloseSequence();
  }

  // A close asked for (by a signal) while a service test holds the port: the
  // window ends, its worker first hands the port back to the link, and the
  // close that follows puts all-off on the line through that link. (Before
  // the window close below: that tells the application to quit, after which
  // no modal window runs its loop in this process.)
  void closeRequestedInAServiceTestHandsThePortBackFirst() {
    QFETCH(int, window);
    Rig r;
    r.menu->CreateChildWindows();
    QVERIFY(r.WaitFrame({0, 0, 0, 0}));
    auto* tstkom = qobject_cast<m32::service::CommTestWindow*>(r.menu->Windows().comm_test);
    auto* jas = qobject_cast<m32::service::LightingTestWindow*>(r.menu->Windows().lighting);
    QVERIFY(tstkom != nullptr && jas != nullptr);
    const auto holds = [&] { return window == 0 ? tstkom->HoldsLink() : jas->HoldsLink(); };
    const auto working = [&] {
      return window == 0 ? tstkom->WorkerRunning() : jas->WorkerRunning();
    };
    bool held = false;
    bool handed_back = false;
    QTimer::singleShot(300, r.menu.get(), [&] {
      held = holds() && working() && r.ctx.port->Link()->IsPaused();
      r.menu->RequestClose();
      handed_back = !holds() && !working();
    });
    if (window == 0) {
      r.menu->ShowCommTest();
    } else {
      r.menu->ShowLightingTest();
    }
    QVERIFY(held);
    QVERIFY(handed_back);
    QTRY_VERIFY(!r.ctx.port->Link()->IsPaused());  // the link goes on
    QVERIFY(r.menu->CloseRequested() && !r.menu->Closed());
    r.menu->CloseSequence();
    QCOMPARE(r.LastOutputs(), (Bytes{0, 0, 0, 0}));
    QVERIFY(!r.line->IsOpen());
  }
  void closeRequestedInAServiceTestHandsThePortBackFirst_data() {
    QTest::addColumn<int>("window");
    QTest::newRow("communication test") << 0;
    QTest::newRow("lighting test") << 1;
  }

  void closeStopsTheDisplaySavesAndSendsAllOffBeforeThePortCloses() {
    QFETCH(int, way);
    Rig r;
    r.SwitchOut1On();
    r.ctx.settings.record.Brightness[2] = 77;
    if (way == 0) {
      r.menu->close();
    } else if (way == 1) {
      r.menu->CloseNow();
    } else {
      // The session ends while the close box's close is under way: before
      // the nested call returns the outputs are off and the settings saved.
      bool off_and_saved = false;
      QTimer::singleShot(50, [&] {
        QVERIFY(!r.menu->Closed());
        r.menu->CloseNow();
        off_and_saved = r.LastOutputs() == Bytes{0, 0, 0, 0} &&
                        ReadFile(r.File("MERKAT32.CFG")).size() == 100 &&
                        ReadFile(r.File("MERKAT32.CFG"))[91] == 77;
      });
      r.menu->close();
      QVERIFY(off_and_saved);
    }
    QVERIFY(r.menu->Closed());
    QCOMPARE(r.ctx.status.flags.IoDisplayActive.load(), uint8_t{0});
    QVERIFY(!r.menu->DisplayThreadAlive());
    QCOMPARE(r.LastOutputs(), (Bytes{0, 0, 0, 0}));
    QVERIFY(!r.line->IsOpen());
    QCOMPARE(ReadFile(r.File("MERKAT32.CFG"))[91], uint8_t{77});
  }
  void closeStopsTheDisplaySavesAndSendsAllOffBeforeThePortCloses_data() {
    QTest::addColumn<int>("way");
    QTest::newRow("the close box") << 0;
    QTest::newRow("the session ends (CloseNow)") << 1;
    QTest::newRow("the session ends during the close") << 2;
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
