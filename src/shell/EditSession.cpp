// The edit mode: the show's tracks from a text file that is watched while the
// show plays.
//
// Watching is a look at the file's time and size, at most every WatchInterval
// and only between frames, so it works the same on every system and file
// system, whether an editor rewrites the file in place or renames a new one
// over it. A change is compiled at once, on this thread: compiling a show's
// text takes well under a millisecond, and the music plays on its own thread,
// so neither the music nor the picture has a gap. Tracks are swapped between
// two frames, so no frame mixes old and new keys.
//
// A save caught half-written fails to compile and is reported; the rest of the
// write changes the file again and the next look compiles the whole of it.
// A save caught at the very moment the editor has truncated the file would
// compile without an error, as a show without tracks: an empty file is taken
// only once it has stayed empty for EmptyGrace.
//
// The seven pictures are watched the same way, more slowly (decoding one and
// drawing it into its square takes tens of milliseconds, and a picture is
// saved far less often than tracks): a picture whose time or size changed,
// and then stayed so for one look, is loaded again on this thread and its
// texture replaced between two frames, by the start-up's own upload. The one
// look of waiting keeps a drawing program's half-written file off the screen;
// a picture that still cannot be made keeps the texture it had.
//
// The studio's page reaches the session through the studio's server, on a
// thread of its own that never touches the tracks: the session publishes the
// show after every change and the state after every frame, and applies the
// page's requests here, between two frames, as it applies a save. An edit
// from the page is written to the file before its answer, and the file as
// written counts as seen, so it is never taken for a save from outside.
#include "shell/EditSession.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "image/ImageLoader.h"
#include "platform/Audio.h"
#include "platform/Display.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/OpenUrl.h"
#include "platform/SystemRandom.h"
#include "render/DemoFrame.h"
#include "render/FramePlan.h"
#include "render/OutlineFont.h"
#include "shell/Projection.h"
#include "shell/ShowPlayer.h"
#include "show/ShowTable.h"
#include "show/ShowTrackNames.h"
#include "studio/StudioDocument.h"
#include "studio/StudioLink.h"
#include "studio/StudioServer.h"
#include "sync/MusicClock.h"
#include "sync/ShowTime.h"
#include "sync/TrackSwap.h"
#include "sync/TrackText.h"
#include "sync/Tracks.h"

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

constexpr auto WatchInterval = std::chrono::milliseconds(10);
constexpr auto PictureWatchInterval = std::chrono::milliseconds(250);
// An editor that saves by renaming leaves the name missing for a moment;
// only a file missing for longer than this is worth a word.
constexpr auto MissingGrace = std::chrono::seconds(1);
// Editors write a file they have truncated within milliseconds; a file still
// empty after this was emptied on purpose.
constexpr auto EmptyGrace = std::chrono::milliseconds(200);
constexpr int MostMessageLines = 4;
constexpr double FrameRateWindowSeconds = 0.5;
// How much music a seek while paused plays when the page asks for sound
// while scrubbing: long enough to hear a beat's attack, short enough that
// dragging along the waveform sounds like the music under the pointer.
constexpr double ScrubGrainSeconds = 0.08;
// The token's random bits.
constexpr std::size_t TokenBytes = 16;

struct FileStamp {
  bool exists = false;
  fs::file_time_type time{};
  uintmax_t size = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& name) {
  const fs::path path = FileSystemPath(name);  // UTF-8, any script
  FileStamp stamp;
  std::error_code error;
  stamp.time = fs::last_write_time(path, error);
  if (error) return {};
  stamp.size = fs::file_size(path, error);
  if (error) return {};
  stamp.exists = true;
  return stamp;
}

struct PictureWatch {
  FileStamp loaded;  // the file as it was when its texture was made
  FileStamp seen;    // the file at the last look
};

struct Session {
  bool active = false;
  PictureWatch pictures[ShowImageCount];
  SteadyClock::time_point lastPictureLook{};
  std::string path;
  int width = 0, height = 0;

  FileStamp seen;
  SteadyClock::time_point lastLook{};
  SteadyClock::time_point missingSince{};
  bool missingReported = false;
  bool emptyPending = false;  // found empty after a text that was not
  SteadyClock::time_point emptySince{};
  std::string compiledText;
  bool compiledOnce = false;

  // What the screen says about the file until the next good save.
  std::vector<std::string> messages;
  bool messagesAreErrors = false;
  long long messagesLeftOut = 0;  // errors that the compiler only counted

  // The save whose tracks the next presented frame is the first to show.
  bool reloadPending = false;
  fs::file_time_type savedAt{};

