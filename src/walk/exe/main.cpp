// merkat32-walk: steps every output of the board through a loop-back harness,
// checks the inputs that must follow, reports per channel.
//
//   exit 0: every channel passed; 1: a channel (or the A/D check) failed;
//   2: a bad command line or map file, the port could not be opened, no board
//   answered, or a report could not be written (the reason on stderr).
// The outputs are left all off at the end, on every error and on SIGINT,
// SIGTERM and SIGHUP; a fatal signal puts the all-off frame on the line too.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageSize>
#include <QPrinter>
#include <QSaveFile>
#include <QTextDocument>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "config/settings.h"
#include "link/emergency_off.h"
#include "link/port_connection.h"
#include "serial/serial_device.h"
#include "walk/walk_judge.h"
#include "walk/walk_map.h"
#include "walk/walk_report.h"
#include "walk/walk_runner.h"

namespace {

using namespace m32;

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitTrouble = 2;

std::atomic<bool> g_stop{false};
std::atomic<int> g_signal{0};

extern "C" void OnTerminationSignal(int sig) {
  g_signal.store(sig);
  g_stop.store(true);
}

void InstallTerminationHandlers() {
#if !defined(_WIN32)
  struct sigaction sa {};
  sa.sa_handler = OnTerminationSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
#else
  std::signal(SIGINT, OnTerminationSignal);
  std::signal(SIGTERM, OnTerminationSignal);
#endif
}

void Complain(const QString& text) {
  (void)std::fprintf(stderr, "merkat32-walk: %s\n", text.toUtf8().constData());
}

struct Request {
  std::string device;     // the device path to open
  std::string port_name;  // "COM1" as the user knows it
  serial::LineSettings line;
  int ad_mode = 0;
  int hold = 3;
  int repeat = 1;
  walk::WalkMap map = walk::WalkMap::Default();
  QString html, pdf, junit, csv;
  walk::ReportInfo info;
};

// "8E1": data bits 5..8, parity N/O/E/M, stop bits 1 or 2.
bool ParseFormat(const QString& text, serial::LineSettings& line) {
  if (text.size() != 3) return false;
  const QChar d = text[0];
  const QChar p = text[1].toUpper();
  const QChar s = text[2];
  if (d < QChar('5') || d > QChar('8') || (s != QChar('1') && s != QChar('2'))) return false;
  if (p == QChar('N')) {
    line.parity = serial::Parity::kNone;
  } else if (p == QChar('O')) {
    line.parity = serial::Parity::kOdd;
  } else if (p == QChar('E')) {
    line.parity = serial::Parity::kEven;
  } else if (p == QChar('M')) {
    line.parity = serial::Parity::kMark;
  } else {
    return false;
  }
  line.data_bits = static_cast<uint8_t>(d.unicode() - '0');
  line.stop_bits = static_cast<uint8_t>(s.unicode() - '0');
  return true;
}

std::string FormatText(const serial::LineSettings& line) {
  static constexpr char kParity[] = {'N', 'O', 'E', 'M'};
  return std::to_string(line.data_bits) + kParity[static_cast<int>(line.parity)] +
         std::to_string(line.stop_bits);
}

std::optional<int> Number(const QString& text, int low, int high) {
  bool ok = false;
  const int v = text.toInt(&ok);
  if (!ok || v < low || v > high) return std::nullopt;
  return v;
}

// The tool's settings file beside this program: merkat32.CFG (MERKAT32.CFG
// from MERKAT32.EXE on Windows).
config::SettingsRecord ToolSettings(std::string& folder) {
  const QFileInfo self(QCoreApplication::applicationFilePath());
  folder = QFile::encodeName(self.absolutePath()).toStdString();
  const QString suffix = self.suffix().isEmpty() ? QString() : "." + self.suffix();
  config::ModulePath module;
  module.Derive(QFile::encodeName(self.absolutePath() + "/merkat32" + suffix).toStdString());
  config::Settings settings;
  config::LoadSettings(module, settings);
  return settings.record;
}

// Fills `r` from the command line; the exit status when the run must not go on.
std::optional<int> ReadCommandLine(const QCoreApplication& app, Request& r) {
  QCommandLineParser p;
  p.setApplicationDescription(
      "Walk test of a controller board through a loop-back harness: switches every output on\n"
      "and off in turn, checks that the input it feeds (and no other) follows, and reports\n"
      "per channel. Exit status: 0 all passed, 1 a channel failed, 2 no board answered,\n"
      "the port could not be opened or the command line or map file is wrong.\n"
      "Port, rate and format come from the tool's settings file beside this program.");
  p.addHelpOption();
  p.addVersionOption();
  const QCommandLineOption port("port", "Serial port (COM1..COM64, or a device path).", "COMn");
  const QCommandLineOption baud("baud", "Line rate in Bd.", "N");
  const QCommandLineOption format("format", "Character format, e.g. 8E1, 8N1, 7O2.", "DPS");
  const QCommandLineOption map("map", "Harness map file (default: out k -> in k).", "FILE");
  const QCommandLineOption hold("hold", "Valid frames read after each change (default 3).", "N");
  const QCommandLineOption repeat("repeat", "Walk K times; count flickers (default 1).", "K");
  const QCommandLineOption adc("adc", "A/D mode 0, 1 or 2 (default: the settings file's).", "MODE");
  const QCommandLineOption serial("serial", "The board's serial number for the reports.", "TEXT");
  const QCommandLineOption oper("operator", "Who runs the test, for the reports.", "NAME");
  const QCommandLineOption html("html", "Write a one-page HTML report.", "FILE");
  const QCommandLineOption pdf("pdf", "Write the one-page report as PDF.", "FILE");
  const QCommandLineOption junit("junit", "Write JUnit XML (one testcase a channel).", "FILE");
  const QCommandLineOption csv("csv", "Write CSV (one row a channel).", "FILE");
  p.addOptions({port, baud, format, map, hold, repeat, adc, serial, oper, html, pdf, junit, csv});
  if (!p.parse(app.arguments())) {
    Complain(p.errorText() + " (see --help)");
    return kExitTrouble;
  }
  if (p.isSet("help")) {
    (void)std::fputs(p.helpText().toUtf8().constData(), stdout);
    return kExitPassed;
  }
  if (p.isSet("version")) {
    (void)std::printf("merkat32-walk %s\n", M32_VERSION);
    return kExitPassed;
  }
  if (!p.positionalArguments().isEmpty()) {
    Complain("unexpected argument: " + p.positionalArguments().first() + " (see --help)");
    return kExitTrouble;
  }
  std::string folder;
  const config::SettingsRecord settings = ToolSettings(folder);
  r.line = link::LineSettingsFrom(settings);
  r.ad_mode = settings.AdMode();
  unsigned index = settings.PortIndex;
  auto bad = [](const QString& what) {
    Complain(what + " (see --help)");
    return kExitTrouble;
  };
  if (p.isSet(port)) {
    const QString v = p.value(port);
    const auto n =
        v.startsWith("COM", Qt::CaseInsensitive) ? Number(v.mid(3), 1, 64) : std::nullopt;
    if (n) {
      index = static_cast<unsigned>(*n - 1);
    } else if (v.contains('/') || v.contains('\\')) {
      r.device = QFile::encodeName(v).toStdString();
      r.port_name = r.device;
    } else {
      return bad("--port: expected COM1..COM64 or a device path, not '" + v + "'");
    }
  }
  if (r.device.empty()) {
    r.device = link::DevicePathFor(index, folder);
    r.port_name = "COM" + std::to_string(index + 1);
  }
  if (p.isSet(baud)) {
    const auto n = Number(p.value(baud), 1, 4000000);
    if (!n) return bad("--baud: expected a rate in Bd, not '" + p.value(baud) + "'");
    r.line.baud = static_cast<uint32_t>(*n);
  }
  if (p.isSet(format) && !ParseFormat(p.value(format), r.line)) {
    return bad("--format: expected data bits 5-8, parity N/O/E/M, stop bits 1-2 (like 8E1), not '" +
               p.value(format) + "'");
  }
  if (p.isSet(hold)) {
    const auto n = Number(p.value(hold), 1, 100);
    if (!n) return bad("--hold: expected 1..100 frames, not '" + p.value(hold) + "'");
    r.hold = *n;
  }
  if (p.isSet(repeat)) {
    const auto n = Number(p.value(repeat), 1, 1000);
    if (!n) return bad("--repeat: expected 1..1000, not '" + p.value(repeat) + "'");
    r.repeat = *n;
  }
  if (p.isSet(adc)) {
    const auto n = Number(p.value(adc), 0, 2);
    if (!n) return bad("--adc: expected 0, 1 or 2, not '" + p.value(adc) + "'");
    r.ad_mode = *n;
  }
  if (p.isSet(map)) {
    QFile f(p.value(map));
    if (!f.open(QIODevice::ReadOnly)) {
      Complain("cannot read the map file " + p.value(map) + ": " + f.errorString());
      return kExitTrouble;
    }
    const QByteArray text = f.readAll();
    const walk::MapParse parsed = walk::ParseMap(std::string_view(text.constData(), text.size()));
    if (parsed.error) {
      Complain(p.value(map) + ", " + QString::fromStdString(walk::Describe(*parsed.error)));
      return kExitTrouble;
    }
    r.map = parsed.map;
  }
  if (const std::string why = walk::FitToAdMode(r.map, r.ad_mode); !why.empty()) {
    Complain("the map does not fit the A/D mode: " + QString::fromStdString(why));
    return kExitTrouble;
  }
  r.html = p.value(html);
  r.pdf = p.value(pdf);
  r.junit = p.value(junit);
  r.csv = p.value(csv);
  r.info.serial = p.value(serial).toStdString();
  r.info.operator_name = p.value(oper).toStdString();
  return std::nullopt;
}

bool WriteText(const QString& path, const std::string& text) {
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly) ||
      f.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
      !f.commit()) {
    Complain("cannot write " + path + ": " + f.errorString());
    return false;
  }
  return true;
}

