// Message output of the Windows program (Messages.h).
//
// demo.exe is a windowed program (GUI subsystem): started from Explorer it
// gets no console window, which would otherwise open first and keep the
// keyboard from the show. Such a program gets no console when started from
// a terminal either, so OpenMessageOutput attaches to the console of the
// process that started it and points stdout and stderr there, each only when
// it is not already redirected to a file or a pipe, or in a console to a
// device such as NUL (every test redirects both; those handles are kept as
// they are). Ctrl+C in that console then reaches the program as in a console
// program (QuitSignalsWin32.cpp).
//
// With no console to attach to and stderr going nowhere, nobody would read
// why the program ended before the show: the lines are kept, and
// CloseMessageOutput shows them in one message box when the exit status is
// not 0. Redirected stderr never gets a message box.
//
// What it cannot do: cmd.exe does not wait for a windowed program, so the
// demo's lines appear after the prompt has come back (`start /wait` waits).
#include <windows.h>
#include <io.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/Messages.h"
#include "platform/windows/TextWin32.h"

namespace {

// A failure before the show says what went wrong in its first lines; the
// rest is only counted, so that the box fits on the screen.
constexpr size_t kMessageBoxLines = 20;

std::mutex keptMutex;
std::vector<std::string> kept;  // the first kMessageBoxLines lines
size_t keptLeftOut = 0;
bool keeping = false;

// The usage text after a refused command line is left out: the line before
// it says what was wrong, and a box of forty lines would hide that.
void Keep(Subsystem subsystem, const std::string& lines) {
  if (subsystem == Subsystem::Usage) return;
  std::lock_guard<std::mutex> lock(keptMutex);
  size_t start = 0;
  while (start < lines.size()) {
    size_t end = lines.find('\n', start);
    end = end == std::string::npos ? lines.size() : end + 1;
    // A progress line rewrites itself on a terminal with a carriage return.
    const size_t from = lines[start] == '\r' ? start + 1 : start;
    if (kept.size() < kMessageBoxLines) {
      kept.push_back(lines.substr(from, end - from));
      if (kept.back().empty() || kept.back().back() != '\n') kept.back() += '\n';
    } else {
      ++keptLeftOut;
    }
    start = end;
  }
}

// The stream reopened on the console; the system's standard handle follows,
// for anything that asks for it rather than the C runtime.
void PointAtConsole(FILE* stream, DWORD which) {
  if (!std::freopen("CONOUT$", "w", stream)) return;
  if (stream == stderr) std::setvbuf(stderr, nullptr, _IONBF, 0);
  const intptr_t handle = _get_osfhandle(_fileno(stream));
  if (handle != -1) SetStdHandle(which, reinterpret_cast<HANDLE>(handle));
}

std::string MessageBoxText(const std::vector<std::string>& lines, size_t leftOut, int exitCode) {
  std::string text;
  for (const std::string& line : lines) text += line;
  if (leftOut > 0) text += "(" + std::to_string(leftOut) + " more lines)\n";
  if (!text.empty()) text += "\n";
  text += "The demo ended with exit status " + std::to_string(exitCode) + ".";
  return text;
}

// A file or a pipe that the starter redirected the stream to.
bool Redirected(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  const DWORD type = GetFileType(handle);
  return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

}  // namespace

void OpenMessageOutput() {
  // Attached even when both streams are redirected: Ctrl+C in the console
  // the program was started from still ends it.
  const bool attached = GetConsoleWindow() == nullptr && AttachConsole(ATTACH_PARENT_PROCESS);
  // A device other than the console while a console is at hand (2>nul) was
  // the person's choice too.
  auto leaveAsIs = [attached](DWORD which) {
    if (Redirected(which)) return true;
    const HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    return attached && handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) == FILE_TYPE_CHAR && !GetConsoleMode(handle, &mode);
  };
  const bool outKept = leaveAsIs(STD_OUTPUT_HANDLE);
  const bool errKept = leaveAsIs(STD_ERROR_HANDLE);
  if (attached) {
    if (!outKept) PointAtConsole(stdout, STD_OUTPUT_HANDLE);
    if (!errKept) PointAtConsole(stderr, STD_ERROR_HANDLE);
    // A windowed program may have been started with Ctrl+C ignored (the
    // setting is inherited); in the console a person expects it to work.
    SetConsoleCtrlHandler(nullptr, FALSE);
    // The lines are UTF-8, names of folders in any script included.
    UseUtf8Console();
  } else if (!errKept && GetConsoleWindow() == nullptr) {
    keeping = true;
    ObserveMessages(Keep);
  }
}

int CloseMessageOutput(int exitCode) {
  if (!keeping) return exitCode;
  ObserveMessages(nullptr);
  keeping = false;
  if (exitCode == 0) return exitCode;
  std::vector<std::string> lines;
  size_t leftOut = 0;
  {
    std::lock_guard<std::mutex> lock(keptMutex);
    lines.swap(kept);
    leftOut = keptLeftOut;
  }
  const std::string text = MessageBoxText(lines, leftOut, exitCode);
  // The lines are UTF-8, as every path the demo names is.
  const std::wstring wide = WideText(text);
  MessageBoxW(nullptr, wide.c_str(), L"demo", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
  return exitCode;
}
