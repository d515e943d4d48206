#include "info/help_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <utility>

#include <sys/stat.h>

namespace m32::info {

std::string HelpExtension(int language) {
  if (language < 1 || language > 9) return "HLP";
  return std::string("HL") + static_cast<char>('0' + language);
}

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { static_cast<void>(std::fclose(f)); }
};

HelpFileResult Fail(const std::string& path, const char* what) {
  HelpFileResult r;
  r.path = path;
  r.error = std::string(what) + " " + path + ".";
  return r;
}

}  // namespace

HelpFileResult ReadHelpFile(const std::string& path) {
  struct stat st {};
  // A folder or a device under the help file's name cannot be opened as one.
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return Fail(path, "Cannot open file");
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  if (!f) return Fail(path, "Cannot open file");
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(
      std::min<std::uintmax_t>(static_cast<std::uintmax_t>(st.st_size), kMaxHelpFileBytes)));
  char chunk[65536];
  for (;;) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, f.get());
    if (n > 0) {
      if (bytes.size() + n > kMaxHelpFileBytes) return Fail(path, "File too large:");
      bytes.append(chunk, n);
    }
    if (n < sizeof chunk) break;
  }
  if (std::ferror(f.get()) != 0) return Fail(path, "Cannot read file");
  HelpFileResult r;
  r.ok = true;
  r.path = path;
  r.bytes = std::move(bytes);
  return r;
}

HelpFileResult LoadHelpFile(const std::string& path) {
  HelpFileResult r = ReadHelpFile(path);
  if (r.ok) r.document = ReadHelpText(r.bytes);
  return r;
}

HelpFileResult ReadHelpForLanguage(int language, const HelpNamer& name_for) {
  HelpFileResult r = ReadHelpFile(name_for(HelpExtension(language)));
  if (!r.ok && HelpExtension(language) != "HLP") r = ReadHelpFile(name_for("HLP"));
  return r;
}

HelpFileResult LoadHelpForLanguage(int language, const HelpNamer& name_for) {
  HelpFileResult r = ReadHelpForLanguage(language, name_for);
  if (r.ok) r.document = ReadHelpText(r.bytes);
  return r;
}

}  // namespace m32::info
