// merkat32: start-up. The main window is created first (its StartUp shows
// it, opens the port and starts the I/O display), then the seven other
// windows, hidden, in their fixed order; then the message loop runs.
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <ctime>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_window.h"
#include "app/termination_qt.h"
#include "config/settings.h"
#include "eventlog/event_log.h"

namespace {

// Shows an exception that escapes an event handler in the standard error box
// and carries on, as the message loop does for any other error.
class Application final : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      QMessageBox::critical(nullptr, applicationName(), QString::fromLocal8Bit(e.what()));
    } catch (...) {
      QMessageBox::critical(nullptr, applicationName(), QStringLiteral("Unknown exception"));
    }
    return false;
  }
};

// The event log asked for by --log [FILE]; none without it. A file that
// cannot be written is told on the error stream and the tool runs on.
std::unique_ptr<m32::eventlog::EventLog> StartEventLog(const QStringList& arguments,
                                                       m32::AppContext& ctx) {
  std::vector<std::string> args;
  for (const QString& a : arguments) args.push_back(a.toStdString());
  const m32::eventlog::LogRequest request = m32::eventlog::FindLogRequest(args);
  if (!request.wanted) return nullptr;
  // The logs folder lies beside the settings file: beside the executable, or
  // in the user's folder for a copy installed for all users.
  m32::config::ModulePath module;
  module.Derive(m32::config::ModulePath::PlatformExecutablePath());
  std::string settings_folder =
      m32::config::SettingsFolderFor(module, m32::config::ModulePath::PlatformUserConfigFolder());
  if (settings_folder.empty()) settings_folder = module.Folder();
  const std::filesystem::path folder(std::u8string(settings_folder.begin(), settings_folder.end()));
  auto log = std::make_unique<m32::eventlog::EventLog>(
      m32::eventlog::LogFilePath(request, folder, std::time(nullptr)),
      [&ctx] { return ctx.ad_mode.load(); });
  ctx.line_events = log.get();
  return log;
}

}  // namespace

int main(int argc, char** argv) {
  // From here on no way of ending that can be caught leaves an output on.
  m32::InstallProcessEndHandlers();
  // --help, --version and a mistyped option end here: no window, port or file.
  QCoreApplication::setApplicationName(QStringLiteral("merkat32"));
  QCoreApplication::setApplicationVersion(QStringLiteral(M32_VERSION));
  const m32::app::CommandLine command_line =
      m32::app::ParseCommandLine(m32::app::ArgumentList(argc, argv));
  if (command_line.outcome != m32::app::CommandLine::Outcome::kRun) {
    return m32::app::FinishEarly(command_line);
  }
  Application app(argc, argv);
  app.setQuitOnLastWindowClosed(false);  // the main window's close ends the run
  try {
    std::unique_ptr<m32::eventlog::EventLog> event_log;  // outlives the port that tells it
    m32::AppContext ctx;
    event_log = StartEventLog(app.arguments(), ctx);
    m32::app::MainWindow menu(ctx);
    // The outermost event loop. A termination signal is handled wherever
    // events are being processed, perhaps deep inside a dialog, a message
    // box or a wait for a worker; it only asks for the close and ends this
    // loop, which returns once every loop nested in it has. Only this loop
    // is ended, so the nested waits keep their full time meanwhile.
    QEventLoop outermost;
    m32::TerminationSignals termination(
        [&] {
          menu.RequestClose();
          outermost.exit(0);
        },
        [&] { menu.SwitchOffForStop(); });
    menu.StartUp();
    if (!menu.CloseRequested()) menu.CreateChildWindows();
    if (!menu.CloseRequested() && !menu.Closed()) outermost.exec();
    if (!menu.Closed()) menu.CloseSequence();
    return 0;
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, app.applicationName(), QString::fromLocal8Bit(e.what()));
    return 1;
  }
}
