// Pending output files on Windows: a temporary beside the final name, made
// with CREATE_NEW so that two runs never share one, and moved over the final
// name with MoveFileExW, which replaces an older file of that name. Names are
// UTF-8 inside the program and reach the system through its wide calls, so
// an output in a folder named outside the ANSI code page works too. Something
// at the path that is not a disk file (NUL, CON, a named pipe) is written in
// place and left standing, as renaming over a device is not possible.
//
// What it cannot do: a temporary whose process is ended outright (Task
// Manager, TerminateProcess, a second Ctrl+C after the first was not taken
// up, the console closing) stays behind under its ".partial-" name: the
// writer holds it open without sharing its deletion, so not even the console
// handler could remove it.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/Files.h"
#include "platform/windows/TextWin32.h"

namespace {

constexpr char TempMarker[] = ".partial-";

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length ? std::string(text, length) : "error " + std::to_string(code);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

// What stands at path now: nothing, a folder, a disk file or something else.
enum class Standing { Nothing, Folder, DiskFile, Device };

Standing WhatStandsAt(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return Standing::Folder;
  // Devices such as NUL have no attributes on every system; opening without
  // asking for access tells what they are without touching them.
  HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Standing::Nothing;
  const DWORD type = GetFileType(handle);
  CloseHandle(handle);
  return type == FILE_TYPE_DISK ? Standing::DiskFile : Standing::Device;
}

}  // namespace

bool CreatePendingFile(const std::string& path, PendingFile& file, std::string& error) {
  file = PendingFile{path, {}};
  const std::wstring widePath = WideText(path);
  const Standing standing = path.empty() ? Standing::Folder : WhatStandsAt(widePath);
  if (standing == Standing::Folder || path.back() == '/' || path.back() == '\\') {
    error = "'" + path + "' is a folder, not a file name";
    return false;
  }
  if (standing == Standing::Device) {
    file.tempPath = path;
    file.inPlace = true;
    return true;
  }
  // The process id and a counter make the name unique among runs; CREATE_NEW
  // makes sure, and a name taken by a run before us is passed over.
  static unsigned counter = 0;
  DWORD lastError = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = path + TempMarker + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
    HANDLE handle = CreateFileW(WideText(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
      file.tempPath = name;
      return true;
    }
    lastError = GetLastError();
    if (lastError != ERROR_FILE_EXISTS && lastError != ERROR_ALREADY_EXISTS) break;
  }
  error = "cannot write '" + path + "': " + SystemMessage(lastError);
  return false;
}

bool CommitPendingFile(PendingFile& file, std::string& error) {
  if (file.tempPath.empty()) {
    error = "nothing was written";
    return false;
  }
  if (file.inPlace) {
    file.tempPath.clear();
    return true;
  }
  if (!MoveFileExW(WideText(file.tempPath).c_str(), WideText(file.finalPath).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = "cannot rename the finished file to '" + file.finalPath + "': " + SystemMessage(GetLastError());
    DiscardPendingFile(file);
    return false;
  }
  file.tempPath.clear();
  return true;
}

void DiscardPendingFile(PendingFile& file) {
  if (!file.tempPath.empty() && !file.inPlace) DeleteFileW(WideText(file.tempPath).c_str());
  file.tempPath.clear();
}
