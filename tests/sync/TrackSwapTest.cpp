// Tracks compiled from text swapped into a registry while the show runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sync/TrackSwap.h"
#include "sync/TrackText.h"
#include "sync/Tracks.h"

namespace {

std::vector<TrackSource> Compile(const std::string& text) {
  std::vector<TrackTextError> errors;
  std::vector<TrackSource> sources = ParseTrackText(text, errors);
  EXPECT_TRUE(errors.empty()) << errors.front().message;
  return sources;
}

TEST(TrackSwapTest, EachSaveReplacesEveryRegisteredTrack) {
  TrackSet* set = CreateTrackSet("sync");
  Track* x = RegisterTrack("back.x");
  Track* r = RegisterTrack("back.r");
  Track* control = RegisterTrack("control");
  ASSERT_EQ(x->keyCount, 0);

  struct Save {
    const char* text;
    std::vector<std::string> changed;
    std::vector<std::string> unused;
    float x5, r5, control5;  // values at row 5 after the swap
  };
  const Save saves[] = {
      {"track back.x\n0 1 linear\n10 3 step\ntrack control\n0 5 step\n", {"back.x", "control"}, {}, 2.0f, 0.0f, 5.0f},
      // Saved again unchanged: nothing moves, so no fade is replayed for nothing.
      {"track back.x\n0 1 linear\n10 3 step\ntrack control\n0 5 step\n", {}, {}, 2.0f, 0.0f, 5.0f},
      // A track left out of the text is 0 again; a name the show does not use
      // changes nothing and is handed back.
      {"track back.r\n0 0.5 step\ntrack back.rr\n0 1 step\ntrack control\n0 5 step\n",
       {"back.x", "back.r"}, {"back.rr"}, 0.0f, 0.5f, 5.0f},
      // -0 is not 0 to the picture.
      {"track back.r\n0 0.5 step\ntrack control\n0 -0 step\n", {"control"}, {}, 0.0f, 0.5f, -0.0f},
  };
  for (const Save& save : saves) {
    SCOPED_TRACE(save.text);
    const std::vector<TrackSource> sources = Compile(save.text);
    const TrackSwapResult result = SwapInTrackSources(set, sources);
    EXPECT_EQ(result.changed, save.changed);
    std::vector<std::string> unused;
    for (const TrackSource* source : result.unused) unused.push_back(source->name);
    EXPECT_EQ(unused, save.unused);
    EXPECT_EQ(TrackValue(x, 5.0), save.x5);
    EXPECT_EQ(TrackValue(r, 5.0), save.r5);
    EXPECT_EQ(TrackValue(control, 5.0), save.control5);
  }
  DestroyTrackSet(set);
}

}  // namespace
