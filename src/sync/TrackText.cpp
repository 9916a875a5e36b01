// Parsing and printing of the track text format.
#include "sync/TrackText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace {

constexpr std::size_t MaxNameLength = 243;  // what the track file path has room for

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool ParseRow(const std::string& word, int32_t& row) {
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(word.c_str(), &end, 10);
  if (errno != 0 || end == word.c_str() || *end != '\0') return false;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  row = int32_t(v);
  return true;
}

bool ParseValue(const std::string& word, float& value) {
  char* end = nullptr;
  const float v = std::strtof(word.c_str(), &end);
  if (end == word.c_str() || *end != '\0' || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool ParseKind(const std::string& word, int32_t& kind) {
  static const std::map<std::string, int32_t> names = {
      {"step", KindStep}, {"linear", KindLinear}, {"smooth", KindSmooth}, {"ramp", KindRamp}};
  const auto it = names.find(word);
  if (it != names.end()) {
    kind = it->second;
    return true;
  }
  int32_t number;
  if (!ParseRow(word, number) || number < -128 || number > 127) return false;
  kind = number;
  return true;
}

}  // namespace

const char* TrackKindName(int32_t kind) {
  switch (kind) {
    case KindStep: return "step";
    case KindLinear: return "linear";
    case KindSmooth: return "smooth";
    case KindRamp: return "ramp";
    default: return nullptr;
  }
}

bool IsValidTrackName(const std::string& name, std::string& why) {
  if (name.empty()) {
    why = "empty track name";
    return false;
  }
  if (name.size() > MaxNameLength) {
    why = "track name of " + std::to_string(name.size()) + " characters is too long (at most " +
          std::to_string(MaxNameLength) + ")";
    return false;
  }
  for (char c : name) {
    if (c == '/' || c == '\\') {
      why = "track name '" + name + "' contains a directory separator";
      return false;
    }
    if (c == ' ' || c == '\t' || static_cast<unsigned char>(c) < 0x20) {
      why = "track name '" + name + "' must be one word";
      return false;
    }
  }
  return true;
}

std::vector<TrackSource> ParseTrackText(const std::string& text, std::vector<TrackTextError>& errors) {
  std::vector<TrackSource> tracks;
  std::map<std::string, int> firstLine;
  TrackSource* current = nullptr;
  TrackSource discarded;  // keys of a track that cannot be used are still checked here

  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    const std::vector<std::string> words = SplitWords(line);
    if (words.empty()) continue;

    if (words[0] == "track") {
      if (words.size() != 2) {
        errors.push_back({number, words.size() < 2 ? "'track' needs a name" : "a track name must be one word"});
        discarded = TrackSource{};
        current = &discarded;
        continue;
      }
      std::string why;
      if (!IsValidTrackName(words[1], why)) {
        errors.push_back({number, why});
        discarded = TrackSource{};
        current = &discarded;
        continue;
      }
      const auto seen = firstLine.find(words[1]);
      if (seen != firstLine.end()) {
        errors.push_back({number, "duplicate track '" + words[1] + "' (first defined on line " +
                                      std::to_string(seen->second) + ")"});
        discarded = TrackSource{};
        current = &discarded;
        continue;
      }
      firstLine[words[1]] = number;
      tracks.push_back(TrackSource{words[1], number, {}});
      current = &tracks.back();
      continue;
    }

    if (!current) {
      errors.push_back({number, "key before any 'track' line"});
      continue;
    }
    if (words.size() != 3) {
      errors.push_back({number, "expected ROW VALUE KIND, found " + std::to_string(words.size()) + " word(s)"});
      continue;
    }
    TrackKey key{};
    bool ok = true;
    if (!ParseRow(words[0], key.row)) {
      errors.push_back({number, "bad row '" + words[0] + "' (a whole number from -2147483648 to 2147483647)"});
      ok = false;
    }
    if (!ParseValue(words[1], key.value)) {
      errors.push_back({number, "bad value '" + words[1] + "' (a finite single-precision number)"});
      ok = false;
    }
    if (!ParseKind(words[2], key.kind)) {
      errors.push_back({number, "unknown kind '" + words[2] + "' (step, linear, smooth, ramp or -128..127)"});
      ok = false;
    }
    if (!ok) continue;
    if (!current->keys.empty() && key.row <= current->keys.back().row) {
      errors.push_back({number, "row " + std::to_string(key.row) + " does not follow row " +
                                    std::to_string(current->keys.back().row) +
                                    " (rows must be strictly ascending)"});
      continue;
    }
    current->keys.push_back(key);
  }
  return tracks;
}

std::string FormatTrackText(const std::string& name, const TrackKey* keys, int32_t count) {
  std::string out = "track " + name + "\n";
  char value[32];
  char line[96];
  for (int32_t k = 0; k < count; ++k) {
    std::snprintf(value, sizeof value, "%.9g", double(keys[k].value));
    const char* kindName = TrackKindName(keys[k].kind);
    const std::string kind = kindName ? kindName : std::to_string(keys[k].kind);
    std::snprintf(line, sizeof line, "  %-11d %-16s %s\n", int(keys[k].row), value, kind.c_str());
    out += line;
  }
  return out;
}
