#include "app/console_close_win32.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace m32 {
namespace {

// The handler is a plain function: what it calls lives here.
std::mutex g_mutex;
std::function<void()> g_request_close;  // guarded by g_mutex
HANDLE g_finished = nullptr;            // manual reset; set when the requests end

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  HANDLE finished = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_request_close) return FALSE;
    g_request_close();
    finished = g_finished;
  }
  // Ctrl+C and Ctrl+Break leave the process running: the close ends it.
  if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) return TRUE;
  if (finished != nullptr) {
    ::WaitForSingleObject(finished, static_cast<DWORD>(ConsoleCloseRequests::kCloseGrace.count()));
  }
  return TRUE;
}

}  // namespace

ConsoleCloseRequests::ConsoleCloseRequests(std::function<void()> request_close) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_request_close = std::move(request_close);
    if (g_finished == nullptr) g_finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_finished != nullptr) ::ResetEvent(g_finished);
  }
  installed_ = ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != FALSE;
}

ConsoleCloseRequests::~ConsoleCloseRequests() {
  if (installed_) ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_request_close = nullptr;
  // The event stays: a handler thread may still be waiting on it.
  if (g_finished != nullptr) ::SetEvent(g_finished);
}

}  // namespace m32
