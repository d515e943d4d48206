// merkat32: start-up. The main window is created first (its StartUp shows
// it, opens the port and starts the I/O display), then the seven other
// windows, hidden, in their fixed order; then the message loop runs.
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <exception>

#include "app/command_line.h"
#include "app/main_window.h"
#include "app/termination_qt.h"
#include "link/emergency_off.h"

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

}  // namespace

int main(int argc, char** argv) {
  // --help, --version and a mistyped option end here: no window, port or file.
  QCoreApplication::setApplicationName(QStringLiteral("merkat32"));
  QCoreApplication::setApplicationVersion(QStringLiteral(M32_VERSION));
  const m32::app::CommandLine command_line =
      m32::app::ParseCommandLine(m32::app::ArgumentList(argc, argv));
  if (command_line.outcome != m32::app::CommandLine::Outcome::kRun) {
    return m32::app::FinishEarly(command_line);
  }
  // Outputs off even should the process die of a fault from here on.
  m32::link::emergency::Install();
  Application app(argc, argv);
  app.setQuitOnLastWindowClosed(false);  // the main window's close ends the run
  try {
    m32::AppContext ctx;
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
