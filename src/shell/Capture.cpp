#include "shell/Capture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/Display.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/MusicProbe.h"
#include "platform/OffscreenGl.h"
#include "platform/Process.h"
#include "platform/VideoEncoder.h"
#include "shell/OffscreenShow.h"
#include "shell/Options.h"
#include "shell/ShowPlayer.h"
#include "sync/MusicClock.h"
#include "sync/TrackText.h"
#include "sync/Tracks.h"

namespace {

using Clock = std::chrono::steady_clock;

// Pictures read back and waiting for the encoder. Two more than the read-back
// ring lets the renderer run ahead while x264 digests a hard frame.
constexpr int PictureBuffers = OffscreenReadbackDepth + 2;

void Say(const std::string& message) { ::Say(Subsystem::Capture, "%s", message.c_str()); }

// The encoder's side of the pipeline: it takes pictures in order, encodes
// each with the music that plays during it, and hands the buffer back.
class EncodeThread {
 public:
  EncodeThread(VideoEncoder* encoder, MusicDecoder* music, int channels, long rate, int fps,
               std::vector<std::vector<uint8_t>> pictures)
      : encoder_(encoder), music_(music), channels_(channels), rate_(rate), fps_(fps), spare_(std::move(pictures)) {
    thread_ = std::thread([this] {
      try {
        Run();
      } catch (const std::bad_alloc&) {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = "out of memory while encoding";
        failed_ = true;
        changed_.notify_all();
      }
    });
  }

  ~EncodeThread() { Close(); }

  // A buffer to read the next picture into; waits while all are in use.
  std::vector<uint8_t> TakeSpare() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !spare_.empty() || failed_; });
    if (failed_) return {};
    std::vector<uint8_t> buffer = std::move(spare_.back());
    spare_.pop_back();
    return buffer;
  }

  void Submit(std::vector<uint8_t> picture) {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.push_back(std::move(picture));
    changed_.notify_all();
  }

  // Waits until every submitted picture is encoded; the error, if any.
  bool Close() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
      changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    return !failed_;
  }

  bool Failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
  }
  const std::string& Error() const { return error_; }
  double EncodeSeconds() const { return encodeSeconds_; }

 private:
  void Run() {
    std::vector<float> samples;
    for (int64_t frame = 0;; ++frame) {
      std::vector<uint8_t> picture;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !waiting_.empty() || closed_; });
        if (waiting_.empty()) return;
        picture = std::move(waiting_.front());
        waiting_.pop_front();
      }
      const Clock::time_point start = Clock::now();
      bool ok = EncodeVideoFrame(encoder_, picture.data(), error_);
      if (ok && music_) {
        // The sound that plays while this picture is shown: up to the sample
        // where the next frame starts, in whole-sample steps that never drift.
        const int64_t end = (frame + 1) * rate_ / fps_;
        const long wanted = static_cast<long>(end - samplesDone_);
        samples.resize(static_cast<size_t>(wanted) * channels_);
        const long got = ReadMusicSamples(music_, samples.data(), wanted);
        samplesDone_ = end;
        ok = EncodeAudioSamples(encoder_, samples.data(), got, error_);
      }
      encodeSeconds_ += std::chrono::duration<double>(Clock::now() - start).count();
      std::lock_guard<std::mutex> lock(mutex_);
      spare_.push_back(std::move(picture));
      if (!ok) failed_ = true;
      changed_.notify_all();
      if (!ok) return;
    }
  }

  VideoEncoder* encoder_;
  MusicDecoder* music_;
  int channels_;
  int64_t rate_;
  int fps_;
  int64_t samplesDone_ = 0;
  double encodeSeconds_ = 0.0;
  std::string error_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::vector<uint8_t>> spare_;
  std::deque<std::vector<uint8_t>> waiting_;
  bool closed_ = false;
  bool failed_ = false;
  std::thread thread_;
};

bool picturesFailForTesting = false;

