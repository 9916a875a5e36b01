// The studio's edit history.
#include "studio/EditHistory.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

std::vector<KeyPlace> ChangedKeys(const TrackTextModel& before, const TrackTextModel& after) {
  // A track the text lacks has no keys, so adding or dropping a track
  // changes each of its keys.
  std::map<std::string, std::pair<const TrackSource*, const TrackSource*>> tracks;
  for (const TrackSource& t : before.Tracks()) tracks[t.name].first = &t;
  for (const TrackSource& t : after.Tracks()) tracks[t.name].second = &t;
  static const std::vector<TrackKey> none;
  std::vector<KeyPlace> changed;
  for (const auto& [name, pair] : tracks) {
    const std::vector<TrackKey>& a = pair.first ? pair.first->keys : none;
    const std::vector<TrackKey>& b = pair.second ? pair.second->keys : none;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() || j < b.size()) {
      if (j == b.size() || (i < a.size() && a[i].row < b[j].row)) {
        changed.push_back({name, a[i++].row});
      } else if (i == a.size() || b[j].row < a[i].row) {
        changed.push_back({name, b[j++].row});
      } else {
        if (a[i].kind != b[j].kind || std::memcmp(&a[i].value, &b[j].value, sizeof(float)) != 0)
          changed.push_back({name, a[i].row});
        ++i, ++j;
      }
    }
  }
  return changed;
}

EditHistory::EditHistory(TrackTextModel model) : model_(std::move(model)) {}

void EditHistory::Record(const std::string& before, const std::string& after) {
  const std::size_t shorter = std::min(before.size(), after.size());
  std::size_t prefix = 0;
  while (prefix < shorter && before[prefix] == after[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < shorter - prefix && before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) ++suffix;
  undo_.push_back({prefix, before.substr(prefix, before.size() - prefix - suffix),
                   after.substr(prefix, after.size() - prefix - suffix)});
  if (undo_.size() > MostSteps) undo_.pop_front();
  redo_.clear();
  ++version_;
}

bool EditHistory::Apply(const std::vector<TextEdit>& edits, std::string& why) {
  TrackTextModel next = model_;
  for (std::size_t i = 0; i < edits.size(); ++i) {
    std::string reason;
    if (!next.Apply(edits[i], reason)) {
      why = "edit " + std::to_string(i) + ": " + reason;
      return false;
    }
  }
  if (next.Text() == model_.Text()) return true;
  Record(model_.Text(), next.Text());
  model_ = std::move(next);
  return true;
}

bool EditHistory::TakeText(std::string text, std::vector<TrackTextError>& errors, std::vector<KeyPlace>* changed) {
  if (changed) changed->clear();
  std::optional<TrackTextModel> next = TrackTextModel::FromText(std::move(text), errors);
  if (!next) return false;
  if (next->Text() == model_.Text()) return true;
  if (changed) *changed = ChangedKeys(model_, *next);
  Record(model_.Text(), next->Text());
  model_ = std::move(*next);
  return true;
}

bool EditHistory::Replay(Step& step, bool forward) {
  const std::string& out = forward ? step.removed : step.inserted;
  const std::string& in = forward ? step.inserted : step.removed;
  std::string text = model_.Text();
  text.replace(step.at, out.size(), in);
  std::vector<TrackTextError> errors;
  // Every text in the history compiled when it was current, and the
  // compiler depends on nothing else.
  std::optional<TrackTextModel> next = TrackTextModel::FromText(std::move(text), errors);
  if (!next) return false;
  model_ = std::move(*next);
  ++version_;
  return true;
}

bool EditHistory::Undo() {
  if (undo_.empty() || !Replay(undo_.back(), false)) return false;
  redo_.push_back(std::move(undo_.back()));
  undo_.pop_back();
  return true;
}

bool EditHistory::Redo() {
  if (redo_.empty() || !Replay(redo_.back(), true)) return false;
  undo_.push_back(std::move(redo_.back()));
  redo_.pop_back();
  return true;
}
