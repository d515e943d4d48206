// Both windows against the controller-sim on a pseudo-terminal, with the
// tool's own serial device, port connection and link in this process.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/heartbeat.h"
#include "app/shared_status.h"
#include "app/ui_invoker_qt.h"
#include "config/settings.h"
#include "config/temp_dir.h"
#include "config/text_table.h"
#include "link/port_connection.h"
#include "link/process_support.h"
#include "serial/serial_device.h"
#include "service/comm_test_window.h"
#include "service/lighting_window.h"
#include "service/window_rig.h"

using m32::service::testing::PumpWhile;
using m32::service::testing::Spin;

namespace {

using m32::process::LogLine;
using m32::process::MonotonicUs;
using Bytes = std::vector<uint8_t>;

bool StartsWith(const Bytes& bytes, const Bytes& prefix) {
  return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

bool Holds(const Bytes& bytes, const Bytes& part) {
  return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

// The tool next to a running controller-sim: the sim's COM1 lies in the
// tool's folder, the main window's heartbeat ages the countdowns.
class SimRig {
 public:
  explicit SimRig(std::vector<std::string> sim_options)
      : sim(dir.path(), WithFormat(std::move(sim_options))), log(sim.LogPath()) {
    m32::config::ApplyDefaults(settings.record);  // COM1, 9600 Bd, 8E1
    module.Derive(dir.File("merkat32.exe"));
    started = sim.Ready();
    device = m32::serial::MakePlatformSerialDevice();
    m32::link::PortConnection::Deps deps{*device,
                                         invoker,
                                         status,
                                         settings.record,
                                         texts,
                                         dir.path().string() + "/",
                                         [this](const std::string&, const std::string& text) {
                                           errors << QString::fromStdString(text);
                                         },
                                         &m32::PumpOnce};
    port = std::make_unique<m32::link::PortConnection>(std::move(deps));
    QObject::connect(&timer1, &QTimer::timeout, [this] {
      heartbeat.Age(status.LightingSendCountdown, status.WheelCountdown);
    });
    timer1.start(55);
  }
  ~SimRig() {
    timer1.stop();
    port->ClosePort();
  }
  SimRig(const SimRig&) = delete;
  SimRig& operator=(const SimRig&) = delete;

  QString Dir() const { return QString::fromStdString(dir.path().string()); }
  QString SimOutput() const {
    QFile f(Dir() + "/sim.out");
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
  }

  bool Open() {
    port->OpenPort();
    return port->IsOpen() && PumpWhile([this] { return !LinkFramesIn(0); }, 5000);
  }

  // Frames starting with `prefix` that the sim received in [from_us, to_us).
  int FramesIn(const Bytes& prefix, int64_t from_us, int64_t to_us = INT64_MAX) const {
    int n = 0;
    for (const LogLine& l : log.All()) {
      if (l.tag == "IN" && StartsWith(l.bytes, prefix) && l.us >= from_us && l.us < to_us) ++n;
    }
    return n;
  }
  // When the last such frame came, 0 when none came.
  int64_t LastFrameIn(const Bytes& prefix, int64_t from_us) const {
    int64_t last = 0;
    for (const LogLine& l : log.All()) {
      if (l.tag == "IN" && StartsWith(l.bytes, prefix) && l.us >= from_us) last = l.us;
    }
    return last;
  }
  // LinkFrames reached the sim since `from_us`: answered in board mode,
  // echoed byte for byte in loopback mode. The sim logs received bytes (RAW)
  // as they arrive on the line, mostly one per line, so the start of a frame
  // is looked for in their run, not within one line.
  bool LinkFramesIn(int64_t from_us) const {
    const Bytes link_start{0xA2, 0x6B};
    Bytes raw;
    for (const LogLine& l : log.All()) {
      if (l.us < from_us) continue;
      if (l.tag == "IN" && StartsWith(l.bytes, link_start)) return true;
      if (l.tag == "RAW") raw.insert(raw.end(), l.bytes.begin(), l.bytes.end());
    }
    return Holds(raw, link_start);
  }

  m32::config::testing::TempDir dir;
  m32::process::Sim sim;
  m32::process::SimLog log;
  bool started = false;
  std::unique_ptr<m32::serial::SerialDevice> device;
  m32::SharedStatus status;
  m32::config::Settings settings;
  m32::config::ModulePath module;
  m32::config::TextTable texts;
  QWidget main_window;
  m32::QtUiInvoker invoker{&main_window};
  std::unique_ptr<m32::link::PortConnection> port;
  m32::Heartbeat heartbeat;
  QTimer timer1;
  QStringList errors;

 private:
  static std::vector<std::string> WithFormat(std::vector<std::string> options) {
    options.insert(options.end(), {"--format", "8E1"});
    return options;
  }
};

QStringList Cells(const QString& line) {
  QStringList cells;
  for (int i = 0; i + 3 <= line.size() && cells.size() < 32; i += 3) cells << line.mid(i + 1, 2);
  return cells;
}

}  // namespace

class ServiceSimTest : public QObject {
  Q_OBJECT

 private slots:
  void loopedBackSendFieldFillsTheReceiveLine();
  void sliderChangeSendsFramesForAboutASecond();
};

void ServiceSimTest::loopedBackSendFieldFillsTheReceiveLine() {
  SimRig rig({"--loopback"});
  QVERIFY2(rig.started, qPrintable(rig.SimOutput()));
  QVERIFY2(rig.Open(), qPrintable(rig.errors.join('\n')));

  m32::TWtstkom w(rig.status, rig.texts, *rig.port, &rig.main_window);
  w.show();
  w.SendField()->setText(QStringLiteral("55 AA"));
  w.ReceiveBox()->click();
  w.SendBox()->click();
  // Whatever of the link's last frame came back is overwritten by the test bytes.
  const bool filled = PumpWhile(
      [&] {
        const QStringList cells = Cells(w.ReceiveLine()->text());
        if (cells.size() < 32) return true;
        for (const QString& c : cells) {
          if (c != "55" && c != "AA" && c != "==") return true;
        }
        return false;
      },
      10000);
  QVERIFY2(filled, qPrintable(w.ReceiveLine()->text()));
  const QStringList cells = Cells(w.ReceiveLine()->text());
  const int marker = static_cast<int>(cells.indexOf(QStringLiteral("==")));
  QVERIFY(marker >= 0);
  for (int i = 1; i < 31; ++i) {
    QVERIFY2(cells[(marker + i) % 32] != cells[(marker + i + 1) % 32],
             qPrintable(w.ReceiveLine()->text()));
  }
  const int64_t closed = MonotonicUs();
  w.close();
  QVERIFY(PumpWhile([&] { return !rig.LinkFramesIn(closed); }, 5000));
}

void ServiceSimTest::sliderChangeSendsFramesForAboutASecond() {
  SimRig rig({"--mode", "mirror"});
  QVERIFY2(rig.started, qPrintable(rig.SimOutput()));
  QVERIFY2(rig.Open(), qPrintable(rig.errors.join('\n')));

  m32::TWjas w(rig.settings, rig.module, rig.texts, rig.status, *rig.port, &rig.main_window);
  const int64_t opened = MonotonicUs();
  w.show();
  // The activation's frames (about 2.5 s), then quiet.
  QVERIFY(PumpWhile([&] { return rig.FramesIn({0xA2, 0x68, 0x00}, opened) == 0; }, 5000));
  QVERIFY(PumpWhile([&] { return rig.status.LightingSendCountdown.load() != 0; }, 10000));
  Spin(300);

  const int64_t changed = MonotonicUs();
  w.Jas(0)->setValue(100);
  QCOMPARE(rig.settings.record.Brightness[0], 100);
  Spin(3000);
  const int64_t second = 1000000;
  // Frames with the new level (0x64) go out at once and keep going ...
  QVERIFY(rig.FramesIn({0xA2, 0x68, 0x64}, changed, changed + second / 2) > 0);
  QVERIFY(rig.FramesIn({0xA2, 0x68, 0x64}, changed + second / 2, changed + second) > 0);
  // ... and stop after about a second.
  const int64_t last = rig.LastFrameIn({0xA2, 0x68}, changed);
  QVERIFY2(
      last < changed + 3 * second / 2,
      qPrintable(QStringLiteral("last frame %1 ms after the change").arg((last - changed) / 1000)));
  qInfo("last BrightnessFrame %lld ms after the change",
        static_cast<long long>((last - changed) / 1000));
  // The board answered with valid BrightnessReplies.
  QCOMPARE(rig.status.flags.InputsReceived.load(), 1);
  // No LinkFrame went out while the window had the port.
  QCOMPARE(rig.FramesIn({0xA2, 0x6B}, opened + second / 2), 0);

  const int64_t closed = MonotonicUs();
  w.close();
  QVERIFY(PumpWhile([&] { return !rig.LinkFramesIn(closed); }, 5000));
  QFile cfg(rig.Dir() + "/merkat32.CFG");
  QVERIFY(cfg.open(QIODevice::ReadOnly));
  QCOMPARE(static_cast<uint8_t>(cfg.readAll().at(89)), 100);
}

QTEST_MAIN(ServiceSimTest)
#include "service_sim_test.moc"
