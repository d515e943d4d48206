// The lighting window against the controller-sim on a pseudo-terminal, with
// the tool's own serial device, port connection, link and heartbeat in this
// process.
#include <QSlider>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/heartbeat.h"
#include "serial/serial_device.h"
#include "service/lighting_window.h"
#include "support/process_support.h"
#include "support/window_rig.h"

using m32::test_support::MonotonicUs;
using m32::test_support::PumpWhile;
using m32::test_support::Spin;

class ServiceSimTest : public QObject {
  Q_OBJECT

 private slots:
  void sliderChangeSendsFramesForAboutASecond();
};

void ServiceSimTest::sliderChangeSendsFramesForAboutASecond() {
  // The sim answers every frame; its COM1 lies in the tool's folder.
  m32::test_support::TempDir dir;
  m32::test_support::Sim sim(dir.path(), {"--mode", "mirror", "--format", "8E1"});
  const m32::test_support::SimLog log(sim.LogPath());
  QVERIFY2(sim.Ready(), m32::test_support::ReadText(dir.File("sim.out")).c_str());
  // When the sim took in frames starting with `prefix`, from `from_us` on.
  auto frames_in = [&](const std::vector<uint8_t>& prefix, int64_t from_us) {
    std::vector<int64_t> times;
    for (const m32::test_support::LogLine& l : log.All()) {
      if (l.tag == "IN" && l.us >= from_us && l.bytes.size() >= prefix.size() &&
          std::equal(prefix.begin(), prefix.end(), l.bytes.begin())) {
        times.push_back(l.us);
      }
    }
    return times;
  };
  auto link_frames_in = [&](int64_t from_us) { return !frames_in({0xA2, 0x6B}, from_us).empty(); };

  // The tool's side: COM1 at 9600 Bd 8E1 by default, the main window's heartbeat
  // ageing the countdowns.
  std::unique_ptr<m32::serial::SerialDevice> device = m32::serial::MakePlatformSerialDevice();
  m32::SharedStatus status;
  m32::config::Settings settings;
  m32::config::ApplyDefaults(settings.record);
  m32::config::ModulePath module;
  module.Derive(dir.File("merkat32.exe"));
  const m32::config::TextTable texts;
  QWidget main_window;
  QStringList errors;
  m32::link::PortConnection port{
      {*device, status, settings.record, texts, dir.path().string() + "/",
       [&](const std::string&, const std::string& text, const std::string&) {
         errors << QString::fromStdString(text);
       }}};
  m32::Heartbeat heartbeat;
  QTimer timer1;
  QObject::connect(&timer1, &QTimer::timeout,
                   [&] { heartbeat.Age(status.LightingSendCountdown, status.WheelCountdown); });
  timer1.start(55);
  port.OpenPort();
  QVERIFY2(port.IsOpen() && PumpWhile([&] { return !link_frames_in(0); }, 5000),
           qPrintable(errors.join('\n')));

  m32::service::LightingTestWindow w(settings, module, texts, status, port, &main_window);
  const int64_t opened = MonotonicUs();
  w.show();
  // The activation's frames (about 2.5 s), then quiet.
  QVERIFY(PumpWhile([&] { return frames_in({0xA2, 0x68, 0x00}, opened).empty(); }, 5000));
  QVERIFY(PumpWhile([&] { return status.LightingSendCountdown.load() != 0; }, 10000));
  Spin(300);

  const int64_t changed = MonotonicUs();
  w.LevelBar(0)->setValue(100);
  Spin(3000);
  const int64_t second = 1000000;
  // Frames with the new level (0x64) go out at once, keep going and stop after about a second.
  const std::vector<int64_t> sent = frames_in({0xA2, 0x68, 0x64}, changed);
  QVERIFY(!sent.empty() && sent.front() < changed + second / 2);
  QVERIFY(std::any_of(sent.begin(), sent.end(), [&](int64_t t) {
    return t >= changed + second / 2 && t < changed + second;
  }));
  QVERIFY2(
      sent.back() < changed + 3 * second / 2,
      qPrintable(
          QStringLiteral("last frame %1 ms after the change").arg((sent.back() - changed) / 1000)));
  // The board answered with valid BrightnessReplies.
  QCOMPARE(status.flags.InputsReceived.load(), 1);
  // No LinkFrame went out while the window had the port; after closing it goes on.
  QVERIFY(!link_frames_in(opened + second / 2));
  const int64_t closed = MonotonicUs();
  w.close();
  QVERIFY(PumpWhile([&] { return !link_frames_in(closed); }, 5000));
}

QTEST_MAIN(ServiceSimTest)
#include "service_sim_test.moc"
