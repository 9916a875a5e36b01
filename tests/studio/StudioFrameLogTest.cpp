// The frame log that bench/studio_latency.py reads: one line per published
// frame, only when DEMO_STUDIO_FRAME_LOG asks for it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>

#include "studio/StudioLink.h"

namespace {

TEST(StudioFrameLogTest, OneLinePerFrameOnlyWhenAsked) {
  struct Case {
    const char* value;  // nullptr: not set
    bool logs;
  };
  const Case cases[] = {{nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true}};
  const std::regex line(R"(demo: studio: frame v=(\d+) row=([-0-9.]+) t=([0-9.]+)\n)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    if (c.value) {
      setenv("DEMO_STUDIO_FRAME_LOG", c.value, 1);
    } else {
      unsetenv("DEMO_STUDIO_FRAME_LOG");
    }
    StudioLink link;
    StudioState state;
    state.version = 42;
    state.row = 1234.5;
    const double before = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    testing::internal::CaptureStderr();
    link.PublishState(state);
    const std::string said = testing::internal::GetCapturedStderr();
    const double after = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    EXPECT_EQ(link.State().version, 42u);  // published either way
    if (!c.logs) {
      EXPECT_EQ(said, "");
      continue;
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_match(said, m, line)) << said;
    EXPECT_EQ(m[1].str(), "42");
    EXPECT_EQ(m[2].str(), "1234.500");
    // The steady clock, as the reader's, to the microsecond.
    EXPECT_GE(std::stod(m[3].str()), before - 1e-6);
    EXPECT_LE(std::stod(m[3].str()), after + 1e-6);
  }
  unsetenv("DEMO_STUDIO_FRAME_LOG");
}

}  // namespace
