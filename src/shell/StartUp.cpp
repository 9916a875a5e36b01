#include "shell/StartUp.h"

#include <GL/gl.h>

#include "image/TextureTable.h"
#include "platform/Display.h"
#include "render/OutlineFont.h"
#include "sync/MusicClock.h"

void DrawLoadingFrame(const char* text) {
  glClearColor(1.0f, 0.2f, 0.5f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDisable(GL_TEXTURE_2D);
  glLoadIdentity();
  glColor3f(1, 1, 1);
  glTranslatef(0, 0, -1.0f);
  glScalef(0.1f, 0.1f, 0.1f);
  if (text) PrintText(text, true);
  SwapDemoWindow();
}

void InitDemo() {
  CreateOutlineFont();
  glGenTextures(TextureSlots, TextureTable);
  DrawLoadingFrame("Loading.");
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  DrawLoadingFrame("Loading..");
  InitMusicAndTracks();
  StartMusicPlayback();
}
