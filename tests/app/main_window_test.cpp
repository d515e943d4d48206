// The main window headless: start-up files, the menus that stop the display,
// the test command, the heartbeat and the close.
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <iterator>

#include "app/main_window.h"

namespace {

std::vector<uint8_t> ReadFile(const QString& path) {
  std::ifstream f(path.toStdString(), std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  struct Rig {
    QTemporaryDir dir;
    m32::AppContext ctx;
    std::unique_ptr<m32::TWmenu> menu;
    Rig() {
      ctx.exe_path = dir.filePath("MERKAT32").toStdString();
      menu = std::make_unique<m32::TWmenu>(ctx);
      menu->FormCreate();
    }
    bool WaitDisplay(uint8_t v) {
      return QTest::qWaitFor([&] { return ctx.status.flags.IoDisplayActive.load() == v; }, 3000);
    }
  };

 private slots:
  void firstStartWritesDefaultsAndTemplateAndRunsTheDisplay() {
    Rig r;
    const std::vector<uint8_t> cfg = ReadFile(r.dir.filePath("MERKAT32.CFG"));
    QCOMPARE(cfg.size(), std::size_t{100});
    QCOMPARE(cfg[0], uint8_t{12});  // divisor 12: 9600 Bd
    QCOMPARE(cfg[85], uint8_t{8});  // 8 data bits
    QCOMPARE(cfg[86], uint8_t{'E'});
    QCOMPARE(cfg[87], uint8_t{1});
    QVERIFY(QFileInfo::exists(r.dir.filePath("MERKAT32.MNU")));
    QVERIFY(r.WaitDisplay(1));
    QCOMPARE(r.menu->DisplayThreadsStarted(), 1);
    QCOMPARE(r.menu->windowTitle().left(12), QString(" M e r k a t"));
    QCOMPARE(r.menu->height(), 548);
    QVERIFY(
        QTest::qWaitFor([&] { return r.menu->focusWidget() == r.menu->Panel()->Box(0); }, 2000));
  }

  void secondStartShowsTheTableTexts() {
    QTemporaryDir dir;
    for (int run = 0; run < 2; ++run) {
      m32::AppContext ctx;
      ctx.exe_path = dir.filePath("MERKAT32").toStdString();
      m32::TWmenu menu(ctx);
      menu.FormCreate();
      const QString want =
          run == 0 ? QString::fromUtf8("&Osvětlení") : QString::fromUtf8("Test &osvětlení");
      const auto actions = menu.ServiceMenu()->actions();
      QCOMPARE(actions.at(1)->text(), want);
      menu.CloseSequence();
    }
  }

  void openingTheServiceMenuStopsTheDisplayAndSwitchesOutputsOff() {
    Rig r;
    QVERIFY(r.WaitDisplay(1));
    QTest::mouseClick(r.menu->Panel()->Box(0), Qt::LeftButton, {}, QPoint(6, 8));
    QVERIFY(QTest::qWaitFor([&] { return r.ctx.status.OutputBytes[0] == 1; }, 2000) ||
            r.ctx.status.flags.OutputsChanged.load() == 1);
    r.ctx.settings.SettingsDirty = false;
    r.menu->ServiceMenu()->popup(r.menu->mapToGlobal(QPoint(10, 10)));
    r.menu->ServiceMenu()->hide();  // dismissed without a choice
    QVERIFY(r.ctx.settings.SettingsDirty);
    QVERIFY(r.WaitDisplay(0));
    QCOMPARE(r.ctx.status.OutputBytes.Get(), (std::array<uint8_t, 4>{0, 0, 0, 0}));
    QCOMPARE(r.ctx.status.flags.OutputsChanged.load(), uint8_t{1});
    QVERIFY(QTest::qWaitFor([&] { return !r.menu->Panel()->Box(0)->isEnabled(); }, 2000));
    QVERIFY(!r.menu->Panel()->Box(0)->isChecked());

    // The test command writes the pending settings and restarts with all off.
    QFile::remove(r.dir.filePath("MERKAT32.CFG"));
    r.menu->MereniClick();
    QVERIFY(!r.ctx.settings.SettingsDirty);
    QVERIFY(QFileInfo::exists(r.dir.filePath("MERKAT32.CFG")));
    QVERIFY(r.WaitDisplay(1));
    QCOMPARE(r.menu->DisplayThreadsStarted(), 2);
    QVERIFY(QTest::qWaitFor([&] { return r.menu->Panel()->Box(0)->isEnabled(); }, 2000));
    QCOMPARE(r.menu->Panel()->States()[0], uint8_t{0});

    // A second test command while running starts no second thread.
    r.menu->MereniClick();
    r.menu->MereniClick();
    QCOMPARE(r.menu->DisplayThreadsStarted(), 2);
  }

  void timerPacksAClickIntoTheOutputBytes() {
    Rig r;
    QVERIFY(QTest::qWaitFor([&] { return r.menu->Panel()->Box(5)->isEnabled(); }, 2000));
    QTest::mouseClick(r.menu->Panel()->Box(5), Qt::LeftButton, {}, QPoint(6, 8));
    r.ctx.status.flags.OutputsChanged.store(0);  // as if the link took the last ones
    QVERIFY(QTest::qWaitFor([&] { return r.ctx.status.OutputBytes[0] == 0x20; }, 1000));
    QCOMPARE(r.ctx.status.flags.OutputsChanged.load(), uint8_t{1});
  }

  void windowNeverShrinksBelowItsMinimum() {
    Rig r;
    r.menu->resize(250, 200);
    QVERIFY(
        QTest::qWaitFor([&] { return r.menu->width() >= 300 && r.menu->height() >= 315; }, 500));
    QCOMPARE(r.menu->size(), QSize(300, 315));
  }

  void closeStopsTheDisplaySavesAndOffersAllOff() {
    Rig r;
    QVERIFY(r.WaitDisplay(1));
    r.ctx.settings.record.Brightness[2] = 77;
    r.ctx.status.OutputBytes.Put({1, 1, 1, 1});
    r.menu->close();
    QVERIFY(r.menu->Closed());
    QCOMPARE(r.ctx.status.flags.IoDisplayActive.load(), uint8_t{0});
    QCOMPARE(r.ctx.status.OutputBytes.Get(), (std::array<uint8_t, 4>{0, 0, 0, 0}));
    QCOMPARE(ReadFile(r.dir.filePath("MERKAT32.CFG"))[91], uint8_t{77});
    QVERIFY(!r.menu->DisplayThreadAlive());
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
