// The key codes the field rules work with, as the windows hand them on:
// either Enter key, and Escape.
#pragma once

namespace m32 {

inline constexpr int kKeyEnter = 13;
inline constexpr int kKeyEscape = 27;

}  // namespace m32
