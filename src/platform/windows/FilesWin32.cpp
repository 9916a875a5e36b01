// Files service on Windows: the demo's path strings are Windows paths already
// ("res\steak_control.track" as well as "res/vorn.gif"), so they are opened as
// they stand. They are UTF-8 and go to the system as UTF-16 (_wfopen and
// wide std::filesystem paths), so that any name opens, not only those of the
// ANSI code page.
#include "platform/Files.h"

#include "platform/windows/TextWin32.h"

std::string NativeDataPath(const char* path) { return std::string(path ? path : ""); }

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(WideText(path).c_str(), WideText(mode ? mode : "").c_str());
}

std::filesystem::path FileSystemPath(const std::string& path) { return std::filesystem::path(WideText(path)); }

std::string PathText(const std::filesystem::path& path) { return Utf8Text(path.native()); }
