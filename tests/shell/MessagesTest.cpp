// The demo's lines on stderr as a person or a script reads them: every line
// whole, under its subsystem's name, nothing cut short.
#include <gtest/gtest.h>

#include <string>

#include "platform/Messages.h"

namespace {

std::string Captured(void (*write)()) {
  testing::internal::CaptureStderr();
  write();
  return testing::internal::GetCapturedStderr();
}

TEST(Messages, LinesCarryTheirSubsystem) {
  struct Case {
    const char* what;
    void (*write)();
    std::string expected;
  };
  const Case cases[] = {
      {"a plain line", [] { Say(Subsystem::Fonts, "no font found for \"%s\"", "Arial"); },
       "demo: fonts: no font found for \"Arial\"\n"},
      {"the show's end has no subsystem name", [] { Say(Subsystem::Show, "the show has ended"); },
       "demo: the show has ended\n"},
      {"track text errors in the form editors read", [] { Say(Subsystem::TrackText, "%s:%d: bad", "a.tracks", 3); },
       "a.tracks:3: bad\n"},
      {"a long line is whole", [] { Say(Subsystem::Capture, "%s", std::string(1000, 'x').c_str()); },
       "demo: capture: " + std::string(1000, 'x') + "\n"},
      {"a block, each line prefixed", [] { SayLines(Subsystem::Startup, "one\ntwo\n"); },
       "demo: startup: one\ndemo: startup: two\n"},
      {"a block whose last line has no break", [] { SayLines(Subsystem::Startup, "one\ntwo"); },
       "demo: startup: one\ndemo: startup: two\n"},
      {"progress on a terminal rewrites itself", [] { SayProgress(Subsystem::Capture, true, false, "%d/%d", 1, 9); },
       "\rdemo: capture: 1/9"},
      {"the last progress line ends", [] { SayProgress(Subsystem::Capture, true, true, "%d/%d", 9, 9); },
       "\rdemo: capture: 9/9\n"},
      {"progress into a log is whole lines", [] { SayProgress(Subsystem::Capture, false, false, "%d/%d", 1, 9); },
       "demo: capture: 1/9\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Captured(c.write), c.expected) << c.what;
}

}  // namespace
