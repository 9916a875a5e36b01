// The studio's page (src/studio/page/), compiled into the program by the
// build (cmake/EmbedFiles.cmake), so that the demo stays a single file and
// no request ever reads the disk.
#pragma once

#include <cstddef>

struct StudioPageFile {
  const char* name;  // the path under page/: "index.html", "grid.js"
  const unsigned char* data;
  std::size_t size;
};

extern const StudioPageFile StudioPageFiles[];
extern const std::size_t StudioPageFileCount;
