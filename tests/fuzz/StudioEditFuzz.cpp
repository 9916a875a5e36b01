// Bytes as a short list of studio requests over the bundled show's text (or
// one of a few odd layouts): key edits, row shifts, tempo and mark edits,
// undo, redo and saves from outside, played through the edit history.
// Beside the sanitizers' watch, every step is checked against a plain model
// of the keys, tempos and marks kept here: the history accepts exactly what
// that model accepts, its text compiles to exactly the keys the model says,
// undo gives back the text before byte for byte and redo the one after, and
// a save from outside names exactly the keys that differ.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "show/ShowTable.h"
#include "studio/EditHistory.h"
#include "sync/TrackText.h"

namespace {

#define CHECK(condition) \
  do {                   \
    if (!(condition)) std::abort(); \
  } while (0)

const std::string& BundledShow() {
  static const std::string text = [] {
    std::ifstream in(DEMO_SHOW_TRACKS, std::ios::binary);
    std::string t((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CHECK(!t.empty());
    return t;
  }();
  return text;
}

const char* const Layouts[] = {
    "",
    "track back.x\r\n  0 1 step\r\n\r\n  10 0.5 linear # c\r\ntrack control\r\n",
    "# no final newline\ntempo 120 at 0:10\ntrack back.y\n\t0\t1\tstep\t# tab\n\t40\t2\tramp",
    "mark 1:00 the drop\n\ntrack back.n\n  0   1   step\n\ntrack back.x   # h\n",
};

// The bytes read one value at a time; past the end every value is 0.
struct Reader {
  const uint8_t* data;
  std::size_t size;
  uint8_t Byte() { return size ? (--size, *data++) : 0; }
  uint32_t Bits() { return uint32_t(Byte()) | uint32_t(Byte()) << 8 | uint32_t(Byte()) << 16 | uint32_t(Byte()) << 24; }
};

bool SameKey(const TrackKey& a, const TrackKey& b) {
  return a.row == b.row && a.kind == b.kind && std::memcmp(&a.value, &b.value, sizeof(float)) == 0;
}

// What the text should hold, kept without any text.
struct Expected {
  std::map<std::string, std::vector<TrackKey>> tracks;
  std::vector<std::pair<double, double>> tempos;  // bpm, row
  std::vector<std::pair<double, std::string>> marks;

  static Expected Of(const TrackTextModel& model) {
    Expected e;
    for (const TrackSource& t : model.Tracks()) e.tracks[t.name] = t.keys;
    for (const TrackTempo& t : model.Tempos()) e.tempos.push_back({t.bpm, t.row});
    for (const TrackMark& m : model.Marks()) e.marks.push_back({m.row, m.name});
    std::sort(e.marks.begin(), e.marks.end());
    return e;
  }

  bool Same(const Expected& o) const {
    auto sameKeys = [](const std::vector<TrackKey>& a, const std::vector<TrackKey>& b) {
      return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), SameKey);
    };
    for (const auto& [name, keys] : tracks) {
      const auto it = o.tracks.find(name);
      if (!sameKeys(keys, it == o.tracks.end() ? std::vector<TrackKey>() : it->second)) return false;
    }
    for (const auto& [name, keys] : o.tracks)
      if (!tracks.count(name) && !keys.empty()) return false;
    return tempos == o.tempos && marks == o.marks;
  }

  static bool ShowTrack(const std::string& name) {
    return std::any_of(std::begin(FrameTracks), std::end(FrameTracks), [&](const FrameTrack& t) { return name == t.name; });
  }

  // Applies the edit as the studio promises to; false where it must refuse.
  bool Apply(const TextEdit& edit) {
    if (const auto* set = std::get_if<SetKeyEdit>(&edit)) {
      if (!ShowTrack(set->track) || (set->value && !std::isfinite(*set->value))) return false;
      if (set->kind && (*set->kind < -128 || *set->kind > 127)) return false;
      std::vector<TrackKey>& keys = tracks[set->track];
      auto at = std::find_if(keys.begin(), keys.end(), [&](const TrackKey& k) { return k.row >= set->row; });
      if (at != keys.end() && at->row == set->row) {
        if (set->value) at->value = *set->value;
        if (set->kind) at->kind = *set->kind;
        return true;
      }
      if (!set->value) return false;
      const int32_t kind = set->kind ? *set->kind : at == keys.begin() ? int32_t(KindStep) : (at - 1)->kind;
      keys.insert(at, TrackKey{set->row, *set->value, kind});
      return true;
    }
    if (const auto* del = std::get_if<DeleteKeyEdit>(&edit)) {
      if (!ShowTrack(del->track)) return false;
      std::vector<TrackKey>& keys = tracks[del->track];
      const auto at = std::find_if(keys.begin(), keys.end(), [&](const TrackKey& k) { return k.row == del->row; });
      if (at == keys.end()) return false;
      keys.erase(at);
      return true;
    }
    if (const auto* shift = std::get_if<ShiftRowsEdit>(&edit)) {
      const int64_t from = shift->from, by = shift->by;
      std::map<std::string, std::vector<TrackKey>> moved;
      for (const auto& [name, keys] : tracks) {
        for (TrackKey k : keys) {
          if (k.row >= from && by < 0 && k.row < from - by) continue;
          if (k.row >= from) {
            if (k.row + by > INT32_MAX) return false;
            k.row = int32_t(k.row + by);
          }
          moved[name].push_back(k);
        }
        moved[name];
      }
      tracks = std::move(moved);
      return true;
    }
    if (const auto* set = std::get_if<SetTemposEdit>(&edit)) {
      std::vector<std::pair<double, double>> list;
      for (const TrackTempo& t : set->tempos) {
        if (!std::isfinite(t.bpm) || !(t.bpm > 0.0) || !TrackTextModel::IsWritableTime(t.row)) return false;
        if (!list.empty() && !(t.row > list.back().second)) return false;
        list.push_back({t.bpm, t.row});
      }
      tempos = list;
      return true;
    }
    if (const auto* add = std::get_if<AddMarkEdit>(&edit)) {
      const std::string& n = add->name;
      auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
      if (n.empty() || n.find_first_of("#\n\r") != std::string::npos || blank(n.front()) || blank(n.back()) ||
          !TrackTextModel::IsWritableTime(add->row))
        return false;
      marks.insert(std::upper_bound(marks.begin(), marks.end(), std::make_pair(add->row, n)), {add->row, n});
      return true;
    }
    const auto& del = std::get<DeleteMarkEdit>(edit);
    const auto at = std::find(marks.begin(), marks.end(), std::make_pair(del.row, del.name));
    if (at == marks.end()) return false;
    marks.erase(at);
    return true;
  }
};

// The keys that differ between two models, found the slow way.
std::vector<KeyPlace> SlowChangedKeys(const TrackTextModel& a, const TrackTextModel& b) {
  std::map<std::string, std::map<int32_t, std::pair<const TrackKey*, const TrackKey*>>> all;
  for (const TrackSource& t : a.Tracks())
    for (const TrackKey& k : t.keys) all[t.name][k.row].first = &k;
  for (const TrackSource& t : b.Tracks())
    for (const TrackKey& k : t.keys) all[t.name][k.row].second = &k;
  std::vector<KeyPlace> changed;
  for (const auto& [name, rows] : all)
    for (const auto& [row, pair] : rows)
      if (!pair.first || !pair.second || !SameKey(*pair.first, *pair.second)) changed.push_back({name, row});
  return changed;
}

const char* const Names[] = {"lamp.x", ""};  // none of the show's

std::string TrackName(Reader& in) {
  const uint8_t b = in.Byte() % (FrameTrackCount + 2);
  return b < FrameTrackCount ? FrameTracks[b].name : Names[b - FrameTrackCount];
}

int32_t Row(Reader& in, const TrackTextModel& model, const std::string& track) {
  const uint8_t how = in.Byte();
  const TrackSource* t = model.FindTrack(track);
  switch (how % 4) {
    case 0:
    case 1:
      if (t && !t->keys.empty()) return t->keys[in.Byte() % t->keys.size()].row + (how % 4);
      return int32_t(in.Byte()) * 10;
    case 2: return int32_t(in.Bits());
    default: return int8_t(in.Byte());
  }
}

float Value(Reader& in) {
  static const float common[] = {0.0f, 0.1f, 1.0f, -2.5f, 777.0f, 1e-3f, 1.0f / 3.0f, 16777217.0f};
  const uint8_t b = in.Byte();
  if (b & 0x80) {
    const uint32_t bits = in.Bits();
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
  return common[b % std::size(common)];
}

double Time(Reader& in) {
  const uint8_t b = in.Byte();
  if (b & 0x80) return double(int32_t(in.Bits())) / double(1 + in.Byte());
  return double(b) * 10.0;
}

std::string MarkName(Reader& in) {
  static const char alphabet[] = "ab #\t\rz";
  std::string name;
  for (int n = in.Byte() % 6; n > 0; --n) name += alphabet[in.Byte() % (sizeof alphabet - 1)];
  return name;
}

TextEdit Edit(Reader& in, const TrackTextModel& model) {
  switch (in.Byte() % 6) {
    case 0: {
      std::string track = TrackName(in);
      const int32_t row = Row(in, model, track);
      const uint8_t fields = in.Byte();
      std::optional<float> value;
      std::optional<int32_t> kind;
      if (fields & 1) value = Value(in);
      if (fields & 2) kind = int32_t(int16_t(in.Byte() | (fields & 4 ? 0x100 : 0)) - 64);
      return SetKeyEdit{std::move(track), row, value, kind};
    }
    case 1: {
      std::string track = TrackName(in);
      const int32_t row = Row(in, model, track);
      return DeleteKeyEdit{std::move(track), row};
    }
    case 2: {
      const int32_t from = Row(in, model, TrackName(in));
      const uint8_t b = in.Byte();
      return ShiftRowsEdit{from, b & 0x80 ? int32_t(in.Bits()) : int32_t(int8_t(b << 1)) / 2};
    }
    case 3: {
      SetTemposEdit edit;
      for (int n = in.Byte() % 4; n > 0; --n) edit.tempos.push_back({double(in.Byte()) / 2.0 + 30.0, Time(in), 0});
      return edit;
    }
    case 4: return AddMarkEdit{Time(in), MarkName(in)};
    default: {
      const std::vector<TrackMark>& marks = model.Marks();
      if (!marks.empty() && (in.Byte() & 1)) {
        const TrackMark& m = marks[in.Byte() % marks.size()];
        return DeleteMarkEdit{m.row, m.name};
      }
      return DeleteMarkEdit{Time(in), MarkName(in)};
    }
  }
}

void CheckCompiles(const TrackTextModel& model) {
  std::vector<TrackTextError> errors;
  const std::vector<TrackSource> tracks = ParseTrackText(model.Text(), errors);
  CHECK(errors.empty() && tracks.size() == model.Tracks().size());
  for (std::size_t t = 0; t < tracks.size(); ++t) {
    const std::vector<TrackKey>& a = tracks[t].keys;
    const std::vector<TrackKey>& b = model.Tracks()[t].keys;
    CHECK(tracks[t].name == model.Tracks()[t].name && a.size() == b.size());
    CHECK(std::equal(a.begin(), a.end(), b.begin(), SameKey));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  const uint8_t start = in.Byte() % (std::size(Layouts) + 1);
  std::vector<TrackTextError> errors;
  std::optional<TrackTextModel> model =
      TrackTextModel::FromText(start == 0 ? BundledShow() : Layouts[start - 1], errors);
  CHECK(model);
  EditHistory history(*model);

  for (int request = 0; request < 24 && in.size > 0; ++request) {
    const TrackTextModel before = history.Model();
    const uint64_t version = history.Version();
    const uint8_t what = in.Byte();
    if (what % 8 == 6) {  // undo and redo
      const bool undo = what & 0x10;
      const bool could = undo ? history.CanUndo() : history.CanRedo();
      CHECK((undo ? history.Undo() : history.Redo()) == could);
      CHECK(history.Version() == version + (could ? 1 : 0));
      CheckCompiles(history.Model());
      continue;
    }
    if (what % 8 == 7) {  // a save from outside: one byte of the text changed
      std::string text = before.Text();
      if (text.empty()) continue;
      text[in.Bits() % text.size()] = char(in.Byte());
      std::vector<KeyPlace> changed;
      std::vector<TrackTextError> saveErrors;
      const bool compiles = TrackTextModel::FromText(text, saveErrors).has_value();
      CHECK(history.TakeText(text, saveErrors, &changed) == compiles);
      if (!compiles) {
        CHECK(history.Model().Text() == before.Text() && history.Version() == version);
        continue;
      }
      CHECK(history.Model().Text() == text);
      CHECK(changed == SlowChangedKeys(before, history.Model()));
      CheckCompiles(history.Model());
      continue;
    }

    std::vector<TextEdit> edits;
    Expected expected = Expected::Of(before);
    bool accepted = true;
    for (int n = 1 + what % 3; n > 0; --n) {
      edits.push_back(Edit(in, before));
      accepted = accepted && expected.Apply(edits.back());
    }
    std::string why;
    CHECK(history.Apply(edits, why) == accepted);
    const TrackTextModel& after = history.Model();
    if (!accepted) {
      CHECK(!why.empty() && after.Text() == before.Text() && history.Version() == version);
      continue;
    }
    CHECK(Expected::Of(after).Same(expected));
    CheckCompiles(after);
    if (after.Text() == before.Text()) {
      CHECK(history.Version() == version);
      continue;
    }
    const std::string text = after.Text();
    CHECK(history.Version() == version + 1);
    CHECK(history.Undo() && history.Model().Text() == before.Text());
    CHECK(history.Redo() && history.Model().Text() == text);
  }
  return 0;
}
