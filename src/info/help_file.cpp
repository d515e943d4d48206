#include "info/help_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

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

HelpFileResult LoadHelpFile(const std::string& path) {
  struct stat st {};
  // A folder or a device under the help file's name cannot be opened as one.
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return Fail(path, "Cannot open file");
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  if (!f) return Fail(path, "Cannot open file");
  std::string bytes;
  char chunk[4096];
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
  r.document = ReadHelpText(bytes);
  return r;
}

HelpFileResult LoadHelpForLanguage(int language, const HelpNamer& name_for) {
  HelpFileResult r = LoadHelpFile(name_for(HelpExtension(language)));
  if (!r.ok && HelpExtension(language) != "HLP") r = LoadHelpFile(name_for("HLP"));
  return r;
}

}  // namespace m32::info
