// Image loader: creating one loads the file at path into the slot's texture,
// by the system picture route or our own PNG route.
#pragma once

struct ImageLoader {
  ImageLoader(const char* path, int slot);
};
