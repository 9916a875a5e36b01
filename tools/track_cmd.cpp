#include <cstdio>

#include "Commands.h"

int RunTrackCommand(int, char**) {
  std::fputs("demotool: this command is not built yet\n", stderr);
  return 2;
}
