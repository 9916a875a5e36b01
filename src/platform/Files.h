// Files service: opens the demo's data files by the path strings the demo
// itself uses. Those strings were written for a system whose directory
// separator is the backslash ("res\steak_control.track"), so a backslash in
// them is taken as a directory separator here.
#pragma once

#include <cstdio>
#include <string>

// The path as this system's file calls want it: every '\' becomes '/'.
std::string NativeDataPath(const char* path);

// fopen on NativeDataPath(path); null when the file cannot be opened.
std::FILE* OpenDataFile(const char* path, const char* mode);
