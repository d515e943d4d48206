// The tool as built for the process tests of its ends: the real main, and
// beside it a watcher that, when the file named by M32_END_HOOK appears, ends
// the process in a way the shipped program is never asked to, or holds it:
//   overflow   a runaway recursion on the UI thread (stack overflow)
//   exit       exit(3) called from the UI thread, as a library giving up does
//   terminate  std::terminate() on the UI thread
//   hold-ui    the UI thread held for 2 s, as a long layout or a stalled
//              clipboard hand-over holds it
#include <pthread.h>
#include <signal.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>
#include <thread>

int m32_tool_main(int argc, char** argv);

namespace {

volatile int g_keep_going = 1;  // never 0: the compiler cannot see the recursion end

int Recurse(int depth) {
  volatile char pad[1024];
  pad[0] = static_cast<char>(depth);
  const int deeper = g_keep_going != 0 ? Recurse(depth + 1) : 0;
  return deeper + pad[0];
}

void OnUiThread(void (*what)()) {
  while (QCoreApplication::instance() == nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  QMetaObject::invokeMethod(QCoreApplication::instance(), what, Qt::QueuedConnection);
}

void Watch(std::string file) {
  for (;;) {
    std::ifstream f(file);
    std::string action;
    if (f >> action) {
      if (action == "overflow") OnUiThread([] { static_cast<void>(Recurse(0)); });
      if (action == "exit") OnUiThread([] { std::exit(3); });
      if (action == "terminate") OnUiThread([] { std::terminate(); });
      if (action == "hold-ui")
        OnUiThread([] { std::this_thread::sleep_for(std::chrono::seconds(2)); });
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

int main(int argc, char** argv) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): no other thread yet
  if (const char* file = std::getenv("M32_END_HOOK")) {
    // Signals sent to the process are never taken on the watcher's thread.
    sigset_t all;
    sigfillset(&all);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &all, &before);
    std::thread(Watch, std::string(file)).detach();
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }
  return m32_tool_main(argc, argv);
}
