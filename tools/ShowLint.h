// What a show's tracks may hold that the demo plays without a word but that
// nobody writes on purpose: a track name the show never reads, a control code
// it does not know, a control key that slides through every code between two
// scenes, a backdrop number that is no image. demotool's build and checks say
// so; the demo itself stays as tolerant as ever.
//
// Header only: the track commands are compiled into the tool and into its
// tests from a fixed list of sources.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "show/ShowTable.h"
#include "show/ShowTrackNames.h"
#include "sync/TrackKey.h"

// Codes 1 to 11 each draw an image plane (render/FramePlan.cpp holds their
// table; a test ties the two together, since the Windows tool is built without
// the render code); 0 draws none and is where the bundled show starts; 777
// ends the show. Every other code draws nothing, like 0, and is a slip.
inline constexpr int32_t HighestPlaneCode = 11;
inline bool IsKnownControlCode(int32_t code) {
  return (code >= 0 && code <= HighestPlaneCode) || code == EndOfShowCode;
}

struct ShowTrackWarning {
  int32_t keyIndex;
  int32_t row;
  std::string message;
};

namespace show_lint_detail {

inline std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

inline const char* InterpolatingKindName(int32_t kind) {
  switch (kind) {
    case KindLinear: return "linear";
    case KindSmooth: return "smooth";
    case KindRamp: return "ramp";
    default: return nullptr;
  }
}

}  // namespace show_lint_detail

// The warnings for the keys of the show's track of that name (none for a
// track the show does not read). Non-finite values and kinds outside the four
// are not repeated here: the file scan reports those.
inline std::vector<ShowTrackWarning> LintShowTrack(std::string_view name, const std::vector<TrackKey>& keys) {
  using show_lint_detail::Number;
  std::vector<ShowTrackWarning> warnings;
  const auto warn = [&](std::size_t i, std::string message) {
    warnings.push_back({int32_t(i), keys[i].row, std::move(message)});
  };
  if (name == ControlTrackName) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const TrackKey& key = keys[i];
      if (!std::isfinite(key.value)) continue;
      const int32_t code = TruncateTrackValue(key.value);
      if (!IsKnownControlCode(code))
        warn(i, "control code " + std::to_string(code) + " is none the show knows (0 to " +
                    std::to_string(HighestPlaneCode) + ", " + std::to_string(EndOfShowCode) +
                    "): nothing is drawn over the backdrop");
      // After the last key the value holds whatever its kind: only a key with
      // a next one slides.
      const char* kind = show_lint_detail::InterpolatingKindName(key.kind);
      if (kind && i + 1 < keys.size() && std::isfinite(keys[i + 1].value)) {
        const int32_t next = TruncateTrackValue(keys[i + 1].value);
        if (next != code) {
          warn(i, std::string(kind) + " key: the code slides from " + std::to_string(code) + " to " +
                      std::to_string(next) + " by row " + std::to_string(keys[i + 1].row) +
                      ", playing every code in between; control keys want step");
        }
      }
    }
  } else if (name == FrameTracks[FrameTrackIndex(&FrameTrackValues::backN)].name) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const float value = keys[i].value;
      if (!std::isfinite(value)) continue;
      const int32_t slot = TruncateTrackValue(value);
      if (std::trunc(value) != value)
        warn(i, Number(value) + " is not a whole number: the backdrop shows slot " + std::to_string(slot));
      if (!ShowImageForSlot(slot))
        warn(i, "slot " + std::to_string(slot) + " holds no image (0 to " + std::to_string(ShowImageCount - 1) +
                    " do): the backdrop is drawn without one");
    }
  }
  return warnings;
}