// The buffers the pictures travel in, allocated before the first frame: at a
// large --size they are gigabytes, and a machine short of memory says so here
// rather than part-way. False when they cannot all be had.
bool AllocatePictures(size_t bytes, std::vector<std::vector<uint8_t>>& pictures) {
  try {
    if (picturesFailForTesting) throw std::bad_alloc();
    for (int i = 0; i < PictureBuffers; ++i) pictures.emplace_back(bytes);
    return true;
  } catch (const std::bad_alloc&) {
    pictures.clear();
    return false;
  }
}

// One line on stderr that rewrites itself on a terminal; elsewhere (a log
// file, a test) a plain line at every tenth of the way.
class ProgressBar {
 public:
  explicit ProgressBar(int64_t total) : total_(total), onTerminal_(StderrIsTerminal()) {}

  void Update(int64_t done, bool last = false) {
    const Clock::time_point now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    if (onTerminal_) {
      if (!last && now - shown_ < std::chrono::milliseconds(250)) return;
    } else {
      const int64_t tenth = total_ > 0 ? done * 10 / total_ : 10;
      if (last ? done == lastShown_ : tenth == lastTenth_) return;
      lastTenth_ = tenth;
    }
    lastShown_ = done;
    shown_ = now;
    const double fps = elapsed > 0.0 ? done / elapsed : 0.0;
    const double left = fps > 0.0 ? (total_ - done) / fps : 0.0;
    constexpr int Width = 30;
    const int filled = total_ > 0 ? static_cast<int>(Width * done / total_) : Width;
    std::string bar(filled, '#');
    bar.resize(Width, '-');
    SayProgress(Subsystem::Capture, onTerminal_, last, "[%s] %lld/%lld frames  %.1f fps  %d:%02d left",
                bar.c_str(), static_cast<long long>(done), static_cast<long long>(total_), fps,
                static_cast<int>(left) / 60, static_cast<int>(left) % 60);
  }

 private:
  int64_t total_;
  bool onTerminal_;
  int64_t lastTenth_ = -1;
  int64_t lastShown_ = -1;
  Clock::time_point start_ = Clock::now();
  Clock::time_point shown_{};
};

// Everything a capture holds open; released in one place whatever happens.
struct CaptureResources {
  PendingFile file;
  MusicDecoder* music = nullptr;
  VideoEncoder* encoder = nullptr;

  ~CaptureResources() {
    if (encoder) AbortVideoEncoder(encoder);
    CloseMusicDecoder(music);
    CloseOffscreenGl();
    DiscardPendingFile(file);
  }
};

// The music from startRow on; false with the reason when it cannot be read.
bool OpenMusicAt(double startRow, MusicDecoder*& decoder, std::string& error) {
  MusicFileInfo info;
  decoder = OpenMusicDecoder(ShowMusicPath().c_str(), info, error);
  if (!decoder) return false;
  int64_t skip = static_cast<int64_t>(startRow / RowsPerSecond * info.rate + 0.5);
  std::vector<float> discard(4096 * static_cast<size_t>(info.channels));
  while (skip > 0) {
    const long got = ReadMusicSamples(decoder, discard.data(), static_cast<long>(std::min<int64_t>(skip, 4096)));
    if (got <= 0) break;
    skip -= got;
  }
  return true;
}

}  // namespace

int64_t CountCaptureFrames(double startRow, std::optional<double> endRow, double musicRows, int fps,
                           int64_t limit) {
  int64_t frames = 0;
  for (; frames < limit; ++frames) {
    const double row = OffscreenFrameRow(startRow, frames, fps);
    if (endRow && row >= *endRow) break;
    if (musicRows >= 0.0 && row >= musicRows) break;
    if (ShowEndsAt(row)) break;
  }
  return frames;
}

void SetCapturePicturesFailForTesting(bool fail) { picturesFailForTesting = fail; }

