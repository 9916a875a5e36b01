#include "TrackSources.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/Files.h"
#include "show/ShowTable.h"
#include "sync/TrackFile.h"
#include "sync/TrackText.h"

namespace {

// The show table's order, except that control leads: it decides what the
// others are drawn over. Tracks the show does not know come after, by name.
int ShowOrder(const std::string& name) {
  if (name == ControlTrackName) return -1;
  for (std::size_t i = 0; i < FrameTrackCount; ++i)
    if (name == FrameTracks[i].name) return static_cast<int>(i);
  return static_cast<int>(FrameTrackCount);
}

void SortInShowOrder(std::vector<PlotTrack>& tracks) {
  std::stable_sort(tracks.begin(), tracks.end(), [](const PlotTrack& a, const PlotTrack& b) {
    const int oa = ShowOrder(a.name), ob = ShowOrder(b.name);
    return oa != ob ? oa < ob : (oa == int(FrameTrackCount) && a.name < b.name);
  });
}

int LoadFolder(const std::string& folder, std::vector<PlotTrack>& tracks, const char* who) {
  for (const FrameTrack& frameTrack : FrameTracks) tracks.push_back({frameTrack.name, {}, {}});
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(FileSystemPath(folder), ec)) {
    const std::string file = PathText(entry.path().filename());
    if (file.rfind("steak_", 0) != 0 || file.size() <= 12 || file.compare(file.size() - 6, 6, ".track") != 0) continue;
    const std::string name = file.substr(6, file.size() - 12);
    const std::string path = PathText(entry.path());
    std::vector<uint8_t> bytes;
    if (!ReadWholeTrackFile(path.c_str(), bytes)) {
      std::fprintf(stderr, "%s: cannot read %s\n", who, path.c_str());
      return 2;
    }
    const TrackFileScan scan = ScanTrackBytes(bytes.data(), bytes.size());
    if (scan.refused) {
      std::fprintf(stderr, "%s: %s is refused by the demo (%s); drawn without keys\n", who,
                   path.c_str(), scan.findings.empty() ? "damaged" : scan.findings.back().message.c_str());
    }
    auto known = std::find_if(tracks.begin(), tracks.end(), [&](const PlotTrack& t) { return t.name == name; });
    if (known == tracks.end()) known = tracks.insert(tracks.end(), PlotTrack{name, {}, {}});
    if (!scan.refused) known->keys = scan.keys;
  }
  if (ec) {
    std::fprintf(stderr, "%s: cannot list %s: %s\n", who, folder.c_str(), ec.message().c_str());
    return 2;
  }
  SortInShowOrder(tracks);
  return 0;
}

int LoadText(const std::string& path, std::vector<PlotTrack>& tracks, const char* who) {
  std::ifstream in(FileSystemPath(path), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    std::fprintf(stderr, "%s: cannot read %s\n", who, path.c_str());
    return 2;
  }
  std::vector<TrackTextError> errors;
  const std::vector<TrackSource> sources = ParseTrackText(text.str(), errors);
  for (const TrackTextError& e : errors) std::fprintf(stderr, "%s:%d: %s\n", path.c_str(), e.line, e.message.c_str());
  if (!errors.empty()) return 1;
  for (const TrackSource& source : sources) tracks.push_back({source.name, source.keys, {}});
  SortInShowOrder(tracks);
  return 0;
}

}  // namespace

int LoadPlotTracks(const std::string& source, std::vector<PlotTrack>& tracks, const char* who) {
  std::error_code ec;
  const std::filesystem::path native = FileSystemPath(source);
  if (std::filesystem::is_directory(native, ec)) return LoadFolder(source, tracks, who);
  if (!std::filesystem::exists(native, ec)) {
    std::fprintf(stderr, "%s: no such file or folder: %s\n", who, source.c_str());
    return 2;
  }
  return LoadText(source, tracks, who);
}
