// The line that crawls across the bottom of the picture for the whole show:
// 1295 printable characters on one line, drawn in full every frame.
#pragma once

#include <cstdint>

inline constexpr int32_t ScrollTextLength = 1295;

// Zero-terminated after ScrollTextLength characters.
extern const char* const ScrollText;
