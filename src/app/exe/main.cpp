// merkat32: start-up. The main window is created first (its FormCreate shows
// it, opens the port and starts the I/O display), then the seven other
// windows, hidden, in their fixed order; then the message loop runs.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "app/main_window.h"
#include "app/termination_qt.h"

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
  Application app(argc, argv);
  app.setApplicationName("merkat32");
  try {
    m32::AppContext ctx;
    m32::TWmenu menu(ctx);
    bool exiting = false;
    m32::TerminationSignals termination([&] {
      if (exiting) return;
      exiting = true;
      // Close whatever modal window or message box is open, then the orderly
      // close, then leave every event loop.
      while (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        if (QApplication::activeModalWidget() == modal) modal->hide();
      }
      menu.CloseSequence();
      QCoreApplication::exit(0);
    });
    menu.FormCreate();
    menu.CreateChildWindows();
    if (exiting || menu.Closed()) return 0;
    const int rc = QApplication::exec();
    if (!menu.Closed()) menu.CloseSequence();
    return rc;
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, app.applicationName(), QString::fromLocal8Bit(e.what()));
    return 1;
  }
}
