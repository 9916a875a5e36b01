// The demo: one fullscreen window, music, and pictures in step with it.
#include "shell/Shell.h"

int main() { return RunDemo(); }
