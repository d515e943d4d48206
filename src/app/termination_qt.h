// SIGTERM, SIGINT and SIGHUP reach the event loop through a self-pipe (a
// socket pair written by the async-signal-safe handler and read by a
// QSocketNotifier), so the close sequence runs on the UI thread as for a
// normal close, also while a dialog or message box is open.
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
  bool Installed() const { return notifier_ != nullptr; }

 private:
  void Drain();
  std::function<void()> on_signal_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace m32
