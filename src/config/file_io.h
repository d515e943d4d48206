// Small file helpers shared by the settings and the language files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace m32::config {

// Replaces `path` with `data` so that a reader sees either the old file or the
// whole new one, never a truncated file, even if the process dies half-way:
// the bytes go to a temporary file in the same folder, are flushed to disk and
// the temporary file is renamed over the old one. Returns false on any failure,
// and then leaves no temporary file behind and the old file untouched.
bool WriteFileAtomically(const std::string& path, std::string_view data);

enum class ReadStatus {
  kOk,
  kMissing,     // no such file
  kUnreadable,  // exists but cannot be opened or read, or is not a regular file
};

// Reads at most `limit` bytes from the start of a regular file into `out`.
ReadStatus ReadFilePrefix(const std::string& path, std::size_t limit, std::string& out);

}  // namespace m32::config
