#include "platform/windows/TextWin32.h"

#include <windows.h>

#include <climits>

std::wstring WideText(const std::string& utf8) {
  if (utf8.empty() || utf8.size() > size_t(INT_MAX)) return std::wstring();
  const int size = int(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(size_t(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8Text(const wchar_t* utf16, size_t length) {
  if (!utf16 || length == 0 || length > size_t(INT_MAX)) return std::string();
  const int size = int(length);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, utf16, size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string utf8(size_t(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16, size, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

std::string Utf8Text(const std::wstring& utf16) { return Utf8Text(utf16.data(), utf16.size()); }
