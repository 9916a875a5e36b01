// Inflater: decompresses one zlib stream held in memory.
#pragma once

#include <vector>

// Decompresses [begin, end) into out (resized by the call). Returns 0 on
// success, otherwise an error code of the inflater's table.
int decompressZlib(std::vector<unsigned char>& out, const unsigned char* begin,
                   const unsigned char* end);
