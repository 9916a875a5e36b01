// Messages: every line the demo writes on stderr goes through here, under the
// name of the subsystem it concerns, so that the names are written once and
// read the same on every platform ("demo: fonts: ..." on Linux and Windows
// alike). Portable: the standard C library only, for the platform backends and
// everything above them.
//
// What callers rely on:
// - Say writes one whole line (prefix, text, line break) in one write, so that
//   a line from the audio thread never cuts into a line of the main thread.
// - The text is never cut short, however long.
#pragma once

#include <string>

// Formats are checked like printf's; on Windows the build prints with
// MinGW's own C99 printf (%zu, %lld), which the gnu_printf check describes.
#if defined(__MINGW32__)
#define DEMO_SAY_FORMAT(formatAt, argsAt) __attribute__((format(gnu_printf, formatAt, argsAt)))
#else
#define DEMO_SAY_FORMAT(formatAt, argsAt) __attribute__((format(printf, formatAt, argsAt)))
#endif

enum class Subsystem {
  Startup,    // "demo: startup: "  the command line and what is refused before the show
  Display,    // "demo: display: "  window, GL context, desktop, offscreen context
  Audio,      // "demo: audio: "    the output device and the system's decoder
  Music,      // "demo: music: "    the music file
  Fonts,      // "demo: fonts: "    the outline font
  Images,     // "demo: images: "   the seven images and their textures
  Tracks,     // "demo: tracks: "   the track files
  Show,       // "demo: "           the show's own course (its end)
  Edit,       // "demo: edit: "     the edit mode
  Studio,     // "demo: studio: "   the studio's server beside the edit mode
  TrackText,  // ""                 FILE:LINE: message, the form editors jump to
  Render,     // "demo: render: "   stills
  Capture,    // "demo: capture: "  video capture
  Stats,      // ""                 the --stats report, in the shape the README shows
  Usage,      // ""                 the usage text after a refused command line
  Count
};

// What starts each line of the subsystem.
const char* SubsystemPrefix(Subsystem subsystem);

// One line: the subsystem's prefix, the formatted text and a line break.
void Say(Subsystem subsystem, const char* format, ...) DEMO_SAY_FORMAT(2, 3);

// Each line of text (the last one need not end in a line break) as its own
// line with the subsystem's prefix.
void SayLines(Subsystem subsystem, const std::string& text);

// A progress line. inPlace (stderr is a terminal): the line starts with a
// carriage return, so that it overwrites the one before, and ends without a
// line break until last. Otherwise a plain line like Say's.
void SayProgress(Subsystem subsystem, bool inPlace, bool last, const char* format, ...)
    DEMO_SAY_FORMAT(4, 5);

// Where the lines go. Call OpenMessageOutput first in main, before anything
// is written, and pass main's exit status through CloseMessageOutput on the
// way out. Only the Windows program needs them (MessagesWin32.cpp): it is a
// windowed program, which finds the console it was started from here, and
// when its stderr goes nowhere shows a failure in a message box at the end.
// Elsewhere they do nothing.
void OpenMessageOutput();
int CloseMessageOutput(int exitCode);

// Called with the lines of every write (one or more, each ending in a line
// break) and their subsystem after they are written, from the thread that
// wrote them; null stops it. For the Windows program's message box.
using MessageObserver = void (*)(Subsystem subsystem, const std::string& lines);
void ObserveMessages(MessageObserver observer);
