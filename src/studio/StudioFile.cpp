#include "studio/StudioFile.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "platform/Files.h"

namespace fs = std::filesystem;

namespace {

// How long a rename refused by another program's open handle is retried:
// an editor or a virus scanner holds a file for a moment, not for good.
constexpr int RenameTries = 10;
constexpr auto RenamePause = std::chrono::milliseconds(50);

}  // namespace

bool ReplaceFileText(const std::string& path, const std::string& text, std::string& why) {
  std::error_code error;
  // Wide on Windows: the rename below then takes any name, not only those
  // of the ANSI code page.
  fs::path target = FileSystemPath(path);
  // The link's target is the file; renaming over the link would replace the
  // link itself with a plain file.
  for (int hops = 0; hops < 40 && fs::is_symlink(target, error); ++hops) {
    const fs::path next = fs::read_symlink(target, error);
    if (error) break;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  const fs::file_status status = fs::status(target, error);
  if (error || !fs::is_regular_file(status)) {
    why = fs::exists(target) ? "not a plain file" : "missing";
    return false;
  }
  fs::path temporary = target;
  temporary += ".studio-new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(text.data(), std::streamsize(text.size()));
    out.close();
    if (!out) {
      fs::remove(temporary, error);
      why = "cannot write " + PathText(temporary.filename()) + " beside it";
      return false;
    }
  }
  fs::permissions(temporary, status.permissions(), fs::perm_options::replace, error);
  for (int attempt = 1;; ++attempt) {
    fs::rename(temporary, target, error);
    if (!error) return true;
    if (attempt == RenameTries) break;
    std::this_thread::sleep_for(RenamePause);
  }
  why = "cannot be replaced: " + error.message();
  fs::remove(temporary, error);
  return false;
}
