// Command line on Windows: CommandLineToArgvW splits the UTF-16 command line
// by the same rules as the C runtime splits it for main, so the two agree on
// the count; should they not (a runtime with other quoting rules), main's
// own arguments are kept, which at worst misspell names outside the ANSI
// code page as they always did.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

#include "platform/CommandLine.h"
#include "platform/windows/TextWin32.h"

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  int count = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
    if (count == argc) {
      for (int i = 0; i < count; ++i) arguments.push_back(Utf8Text(wide[i], wcslen(wide[i])));
    }
    LocalFree(wide);
  }
  if (int(arguments.size()) != argc) {
    arguments.clear();
    for (int i = 0; i < argc && argv && argv[i]; ++i) arguments.emplace_back(argv[i]);
  }
  return arguments;
}

namespace {

UINT consoleCodePage = 0;  // the console's own, to put back; 0: untouched

void RestoreConsoleCodePage() {
  if (consoleCodePage != 0) SetConsoleOutputCP(consoleCodePage);
}

bool IsConsole(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

}  // namespace

void UseUtf8Console() {
  if (consoleCodePage != 0 || (!IsConsole(STD_OUTPUT_HANDLE) && !IsConsole(STD_ERROR_HANDLE))) return;
  const UINT current = GetConsoleOutputCP();
  if (current == 0 || current == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
  consoleCodePage = current;
  std::atexit(RestoreConsoleCodePage);
}
