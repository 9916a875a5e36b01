#include <cstdio>

#include "Commands.h"

int RunCheckCommand(int, char**) {
  std::fputs("demotool: this command is not built yet\n", stderr);
  return 2;
}
