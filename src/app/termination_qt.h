// How the process hears that it must end, and what it does about it.
//
// InstallProcessEndHandlers, first thing in main, before anything else can
// take time: from then on no way of ending the process that can be caught
// leaves an output on.
//  - Requests to terminate (SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2,
//    SIGALRM, SIGVTALRM, SIGPROF, SIGPWR, SIGXCPU, SIGXFSZ, SIGIO, SIGSTKFLT
//    and the real-time signals) get the orderly close: the handler only
//    writes to a socket pair; a signal that comes before the event loop runs
//    waits there.
//  - Faults and SIGQUIT get the all-off frame and then their default course
//    (link/emergency_off.h); so does any exit() while the port is open (a
//    library that gives up, the display's connection lost).
//  - SIGPIPE is ignored: a write to a closed pipe or socket fails with EPIPE
//    where it is made.
//  - Ctrl+Z (SIGTSTP) goes through the same socket pair: every output is
//    switched off on the line first, then the process stops itself; after
//    SIGCONT the outputs stay off.
// On Windows: the console's close requests (see termination_win32_qt.cpp);
// the end of the session is the main window's (MainWindow::CloseNow).
//
// TerminationSignals hands the requests to the UI thread: a QSocketNotifier
// reads the socket pair. The callback runs on the UI thread inside whatever
// event loop is running at that moment (a dialog, a message box, a wait for a
// worker), so it must only ask for the close; the close itself runs later,
// from the outermost loop. Once this object is gone the signals are ignored:
// the close is done by then and a late signal must not change the outcome.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>

namespace m32 {

void InstallProcessEndHandlers();

class TerminationSignals final : public QObject {
  Q_OBJECT
 public:
  // on_signal runs on the UI thread, once per wake-up (signals that come
  // together are answered once), also for one that came before this object.
  // on_stop likewise for Ctrl+Z, after on_signal when both came: it switches
  // the outputs off, and the process stops once it returns (POSIX only).
  explicit TerminationSignals(std::function<void()> on_signal, std::function<void()> on_stop = {},
                              QObject* parent = nullptr);
  ~TerminationSignals() override;

 private:
  void Drain();
  std::function<void()> on_signal_;
  std::function<void()> on_stop_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace m32