// CaptureVideo without the last resort for memory that runs out elsewhere.
static int RunCapture(const DemoOptions& request) {
  // From the very start, so that Ctrl+C during the start-up also goes
  // through the clean-up below rather than leaving the pending file behind.
  InstallQuitSignals();
  CaptureResources held;
  std::string error;
  // A system without the encoders (or a container it cannot write) is
  // refused before the track text is read or any file exists.
  if (!CheckVideoEncoding(ContainerForPath(request.outputFile), error)) {
    Say("cannot capture: " + error);
    return 1;
  }
  const double startRow = request.fromRow.value_or(0.0);
  // Track text with errors refuses the capture before any file is created.
  std::vector<TrackSource> trackText;
  const bool fromText = !request.tracksFile.empty();
  if (fromText && !CompileTrackTextFile(request.tracksFile, Subsystem::Capture, trackText)) return 1;
  if (!CreatePendingFile(request.outputFile, held.file, error)) {
    Say(error);
    return 1;
  }
  VideoEncoderSettings settings;
  settings.path = held.file.tempPath;
  settings.container = ContainerForPath(request.outputFile);
  settings.width = request.size.width;
  settings.height = request.size.height;
  settings.fps = request.framesPerSecond;

  // Without music the video is silent and only the control track or --to
  // ends it; the demo itself plays silently then too.
  MusicFileInfo music;
  double musicRows = -1.0;
  if (ProbeMusicFile(ShowMusicPath().c_str(), music, error) && OpenMusicAt(startRow, held.music, error)) {
    musicRows = MusicEndRow().value_or(-1.0);
    settings.audioRate = static_cast<int>(music.rate);
    settings.audioChannels = music.channels;
  } else {
    Say(std::string("no music (") + ShowMusicPath() + ": " + error + "); the video will be silent");
  }
  held.encoder = OpenVideoEncoder(settings, error);
  if (!held.encoder) {
    Say(error);
    return 1;
  }
  if (!OpenOffscreenShow(request.size.width, request.size.height, Subsystem::Capture,
                         fromText ? &trackText : nullptr)) {
    return 1;
  }

  // Past the last key of the control track nothing changes any more: a show
  // that has not ended by then never will.
  const Track* control = ShowControlTrack();
  const int64_t lastKeyRow = control && control->keyCount > 0 ? control->keys[control->keyCount - 1].row : 0;
  const int64_t limit = (request.toRow || musicRows >= 0.0)
                            ? INT64_MAX
                            : static_cast<int64_t>((lastKeyRow - startRow) / RowsPerSecond * request.framesPerSecond) + 2;
  const int64_t total = CountCaptureFrames(startRow, request.toRow, musicRows, request.framesPerSecond, limit);
  if (total >= limit) {
    Say("nothing ends the show: there is no music and the control track never reaches 777; give --to");
    return 1;
  }
  if (total == 0 && musicRows >= 0.0 && startRow >= musicRows) {
    Say("nothing to capture: " + PastMusicEnd(startRow, musicRows));
    return 1;
  }
  if (total == 0) {
    Say("nothing to capture: the show has ended by " + RowAsTime(startRow));
    return 1;
  }
  if (!CatchUpWithViewer(startRow, request.framesPerSecond)) {
    Say("the show has ended (control code 777) by " + RowAsTime(startRow));
    return 1;
  }

  const size_t pictureBytes = static_cast<size_t>(request.size.width) * request.size.height * 4;
  std::vector<std::vector<uint8_t>> pictures;
  if (!AllocatePictures(pictureBytes, pictures)) {
    Say("not enough memory for " + std::to_string(PictureBuffers) + " pictures of " + std::to_string(request.size.width) +
        "x" + std::to_string(request.size.height) + "; nothing written (a smaller --size needs less)");
    return 1;
  }
  EncodeThread encoding(held.encoder, held.music, music.channels, music.rate, request.framesPerSecond,
                        std::move(pictures));
  ProgressBar progress(total);
  int64_t rendered = 0;
  bool interrupted = false;
  // Where the time goes, for the closing line: the main thread draws, reads
  // back and at times waits for a free picture buffer; the encoder thread
  // works beside it.
  double drawing = 0.0, readingBack = 0.0, waiting = 0.0;
  Clock::time_point mark = Clock::now();
  auto lap = [&mark](double& into) {
    const Clock::time_point now = Clock::now();
    into += std::chrono::duration<double>(now - mark).count();
    mark = now;
  };
  const Clock::time_point started = mark;
  const double cpuAtStart = ProcessorSeconds();
  auto handOver = [&] {
    lap(readingBack);
    std::vector<uint8_t> picture = encoding.TakeSpare();
    lap(waiting);
    if (picture.empty() || !TakeOffscreenReadback(picture.data())) return false;
    lap(readingBack);
    encoding.Submit(std::move(picture));
    return true;
  };
  bool ok = true;
  // Ends that still finish the file with the frames rendered, but fail the
  // run: nobody asked for them.
  bool hungUp = false;      // the terminal closed
  bool stderrGone = false;  // stderr is a pipe nobody reads any more
  for (; rendered < total && ok; ++rendered) {
    if (stderrGone || TakeQuitSignal()) {
      interrupted = true;
      hungUp = !stderrGone && QuitSignalWasHangUp();
      break;
    }
    lap(readingBack);
    DrawOffscreenFrame(OffscreenFrameRow(startRow, rendered, request.framesPerSecond));
    lap(drawing);
    if (QueuedOffscreenReadbacks() == OffscreenReadbackDepth) ok = handOver();
    QueueOffscreenReadback();
    ok = ok && !encoding.Failed();
    errno = 0;
    progress.Update(rendered + 1);
    stderrGone = std::ferror(stderr) && errno == EPIPE;
  }
  while (ok && QueuedOffscreenReadbacks() > 0) ok = handOver();
  ok = encoding.Close() && ok;
  if (!ok) {
    Say(encoding.Error());
    return 1;
  }
  progress.Update(rendered, true);
  if (interrupted && rendered == 0) {
    Say(hungUp ? "the terminal closed before the first frame; nothing written"
               : "interrupted before the first frame; nothing written");
    return 1;
  }

  VideoEncoder* encoder = held.encoder;
  held.encoder = nullptr;
  if (!FinishVideoEncoder(encoder, error) || !CommitPendingFile(held.file, error)) {
    Say(error);
    return 1;
  }
  const double wall = std::chrono::duration<double>(Clock::now() - started).count();
  if (wall > 0.0 && rendered > 0) {
    // The processor time of the whole process (renderer, encoder and their
    // threads) per second of video says what the machine could do if it were
    // not shared: below its core count means faster than real time.
    const double cpu = ProcessorSeconds() - cpuAtStart;
    const double fps = rendered / wall;
    const auto share = [wall](double seconds) { return static_cast<int>(100.0 * seconds / wall + 0.5); };
    char line[400];
    std::snprintf(line, sizeof line,
                  "%lld frames in %.1f s: %.1f fps, %.2fx real time, %.2f processor seconds per second of video; "
                  "issuing GL calls %d%%, resolving and reading back (with the renderer's wait) %d%%, "
                  "waiting for the encoder %d%%; the encoder was busy %d%% of the time",
                  static_cast<long long>(rendered), wall, fps, fps / request.framesPerSecond,
                  cpu * request.framesPerSecond / rendered, share(drawing), share(readingBack), share(waiting),
                  share(encoding.EncodeSeconds()));
    Say(line);
  }
  if (hungUp) {
    Say("the terminal closed: stopped at " + RowAsTime(OffscreenFrameRow(startRow, rendered, request.framesPerSecond)) +
        "; '" + request.outputFile + "' holds the " + std::to_string(rendered) + " frames rendered");
    return 1;
  }
  if (stderrGone) return 1;  // nowhere left to say so
  if (interrupted) {
    Say("stopped at " + RowAsTime(OffscreenFrameRow(startRow, rendered, request.framesPerSecond)) + "; '" +
        request.outputFile + "' holds the " + std::to_string(rendered) + " frames rendered");
  }
  return 0;
}

int CaptureVideo(const DemoOptions& request) {
  try {
    return RunCapture(request);
  } catch (const std::bad_alloc&) {
    // Everything RunCapture held, the pending file first, is released by now.
    Say("out of memory; nothing written");
    return 1;
  }
}
