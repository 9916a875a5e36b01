// The studio's request handling: who may talk to the demo, the routes and
// the readers of the JSON bodies. Every refusal is a response with a status
// and a reason in words; nothing here throws out of HandleStudioRequest.
#include "studio/StudioApi.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>

#include <nlohmann/json.hpp>

#include "show/ShowTable.h"
#include "show/ShowTrackNames.h"
#include "studio/MusicAnalysis.h"
#include "studio/StudioPage.h"
#include "sync/MusicClock.h"
#include "sync/Tracks.h"

namespace {

using nlohmann::json;

// A curve of more points than this is no drawing; the page asks for one
// point per pixel column or per row.
constexpr double MostCurvePoints = 100000;
// A waveform wider than this is no drawing either: a column per pixel of
// the widest screen, many times over.
constexpr double MostWaveformColumns = 10000;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// --- Who may talk to the demo --------------------------------------------

// Compares in time that depends only on the lengths, so that the answer's
// delay says nothing about how much of a guessed token was right.
bool SameSecret(std::string_view given, std::string_view secret) {
  if (given.size() != secret.size() || secret.empty()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < secret.size(); ++i) difference |= static_cast<unsigned char>(given[i] ^ secret[i]);
  return difference == 0;
}

// Every value of the header of that name (any case).
std::vector<std::string_view> HeaderValues(const StudioRequest& request, std::string_view name) {
  std::vector<std::string_view> values;
  for (const auto& [key, value] : request.headers) {
    if (Lower(key) == name) values.push_back(value);
  }
  return values;
}

bool IsOwnHost(std::string_view host, uint16_t port) {
  const std::string lower = Lower(host);
  const std::string suffix = ":" + std::to_string(port);
  return lower == "127.0.0.1" + suffix || lower == "localhost" + suffix;
}

// The reason a request is refused before its route is looked at, or empty.
// The Host must be the studio's own, so that a page elsewhere that rebinds
// its name to 127.0.0.1 is still refused; a browser names the page a
// request comes from in Origin, which must be the studio's own page. A
// request without Origin (curl, another tool) is judged by Host and token.
std::string Refusal(const StudioRequest& request, const StudioAccess& access) {
  const std::vector<std::string_view> hosts = HeaderValues(request, "host");
  if (hosts.size() != 1 || !IsOwnHost(hosts[0], access.port)) {
    return "the Host must be 127.0.0.1:" + std::to_string(access.port) + " or localhost:" +
           std::to_string(access.port);
  }
  const std::vector<std::string_view> origins = HeaderValues(request, "origin");
  if (origins.size() > 1) return "more than one Origin";
  if (origins.size() == 1) {
    const std::string origin = Lower(origins[0]);
    if (origin.rfind("http://", 0) != 0 || !IsOwnHost(std::string_view(origin).substr(7), access.port)) {
      return "requests from other pages are refused";
    }
  }
  return {};
}

// --- Targets -------------------------------------------------------------

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += char(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

struct Target {
  std::string path;
  std::vector<std::pair<std::string, std::string>> query;

  const std::string* Find(std::string_view name) const {
    for (const auto& [key, value] : query) {
      if (key == name) return &value;
    }
    return nullptr;
  }
};

Target SplitTarget(std::string_view target) {
  Target split;
  const std::size_t mark = target.find('?');
  split.path = std::string(target.substr(0, mark));
  if (mark == std::string_view::npos) return split;
  std::string_view rest = target.substr(mark + 1);
  while (!rest.empty()) {
    const std::size_t amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    const std::size_t eq = pair.find('=');
    split.query.emplace_back(Unescape(pair.substr(0, eq)),
                             eq == std::string_view::npos ? std::string() : Unescape(pair.substr(eq + 1)));
    if (amp == std::string_view::npos) break;
    rest = rest.substr(amp + 1);
  }
  return split;
}

// --- Responses -----------------------------------------------------------

StudioResponse Json(int status, std::string body) {
  StudioResponse response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

StudioResponse Error(int status, const std::string& message) { return Json(status, ErrorJson(message)); }

StudioResponse FromResult(StudioResult result) { return Json(result.status, std::move(result.body)); }

const char* ContentTypeOf(std::string_view name) {
  struct Type {
    const char* extension;
    const char* type;
  };
  static const Type Types[] = {
      {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},         {".svg", "image/svg+xml"},
      {".png", "image/png"},                 {".ico", "image/x-icon"},
      {".txt", "text/plain; charset=utf-8"},
  };
  for (const Type& t : Types) {
    const std::string_view extension = t.extension;
    if (name.size() >= extension.size() && name.substr(name.size() - extension.size()) == extension) return t.type;
  }
  return "application/octet-stream";
}

StudioResponse PageFile(std::string_view name) {
  for (std::size_t i = 0; i < StudioPageFileCount; ++i) {
    const StudioPageFile& file = StudioPageFiles[i];
    if (name != file.name) continue;
    StudioResponse response;
    response.contentType = ContentTypeOf(name);
    response.body.assign(reinterpret_cast<const char*>(file.data), file.size);
    return response;
  }
  return Error(404, "no such page file: " + std::string(name));
}

// --- JSON readers --------------------------------------------------------


// A number of the body as a double; false for anything else.
bool Number(const json& value, double& number) {
  if (!value.is_number()) return false;
  number = value.get<double>();
  return true;
}

bool WholeNumber(const json& value, int32_t& number) {
  double d = 0.0;
  if (!Number(value, d) || !(d >= INT32_MIN && d <= INT32_MAX) || d != std::floor(d)) return false;
  number = int32_t(d);
  return true;
}

// Reads the object's members through the reader of each; a member the reader
// does not know is refused, so that a misspelt field is an error and not an
// edit that silently did less.
bool KnownMembers(const json& object, std::initializer_list<const char*> names, const std::string& what,
                  std::string& why) {
  for (auto member = object.begin(); member != object.end(); ++member) {
    const std::string& key = member.key();
    if (std::find_if(names.begin(), names.end(), [&](const char* n) { return key == n; }) == names.end()) {
      why = what + " has an unknown field '" + key + "'";
      return false;
    }
  }
  return true;
}

bool ReadRow(const json& op, const char* field, const std::string& what, int32_t& row, std::string& why) {
  if (!op.contains(field) || !WholeNumber(op[field], row)) {
    why = what + ": '" + field + "' must be a whole number of rows";
    return false;
  }
  return true;
}

bool ReadTime(const json& op, const char* field, const std::string& what, double& row, std::string& why) {
  if (!op.contains(field) || !Number(op[field], row) || !std::isfinite(row) || row < 0.0) {
    why = what + ": '" + field + "' must be a row, a number from 0 on";
    return false;
  }
  return true;
}

bool ReadKeyOp(const json& op, const std::string& what, TextEdit& edit, std::string& why) {
  if (!op["track"].is_string()) {
    why = what + ": 'track' must be a name";
    return false;
  }
  const std::string track = op["track"].get<std::string>();
  if (!IsShowTrack(track)) {
    why = what + ": unknown track " + QuoteWord(track) + " (" + TrackTextModel::ShowTrackNames() + ")";
    return false;
  }
  int32_t row = 0;
  if (!ReadRow(op, "row", what, row, why)) return false;
  if (op.contains("delete")) {
    if (!KnownMembers(op, {"track", "row", "delete"}, what, why)) return false;
    if (op["delete"] != true) {
      why = what + ": 'delete' can only be true";
      return false;
    }
    edit = DeleteKeyEdit{track, row};
    return true;
  }
  if (!KnownMembers(op, {"track", "row", "value", "kind"}, what, why)) return false;
  SetKeyEdit set{track, row, std::nullopt, std::nullopt};
  if (op.contains("value")) {
    double value = 0.0;
    // A double beyond the float range has no float to become.
    if (!Number(op["value"], value) || !(std::fabs(value) <= FLT_MAX)) {
      why = what + ": 'value' must be a finite number";
      return false;
    }
    set.value = float(value);
  }
  if (op.contains("kind")) {
    const json& kind = op["kind"];
    int32_t number = 0;
    if (kind.is_string()) {
      bool found = false;
      for (int32_t k : {KindStep, KindLinear, KindSmooth, KindRamp}) {
        if (kind.get<std::string>() == TrackKindName(k)) {
          set.kind = k;
          found = true;
        }
      }
      if (!found) {
        why = what + ": 'kind' " + QuoteWord(kind.get<std::string>()) + " is none of step, linear, smooth, ramp";
        return false;
      }
    } else if (WholeNumber(kind, number) && number >= -128 && number <= 127) {
      set.kind = number;
    } else {
      why = what + ": 'kind' must be step, linear, smooth, ramp or a whole number from -128 to 127";
      return false;
    }
  }
  edit = set;
  return true;
}

bool ReadOp(const json& op, const std::string& what, TextEdit& edit, std::string& why) {
  if (!op.is_object()) {
    why = what + " must be an object";
    return false;
  }
  if (op.contains("track")) return ReadKeyOp(op, what, edit, why);
  if (op.contains("shift")) {
    const json& shift = op["shift"];
    ShiftRowsEdit s;
    if (!KnownMembers(op, {"shift"}, what, why)) return false;
    if (!shift.is_object() || !KnownMembers(shift, {"from", "by"}, what, why) ||
        !ReadRow(shift, "from", what + " shift", s.from, why) || !ReadRow(shift, "by", what + " shift", s.by, why)) {
      if (why.empty()) why = what + ": 'shift' must be {from, by}";
      return false;
    }
    edit = s;
    return true;
  }
  if (op.contains("tempo")) {
    if (!KnownMembers(op, {"tempo"}, what, why)) return false;
    if (!op["tempo"].is_array()) {
      why = what + ": 'tempo' must be a list of {bpm, at}";
      return false;
    }
    SetTemposEdit tempos;
    for (const json& t : op["tempo"]) {
      TrackTempo tempo;
      if (!t.is_object() || !KnownMembers(t, {"bpm", "at"}, what, why)) {
        if (why.empty()) why = what + ": 'tempo' must be a list of {bpm, at}";
        return false;
      }
      if (!t.contains("bpm") || !Number(t["bpm"], tempo.bpm) || !std::isfinite(tempo.bpm) || tempo.bpm <= 0.0) {
        why = what + ": a tempo's 'bpm' must be a number above 0";
        return false;
      }
      if (t.contains("at") && !ReadTime(t, "at", what + " tempo", tempo.row, why)) return false;
      tempos.tempos.push_back(tempo);
    }
    edit = tempos;
    return true;
  }
  if (op.contains("mark")) {
    if (!KnownMembers(op, {"mark"}, what, why)) return false;
    const json& mark = op["mark"];
    if (!mark.is_object()) {
      why = what + ": 'mark' must be {row, name} or {row, delete: true}";
      return false;
    }
    double row = 0.0;
    if (!ReadTime(mark, "row", what + " mark", row, why)) return false;
    if (mark.contains("name") && !mark["name"].is_string()) {
      why = what + ": a mark's 'name' must be text";
      return false;
    }
    const std::string name = mark.contains("name") ? mark["name"].get<std::string>() : std::string();
    if (mark.contains("delete")) {
      if (!KnownMembers(mark, {"row", "name", "delete"}, what + " mark", why)) return false;
      if (mark["delete"] != true) {
        why = what + ": 'delete' can only be true";
        return false;
      }
      edit = DeleteMarkEdit{row, name};
      return true;
    }
    if (!KnownMembers(mark, {"row", "name"}, what + " mark", why)) return false;
    if (name.empty()) {
      why = what + ": a new mark needs a 'name'";
      return false;
    }
    edit = AddMarkEdit{row, name};
    return true;
  }
  why = what + " is none of the edits: {track, row, value, kind}, {track, row, delete}, {shift}, {tempo}, {mark}";
  return false;
}

bool ParseObject(const std::string& body, json& value, std::string& why) {
  try {
    value = json::parse(body);
  } catch (const json::exception& e) {
    why = std::string("the body is not JSON: ") + e.what();
    return false;
  }
  if (!value.is_object()) {
    why = "the body must be a JSON object";
    return false;
  }
  return true;
}

// --- Handlers ------------------------------------------------------------

StudioResponse Curve(const Target& target, const StudioHost& host) {
  const std::shared_ptr<const StudioView> view = host.View();
  if (!view) return Error(503, "the show is still loading");
  const std::string* name = target.Find("track");
  if (!name) return Error(400, "curve: which track? (?track=NAME)");
  if (!IsShowTrack(*name)) return Error(400, "curve: unknown track " + QuoteWord(*name));
  double numbers[3] = {0.0, 0.0, 1.0};
  const char* fields[3] = {"from", "to", "step"};
  for (int i = 0; i < 3; ++i) {
    const std::string* text = target.Find(fields[i]);
    if (!text) {
      if (i == 2) continue;
      return Error(400, std::string("curve: '") + fields[i] + "' is missing");
    }
    char* end = nullptr;
    numbers[i] = std::strtod(text->c_str(), &end);
    if (text->empty() || *end != '\0' || !std::isfinite(numbers[i])) {
      return Error(400, std::string("curve: '") + fields[i] + "' must be a number");
    }
  }
  const double from = numbers[0], to = numbers[1], step = numbers[2];
  if (!(step > 0.0) || to < from) return Error(400, "curve: needs from <= to and a step above 0");
  if ((to - from) / step + 1.0 > MostCurvePoints) {
    return Error(400, "curve: more than " + std::to_string(int(MostCurvePoints)) + " points");
  }
  // The demo's own evaluation, on a copy of the keys: the track store is the
  // frame loop's, and TrackValue moves the cursor of the track it is given.
  std::vector<TrackKey> keys;
  for (const TrackSource& source : *view->tracks) {
    if (source.name == *name) keys = source.keys;
  }
  Track track{nullptr, keys.empty() ? nullptr : keys.data(), int32_t(keys.size())};
  json values = json::array();
  const int64_t count = int64_t(std::floor((to - from) / step)) + 1;
  for (int64_t i = 0; i < count; ++i) values.push_back(TrackValue(&track, from + double(i) * step));
  return Json(200, json{{"values", values}}.dump());
}

// A refusal worth asking again in a moment: the music is still being read.
StudioResponse StillWorking(const std::string& message) {
  StudioResponse response = Error(503, message);
  response.headers.emplace_back("Retry-After", "1");
  return response;
}

// A number of the query, finite; false when it is missing or anything else.
bool QueryNumber(const Target& target, const char* name, double& number) {
  const std::string* text = target.Find(name);
  if (!text || text->empty()) return false;
  char* end = nullptr;
  number = std::strtod(text->c_str(), &end);
  return *end == '\0' && std::isfinite(number);
}

// Shorter numbers: four decimals are finer than any screen draws a sample.
double Rounded(float sample) { return std::round(double(sample) * 10000.0) / 10000.0; }

StudioResponse Waveform(const Target& target, const StudioHost& host, const MusicAnalysis* music) {
  const std::shared_ptr<const StudioView> view = host.View();
  if (!view) return Error(503, "the show is still loading");
  if (!view->musicSeconds) return Error(404, "the show has no music to draw");
  double from = 0.0, to = 0.0, columns = 0.0;
  if (!QueryNumber(target, "from", from)) return Error(400, "waveform: 'from' must be a time in seconds");
  if (!QueryNumber(target, "to", to)) return Error(400, "waveform: 'to' must be a time in seconds");
  if (!(to > from)) return Error(400, "waveform: 'to' must be later than 'from'");
  if (!QueryNumber(target, "columns", columns) || columns != std::floor(columns) || columns < 1.0 ||
      columns > MostWaveformColumns) {
    return Error(400, "waveform: 'columns' must be a whole number from 1 to " + std::to_string(int(MostWaveformColumns)));
  }
  const MusicFindings findings = music ? music->Findings() : MusicFindings{};
  switch (findings.peaksStep) {
    case MusicStep::NotAsked: return Error(404, "the waveform is not available: nothing reads the music");
    case MusicStep::Working: return StillWorking("still reading the music; ask again in a moment");
    case MusicStep::Failed: return Error(404, findings.peaksWhy);
    case MusicStep::Done: break;
  }
  json peaks = json::array();
  for (const MusicPeak& peak : PeaksBetween(*findings.peaks, from, to, int(columns))) {
    peaks.push_back(json::array({Rounded(peak.min), Rounded(peak.max)}));
  }
  return Json(200, json{{"peaks", peaks}}.dump());
}

// The text's tempo lines are the show maker's word and win: each lays a beat
// every 60/bpm seconds from its own time up to the next one's (or the
// music's end). Without any, the grid found in the music lays them, rounded
// as demotool beats writes it, so that writing it as a tempo line changes
// no beat. The found grid is offered either way, as detectedTempo.
StudioResponse Beats(const StudioHost& host, const MusicAnalysis* music) {
  const std::shared_ptr<const StudioView> view = host.View();
  if (!view) return Error(503, "the show is still loading");
  if (!view->musicSeconds) return Error(404, "the show has no music to find beats in");
  const MusicFindings findings = music ? music->Findings() : MusicFindings{};
  BeatGrid grid;
  json detectedTempo = nullptr;
  json detection = "found";
  json reason = nullptr;
  switch (findings.beatsStep) {
    case MusicStep::Done:
      grid.bpm = std::round(findings.grid.bpm * 100.0) / 100.0;
      grid.firstBeat = std::round(findings.grid.firstBeat * 1000.0) / 1000.0;
      detectedTempo = {{"bpm", grid.bpm}, {"at", grid.firstBeat * RowsPerSecond}};
      break;
    case MusicStep::Working: detection = "finding"; break;
    case MusicStep::NotAsked:
      detection = "none";
      reason = "nothing reads the music";
      break;
    case MusicStep::Failed:
      detection = "none";
      reason = findings.beatsWhy;
      break;
  }
  const std::vector<TrackTempo>& tempos = view->tempos;
  if (tempos.empty() && findings.beatsStep == MusicStep::Working) {
    return StillWorking("still finding the beats in the music; ask again in a moment");
  }
  json beats = json::array();
  json bpm = nullptr;
  const bool detected = tempos.empty() && findings.beatsStep == MusicStep::Done;
  if (detected) {
    bpm = grid.bpm;
    for (double t : BeatTimes(grid, *view->musicSeconds)) beats.push_back(t);
  }
  for (std::size_t i = 0; i < tempos.size(); ++i) {
    const double start = tempos[i].row / RowsPerSecond;
    const double end = i + 1 < tempos.size() ? tempos[i + 1].row / RowsPerSecond : *view->musicSeconds;
    const double interval = 60.0 / tempos[i].bpm;
    for (int64_t n = 0; start + double(n) * interval < end && beats.size() < 1000000; ++n) {
      beats.push_back(start + double(n) * interval);
    }
  }
  if (!tempos.empty()) bpm = tempos.front().bpm;
  json body = {{"bpm", bpm}, {"beats", beats}, {"detected", detected}, {"detectedTempo", detectedTempo},
               {"detection", detection}};
  if (!reason.is_null()) body["reason"] = reason;
  return Json(200, body.dump(-1, ' ', false, json::error_handler_t::replace));
}

StudioResponse Api(const StudioRequest& request, const Target& target, StudioHost& host, const MusicAnalysis* music) {
  const std::string& path = target.path;
  const bool get = request.method == "GET";
  const bool post = request.method == "POST";
  struct Route {
    const char* path;
    bool post;
  };
  static const Route Routes[] = {
      {"/api/show", false},      {"/api/state", false}, {"/api/errors", false}, {"/api/curve", false},
      {"/api/events", false},    {"/api/waveform", false}, {"/api/beats", false}, {"/api/transport", true},
      {"/api/edit", true},       {"/api/undo", true},   {"/api/redo", true},
  };
  const Route* route = nullptr;
  for (const Route& r : Routes) {
    if (path == r.path) route = &r;
  }
  if (!route) return Error(404, "no such API: " + path);
  if (route->post ? !post : !get) return Error(405, path + " takes " + (route->post ? "POST" : "GET"));

  if (path == "/api/state") return Json(200, StateJson(host.State()));
  if (path == "/api/curve") return Curve(target, host);
  if (path == "/api/beats") return Beats(host, music);
  if (path == "/api/waveform") return Waveform(target, host, music);
  if (path == "/api/events") {
    StudioResponse response;
    response.contentType = "text/event-stream";
    response.eventStream = true;
    return response;
  }
  if (path == "/api/show" || path == "/api/errors") {
    const std::shared_ptr<const StudioView> view = host.View();
    if (!view) return Error(503, "the show is still loading");
    if (path == "/api/show") return Json(200, *view->showJson);
    return Json(200, json{{"errors", view->errors}}.dump());
  }
  std::string why;
  if (path == "/api/transport") {
    TransportCommand command;
    if (!ParseTransportBody(request.body, command, why)) return Error(400, why);
    return FromResult(host.Run(command));
  }
  if (path == "/api/edit") {
    EditCommand command;
    if (!ParseEditBody(request.body, command, why)) return Error(400, why);
    return FromResult(host.Run(std::move(command)));
  }
  if (path == "/api/undo") return FromResult(host.Run(UndoCommand{}));
  return FromResult(host.Run(RedoCommand{}));
}

}  // namespace

std::string ErrorJson(const std::string& message) {
  // A reason may quote bytes of a request that are not UTF-8.
  return json{{"error", message}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string StateJson(const StudioState& state) {
  json loop = nullptr;
  if (state.loop) loop = json::array({state.loop->first, state.loop->second});
  return json{{"row", state.row},       {"seconds", state.row / RowsPerSecond}, {"paused", state.paused},
              {"held", state.held},     {"code", state.code},          {"fps", state.fps},
              {"loop", loop},           {"scrubAudio", state.scrubAudio}, {"version", state.version}}
      .dump();
}

StudioState StateAfter(StudioState state, double seconds) {
  if (state.paused || state.held || !(seconds > 0.0)) return state;
  double row = state.row + std::min(seconds, MostStateLeadSeconds) * RowsPerSecond;
  if (state.loop && state.row < state.loop->second) row = std::min(row, state.loop->second);
  state.row = row;
  return state;
}

bool ParseEditBody(const std::string& body, EditCommand& command, std::string& why) {
  json value;
  if (!ParseObject(body, value, why)) return false;
  if (!KnownMembers(value, {"version", "ops"}, "the edit", why)) return false;
  if (!value.contains("version") || !value["version"].is_number_unsigned()) {
    why = "the edit needs the 'version' of the show it was made on";
    return false;
  }
  command.version = value["version"].get<uint64_t>();
  if (!value.contains("ops") || !value["ops"].is_array()) {
    why = "the edit needs 'ops', a list of edits";
    return false;
  }
  command.edits.clear();
  for (std::size_t i = 0; i < value["ops"].size(); ++i) {
    TextEdit edit;
    if (!ReadOp(value["ops"][i], "op " + std::to_string(i), edit, why)) return false;
    command.edits.push_back(std::move(edit));
  }
  return true;
}

bool ParseTransportBody(const std::string& body, TransportCommand& command, std::string& why) {
  json value;
  if (!ParseObject(body, value, why)) return false;
  if (!KnownMembers(value, {"play", "pause", "seek", "loop", "scrubAudio"}, "the transport request", why)) return false;
  if (value.empty()) {
    why = "the transport request asks for nothing (play, pause, seek, loop, scrubAudio)";
    return false;
  }
  command = TransportCommand{};
  for (const char* name : {"play", "pause", "scrubAudio"}) {
    if (!value.contains(name)) continue;
    if (!value[name].is_boolean()) {
      why = std::string("'") + name + "' must be true or false";
      return false;
    }
    const bool on = value[name].get<bool>();
    if (std::string_view(name) == "scrubAudio") {
      command.scrubAudio = on;
    } else {
      const bool play = std::string_view(name) == "play" ? on : !on;
      if (command.play && *command.play != play) {
        why = "'play' and 'pause' ask for different things";
        return false;
      }
      command.play = play;
    }
  }
  if (value.contains("seek")) {
    double row = 0.0;
    if (!Number(value["seek"], row) || !std::isfinite(row)) {
      why = "'seek' must be a row, a finite number";
      return false;
    }
    command.seek = std::max(row, 0.0);
  }
  if (value.contains("loop")) {
    const json& loop = value["loop"];
    command.setLoop = true;
    if (!loop.is_null()) {
      double from = 0.0, to = 0.0;
      if (!loop.is_array() || loop.size() != 2 || !Number(loop[0], from) || !Number(loop[1], to) ||
          !std::isfinite(from) || !std::isfinite(to) || from < 0.0 || !(to > from)) {
        why = "'loop' must be [FROM, TO] with 0 <= FROM < TO, or null";
        return false;
      }
      command.loop = std::make_pair(from, to);
    }
  }
  return true;
}

StudioResponse HandleStudioRequest(const StudioRequest& request, const StudioAccess& access, StudioHost& host,
                                   const MusicAnalysis* music) {
  try {
    const std::string refusal = Refusal(request, access);
    if (!refusal.empty()) return Error(403, refusal);
    const Target target = SplitTarget(request.target);
    const bool api = target.path.rfind("/api/", 0) == 0;
    if (!api) {
      if (request.method != "GET") return Error(405, "the page's files take GET");
      if (target.path == "/") return PageFile("index.html");
      if (target.path.rfind("/page/", 0) == 0) return PageFile(std::string_view(target.path).substr(6));
      return Error(404, "nothing at " + target.path);
    }
    // The token travels in the Authorization header; only an EventSource,
    // which cannot set headers, may send it in the query.
    bool authorised = false;
    for (std::string_view value : HeaderValues(request, "authorization")) {
      if (value.size() > 7 && Lower(value.substr(0, 7)) == "bearer ") {
        authorised = authorised || SameSecret(value.substr(7), access.token);
      }
    }
    if (target.path == "/api/events") {
      if (const std::string* token = target.Find("token")) authorised = authorised || SameSecret(*token, access.token);
    }
    if (!authorised) return Error(403, "a wrong or missing token (Authorization: Bearer TOKEN)");
    if (request.body.size() > MostStudioBodyBytes) return Error(413, "the body is larger than 1 MiB");
    return Api(request, target, host, music);
  } catch (const std::exception& e) {
    // Only running out of memory gets here; the demo goes on.
    return Error(500, std::string("the request could not be answered: ") + e.what());
  }
}

std::string StudioEventFeed::Next(const StudioHost& host) {
  std::string events;
  const std::shared_ptr<const StudioView> view = host.View();
  if (!view) return events;
  const auto event = [&](const char* name, const std::string& data) {
    events += "event: ";
    events += name;
    events += "\ndata: ";
    events += data;
    events += "\n\n";
  };
  if (!started_ || view->showJson != show_) {
    show_ = view->showJson;
    event("show", *show_);
  }
  const std::string state = StateJson(host.State());
  if (!started_ || state != state_) {
    state_ = state;
    event("state", state);
  }
  if (!started_ || view->errors != errors_) {
    errors_ = view->errors;
    event("errors", json{{"errors", view->errors}}.dump(-1, ' ', false, json::error_handler_t::replace));
  }
  started_ = true;
  return events;
}