  bool paused = false;
  bool ended = false;

  // The studio's show: the edit history over the file's text.
  std::optional<StudioDocument> document;
  StudioShowInfo showInfo;
  std::shared_ptr<const std::string> showJson;  // of the published version
  std::shared_ptr<const std::vector<TrackSource>> showTracks;
  uint64_t publishedVersion = 0;
  std::optional<std::pair<double, double>> loop;
  bool scrubAudio = false;

  int framesInWindow = 0;
  SteadyClock::time_point windowStart{};
  double framesPerSecond = 0.0;
};

Session S;
EditClock Now = SteadyClock::now;

// The studio's server and its meeting point with the frame loop, for the
// whole run once OpenStudio has made them.
std::unique_ptr<StudioLink> Link;
StudioServer Server;

// Gives the studio's pages the show as it is now: the JSON of a new version
// is made once, here, and shared by every request until the next change.
void Publish() {
  if (!Link || !S.document) return;
  if (!S.showJson || S.document->Version() != S.publishedVersion) {
    S.publishedVersion = S.document->Version();
    S.showJson = std::make_shared<const std::string>(S.document->ShowJson(S.showInfo));
    S.showTracks = std::make_shared<const std::vector<TrackSource>>(S.document->Model().Tracks());
  }
  auto view = std::make_shared<StudioView>();
  view->version = S.publishedVersion;
  view->showJson = S.showJson;
  view->tracks = S.showTracks;
  view->errors = S.document->FileErrors();
  view->tempos = S.document->Model().Tempos();
  if (S.showInfo.endRow) view->musicSeconds = *S.showInfo.endRow / RowsPerSecond;
  Link->PublishView(std::move(view));
}

void Report(const std::vector<std::string>& lines, bool errors, long long leftOut = 0) {
  S.messages = lines;
  S.messagesAreErrors = errors;
  S.messagesLeftOut = leftOut;
  for (const std::string& line : lines) Say(Subsystem::TrackText, "%s", line.c_str());
  // While the file cannot be taken the studio refuses edits, which would
  // write over it.
  if (S.document) S.document->SetFileErrors(errors ? lines : std::vector<std::string>());
  Publish();
}

// Swaps the document's tracks in: after a save, and after the studio's own
// changes (fromStudio).
void SwapInDocument(bool fromStudio) {
  const TrackSwapResult swap = SwapInTrackSources(CurrentTrackSet(), S.document->Model().Tracks());
  std::vector<std::string> warnings;
  for (const TrackSource* unused : swap.unused) {
    warnings.push_back(S.path + ":" + std::to_string(unused->line) + ": " +
                       UnusedTrackMessage(unused->name, QuoteWord(unused->name)));
  }
  // The same warnings again after every edit from the page would fill the
  // terminal; those are said when they change.
  if (!fromStudio || warnings != S.messages || S.messagesAreErrors) {
    Report(warnings, false);
  } else {
    Publish();
  }
  // The fades depend on the control track's whole history: a new one gives
  // the fades a viewer of the new show would have.
  for (const std::string& name : swap.changed) {
    if (name == ControlTrackName) JumpPlaneFadesTo(CurrentRow());
  }
}

// Compiles the text and swaps its tracks in; a text with errors changes
// nothing but the messages.
void Compile(const std::string& text, const FileStamp& stamp) {
  S.compiledText = text;
  S.compiledOnce = true;
  std::vector<TrackTextError> errors;
  if (!S.document->TakeFileText(text, errors)) {
    std::vector<std::string> lines;
    for (const TrackTextError& e : errors) lines.push_back(S.path + ":" + std::to_string(e.line) + ": " + e.message);
    // The closing "... and N more errors" line stands for N of them.
    Report(lines, true, errors.back().more > 0 ? errors.back().more - 1 : 0);
    return;
  }
  SwapInDocument(false);
  S.reloadPending = true;
  S.savedAt = stamp.time;
}

void Look(bool force) {
  const SteadyClock::time_point now = Now();
  if (!force && now - S.lastLook < WatchInterval) return;
  S.lastLook = now;
  const FileStamp stamp = StampOf(S.path);
  if (!stamp.exists) {
    if (S.seen.exists) {
      S.seen = stamp;
      S.missingSince = now;
      S.missingReported = false;
    }
    if (!S.missingReported && now - S.missingSince >= MissingGrace) {
      S.missingReported = true;
      Report({S.path + ": missing; the tracks stay as they were"}, true);
    }
    return;
  }
  if (!force && stamp == S.seen && !S.emptyPending) return;
  S.seen = stamp;
  std::string text, why;
  if (!ReadTrackTextFile(S.path, text, why)) {
    Report({S.path + ": " + why + "; the tracks stay as they were"}, true);
    return;
  }
  if (text.empty() && S.compiledOnce && !S.compiledText.empty()) {
    if (!S.emptyPending) S.emptySince = now;
    S.emptyPending = true;
    if (now - S.emptySince < EmptyGrace) return;
  }
  S.emptyPending = false;
  // Saved again unchanged (or only touched): nothing to do, nothing to say.
  if (S.compiledOnce && text == S.compiledText && S.messages.empty()) return;
  Compile(text, stamp);
}

