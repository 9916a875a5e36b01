// Files service: opens the demo's data files by the path strings the demo
// itself uses. Those strings were written for a system whose directory
// separator is the backslash ("res\steak_control.track"), so a backslash in
// them is a directory separator everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

// The path as this system's file calls want it: on Linux every '\' becomes
// '/'; on Windows the path stays as it is.
std::string NativeDataPath(const char* path);

// The show's folder: the music, the seven images and the track files all lie
// in it. ShowFolder ("res", relative to the working directory) unless the
// command line chose another at start (demo --show DIR), before any file of
// the show is opened.
void SetShowFolder(const std::string& folder);
const std::string& CurrentShowFolder();
// The path of one of the show's files: file inside folder. Every reader of a
// show, the demo and demotool alike, builds its paths with this, so that a
// folder means the same to each.
std::string ShowFilePath(const std::string& folder, const std::string& file);
// The same inside CurrentShowFolder().
std::string ShowFilePath(const std::string& file);
// Whether folder can be a show's folder: it exists and is a folder. False
// with the reason (a few words) in why.
bool CheckShowFolder(const std::string& folder, std::string& why);

// fopen on NativeDataPath(path); null when the file cannot be opened.
std::FILE* OpenDataFile(const char* path, const char* mode);

// Every path string inside the programs is UTF-8, whatever the system: the
// command line is read as UTF-8 (CommandLine.h), and names found in a folder
// come back as UTF-8 (PathText). On Windows the C runtime's fopen and a
// std::filesystem::path made from a std::string read 8-bit names in the ANSI
// code page, so a folder named outside it ("Ωmega демо") could not be found;
// these open through the system's wide calls instead. Elsewhere they are the
// plain calls. The path is used as it is named (no separator translation:
// NativeDataPath first for the demo's own strings).

// fopen of a UTF-8 path; null with errno set when it cannot be opened.
std::FILE* OpenFile(const std::string& path, const char* mode);
// A UTF-8 path as std::filesystem and the C++ file streams take it: every
// std::filesystem call and every stream opened on a path string goes
// through this.
std::filesystem::path FileSystemPath(const std::string& path);
// The reverse, for messages and for names found in a folder: UTF-8.
std::string PathText(const std::filesystem::path& path);

enum class FileRead { Ok, CannotOpen, ReadError, TooLarge };

// Reads the whole file into bytes, which hold exactly what was read: after a
// read error the bytes before it, after TooLarge (over limit bytes, or more
// than memory allows) nothing. Reads in chunks, so the file's claimed size is
// never trusted for an allocation.
FileRead ReadDataFile(const char* path, std::vector<unsigned char>& bytes,
                      std::size_t limit = SIZE_MAX);

// An output written under a temporary name beside its final path and renamed
// over it only once complete, so that a failure never leaves a partial file
// under the final name (nor replaces a good older one).
// A path that names something other than a file (a device such as /dev/null,
// a pipe) is written in place instead: renaming over it would replace it.
struct PendingFile {
  std::string finalPath;
  std::string tempPath;  // empty once committed or discarded
  bool inPlace = false;  // tempPath is finalPath, never renamed or removed
};

// Creates the temporary file (empty, with the permissions a new file at path
// would get). False with the reason in error when the folder cannot be
// written to or path names a folder.
bool CreatePendingFile(const std::string& path, PendingFile& file, std::string& error);
// Renames the temporary file to the final path. False with the reason in
// error (the temporary file is removed then).
bool CommitPendingFile(PendingFile& file, std::string& error);
// Removes the temporary file; nothing when there is none.
void DiscardPendingFile(PendingFile& file);
