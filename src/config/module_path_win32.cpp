// The executable's path on Windows, kept as UTF-8.
#include <windows.h>

#include <string>
#include <vector>

#include "config/settings.h"
#include "config/utf8_path_win32.h"

namespace m32::config {

std::string ModulePath::PlatformExecutablePath() {
  // The buffer grows until the whole path fits (paths may exceed MAX_PATH).
  std::vector<wchar_t> buf(MAX_PATH);
  for (int i = 0; i < 8; ++i) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) break;
    if (n < buf.size()) {
      const std::string path = Utf8Path(std::wstring(buf.data(), n));
      if (!path.empty()) return path;
      break;
    }
    buf.resize(buf.size() * 2);
  }
  return "merkat32.exe";
}

}  // namespace m32::config