void LookAtPictures(bool force) {
  const SteadyClock::time_point now = Now();
  if (!force && now - S.lastPictureLook < PictureWatchInterval) return;
  S.lastPictureLook = now;
  for (std::size_t i = 0; i < ShowImageCount; ++i) {
    PictureWatch& watch = S.pictures[i];
    const std::string path = ShowFilePath(ShowImages[i].file);
    const FileStamp stamp = StampOf(path);
    const bool settled = stamp == watch.seen;
    watch.seen = stamp;
    if (force) watch.loaded = stamp;
    if (force || !settled || stamp == watch.loaded) continue;
    watch.loaded = stamp;
    const ImageFailureOutcome keep("it keeps its old picture");
    if (UploadPreparedImage(PrepareImage(path.c_str(), ShowImages[i].slot, CurrentRenderEdge()))) {
      Say(Subsystem::Edit, "%s: new picture on screen", path.c_str());
    }
  }
}

void CountFrame() {
  const SteadyClock::time_point now = SteadyClock::now();
  if (S.framesInWindow == 0) S.windowStart = now;
  ++S.framesInWindow;
  const double elapsed = std::chrono::duration<double>(now - S.windowStart).count();
  if (elapsed >= FrameRateWindowSeconds) {
    S.framesPerSecond = double(S.framesInWindow - 1) / elapsed;
    S.framesInWindow = 1;
    S.windowStart = now;
  }
}

// --- The overlay: text in window pixels over the finished frame -----------

void DrawBox(float x0, float y0, float x1, float y1) {
  glBegin(GL_QUADS);
  glVertex2f(x0, y0);
  glVertex2f(x1, y0);
  glVertex2f(x1, y1);
  glVertex2f(x0, y1);
  glEnd();
}

// One line of text with its baseline at y, on a dark box.
void DrawLine(const std::string& text, float x, float y, float size, const float colour[3]) {
  const float width = TextWidth(text.c_str()) * size;
  const float pad = size * 0.3f;
  glColor4f(0.0f, 0.0f, 0.0f, 0.65f);
  DrawBox(x - pad, y - size * 0.3f, x + width + pad, y + size);
  glColor4f(colour[0], colour[1], colour[2], 1.0f);
  glPushMatrix();
  glTranslatef(x, y, 0.0f);
  glScalef(size, size, 1.0f);
  PrintText(text.c_str(), false);
  glPopMatrix();
}

void DrawOverlay(const std::string& status) {
  static const float White[3] = {1.0f, 1.0f, 1.0f};
  static const float Red[3] = {1.0f, 0.45f, 0.4f};
  static const float Yellow[3] = {1.0f, 0.9f, 0.4f};
  // Large enough to read on a small window, no larger than a line of an editor.
  const float size = std::max(13.0f, std::min(28.0f, float(S.height) / 40.0f));
  const float line = size * 1.5f;
  const float margin = size;

  glPushAttrib(GL_ENABLE_BIT | GL_VIEWPORT_BIT | GL_CURRENT_BIT | GL_TRANSFORM_BIT |
               GL_COLOR_BUFFER_BIT);
  glViewport(0, 0, S.width, S.height);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0.0, S.width, 0.0, S.height, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_CULL_FACE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

  DrawLine(status, margin, margin, size, White);
  float y = float(S.height) - margin - size;
  const int shown = int(std::min<size_t>(S.messages.size(), MostMessageLines));
  for (int i = 0; i < shown; ++i, y -= line) {
    DrawLine(S.messages[size_t(i)], margin, y, size, S.messagesAreErrors ? Red : Yellow);
  }
  if (S.messages.size() > size_t(shown)) {
    const long long more = static_cast<long long>(S.messages.size() - size_t(shown)) + S.messagesLeftOut;
    DrawLine("... and " + std::to_string(more) + " more (see the terminal)", margin, y, size,
             S.messagesAreErrors ? Red : Yellow);
  }

  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glPopAttrib();
}

