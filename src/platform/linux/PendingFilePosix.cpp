// Pending output files on POSIX: mkstemp beside the final path, rename(2)
// over it, which replaces the final file in one step.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Files.h"

bool CreatePendingFile(const std::string& path, PendingFile& file, std::string& error) {
  file = PendingFile{path, {}};
  struct stat existing {};
  if (path.empty() || path.back() == '/' ||
      (::stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode))) {
    error = "'" + path + "' is a folder, not a file name";
    return false;
  }
  // mkstemp's name is unique in the folder, so two runs writing the same
  // output never share a temporary file; the final rename is atomic.
  std::string name = path + ".partial-XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    error = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
  // mkstemp creates the file for its owner alone; the output gets the mode of
  // any new file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  file.tempPath = name;
  return true;
}

bool CommitPendingFile(PendingFile& file, std::string& error) {
  if (file.tempPath.empty()) {
    error = "nothing was written";
    return false;
  }
  if (std::rename(file.tempPath.c_str(), file.finalPath.c_str()) != 0) {
    error = "cannot rename the finished file to '" + file.finalPath + "': " + std::strerror(errno);
    DiscardPendingFile(file);
    return false;
  }
  file.tempPath.clear();
  return true;
}

void DiscardPendingFile(PendingFile& file) {
  if (!file.tempPath.empty()) std::remove(file.tempPath.c_str());
  file.tempPath.clear();
}
