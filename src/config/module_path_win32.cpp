// The executable's path and the user's settings folder on Windows, kept as
// UTF-8.
#include <windows.h>

#include <cwchar>
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

std::string ModulePath::PlatformUserConfigFolder() {
  // The roaming application data folder, %USERPROFILE%\AppData\Roaming.
  const wchar_t* appdata = ::_wgetenv(L"APPDATA");
  if (appdata == nullptr || appdata[0] == L'\0') return {};
  const std::string folder = Utf8Path(std::wstring(appdata));
  if (folder.empty()) return {};
  return folder + "\\";
}

}  // namespace m32::config
