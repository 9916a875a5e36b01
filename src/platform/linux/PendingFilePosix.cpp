// Pending output files on POSIX: mkstemp beside the final path, rename(2)
// over it, which replaces the final file in one step. Only files are replaced
// that way: a character device or a pipe is written in place.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/Files.h"
#include "platform/linux/PendingFileSignals.h"

namespace {

// The temporary being written, for a signal handler, which may call no
// allocator: a fixed buffer, valid while openTempSet is 1.
char openTemp[PATH_MAX];
volatile std::sig_atomic_t openTempSet = 0;

void RememberOpenTemp(const std::string& path) {
  openTempSet = 0;
  if (path.size() >= sizeof openTemp) return;
  std::memcpy(openTemp, path.c_str(), path.size() + 1);
  openTempSet = 1;
}

void ForgetOpenTemp(const std::string& path) {
  if (openTempSet && path == openTemp) openTempSet = 0;
}

constexpr char TempSuffix[] = ".partial-XXXXXX";

// The temporary's name: the final one with TempSuffix, its last component
// shortened where the two together would pass NAME_MAX (a valid 250-byte
// name would otherwise have no temporary).
std::string TempTemplate(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
  constexpr size_t room = NAME_MAX - (sizeof TempSuffix - 1);
  size_t baseLength = path.size() - baseStart;
  if (baseLength > room) {
    baseLength = room;
    // Not inside a UTF-8 character: 10xxxxxx bytes continue one.
    while (baseLength > 0 && (static_cast<unsigned char>(path[baseStart + baseLength]) & 0xC0) == 0x80) --baseLength;
  }
  return path.substr(0, baseStart + baseLength) + TempSuffix;
}

}  // namespace

bool CreatePendingFile(const std::string& path, PendingFile& file, std::string& error) {
  file = PendingFile{path, {}};
  struct stat existing {};
  const bool exists = !path.empty() && ::stat(path.c_str(), &existing) == 0;
  if (path.empty() || path.back() == '/' || (exists && S_ISDIR(existing.st_mode))) {
    error = "'" + path + "' is a folder, not a file name";
    return false;
  }
  if (exists && (S_ISCHR(existing.st_mode) || S_ISFIFO(existing.st_mode))) {
    // A device or a pipe takes the bytes as they come; what it has taken
    // cannot be taken back, so a failure is not undone either.
    file.tempPath = path;
    file.inPlace = true;
    return true;
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    error = "'" + path + "' is " + (S_ISBLK(existing.st_mode) ? "a disk device" : "a socket") +
            ", not somewhere to write a file";
    return false;
  }
  // mkstemp's name is unique in the folder, so two runs writing the same
  // output never share a temporary file; the final rename is atomic.
  std::string name = TempTemplate(path);
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
  RememberOpenTemp(name);
  return true;
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
  if (std::rename(file.tempPath.c_str(), file.finalPath.c_str()) != 0) {
    error = "cannot rename the finished file to '" + file.finalPath + "': " + std::strerror(errno);
    DiscardPendingFile(file);
    return false;
  }
  // Only now: a signal handler unlinking the old name finds nothing there.
  ForgetOpenTemp(file.tempPath);
  file.tempPath.clear();
  return true;
}

void DiscardPendingFile(PendingFile& file) {
  if (!file.tempPath.empty() && !file.inPlace) {
    ForgetOpenTemp(file.tempPath);
    std::remove(file.tempPath.c_str());
  }
  file.tempPath.clear();
}

void RemoveOpenPendingFileNow() {
  if (openTempSet) ::unlink(openTemp);
}
