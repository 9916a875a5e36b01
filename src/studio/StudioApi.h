// The studio's HTTP API as plain functions: a request (method, target,
// headers, body) in, a response (status, content type, body) out. Nothing
// here knows sockets or the HTTP library, so every rule of who may talk to
// the demo and every handler is checked without a network, and the JSON
// readers can be fuzzed (docs/studio-api.md is the API as a page sees it).
//
// The handlers never touch the show itself. They read what the frame loop
// has published (StudioHost::View and State) and hand everything that
// changes the show or the music to the frame loop as a StudioCommand, which
// it applies between two frames and answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "studio/TrackTextModel.h"

struct StudioRequest {
  std::string method;  // "GET", "POST", ...
  std::string target;  // the path with its query, as sent: "/api/curve?track=back.x&from=0&to=40&step=1"
  std::vector<std::pair<std::string, std::string>> headers;  // names in any case
  std::string body;
};

struct StudioResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  // GET /api/events, accepted: the server keeps the connection open and
  // sends what a StudioEventFeed gives it; body is empty.
  bool eventStream = false;
  // Headers beyond the type, such as Retry-After on a 503 that is worth
  // asking again.
  std::vector<std::pair<std::string, std::string>> headers;
};

// A larger body is refused with 413 before it is read whole.
inline constexpr std::size_t MostStudioBodyBytes = std::size_t(1) << 20;

// Who may talk to the server: the port it listens on (the Host and Origin
// a request must name) and the token every API request must carry.
struct StudioAccess {
  uint16_t port = 0;
  std::string token;
};

// --- What the frame loop publishes -------------------------------------------

// The show as of its last change, immutable once published.
struct StudioView {
  uint64_t version = 0;
  // The body of GET /api/show; shared by the views that differ only in errors.
  std::shared_ptr<const std::string> showJson;
  // The compiled tracks, which GET /api/curve evaluates.
  std::shared_ptr<const std::vector<TrackSource>> tracks;
  // "FILE:LINE: message" while FILE does not compile (or cannot be read).
  std::vector<std::string> errors;
  // The text's tempo lines and the music's length (nothing without music),
  // which GET /api/beats lays its beats from; GET /api/waveform and
  // GET /api/beats answer 404 without music.
  std::vector<TrackTempo> tempos;
  std::optional<double> musicSeconds;
};

struct StudioState {
  double row = 0.0;
  bool paused = false;
  bool held = false;  // stopped at the end code
  int32_t code = 0;
  double fps = 0.0;
  std::optional<std::pair<double, double>> loop;
  bool scrubAudio = false;
  uint64_t version = 0;
};
std::string StateJson(const StudioState& state);

// A playing state this long after the frame that published it: the music,
// and so the next frame, are that much further on. The frame loop publishes
// once a frame, and a software renderer may draw fewer frames a second than
// the 20 states a second a page needs to follow playback; the server fills
// in between. Never more than MostStateLeadSeconds ahead of the frame (a
// frame loop stalled longer is not shown running on), nor past the end of
// the loop it plays.
inline constexpr double MostStateLeadSeconds = 0.25;
StudioState StateAfter(StudioState state, double seconds);

// --- What requests ask of the frame loop -------------------------------------

struct TransportCommand {
  std::optional<bool> play;  // true: play, false: pause
  std::optional<double> seek;
  bool setLoop = false;  // loop is the new loop (nothing: no loop)
  std::optional<std::pair<double, double>> loop;
  std::optional<bool> scrubAudio;
};

// The ops of one request, one step of undo. A DeleteMarkEdit with an empty
// name stands for every mark at its row (the API names marks by row alone).
struct EditCommand {
  uint64_t version = 0;
  std::vector<TextEdit> edits;
};

struct UndoCommand {};
struct RedoCommand {};

using StudioCommand = std::variant<TransportCommand, EditCommand, UndoCommand, RedoCommand>;

// A command's answer: the response's status and JSON body.
struct StudioResult {
  int status = 200;
  std::string body;
};

// A JSON body {"error": message}.
std::string ErrorJson(const std::string& message);

// The demo as the handlers see it. View is null until the show has loaded.
class StudioHost {
 public:
  virtual ~StudioHost() = default;
  virtual std::shared_ptr<const StudioView> View() const = 0;
  virtual StudioState State() const = 0;
  // Applies the command between two frames and returns its answer, or 503
  // when the frame loop does not take it in time.
  virtual StudioResult Run(StudioCommand command) = 0;
};

class MusicAnalysis;

// music: the music's waveform and detected beats as far as they are read
// (MusicAnalysis.h); without it the waveform is not available and the beats
// come from the text's tempo lines alone.
StudioResponse HandleStudioRequest(const StudioRequest& request, const StudioAccess& access, StudioHost& host,
                                   const MusicAnalysis* music = nullptr);

// The readers of the two bodies that carry changes; false with the reason,
// in words for a person, when the body is not what the API takes.
bool ParseEditBody(const std::string& body, EditCommand& command, std::string& why);
bool ParseTransportBody(const std::string& body, TransportCommand& command, std::string& why);

// The events of one GET /api/events connection, as Server-Sent Events text.
// The first call gives a show, a state and an errors event; later calls give
// a show when the tracks changed, errors when they changed and the state
// when it differs from the last one sent (every call while playing). Empty
// when there is nothing new. The server calls it at least 20 times a second.
class StudioEventFeed {
 public:
  std::string Next(const StudioHost& host);

 private:
  bool started_ = false;
  std::shared_ptr<const std::string> show_;
  std::optional<std::vector<std::string>> errors_;
  std::string state_;
};
