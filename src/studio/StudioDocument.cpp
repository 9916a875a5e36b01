#include "studio/StudioDocument.h"

#include <cstdlib>
#include <utility>

#include <nlohmann/json.hpp>

#include "show/ShowTable.h"
#include "show/ShowTrackNames.h"
#include "studio/StudioFile.h"
#include "sync/MusicClock.h"

namespace {

using nlohmann::json;

const char* ChangeName(StudioChange change) {
  switch (change) {
    case StudioChange::Start: return "start";
    case StudioChange::Edit: return "edit";
    case StudioChange::Undo: return "undo";
    case StudioChange::Redo: return "redo";
    case StudioChange::File: return "file";
  }
  return "start";
}


// The number a page reads back as the same float: the text's own shortest
// form (0.1, not 0.100000001490116).
double ShortestValue(float value) { return std::strtod(TrackTextModel::ValueText(value).c_str(), nullptr); }

json KindJson(int32_t kind) {
  if (const char* name = TrackKindName(kind)) return name;
  return kind;
}

json KeysJson(const std::vector<TrackKey>& keys) {
  json list = json::array();
  for (const TrackKey& key : keys) list.push_back({{"row", key.row}, {"value", ShortestValue(key.value)}, {"kind", KindJson(key.kind)}});
  return list;
}

std::string Dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

StudioDocument::StudioDocument(std::string path) : path_(std::move(path)) {}

bool StudioDocument::TakeFileText(std::string text, std::vector<TrackTextError>& errors) {
  if (!hasText_) {
    std::optional<TrackTextModel> model = TrackTextModel::FromText(std::move(text), errors);
    if (!model) return false;
    base_ = Version();
    history_ = EditHistory(std::move(*model));
    hasText_ = true;
    lastChange_ = StudioChange::Start;
    lastChanged_.clear();
    fileErrors_.clear();
    return true;
  }
  const uint64_t before = history_.Version();
  std::vector<KeyPlace> changed;
  if (!history_.TakeText(std::move(text), errors, &changed)) return false;
  fileErrors_.clear();
  if (history_.Version() != before) {
    lastChange_ = StudioChange::File;
    lastChanged_ = std::move(changed);
  }
  return true;
}

std::vector<std::string> StudioDocument::Warnings(const std::string& file) const {
  std::vector<std::string> warnings;
  for (const TrackSource& track : Model().Tracks()) {
    if (!IsShowTrack(track.name)) {
      warnings.push_back(file + ":" + std::to_string(track.line) + ": " +
                         UnusedTrackMessage(track.name, QuoteWord(track.name)));
    }
  }
  return warnings;
}

static json ShowObject(const StudioDocument& document, const StudioShowInfo& info, StudioChange change,
                       const std::vector<KeyPlace>& changed) {
  const TrackTextModel& model = document.Model();
  json tempo = json::array();
  for (const TrackTempo& t : model.Tempos()) tempo.push_back({{"bpm", t.bpm}, {"at", t.row}});
  json marks = json::array();
  for (const TrackMark& m : model.Marks()) marks.push_back({{"row", m.row}, {"name", m.name}});
  json controls = json::array();
  for (const StudioShowInfo::Control& c : info.controls) controls.push_back({{"code", c.code}, {"label", c.label}});
  // The show's tracks in the order of the text, then those it lacks, which
  // play as 0 until they get a key.
  json tracks = json::array();
  for (const TrackSource& track : model.Tracks()) {
    if (IsShowTrack(track.name)) tracks.push_back({{"name", track.name}, {"keys", KeysJson(track.keys)}});
  }
  for (const FrameTrack& track : FrameTracks) {
    if (!model.FindTrack(track.name)) tracks.push_back({{"name", track.name}, {"keys", json::array()}});
  }
  json changedKeys = json::array();
  for (const KeyPlace& place : changed) changedKeys.push_back({{"track", place.track}, {"row", place.row}});
  json end = nullptr, seconds = nullptr;
  if (info.endRow) {
    end = *info.endRow;
    seconds = *info.endRow / RowsPerSecond;
  }
  return {{"version", document.Version()},
          {"file", info.file},
          {"rowsPerSecond", RowsPerSecond},
          {"musicSeconds", seconds},
          {"endRow", end},
          {"tempo", tempo},
          {"marks", marks},
          {"controls", controls},
          {"tracks", tracks},
          {"warnings", document.Warnings(info.file)},
          {"change", ChangeName(change)},
          {"changed", changedKeys}};
}

std::string StudioDocument::ShowJson(const StudioShowInfo& info) const {
  return Dump(ShowObject(*this, info, lastChange_, lastChanged_));
}

StudioResult StudioDocument::Refused(int status, const std::string& why, const StudioShowInfo& info) const {
  json body = ShowObject(*this, info, lastChange_, lastChanged_);
  body["error"] = why;
  body["errors"] = fileErrors_;
  return {status, Dump(body)};
}

StudioResult StudioDocument::Commit(EditHistory next, StudioChange change, const StudioShowInfo& info) {
  std::string why;
  if (!ReplaceFileText(path_, next.Model().Text(), why)) {
    return {503, ErrorJson(info.file + ": " + why + "; nothing changed")};
  }
  lastChanged_ = ChangedKeys(history_.Model(), next.Model());
  history_ = std::move(next);
  lastChange_ = change;
  return {200, ShowJson(info)};
}

StudioResult StudioDocument::Edit(const EditCommand& command, const StudioShowInfo& info) {
  // Writing over a file that does not compile would throw away the show
  // maker's own unfinished save.
  if (!fileErrors_.empty() || !hasText_) {
    return Refused(409, info.file + " does not compile; edits wait for a save that does", info);
  }
  if (command.version != Version()) {
    return Refused(409, "the show has changed since version " + std::to_string(command.version) + "; it is version " +
                            std::to_string(Version()) + " now",
                   info);
  }
  std::vector<TextEdit> edits;
  for (const TextEdit& edit : command.edits) {
    const DeleteMarkEdit* mark = std::get_if<DeleteMarkEdit>(&edit);
    if (!mark || !mark->name.empty()) {
      edits.push_back(edit);
      continue;
    }
    const std::size_t count = edits.size();
    for (const TrackMark& m : Model().Marks()) {
      if (m.row == mark->row) edits.push_back(DeleteMarkEdit{m.row, m.name});
    }
    if (edits.size() == count) {
      return {400, ErrorJson("there is no mark at " + TrackTextModel::TimeText(mark->row))};
    }
  }
  EditHistory next = history_;
  std::string why;
  if (!next.Apply(edits, why)) return {400, ErrorJson(why)};
  if (next.Version() == history_.Version()) return {200, ShowJson(info)};
  return Commit(std::move(next), StudioChange::Edit, info);
}

StudioResult StudioDocument::Undo(const StudioShowInfo& info) {
  if (!fileErrors_.empty() || !hasText_) {
    return Refused(409, info.file + " does not compile; undo waits for a save that does", info);
  }
  EditHistory next = history_;
  if (!next.Undo()) return Refused(409, "nothing to undo", info);
  return Commit(std::move(next), StudioChange::Undo, info);
}

StudioResult StudioDocument::Redo(const StudioShowInfo& info) {
  if (!fileErrors_.empty() || !hasText_) {
    return Refused(409, info.file + " does not compile; redo waits for a save that does", info);
  }
  EditHistory next = history_;
  if (!next.Redo()) return Refused(409, "nothing to redo", info);
  return Commit(std::move(next), StudioChange::Redo, info);
}
