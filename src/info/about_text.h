// The about window's text: the product banner, the maker's address block and
// the line naming the tool's purpose. The same in every language.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace m32::info {

// The maker's address block: company and postal address; telephone and fax;
// e-mail and web (UTF-8).
extern const std::array<std::string_view, 3> kMakerAddress;

// banner + "\n" + the three address lines each ended by "\n" + "\n\n" +
// "\n\n\nTest vstupů a výstupů.\n" (UTF-8 in, UTF-8 out): ten lines.
std::string AboutText(std::string_view banner_utf8);

}  // namespace m32::info
