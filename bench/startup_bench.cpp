// Start-up figures: the time from process start to the end of the main
// window's start-up (median of 20 fresh processes, offscreen, each in an empty
// folder with COM1 on a pseudo-terminal), and the peak memory of the real
// executable running for two seconds.
//
//   startup_bench [PATH_TO_MERKAT32]
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"

namespace {

double NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

int MakePty(const std::string& folder) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char slave[128] = {};
  if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0 &&
      ::ptsname_r(master, slave, sizeof slave) == 0) {
    std::filesystem::create_symlink(slave, folder + "/COM1");
  }
  return master;
}

// One start in this process: prints the milliseconds from `t0` (the parent's
// clock at fork) to the end of FormCreate.
int Child(int argc, char** argv, double t0) {
  QApplication app(argc, argv);
  QTemporaryDir dir;
  const int master = MakePty(dir.path().toStdString());
  m32::AppContext ctx;
  ctx.exe_path = dir.filePath("merkat32").toStdString();
  {
    m32::app::MainWindow menu(ctx);
    menu.StartUp();
    std::printf("%.3f\n", NowMs() - t0);
    // A failed write leaves the parent without this start's figure, and it
    // counts only the starts it heard of.
    (void)std::fflush(stdout);
    menu.CloseSequence();
  }
  ::close(master);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): first thing in main, no other thread yet
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (argc >= 3 && std::string(argv[1]) == "--child") return Child(argc, argv, std::atof(argv[2]));

  std::vector<double> ms;
  for (int i = 0; i < 20; ++i) {
    int out[2];
    if (::pipe(out) != 0) return 1;
    const std::string t0 = std::to_string(NowMs());
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(out[1], 1);
      ::execl("/proc/self/exe", argv[0], "--child", t0.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    char buf[64] = {};
    const ssize_t n = ::read(out[0], buf, sizeof buf - 1);
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    if (n > 0) ms.push_back(std::atof(buf));
  }
  std::sort(ms.begin(), ms.end());
  if (ms.empty()) return 1;
  std::printf(
      "start-up to the end of FormCreate: median %.1f ms, min %.1f, max %.1f (%zu starts)\n",
      ms[ms.size() / 2], ms.front(), ms.back(), ms.size());

  if (argc >= 2) {
    QTemporaryDir dir;
    const std::string exe = dir.filePath("merkat32").toStdString();
    std::filesystem::copy_file(argv[1], exe);
    const int master = MakePty(dir.path().toStdString());
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ::kill(pid, SIGTERM);
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    ::close(master);
    std::printf("peak memory of the running tool: %.1f MB (exit status %d)\n",
                static_cast<double>(ru.ru_maxrss) / 1024.0,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  return 0;
}
