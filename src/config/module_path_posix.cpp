// The executable's path and the user's settings folder on Linux.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "config/settings.h"

namespace m32::config {

std::string ModulePath::PlatformExecutablePath() {
  std::error_code ec;
  // The kernel's link names the real file, so a symlink to the executable
  // leads to the folder that holds it.
  std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && p.is_absolute()) {
    std::filesystem::path c = std::filesystem::canonical(p, ec);
    if (!ec) return c.string();
    return p.string();
  }
  return "merkat32";
}

std::string ModulePath::PlatformUserConfigFolder() {
  // The XDG base directories: a relative $XDG_CONFIG_HOME is to be ignored.
  // NOLINTBEGIN(concurrency-mt-unsafe): read at start-up, nothing sets them
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/";
  const char* home = std::getenv("HOME");
  // NOLINTEND(concurrency-mt-unsafe)
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/";
  return {};
}

}  // namespace m32::config
