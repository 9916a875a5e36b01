// Runs the built demotool the way a person does and captures what it says.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct ToolRun {
  int status = -1;     // exit status, or -1 when it did not exit normally
  std::string output;  // stdout, plus stderr when asked for
};

inline ToolRun RunDemotool(const std::string& args, bool withStderr) {
  const std::string command =
      std::string(DEMOTOOL_BIN) + " " + args + (withStderr ? " 2>&1" : " 2>/dev/null");
  ToolRun run;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}
