// What the studio's text tests share: a track text that must load, and a key
// edit written the short way.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "studio/TrackTextModel.h"

namespace studio_test {

// A text the test means to be valid: a refusal fails the test with the
// model's first reason rather than going on with an empty model.
inline TrackTextModel Load(const std::string& text) {
  std::vector<TrackTextError> errors;
  std::optional<TrackTextModel> model = TrackTextModel::FromText(text, errors);
  EXPECT_TRUE(model) << (errors.empty() ? "" : errors[0].message);
  return model ? *model : TrackTextModel();
}

inline SetKeyEdit Set(const char* track, int32_t row, std::optional<float> value, std::optional<int32_t> kind = {}) {
  return {track, row, value, kind};
}

}  // namespace studio_test
