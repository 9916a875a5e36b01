#include "shell/ShowPlayer.h"

#include <GL/gl.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/Display.h"
#include "platform/Files.h"
#include "show/ShowTable.h"
#include "show/ShowTrackNames.h"
#include "render/ImagePlanes.h"
#include "sync/MusicClock.h"
#include "sync/ShowTime.h"
#include "sync/TrackText.h"

namespace {

// Track text is a few kilobytes; anything this large is some other file.
constexpr std::uintmax_t LargestTrackText = 64u << 20;

}  // namespace

void SetFixedGlState() {
  glShadeModel(GL_SMOOTH);
  glClearDepth(1.0);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
}

const Track* ShowControlTrack() { return FrameTrackHandles[FrameTrackIndex(&FrameTrackValues::control)]; }

double ViewerFrameRate() {
  const int rate = DisplayRefreshRate();
  return rate > 0 ? rate : 60.0;
}

PlaneFades SetViewerFadesAt(double row, double framesPerSecond) {
  const PlaneFades fades = ReplayPlaneFades(ShowControlTrack(), row, framesPerSecond);
  SetPlaneFades(fades);
  return fades;
}

void JumpPlaneFadesTo(double row) { SetViewerFadesAt(row, ViewerFrameRate()); }

std::optional<double> MusicEndRow() { return MusicFileEndRow(ShowMusicPath()); }

std::string RowAsTime(double row) { return FormatShowTime(row / RowsPerSecond); }

std::string PastMusicEnd(double row, double endRow) {
  return RowAsTime(row) + " is past the end of the music (" + RowAsTime(endRow) + ")";
}

bool ReadTrackTextFile(const std::string& path, std::string& text, std::string& why) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path native = FileSystemPath(path);
  if (fs::is_directory(native, error)) {
    why = "a folder, not track text";
    return false;
  }
  const std::uintmax_t size = fs::file_size(native, error);
  if (error) {
    why = error.message();
    return false;
  }
  if (size > LargestTrackText) {
    why = "too large to be track text";
    return false;
  }
  std::ifstream in(native, std::ios::binary);
  if (!in) {
    why = "cannot be opened";
    return false;
  }
  std::ostringstream whole;
  whole << in.rdbuf();
  if (in.bad()) {
    why = "cannot be read";
    return false;
  }
  text = whole.str();
  return true;
}

bool CompileTrackTextFile(const std::string& path, Subsystem subsystem, std::vector<TrackSource>& sources) {
  std::string text, why;
  if (!ReadTrackTextFile(path, text, why)) {
    Say(subsystem, "'%s': %s", path.c_str(), why.c_str());
    return false;
  }
  std::vector<TrackTextError> errors;
  sources = ParseTrackText(text, errors);
  for (const TrackTextError& e : errors) Say(Subsystem::TrackText, "%s:%d: %s", path.c_str(), e.line, e.message.c_str());
  if (!errors.empty()) {
    Say(subsystem, "'%s' has errors; nothing written", path.c_str());
    sources.clear();
    return false;
  }
  for (const TrackSource& source : sources) {
    if (!IsShowTrack(source.name)) {
      Say(Subsystem::TrackText, "%s:%d: %s", path.c_str(), source.line,
          UnusedTrackMessage(source.name, QuoteWord(source.name)).c_str());
    }
  }
  return true;
}
