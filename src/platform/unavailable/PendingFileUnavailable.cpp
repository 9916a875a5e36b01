// Output files written under a temporary name, where the build has no such
// backend (Windows so far: only stills and captures write files, and they are
// refused there too). Refused with the reason; nothing is created.
#include "platform/Files.h"

#include "platform/BuildServices.h"

bool CreatePendingFile(const std::string& path, PendingFile& file, std::string& error) {
  file = PendingFile{};
  error = "cannot write '" + path + "': writing output files " + NotInThisBuild;
  return false;
}

bool CommitPendingFile(PendingFile& file, std::string& error) {
  error = "cannot write '" + file.finalPath + "': writing output files " + NotInThisBuild;
  file.tempPath.clear();
  return false;
}

void DiscardPendingFile(PendingFile& file) { file.tempPath.clear(); }
