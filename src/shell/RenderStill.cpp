#include "shell/RenderStill.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/OffscreenGl.h"
#include "platform/PngWriter.h"
#include "shell/OffscreenShow.h"
#include "shell/Options.h"
#include "shell/ShowPlayer.h"
#include "sync/TrackText.h"

namespace {

int Fail(const std::string& message) {
  Say(Subsystem::Render, "%s", message.c_str());
  CloseOffscreenGl();
  return 1;
}

// Whether the output can be created at all, asked before minutes of start-up
// are spent; the file itself is written only once the picture exists.
bool CheckWritable(const std::string& path, std::string& error) {
  PendingFile probe;
  if (!CreatePendingFile(path, probe, error)) return false;
  DiscardPendingFile(probe);
  return true;
}

}  // namespace

int RenderStill(const DemoOptions& request) {
  std::string error;
  if (!CheckWritable(request.outputFile, error)) return Fail(error);
  if (request.renderRow < 0.0) return Fail("the time " + RowAsTime(request.renderRow) + " is before the start");
  // Track text is compiled before anything else is spent on it, and a text
  // with errors writes nothing: a still of other tracks would mislead.
  std::vector<TrackSource> trackText;
  const bool fromText = !request.tracksFile.empty();
  if (fromText && !CompileTrackTextFile(request.tracksFile, Subsystem::Render, trackText)) return 1;
  if (!OpenOffscreenShow(request.size.width, request.size.height, Subsystem::Render,
                         fromText ? &trackText : nullptr)) {
    return 1;
  }

  // The demo's clock stops at the end of the music, so no frame lies beyond
  // it; the very end is the last one that does.
  const std::optional<double> musicEnd = MusicEndRow();
  if (musicEnd && request.renderRow > *musicEnd) {
    return Fail("the time " + PastMusicEnd(request.renderRow, *musicEnd));
  }
  if (!CatchUpWithViewer(request.renderRow, request.framesPerSecond) || !DrawOffscreenFrame(request.renderRow)) {
    return Fail("the show has ended (control code 777) by " + RowAsTime(request.renderRow));
  }

  std::vector<uint8_t> pixels(static_cast<size_t>(request.size.width) * request.size.height * 4);
  QueueOffscreenReadback();
  if (!TakeOffscreenReadback(pixels.data())) return Fail("the picture could not be read back");
  CloseOffscreenGl();

  PendingFile file;
  if (!CreatePendingFile(request.outputFile, file, error)) return Fail(error);
  if (!WritePngBottomUp(file.tempPath, pixels.data(), request.size.width, request.size.height, error)) {
    DiscardPendingFile(file);
    return Fail("cannot write '" + request.outputFile + "': " + error);
  }
  if (!CommitPendingFile(file, error)) return Fail(error);
  return 0;
}
