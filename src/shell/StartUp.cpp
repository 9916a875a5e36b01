#include "shell/StartUp.h"

#include <GL/gl.h>

#include <string>
#include <utility>
#include <vector>

#include "image/ImageLoader.h"
#include "image/ImagePrefetch.h"
#include "image/TextureTable.h"
#include "platform/Display.h"
#include "render/OutlineFont.h"
#include "shell/RunStats.h"
#include "sync/MusicClock.h"

StartUpWatch StartUpWatcher;

namespace {

struct ImageSlot {
  const char* path;
  int slot;
};

// Loaded in this order, each into its own slot of the texture table.
constexpr ImageSlot Images[] = {
    {"res/vorn.gif", 0},         {"res/dravel.jpg", 1},       {"res/tile.jpg", 2},
    {"res/grlsch.png", 3},       {"res/nightbacon.gif", 4},   {"res/atari_st_bee.gif", 5},
    {"res/poubell.gif", 6},
};

// One more dot for each step of the start-up: "Loading." is presented before
// the blend state is set, each later text right before its image loads.
constexpr const char* LoadingTexts[] = {
    "Loading.",      "Loading..",      "Loading...",      "Loading....",
    "Loading.....",  "Loading......",  "Loading.......",  "Loading........",
};


}  // namespace

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

void InitDemo(double fromRow) {
  // The images are read, decoded and drawn into their squares on a worker
  // thread, one ahead of the uploads, from now on: behind the font, the
  // loading frames and each upload.
  std::vector<ImageRequest> requests;
  for (const ImageSlot& image : Images) requests.push_back({image.path, image.slot});
  ImagePrefetcher images(std::move(requests), CurrentRenderEdge());

  MarkStartUpStep("font and texture names");
  CreateOutlineFont();
  glGenTextures(TextureSlots, TextureTable);
  DrawLoadingFrame(LoadingTexts[0]);
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  // The frame with n dots stays on screen while the image of slot n - 2 loads;
  // the last one stays up through the music and the tracks as well.
  for (const ImageSlot& image : Images) {
    if (RunStatsEnabled()) MarkStartUpStep((std::string("image ") + image.path).c_str());
    DrawLoadingFrame(LoadingTexts[image.slot + 1]);
    UploadPreparedImage(images.Next());
    if (StartUpWatcher.imageLoaded) StartUpWatcher.imageLoaded(image.slot);
  }
  MarkStartUpStep("music and tracks");
  InitMusicAndTracks();
  StartMusicPlayback(fromRow);
  MarkStartUpStep("first show frame");
}
