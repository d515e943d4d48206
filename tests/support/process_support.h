// The live line seen from outside: a scratch folder beside which the tool and
// controller-sim meet on COM1, child processes started and ended by pid, the
// sim's log read as it grows, the CPU time a process has used, and a virtual
// X desk for what must be seen or typed.
// Shared by the process-level tests and the benchmarks; no test framework here.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace m32::test_support {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// CLOCK_MONOTONIC in microseconds: the clock of the sim's log lines.
inline int64_t MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit,
             std::chrono::milliseconds step = std::chrono::milliseconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return pred();
    std::this_thread::sleep_for(step);
  }
  return true;
}

// An empty folder under /tmp, removed with everything in it.
struct ScratchFolder {
  fs::path path;
  ScratchFolder() {
    char tmpl[] = "/tmp/m32liveXXXXXX";
    if (const char* p = ::mkdtemp(tmpl)) path = p;
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
};

// The settings file the tool reads at start: the line parameters and the
// A/D mode; everything else zero (the tool fills in what it needs).
struct LineFile {
  uint32_t divisor = 12;  // 115200 / divisor Bd
  uint8_t port_index = 0;
  uint8_t data_bits = 8;
  char parity = 'E';
  uint8_t stop_bits = 1;
  int16_t ad_mode = 0;
};

inline bool WriteSettings(const fs::path& file, const LineFile& l) {
  std::array<uint8_t, 100> r{};
  for (int i = 0; i < 4; ++i) r[static_cast<std::size_t>(i)] = (l.divisor >> (8 * i)) & 0xFF;
  r[4 + 2 * 3] = static_cast<uint8_t>(l.ad_mode & 0xFF);  // Constants[3]
  r[4 + 2 * 3 + 1] = static_cast<uint8_t>((l.ad_mode >> 8) & 0xFF);
  r[84] = l.port_index;
  r[85] = l.data_bits;
  r[86] = static_cast<uint8_t>(l.parity);
  r[87] = l.stop_bits;
  std::ofstream f(file, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(r.data()), static_cast<std::streamsize>(r.size()));
  return static_cast<bool>(f);
}

// A child process with its standard output and error in one file. It gets
// SIGTERM should this process die first, so nothing is left running.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { Kill(); }

  // Runs the next Start()ed process as this user and group, with no
  // supplementary groups (the caller must be root to switch).
  void RunAs(uid_t uid, gid_t gid) { run_as_ = {uid, gid}; }

  // extra_env: NAME=value entries put before the inherited environment.
  bool Start(const std::vector<std::string>& argv, const fs::path& output,
             const std::vector<std::string>& extra_env = {}) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::size_t inherited = 0;
    while (environ[inherited] != nullptr) ++inherited;
    std::vector<char*> env;
    env.reserve(extra_env.size() + inherited + 1);
    for (const auto& e : extra_env) env.push_back(const_cast<char*>(e.c_str()));
    for (std::size_t i = 0; i < inherited; ++i) env.push_back(environ[i]);
    env.push_back(nullptr);
    const std::string out = output.string();
    const pid_t parent = ::getpid();
    const auto run_as = run_as_;
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
      // Only async-signal-safe calls from here to exec.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(126);
      const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      const int null_in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
      }
      if (null_in >= 0) ::dup2(null_in, 0);
      if (run_as) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(run_as->second) != 0 ||
            ::setuid(run_as->first) != 0) {
          ::_exit(126);
        }
      }
      ::execve(args[0], args.data(), env.data());
      ::_exit(127);
    }
    pid_ = pid;
    return true;
  }

  pid_t Pid() const { return pid_; }
  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = status;
      pid_ = -1;
      return false;
    }
    return true;
  }
  // Exit code once ended (128 + signal for a signal); empty while running.
  std::optional<int> ExitCode() const {
    if (!status_) return std::nullopt;
    if (WIFEXITED(*status_)) return WEXITSTATUS(*status_);
    return 128 + WTERMSIG(*status_);
  }
  // Sends `sig` and waits up to `limit`; the exit code, or empty if it did
  // not end in time (then it is killed).
  std::optional<int> Stop(int sig, std::chrono::milliseconds limit) {
    if (pid_ > 0) ::kill(pid_, sig);
    return WaitEnd(limit);
  }
  std::optional<int> WaitEnd(std::chrono::milliseconds limit) {
    if (WaitFor([this] { return !Running(); }, limit)) return ExitCode();
    Kill();
    return std::nullopt;
  }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::optional<std::pair<uid_t, gid_t>> run_as_;
};

