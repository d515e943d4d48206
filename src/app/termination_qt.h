// SIGTERM, SIGINT and SIGHUP reach the event loop through a self-pipe (a
// socket pair written by the async-signal-safe handler and read by a
// QSocketNotifier). The callback runs on the UI thread inside whatever event
// loop is running at that moment (a dialog, a message box, a wait for a
// worker), so it must only ask for the close; the close itself runs later,
// from the outermost loop. Once this object is gone the signals are ignored:
// the close is done by then and a late signal must not change the outcome.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>

namespace m32 {

class TerminationSignals final : public QObject {
  Q_OBJECT
 public:
  // on_signal runs on the UI thread, once per delivered signal.
  explicit TerminationSignals(std::function<void()> on_signal, QObject* parent = nullptr);
  ~TerminationSignals() override;

 private:
  void Drain();
  std::function<void()> on_signal_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace m32
