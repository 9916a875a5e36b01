// Image loader: creating one loads the file at path into the slot's texture,
// by the system picture route or our own PNG route.
#pragma once

#include <vector>

struct SystemImage;

struct ImageLoader {
  ImageLoader(const char* path, int slot);
};

// The system route: draws the image's picture stretched over a square of the
// render edge, keys it and uploads it into the slot's texture. 1 when a
// texture image was handed to GL, else 0 (the loader ignores it).
int UploadSystemImage(const SystemImage& image, int slot);

// The whole file at path into bytes; empty when the file is missing,
// unreadable or empty.
void ReadFileBytes(const char* path, std::vector<unsigned char>& bytes);

// The PNG route: decodes the file with our PNG decoder, pads it to powers of
// two by nearest neighbour and uploads it with its own alpha. On a decoder
// error, or a padded size that does not fit in 32 bits or in memory, nothing
// is uploaded and one line on stderr names the file. 1 when uploaded, else 0.
int UploadPngImage(const char* path, int slot);