void Seek(double seconds) {
  // The audio layer keeps the position within the music.
  AudioSeek(MusicStream, std::max(seconds, 0.0));
  S.ended = false;
  JumpPlaneFadesTo(CurrentRow());
}

// --- The studio's requests, between two frames ---------------------------

// "plane C in, vorn.gif", "no plane", "end of the show": what a code does.
std::string ControlCodeText(int32_t code) {
  if (code == EndOfShowCode) return "end of the show";
  const PlaneChoice plane = PlaneForControlCode(code);
  if (plane.routine == PlaneRoutine::None) return "no plane";
  const char* names = "-ABC";
  const char* image = ShowImageForSlot(plane.slot);
  return std::string("plane ") + names[int(plane.routine)] + " " + (plane.fadeOut ? "out" : "in") + ", " +
         (image ? image : "no image");
}

StudioState CurrentState() {
  StudioState state;
  state.row = CurrentRow();
  const Track* control = ShowControlTrack();
  state.code = control ? TruncateTrackValue(TrackValue(control, state.row)) : 0;
  state.paused = S.paused;
  state.held = S.ended;
  state.fps = S.framesPerSecond;
  state.loop = S.loop;
  state.scrubAudio = S.scrubAudio;
  state.version = S.document ? S.document->Version() : 0;
  return state;
}

void ApplyTransport(const TransportCommand& command) {
  if (command.scrubAudio) S.scrubAudio = *command.scrubAudio;
  if (command.play) {
    if (*command.play && S.paused) AudioResume(MusicStream);
    if (!*command.play && !S.paused) AudioPause(MusicStream);
    S.paused = !*command.play;
    if (*command.play) S.ended = false;
  }
  if (command.setLoop) {
    S.loop = command.loop;
    const double row = CurrentRow();
    if (S.loop && (row < S.loop->first || row >= S.loop->second)) {
      Seek(S.loop->first / RowsPerSecond);
    }
  }
  if (command.seek) {
    Seek(*command.seek / RowsPerSecond);
    // The grain plays from where the seek put the music (clamped to it), and
    // the paused position, so the picture, stays there.
    if (S.paused && S.scrubAudio) AudioPlayGrain(MusicStream, CurrentRow() / RowsPerSecond, ScrubGrainSeconds);
  }
}

// After the studio changed the show: the file it wrote counts as seen, and
// its tracks go on screen in the next frame.
void TakeStudioChange(uint64_t versionBefore) {
  if (S.document->Version() == versionBefore) return;
  S.seen = StampOf(S.path);
  S.compiledText = S.document->Model().Text();
  S.compiledOnce = true;
  SwapInDocument(true);
}

StudioResult ApplyStudioCommand(const StudioCommand& command) {
  if (const TransportCommand* transport = std::get_if<TransportCommand>(&command)) {
    ApplyTransport(*transport);
    return {200, StateJson(CurrentState())};
  }
  // A save from outside that the watcher has not seen yet comes first, so
  // that the edit is judged against the show on disk (and refused as stale
  // when it was made on the show before that save).
  Look(true);
  const uint64_t before = S.document->Version();
  StudioResult result;
  if (const EditCommand* edit = std::get_if<EditCommand>(&command)) {
    result = S.document->Edit(*edit, S.showInfo);
  } else if (std::holds_alternative<UndoCommand>(command)) {
    result = S.document->Undo(S.showInfo);
  } else {
    result = S.document->Redo(S.showInfo);
  }
  TakeStudioChange(before);
  return result;
}

}  // namespace

std::string FormatEditStatus(const EditStatus& status) {
  char row[32];
  std::snprintf(row, sizeof row, "row %.1f", std::floor(status.row * 10.0) / 10.0);
  std::string text = FormatShowTime(status.seconds) + "   " + row + "   code " + std::to_string(status.code) + ": " +
                     ControlCodeText(status.code);
  if (status.ended || status.paused) {
    text += status.ended ? "   held at the end" : "   paused";
  } else {
    char fps[32];
    std::snprintf(fps, sizeof fps, "   %.0f fps", status.framesPerSecond);
    text += fps;
  }
  return text;
}

bool CheckEditFile(const std::string& path) {
  std::string text, why;
  if (ReadTrackTextFile(path, text, why)) return true;
  Say(Subsystem::Edit, "'%s': %s", path.c_str(), why.c_str());
  return false;
}

