// Small file helpers shared by the settings and the language files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace m32::config {

// Saves `data` as the file `path` in a way a shared or locked-down machine
// can live with. Returns false on any failure; then no temporary file is left
// behind and the old file keeps its bytes, except where a write in place (the
// last case below) failed part way.
//  - Normally the bytes go to a temporary file in the same folder, are flushed
//    to disk and the temporary file is renamed over the old one, so a reader
//    sees the old file or the whole new one, even if the process dies. A file
//    with other hard links is thereby split from them: they keep the old bytes.
//  - A symbolic link is followed: its final target gets the bytes and the
//    link stays a link. Only a link of this user's, root's or its folder
//    owner's is followed; a stranger's is left alone and nothing is saved.
//  - An existing file that this user may not read or may not write, or that
//    is not a regular file, is never replaced (an administrator's lock).
//  - The new file keeps the old one's mode, and its owner and group as far as
//    the system lets this user give them.
//  - When no temporary file can be made or renamed beside an existing file
//    that this user may write (a folder prepared by an administrator), the
//    file is overwritten in place: the new bytes first, then whatever the old
//    file had beyond them is cut off, then it is flushed to disk. A crash in
//    the middle of that leaves a mixed file.
bool SaveFile(const std::string& path, std::string_view data);

enum class ReadStatus {
  kOk,
  kMissing,     // no such file
  kUnreadable,  // exists but cannot be opened or read, or is not a regular file
};

// Reads at most `limit` bytes from the start of a regular file into `out`.
ReadStatus ReadFilePrefix(const std::string& path, std::size_t limit, std::string& out);

}  // namespace m32::config
