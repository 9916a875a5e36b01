// PNG decoder: the bytes of a PNG file to 8-bit RGBA, rows top to bottom.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct PngState {
  uint32_t width = 0;
  uint32_t height = 0;
  int error = 0;
  // further fields as the decoder needs them
};

// Decodes size bytes at in into out (RGBA). Sets state.error to 0 on success.
void decodeImage(std::vector<unsigned char>& out, PngState& state, const unsigned char* in,
                 size_t size);
