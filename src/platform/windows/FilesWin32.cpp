// Files service on Windows: the demo's path strings are Windows paths already
// ("res\steak_control.track" as well as "res/vorn.gif"), so they are opened as
// they stand. The C runtime's fopen takes them in the ANSI code page, as the
// demo's 8-bit strings are meant.
#include "platform/Files.h"

std::string NativeDataPath(const char* path) { return std::string(path ? path : ""); }
