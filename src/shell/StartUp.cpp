#include "shell/StartUp.h"

#include <GL/gl.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "image/ImageLoader.h"
#include "image/ImagePrefetch.h"
#include "image/TextureTable.h"
#include "platform/Display.h"
#include "platform/Files.h"
#include "render/OutlineFont.h"
#include "shell/RunStats.h"
#include "shell/StartUpTesting.h"
#include "shell/WindowProc.h"
#include "show/ShowTable.h"
#include "sync/MusicClock.h"

namespace {

StartUpWatch StartUpWatcher;

// One more dot for each step of the start-up: "Loading." is presented before
// the blend state is set, each later text right before its image loads.
constexpr const char* LoadingTexts[] = {
    "Loading.",      "Loading..",      "Loading...",      "Loading....",
    "Loading.....",  "Loading......",  "Loading.......",  "Loading........",
};

// The show's image requests, with the path strings they point into (the
// prefetcher keeps only the pointers, so this outlives it).
struct ShowImageRequests {
  std::vector<std::string> paths;
  std::vector<ImageRequest> requests;
  ShowImageRequests() {
    paths.reserve(ShowImageCount);
    for (const ShowImage& image : ShowImages) {
      paths.push_back(ShowFilePath(image.file));
      requests.push_back({paths.back().c_str(), image.slot});
    }
  }
  ShowImageRequests(const ShowImageRequests&) = delete;
};

// Handles everything waiting in the queue, as the show's loop would between
// its frames; true when a quit came out of it. Loading takes seconds on a slow
// machine, and a viewer who asks to leave then must not have to wait it out.
bool QuitDuringLoading() {
  for (;;) {
    switch (PumpOneMessage()) {
      case PumpResult::Quit:
        return true;
      case PumpResult::Handled:
        break;
      case PumpResult::NoneWaiting:
        return false;
    }
  }
}

// Uploads the next prepared image and hands its pixels back for the one after.
void UploadNextImage(ImagePrefetcher& images) {
  PreparedImage prepared = images.Next();
  UploadPreparedImage(prepared);
  images.GiveBack(std::move(prepared.pixels));
}

void EnableTexturingAndBlending() {
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

}  // namespace

void WatchStartUp(const StartUpWatch& watch) { StartUpWatcher = watch; }

void DrawLoadingFrame(const char* text) {
  glClearColor(1.0f, 0.2f, 0.5f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDisable(GL_TEXTURE_2D);
  glLoadIdentity();
  glColor3f(1.0f, 1.0f, 1.0f);
  glTranslatef(0.0f, 0.0f, -1.0f);
  glScalef(0.1f, 0.1f, 0.1f);
  if (text) PrintText(text, true);
  if (StartUpWatcher.loadingFrameDrawn) StartUpWatcher.loadingFrameDrawn(text);
  SwapDemoWindow();
}

bool InitDemo(const ShowStart& start) {
  // The images are read, decoded and drawn into their squares on a worker
  // thread, one ahead of the uploads, from now on: behind the font, the
  // loading frames and each upload.
  const ShowImageRequests show;
  ImagePrefetcher images(show.requests, CurrentRenderEdge());

  MarkStartUpStep("font and texture names");
  CreateOutlineFont();
  glGenTextures(TextureSlots, TextureTable);
  // A step of its own: the renderer's first frame compiles its shaders and
  // touches its buffers for the first time, which a software renderer takes
  // several later frames' time for.
  MarkStartUpStep("first loading frame");
  DrawLoadingFrame(LoadingTexts[0]);
  if (QuitDuringLoading()) return false;
  EnableTexturingAndBlending();
  // The frame with n dots stays on screen while the image of slot n - 2 loads;
  // the last one stays up through the music and the tracks as well.
  for (const ShowImage& image : ShowImages) {
    if (RunStatsEnabled()) MarkStartUpStep((std::string("image ") + image.file).c_str());
    DrawLoadingFrame(LoadingTexts[image.slot + 1]);
    if (QuitDuringLoading()) return false;
    UploadNextImage(images);
    if (StartUpWatcher.imageLoaded) StartUpWatcher.imageLoaded(image.slot);
    if (QuitDuringLoading()) return false;
  }
  MarkStartUpStep("music and tracks");
  InitMusicAndTracks(start.readTrackFiles);
  StartMusicPlayback(start.fromRow);
  MarkStartUpStep("first show frame");
  return true;
}

void InitShowOffscreen(bool readTrackFiles) {
  const ShowImageRequests show;
  ImagePrefetcher images(show.requests, CurrentRenderEdge());
  CreateOutlineFont();
  glGenTextures(TextureSlots, TextureTable);
  EnableTexturingAndBlending();
  for (size_t i = 0; i < ShowImageCount; ++i) UploadNextImage(images);
  RequestShowTracks(readTrackFiles);
}