// PATH lookup; empty when the program is not installed.
inline std::string Which(const std::string& name) {
  const char* path = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe): read before any thread
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const fs::path p = fs::path(dir) / name;
    if (::access(p.c_str(), X_OK) == 0) return p.string();
  }
  return {};
}

inline std::string ReadText(const fs::path& p) {
  std::ifstream f(p);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// A virtual X server of its own (and openbox on it when installed, so that
// windows take the keyboard focus as on a desktop), for what cannot be seen
// or driven offscreen: message boxes looked for by caption, keys typed with
// xdotool. Available() is false when Xvfb or xdotool is missing.
class VirtualDesk {
 public:
  explicit VirtualDesk(const fs::path& folder) : folder_(folder) {
    const std::string xvfb = Which("Xvfb");
    xdotool_ = Which("xdotool");
    if (xvfb.empty() || xdotool_.empty()) return;
    const fs::path out = folder_ / "xvfb.out";
    if (!x_.Start({xvfb, "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"},
                  out)) {
      return;
    }
    WaitFor(
        [&] {
          // The display number comes on a line of its own; warnings about
          // displays already taken may come before it.
          std::istringstream lines(ReadText(out));
          for (std::string l; std::getline(lines, l);) {
            if (!l.empty() && l.find_first_not_of("0123456789") == std::string::npos) {
              display_ = ":" + l;
              return true;
            }
          }
          return false;
        },
        std::chrono::milliseconds(15000), std::chrono::milliseconds(50));
    const std::string openbox = Which("openbox");
    if (!display_.empty() && !openbox.empty()) {
      // Ready once it answers for the desktops it manages.
      if (wm_.Start({openbox}, folder_ / "openbox.out", {"DISPLAY=" + display_})) {
        WaitFor([&] { return Run({"get_desktop"}, folder_ / "xdotool.out"); },
                std::chrono::milliseconds(10000), std::chrono::milliseconds(50));
      }
    }
  }
  ~VirtualDesk() {
    wm_.Stop(SIGTERM, std::chrono::milliseconds(3000));
    x_.Stop(SIGTERM, std::chrono::milliseconds(3000));
  }
  VirtualDesk(const VirtualDesk&) = delete;
  VirtualDesk& operator=(const VirtualDesk&) = delete;

  bool Available() const { return !display_.empty(); }
  // The X server dies under whatever runs on it (the display is lost).
  void KillServer() { x_.Stop(SIGKILL, std::chrono::milliseconds(3000)); }
  pid_t ServerPid() const { return x_.Pid(); }
  const std::string& Display() const { return display_; }
  // The environment that puts a Qt program on this desk.
  std::vector<std::string> Env() const { return {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + display_}; }
  // xdotool with these arguments; true when it ended with 0.
  bool Run(const std::vector<std::string>& args, const fs::path& output) const {
    std::vector<std::string> argv{xdotool_};
    argv.insert(argv.end(), args.begin(), args.end());
    Child c;
    return c.Start(argv, output, {"DISPLAY=" + display_}) &&
           c.WaitEnd(std::chrono::milliseconds(5000)) == std::optional<int>(0);
  }
  // Types one key (xdotool's names: "alt+s", "space") into the focused window.
  bool Key(const std::string& key) const {
    return Run({"key", "--clearmodifiers", key}, folder_ / "xdotool.out");
  }
  // A window whose caption matches the regular expression `caption` is
  // shown, within `limit`.
  bool WaitWindow(const std::string& caption, std::chrono::milliseconds limit) const {
    const fs::path found = folder_ / "xdotool.search";
    return WaitFor(
        [&] {
          return Run({"search", "--onlyvisible", "--name", caption}, found) &&
                 !ReadText(found).empty();
        },
        limit, std::chrono::milliseconds(30));
  }

 private:
  fs::path folder_;
  std::string xdotool_;
  std::string display_;
  Child x_;
  Child wm_;
};

// user + system time of a live process (all its threads), in seconds.
inline std::optional<double> CpuSeconds(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream rest(text.substr(close + 2));
  std::string field;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  unsigned long long utime = 0;
  unsigned long long stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

struct LogLine {
  int64_t us = 0;
  std::string tag;
  std::vector<uint8_t> bytes;
  std::string text;  // an EVENT's words ("reopen COM1 -> /dev/pts/7")
};

// Reads the sim's log as it grows; hands out whole lines only.
class SimLog {
 public:
  explicit SimLog(fs::path path) : path_(std::move(path)) {}
  // The lines added since the last call.
  std::vector<LogLine> Poll() {
    std::vector<LogLine> lines;
    std::ifstream f(path_, std::ios::binary);
    if (!f) return lines;
    f.seekg(static_cast<std::streamoff>(offset_));
    std::string chunk((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::size_t start = 0;
    std::size_t nl = 0;
    while ((nl = chunk.find('\n', start)) != std::string::npos) {
      if (auto l = Parse(chunk.substr(start, nl - start))) lines.push_back(std::move(*l));
      start = nl + 1;
    }
    offset_ += start;
    return lines;
  }
  // Every line so far (from the start of the file).
  std::vector<LogLine> All() const {
    SimLog fresh(path_);
    return fresh.Poll();
  }
  static std::optional<LogLine> Parse(const std::string& text) {
    std::istringstream in(text);
    LogLine l;
    if (!(in >> l.us >> l.tag)) return std::nullopt;
    if (l.tag == "EVENT") {
      std::getline(in >> std::ws, l.text);
      return l;
    }
    std::string hex;
    while (in >> hex) {
      if (hex.size() != 2) return std::nullopt;
      l.bytes.push_back(static_cast<uint8_t>(std::stoul(hex, nullptr, 16)));
    }
    return l;
  }

 private:
  fs::path path_;
  std::size_t offset_ = 0;
};

// A LinkFrame carrying these four data bytes, checksum and end mark included.
inline std::vector<uint8_t> LinkFrameWith(std::array<uint8_t, 4> data) {
  std::vector<uint8_t> f{0xA2, 0x6B, data[0], data[1], data[2], data[3], 0x00, 0xFE};
  unsigned sum = 0;
  for (uint8_t b : f) sum += b;
  f[6] = static_cast<uint8_t>(0x100U - (sum & 0xFFU));
  return f;
}

#ifdef M32_SIM
// controller-sim on COMn in `folder`, logging to folder/sim.log and taking
// commands from folder/sim.ctl.
class Sim {
 public:
  Sim(const fs::path& folder, const std::vector<std::string>& extra)
      : folder_(folder), log_path_(folder / "sim.log"), control_(folder / "sim.ctl") {
    std::vector<std::string> argv{
        M32_SIM,     "--dir",           folder.string(), "--port", "1", "--log", log_path_.string(),
        "--control", control_.string(), "--no-stdin"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    started_ = child_.Start(argv, folder / "sim.out");
  }
  // True once COM1 is there for the tool to open.
  bool Ready(std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
    return started_ &&
           WaitFor([this] { return fs::is_symlink(folder_ / "COM1") || !child_.Running(); },
                   limit) &&
           child_.Running();
  }
  // One command line through the control FIFO.
  bool Send(const std::string& command) {
    const int fd = ::open(control_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const std::string line = command + "\n";
    const bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    return ok;
  }
  Child& Process() { return child_; }
  const fs::path& LogPath() const { return log_path_; }

 private:
  fs::path folder_;
  fs::path log_path_;
  fs::path control_;
  Child child_;
  bool started_ = false;
};
#endif  // M32_SIM

#ifdef M32_EXE
// The built tool copied into `folder` as merkat32 (its files are named after
// it there), started headless unless `env` says otherwise.
inline bool StartTool(Child& tool, const fs::path& folder, std::vector<std::string> env = {},
                      const std::string& output_name = "tool.out") {
  const fs::path exe = folder / "merkat32";
  std::error_code ec;
  if (!fs::exists(exe)) fs::copy_file(M32_EXE, exe, ec);
  if (ec) return false;
  bool platform_given = false;
  for (const auto& e : env) platform_given = platform_given || e.rfind("QT_QPA_PLATFORM=", 0) == 0;
  if (!platform_given) env.emplace_back("QT_QPA_PLATFORM=offscreen");
  return tool.Start({exe.string()}, folder / output_name, env);
}
#endif  // M32_EXE

// The LinkFrames the sim took off the line from `since` on.
inline std::vector<std::vector<uint8_t>> LinkFramesSince(const SimLog& log, int64_t since) {
  std::vector<std::vector<uint8_t>> frames;
  for (const auto& l : log.All()) {
    if (l.tag == "IN" && l.us >= since && l.bytes.size() == 8 && l.bytes[1] == 0x6B) {
      frames.push_back(l.bytes);
    }
  }
  return frames;
}

inline int CountTagged(const std::vector<LogLine>& lines, const std::string& tag,
                       const std::vector<uint8_t>* bytes = nullptr) {
  int n = 0;
  for (const auto& l : lines) {
    if (l.tag == tag && (bytes == nullptr || l.bytes == *bytes)) ++n;
  }
  return n;
}

}  // namespace m32::test_support
