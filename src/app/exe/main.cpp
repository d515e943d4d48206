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

#include "app/main_window.h"
#include "app/termination_qt.h"
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
  // The settings file lies beside the executable.
  const std::string exe = m32::config::ModulePath::PlatformExecutablePath();
  const std::filesystem::path folder =
      std::filesystem::path(std::u8string(exe.begin(), exe.end())).parent_path();
  auto log = std::make_unique<m32::eventlog::EventLog>(
      m32::eventlog::LogFilePath(request, folder, std::time(nullptr)),
      [&ctx] { return ctx.settings.record.AdMode(); });
  ctx.line_events = log.get();
  return log;
}

}  // namespace

int main(int argc, char** argv) {
  // From here on no way of ending that can be caught leaves an output on.
  m32::InstallProcessEndHandlers();
  Application app(argc, argv);
  app.setApplicationName("merkat32");
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
    m32::TerminationSignals termination([&] {
      menu.RequestClose();
      outermost.exit(0);
    });
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
