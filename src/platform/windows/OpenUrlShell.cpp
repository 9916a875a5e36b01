// Windows: ShellExecuteW with "open", which starts the default browser for
// an http address.
#include "platform/OpenUrl.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

bool OpenInBrowser(const std::string& url, std::string& why) {
  // The address is ASCII (digits, letters, punctuation), so each byte is
  // its own UTF-16 unit.
  const std::wstring wide(url.begin(), url.end());
  const HINSTANCE result = ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  // ShellExecute's result is an error code when it is 32 or less.
  const INT_PTR code = reinterpret_cast<INT_PTR>(result);
  if (code > 32) return true;
  why = "ShellExecute could not open it (error " + std::to_string(code) + ")";
  return false;
}
