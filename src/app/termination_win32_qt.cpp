// TerminationSignals on Windows. The close requests come from the console
// (Ctrl+C, Ctrl+Break, its window closed, log-off, shutdown: see
// ConsoleCloseRequests) and from the end of the session (WM_QUERYENDSESSION,
// which Qt hands on as commitDataRequest). Each runs on_signal on the UI
// thread, as a termination signal does on Linux. There is no socket
// notifier here, so Installed() says false.
#include <QGuiApplication>
#include <QMetaObject>
#include <QSessionManager>
#include <memory>
#include <utility>

#include "app/console_close_win32.h"
#include "app/termination_qt.h"

namespace m32 {
namespace {

std::unique_ptr<ConsoleCloseRequests> g_console;  // one TerminationSignals per process

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> on_signal, QObject* parent)
    : QObject(parent), on_signal_(std::move(on_signal)) {
  // Called on the system's handler thread: only post the request.
  g_console = std::make_unique<ConsoleCloseRequests>([this] {
    QMetaObject::invokeMethod(
        this, [this] { Drain(); }, Qt::QueuedConnection);
  });
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    // Windows ends the process soon after the session's end has been
    // answered, so the close runs now, inside the message. It is never refused.
    connect(
        app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { Drain(); },
        Qt::DirectConnection);
  }
}

TerminationSignals::~TerminationSignals() {
  g_console.reset();
}

void TerminationSignals::Drain() {
  if (on_signal_) on_signal_();
  // A console handler waiting for the close (its window closed, log-off,
  // shutdown) may let the process end now.
  if (g_console) g_console->CloseFinished();
}

}  // namespace m32
