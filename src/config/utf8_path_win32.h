// UTF-8 paths to and from the wide characters of the Windows calls.
#pragma once

#include <string>

namespace m32::config {

// Empty when `utf8` is empty or not valid UTF-8.
std::wstring WidePath(const std::string& utf8);
std::string Utf8Path(const std::wstring& wide);

}  // namespace m32::config
