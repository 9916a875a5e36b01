// Files service: opens the demo's data files by the path strings the demo
// itself uses. Those strings were written for a system whose directory
// separator is the backslash ("res\steak_control.track"), so a backslash in
// them is a directory separator everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The path as this system's file calls want it: on Linux every '\' becomes
// '/'; on Windows the path stays as it is.
std::string NativeDataPath(const char* path);

// fopen on NativeDataPath(path); null when the file cannot be opened.
std::FILE* OpenDataFile(const char* path, const char* mode);

enum class FileRead { Ok, CannotOpen, ReadError, TooLarge };

// Reads the whole file into bytes, which hold exactly what was read: after a
// read error the bytes before it, after TooLarge (over limit bytes, or more
// than memory allows) nothing. Reads in chunks, so the file's claimed size is
// never trusted for an allocation.
FileRead ReadDataFile(const char* path, std::vector<unsigned char>& bytes,
                      std::size_t limit = SIZE_MAX);