bool WritePdf(const QString& path, const std::string& html) {
  QTextDocument doc;
  doc.setHtml(QString::fromStdString(html));
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(path);
  printer.setPageSize(QPageSize(QPageSize::A4));
  printer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
  doc.print(&printer);
  if (!QFileInfo(path).isFile() || QFileInfo(path).size() == 0) {
    Complain("cannot write " + path);
    return false;
  }
  return true;
}

bool WriteReports(const Request& r, const walk::WalkResult& result) {
  bool ok = true;
  if (!r.junit.isEmpty()) ok = WriteText(r.junit, walk::JunitReport(result, r.info)) && ok;
  if (!r.csv.isEmpty()) ok = WriteText(r.csv, walk::CsvReport(result, r.info)) && ok;
  if (!r.html.isEmpty()) ok = WriteText(r.html, walk::HtmlReport(result, r.info)) && ok;
  if (!r.pdf.isEmpty()) ok = WritePdf(r.pdf, walk::HtmlReport(result, r.info)) && ok;
  return ok;
}

// Walks; leaves the outputs off and the port closed whatever happens.
int Walk(Request& r) {
  auto device = serial::MakePlatformSerialDevice();
  const std::string where =
      r.port_name == r.device ? r.device : r.port_name + " (" + r.device + ")";
  const link::LineSetUp set_up = link::SetUpLine(*device, r.device, r.line);
  if (set_up == link::LineSetUp::kDenied) {
    Complain(QString::fromStdString("the serial port " + where +
                                    " refused this user: join its group (usually dialout)"));
    return kExitTrouble;
  }
  if (set_up == link::LineSetUp::kCannotOpen) {
    Complain(QString::fromStdString("cannot open the serial port " + where +
                                    ": it does not exist or another program holds it"));
    return kExitTrouble;
  }
  auto close = [&] {
    link::emergency::Disarm();
    device->Close();
  };
  if (set_up == link::LineSetUp::kLineRejected) {
    close();
    Complain(QString::fromStdString("the serial port " + where + " does not take the line " +
                                    r.info.line));
    return kExitTrouble;
  }
  walk::WalkRunner runner(*device, r.line, g_stop);
  std::vector<walk::RunReadings> runs(static_cast<std::size_t>(r.repeat));
  walk::RunOutcome outcome = walk::RunOutcome::kDone;
  const auto start = std::chrono::steady_clock::now();
  for (auto& run : runs) {
    outcome = runner.Run(r.hold, run);
    if (outcome != walk::RunOutcome::kDone) break;
  }
  r.info.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  runner.AllOffAndDrain();
  close();
  if (outcome == walk::RunOutcome::kStopped) {
    Complain("stopped by a signal; the outputs were switched off");
    const int sig = g_signal.load();
    (void)std::signal(sig, SIG_DFL);
    (void)std::raise(sig);
    return 128 + sig;
  }
  if (outcome == walk::RunOutcome::kNoAnswer) {
    Complain(QString::fromStdString("no board answered on " + r.info.line +
                                    ": no valid frame within " +
                                    std::to_string(runner.AnswerTimeout().count()) + " ms"));
    return kExitTrouble;
  }
  const walk::WalkResult result = walk::Judge(r.map, r.ad_mode, runs);
  (void)std::fputs(walk::HumanReport(result, r.info).c_str(), stdout);
  (void)std::fflush(stdout);
  if (!WriteReports(r, result)) return kExitTrouble;
  return result.Passed() ? kExitPassed : kExitFailed;
}

// The PDF needs a GUI application (fonts); everything else a plain one.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv) {
  bool pdf = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    pdf = pdf || a == "--pdf" || a.rfind("--pdf=", 0) == 0;
  }
  if (!pdf) return std::make_unique<QCoreApplication>(argc, argv);
#if !defined(_WIN32)
  // No window is ever shown: no display is needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
  link::emergency::Install();
  InstallTerminationHandlers();
  const auto app = MakeApplication(argc, argv);
  QCoreApplication::setApplicationName("merkat32-walk");
  QCoreApplication::setApplicationVersion(M32_VERSION);
  Request request;
  if (const auto status = ReadCommandLine(*app, request)) return *status;
  request.info.line = request.port_name + " " + std::to_string(request.line.baud) + " Bd " +
                      FormatText(request.line);
  const QDateTime now = QDateTime::currentDateTime();
  request.info.date = now.toString("yyyy-MM-dd HH:mm:ss").toStdString();
  request.info.timestamp = now.toString(Qt::ISODate).toStdString();
  request.info.tool_version = std::string("merkat32-walk ") + M32_VERSION;
  return Walk(request);
}
