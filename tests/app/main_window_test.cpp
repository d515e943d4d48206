// The main window headless: start-up files, the menus that stop the display,
// the test command, the heartbeat and the close.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <iterator>
#include <optional>

#include "app/main_window.h"

namespace {

std::vector<uint8_t> ReadFile(const QString& path) {
  std::ifstream f(path.toStdString(), std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The other end of the line: a pseudo-terminal whose slave is COM1 in the
// tool's folder. Collects the output bytes of every whole frame written.
class LineEnd {
 public:
  explicit LineEnd(const QString& folder) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char slave[128] = {};
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 &&
        ::ptsname_r(master_, slave, sizeof slave) == 0) {
      QFile::link(QString::fromLocal8Bit(slave), folder + "/COM1");
    }
  }
  ~LineEnd() {
    if (master_ >= 0) ::close(master_);
  }
  // Reads what is there and returns the output bytes of the last whole frame.
  std::optional<std::array<uint8_t, 4>> LastFrame() {
    uint8_t buf[512];
    ssize_t n = 0;
    while ((n = ::read(master_, buf, sizeof buf)) > 0) stream_.insert(stream_.end(), buf, buf + n);
    std::optional<std::array<uint8_t, 4>> last;
    for (std::size_t i = 0; i + 8 <= stream_.size(); ++i) {
      if (stream_[i] != 0xA2 || stream_[i + 1] != 0x6B || stream_[i + 7] != 0xFE) continue;
      uint8_t sum = 0;
      for (std::size_t k = 0; k < 8; ++k) sum = static_cast<uint8_t>(sum + stream_[i + k]);
      if (sum == 0)
        last =
            std::array<uint8_t, 4>{stream_[i + 2], stream_[i + 3], stream_[i + 4], stream_[i + 5]};
    }
    if (stream_.size() > 64) stream_.erase(stream_.begin(), stream_.end() - 16);
    return last;
  }
  bool WaitFrame(const std::array<uint8_t, 4>& want) {
    return QTest::qWaitFor([&] { return LastFrame() == want; }, 3000);
  }

 private:
  int master_ = -1;
  std::vector<uint8_t> stream_;
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  struct Rig {
    QTemporaryDir dir;
    LineEnd line{dir.path()};
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
    QVERIFY(QTest::qWaitFor([&] { return r.menu->Panel()->Box(0)->isEnabled(); }, 2000));
    QTest::mouseClick(r.menu->Panel()->Box(0), Qt::LeftButton, {}, QPoint(6, 8));
    QVERIFY(r.line.WaitFrame({1, 0, 0, 0}));
    r.ctx.settings.SettingsDirty = false;
    r.menu->ServiceMenu()->popup(r.menu->mapToGlobal(QPoint(10, 10)));
    r.menu->ServiceMenu()->hide();  // dismissed without a choice
    QVERIFY(r.ctx.settings.SettingsDirty);
    QVERIFY(r.WaitDisplay(0));
    QCOMPARE(r.ctx.status.OutputBytes.Get(), (std::array<uint8_t, 4>{0, 0, 0, 0}));
    QVERIFY(r.line.WaitFrame({0, 0, 0, 0}));  // the next frames carry all outputs off
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

  void aClickReachesTheLine() {
    Rig r;
    QVERIFY(QTest::qWaitFor([&] { return r.menu->Panel()->Box(5)->isEnabled(); }, 2000));
    QTest::mouseClick(r.menu->Panel()->Box(5), Qt::LeftButton, {}, QPoint(6, 8));
    QVERIFY(r.line.WaitFrame({0x20, 0, 0, 0}));  // out6 is byte 0 bit 5 on the line
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
