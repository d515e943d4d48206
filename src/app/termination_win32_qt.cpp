// TerminationSignals on Windows: the console's Ctrl+C, Ctrl+Break, the
// closing of its window, log-off and shutdown (see ConsoleCloseRequests) run
// on_signal on the UI thread, as a termination signal does on Linux. For the
// last three Windows ends the process as soon as the console handler returns:
// the handler waits until this object is gone, which main does only once the
// close sequence has run (whether it was asked for here or was already under
// way). The end of the session is answered by the main window
// (MainWindow::CloseNow on WM_ENDSESSION); WM_QUERYENDSESSION is never
// refused.
#include <QMetaObject>
#include <memory>
#include <utility>

#include "app/console_close_win32.h"
#include "app/termination_qt.h"
#include "link/emergency_off.h"

namespace m32 {
namespace {

std::unique_ptr<ConsoleCloseRequests> g_console;  // one TerminationSignals per process

}  // namespace

void InstallProcessEndHandlers() {
  link::emergency::Install();
}

TerminationSignals::TerminationSignals(std::function<void()> on_signal,
                                       std::function<void()> on_stop, QObject* parent)
    : QObject(parent), on_signal_(std::move(on_signal)), on_stop_(std::move(on_stop)) {
  // Called on the system's handler thread: only post the request.
  g_console = std::make_unique<ConsoleCloseRequests>([this] {
    QMetaObject::invokeMethod(
        this, [this] { Drain(); }, Qt::QueuedConnection);
  });
}

TerminationSignals::~TerminationSignals() {
  // Lets a console handler that waits for the close return.
  g_console.reset();
}

void TerminationSignals::Drain() {
  if (on_signal_) on_signal_();
}

}  // namespace m32
