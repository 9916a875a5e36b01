// PNG writer: stills of the show as ordinary RGBA PNG files.
#pragma once

#include <cstdint>
#include <string>

// Writes width x height RGBA pixels, rows stored bottom to top as GL reads
// them, to path as an 8-bit RGBA PNG with the top row first. The same pixels
// always give the same bytes (no time stamp or other varying chunk). False
// with the reason in error; the file may then be partial, so write to a
// pending file (Files.h).
bool WritePngBottomUp(const std::string& path, const uint8_t* rgba, int width, int height,
                      std::string& error);
