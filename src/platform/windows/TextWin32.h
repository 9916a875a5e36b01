// UTF-8, which the programs hold all their text in, to and from the UTF-16
// that the system's wide calls take. Invalid sequences become U+FFFD rather
// than failing: a name that cannot be spelt is then not found, and says so.
#pragma once

#include <string>

std::wstring WideText(const std::string& utf8);
std::string Utf8Text(const wchar_t* utf16, size_t length);
std::string Utf8Text(const std::wstring& utf16);