void BeginEditSession(const std::string& path, int width, int height) {
  S = Session{};
  S.active = true;
  S.path = path;
  S.width = width;
  S.height = height;
  S.document.emplace(path);
  S.showInfo.file = path;
  S.showInfo.endRow = MusicEndRow();
  for (int32_t code = 1; code <= EndOfShowCode; ++code) {
    if (code == EndOfShowCode || PlaneForControlCode(code).routine != PlaneRoutine::None) {
      S.showInfo.controls.push_back({code, ControlCodeText(code)});
    }
  }
  Look(true);
  LookAtPictures(true);
  JumpPlaneFadesTo(CurrentRow());
  S.reloadPending = false;  // the start is no save
  Say(Subsystem::Edit, "watching %s for saves", path.c_str());
}

void SetEditSessionClock(EditClock clock) { Now = clock ? clock : SteadyClock::now; }

void LookAtEditFile() { Look(false); }

bool EditFrame() {
  if (Link) Link->ServeCommands(ApplyStudioCommand);
  Look(false);
  LookAtPictures(false);
  if (S.loop && !S.paused && CurrentRow() >= S.loop->second) Seek(S.loop->first / RowsPerSecond);
  const double row = CurrentRow();
  const FrameTrackValues values = EvaluateFrameTracks(row);
  FramePlan plan = PlanFrame(values);
  if (plan.endsShow && !S.ended) {
    // Working on a show, its end is a place to look at, not a reason to
    // close the window: the music holds there until a key moves it.
    AudioPause(MusicStream);
    S.ended = true;
    S.paused = true;
  }
  plan.endsShow = false;
  ComposeFrame(plan, values, row);

  CountFrame();
  EditStatus status;
  status.row = row;
  status.seconds = row / RowsPerSecond;
  status.code = TruncateTrackValue(values.control);
  status.paused = S.paused;
  status.ended = S.ended;
  status.framesPerSecond = S.framesPerSecond;
  DrawOverlay(FormatEditStatus(status));
  SwapDemoWindow();
  if (Link) Link->PublishState(CurrentState());

  if (S.reloadPending) {
    S.reloadPending = false;
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(fs::file_time_type::clock::now() - S.savedAt);
    // A file stamped by another machine's clock says nothing about this one's.
    if (since.count() >= 0 && since.count() < 60000) {
      Say(Subsystem::Edit, "%s: new tracks on screen %lld ms after the save", S.path.c_str(),
          static_cast<long long>(since.count()));
    } else {
      Say(Subsystem::Edit, "%s: new tracks on screen", S.path.c_str());
    }
  }
  return true;
}

bool EditKey(int key) {
  if (!S.active) return false;
  const double seconds = CurrentRow() / RowsPerSecond;
  switch (key) {
    case KeySpace:
      if (S.paused) {
        AudioResume(MusicStream);
      } else {
        AudioPause(MusicStream);
      }
      S.paused = !S.paused;
      S.ended = false;
      return true;
    case KeyLeft: Seek(seconds - 1.0); return true;
    case KeyRight: Seek(seconds + 1.0); return true;
    case KeyDown: Seek(seconds - 10.0); return true;
    case KeyUp: Seek(seconds + 10.0); return true;
    case KeyHome: Seek(0.0); return true;
    default: return false;
  }
}

bool OpenStudio(const std::string& path, const StudioOptions& options) {
  // Without a port asked for, the edit mode works on without its studio.
  const bool required = options.port.has_value();
  unsigned char bytes[TokenBytes];
  std::string why;
  if (!SystemRandomBytes(bytes, sizeof bytes, why)) {
    Say(Subsystem::Studio, "%s; no studio for %s without a secret token", why.c_str(), path.c_str());
    return !required;
  }
  std::string token;
  for (unsigned char byte : bytes) {
    token += "0123456789abcdef"[byte >> 4];
    token += "0123456789abcdef"[byte & 15];
  }
  Link = std::make_unique<StudioLink>();
  if (!Server.Start(uint16_t(options.port.value_or(0)), *Link, token, why)) {
    Say(Subsystem::Studio, "cannot listen on %s%s", why.c_str(), required ? "" : "; the edit mode goes on without the studio");
    Link.reset();
    return !required;
  }
  // The waveform and the beats, read on the server's side, never here.
  Server.ReadMusic(ShowMusicPath());
  const std::string url = "http://127.0.0.1:" + std::to_string(Server.Port()) + "/#token=" + token;
  Say(Subsystem::Studio, "%s", url.c_str());
  if (options.open && !OpenInBrowser(url, why)) Say(Subsystem::Studio, "%s; open the address above yourself", why.c_str());
  return true;
}

void CloseStudio() {
  if (!Link) return;
  Link->Close();
  Server.Stop();
  Link.reset();
}
