// The executable's path on Linux.
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

}  // namespace m32::config
