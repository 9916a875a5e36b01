// The files service's reading, the same on every system: only the path
// spelling (NativeDataPath) and the calls that take a path's characters
// (OpenFile, FileSystemPath, PathText) belong to a backend.
#include "platform/Files.h"

#include <filesystem>
#include <new>
#include <system_error>

#include "show/ShowTable.h"

namespace {

std::string& ShowFolderSetting() {
  static std::string folder = ShowFolder;
  return folder;
}

}  // namespace

void SetShowFolder(const std::string& folder) { ShowFolderSetting() = folder; }

const std::string& CurrentShowFolder() { return ShowFolderSetting(); }

std::string ShowFilePath(const std::string& folder, const std::string& file) {
  if (folder.empty()) return file;
  // "DIR/" and "C:\DIR\" already end in a separator; both are separators on
  // every system the files service knows.
  const char last = folder.back();
  if (last == '/' || last == '\\') return folder + file;
  return folder + "/" + file;
}

std::string ShowFilePath(const std::string& file) { return ShowFilePath(CurrentShowFolder(), file); }

bool CheckShowFolder(const std::string& folder, std::string& why) {
  namespace fs = std::filesystem;
  if (folder.empty()) {
    why = "the folder name is empty";
    return false;
  }
  std::error_code error;
  const fs::file_status status = fs::status(FileSystemPath(NativeDataPath(folder.c_str())), error);
  if (!fs::exists(status)) {
    why = error && error != std::errc::no_such_file_or_directory ? error.message() : "no such folder";
    return false;
  }
  if (!fs::is_directory(status)) {
    why = "not a folder";
    return false;
  }
  return true;
}

std::FILE* OpenDataFile(const char* path, const char* mode) { return OpenFile(NativeDataPath(path), mode); }

FileRead ReadDataFile(const char* path, std::vector<unsigned char>& bytes, std::size_t limit) {
  bytes.clear();
  std::FILE* file = OpenDataFile(path, "rb");
  if (!file) return FileRead::CannotOpen;
  FileRead result = FileRead::Ok;
  unsigned char chunk[65536];
  std::size_t got;
  try {
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
      if (got > limit - bytes.size()) {
        result = FileRead::TooLarge;
        break;
      }
      bytes.insert(bytes.end(), chunk, chunk + got);
    }
  } catch (const std::bad_alloc&) {
    result = FileRead::TooLarge;
  }
  if (result == FileRead::TooLarge) {
    bytes.clear();
    bytes.shrink_to_fit();
  } else if (std::ferror(file)) {
    result = FileRead::ReadError;
  }
  std::fclose(file);
  return result;
}
