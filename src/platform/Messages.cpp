#include "platform/Messages.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {

// The one table of subsystem names.
constexpr const char* Prefixes[] = {
    "demo: startup: ",  // Startup
    "demo: display: ",  // Display
    "demo: audio: ",    // Audio
    "demo: music: ",    // Music
    "demo: fonts: ",    // Fonts
    "demo: images: ",   // Images
    "demo: tracks: ",   // Tracks
    "demo: ",           // Show
    "demo: edit: ",     // Edit
    "demo: studio: ",   // Studio
    "",                 // TrackText
    "demo: render: ",   // Render
    "demo: capture: ",  // Capture
    "",                 // Stats
    "",                 // Usage
};
static_assert(sizeof Prefixes / sizeof Prefixes[0] == static_cast<size_t>(Subsystem::Count),
              "one prefix per subsystem");

std::string Format(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  char small[256];
  const int length = std::vsnprintf(small, sizeof small, format, args);
  std::string text;
  if (length < 0) {
    text = format;  // a broken format still says something
  } else if (static_cast<size_t>(length) < sizeof small) {
    text.assign(small, static_cast<size_t>(length));
  } else {
    text.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(length));
  }
  va_end(again);
  return text;
}

std::atomic<MessageObserver> observer{nullptr};

// One fwrite per line: stderr is unbuffered, and two threads' lines written
// piece by piece would interleave.
void Write(Subsystem subsystem, const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  if (const MessageObserver see = observer.load()) see(subsystem, line);
}

}  // namespace

void ObserveMessages(MessageObserver newObserver) { observer.store(newObserver); }

#if !defined(_WIN32)
void OpenMessageOutput() {}
int CloseMessageOutput(int exitCode) { return exitCode; }
#endif

const char* SubsystemPrefix(Subsystem subsystem) {
  const auto index = static_cast<size_t>(subsystem);
  return index < static_cast<size_t>(Subsystem::Count) ? Prefixes[index] : "demo: ";
}

void Say(Subsystem subsystem, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Format(format, args);
  va_end(args);
  Write(subsystem, SubsystemPrefix(subsystem) + text + "\n");
}

void SayLines(Subsystem subsystem, const std::string& text) {
  std::string lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines += SubsystemPrefix(subsystem);
    lines.append(text, start, end - start);
    lines += '\n';
    start = end + 1;
  }
  Write(subsystem, lines);
}

void SayProgress(Subsystem subsystem, bool inPlace, bool last, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Format(format, args);
  va_end(args);
  Write(subsystem, (inPlace ? "\r" : "") + (SubsystemPrefix(subsystem) + text) + (inPlace && !last ? "" : "\n"));
}
