// The registry, the path rule and the track file reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "SyncTestSupport.h"
#include "sync/Tracks.h"

namespace {

TEST(TrackFilePathTest, BuildsTheResourcePath) {
  const struct {
    std::string name;
    std::string path;
  } cases[] = {
      {"back.x", "res/steak_back.x.track"},
      {"control", "res/steak_control.track"},
      {"", "res/steak_.track"},
      {std::string(243, 'n'), "res/steak_" + std::string(243, 'n') + ".track"},
  };
  for (const auto& c : cases) {
    const char* path = TrackFilePath(c.name.c_str());
    ASSERT_NE(path, nullptr) << c.name.size();
    EXPECT_EQ(path, c.path);
  }
}

TEST(TrackFilePathTest, RefusesNamesThatDoNotFitAndReusesItsBuffer) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(TrackFilePath(std::string(244, 'n').c_str()), nullptr);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("too long"), std::string::npos);
  const char* first = TrackFilePath("a");
  const char* second = TrackFilePath("b");
  EXPECT_EQ(first, second);
  EXPECT_STREQ(second, "res/steak_b.track");
}

class RegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir_.path() / "res");
    CreateTrackSet("sync");
  }
  void TearDown() override { DestroyTrackSet(CurrentTrackSet()); }
  std::string TrackFile(const std::string& name) { return dir_ / ("res/steak_" + name + ".track"); }
  ScratchDir dir_;
};

TEST_F(RegistryTest, KeepsRegistrationOrderAndReadsEachFileOnce) {
  std::vector<uint8_t> bytes;
  PutInt32(bytes, 1);
  PutKey(bytes, 0, 5.0f, KindStep);
  WriteFile(TrackFile("b"), bytes);
  WorkingDir in(dir_.path());

  Track* b = GetTrack("b");
  Track* a = GetTrack("a");
  Track* upper = GetTrack("B");  // a name differing only in case is another track
  TrackSet* set = CurrentTrackSet();
  ASSERT_EQ(set->trackCount, 3);
  EXPECT_STREQ(set->tracks[0]->name, "b");
  EXPECT_STREQ(set->tracks[1]->name, "a");
  EXPECT_STREQ(set->tracks[2]->name, "B");
  EXPECT_NE(b, upper);
  EXPECT_EQ(b->keyCount, 1);  // read through the backslash path
  EXPECT_EQ(a->keyCount, 0);  // no file: registered without keys
  EXPECT_EQ(TrackValue(a, 3.0), 0.0f);

  // A second request finds the track; changing the file in between shows
  // that it is not read again.
  bytes.clear();
  PutInt32(bytes, 0);
  WriteFile(TrackFile("b"), bytes);
  EXPECT_EQ(GetTrack("b"), b);
  EXPECT_EQ(b->keyCount, 1);
  EXPECT_EQ(set->trackCount, 3);

  EXPECT_EQ(FindTrack(set, "a"), 1);
  EXPECT_EQ(FindTrack(set, "A"), -1);
  EXPECT_EQ(FindTrack(set, "b "), -1);
}

TEST_F(RegistryTest, CopiesTheNamesItIsGiven) {
  char name[] = "scroll.x";
  char base[] = "sync";
  DestroyTrackSet(CurrentTrackSet());
  EXPECT_EQ(CurrentTrackSet(), nullptr);
  TrackSet* set = CreateTrackSet(base);
  std::strcpy(base, "xxxx");
  Track* track = GetTrack(name);
  std::strcpy(name, "changed!");
  EXPECT_STREQ(set->baseName, "sync");
  EXPECT_STREQ(track->name, "scroll.x");
  EXPECT_EQ(FindTrack(set, "scroll.x"), 0);
  EXPECT_EQ(FindTrack(nullptr, "scroll.x"), -1);
}

TEST_F(RegistryTest, ARequestBeforeStartUpOrWithAnOverlongNameStillGivesATrack) {
  DestroyTrackSet(CurrentTrackSet());
  Track* early = GetTrack("early");
  ASSERT_NE(CurrentTrackSet(), nullptr);
  EXPECT_STREQ(CurrentTrackSet()->baseName, "sync");
  EXPECT_EQ(CurrentTrackSet()->tracks[0], early);

  const std::string overlong(300, 'x');
  testing::internal::CaptureStderr();
  Track* track = GetTrack(overlong.c_str());
  EXPECT_NE(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(track->keyCount, 0);
  EXPECT_EQ(GetTrack(overlong.c_str()), track);
  EXPECT_EQ(CurrentTrackSet()->trackCount, 2);
}

// Each malformed or odd file and what the registry makes of it.
struct FileCase {
  const char* what;
  std::vector<uint8_t> bytes;  // no file at all when absent is set
  std::vector<TrackKey> keys;
  bool message;  // one line on stderr naming the file and what became of the track
  bool absent = false;
};

std::vector<uint8_t> Count(int32_t n) {
  std::vector<uint8_t> b;
  PutInt32(b, uint32_t(n));
  return b;
}
std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
std::vector<uint8_t> Key(int32_t row, float value, int8_t kind) {
  std::vector<uint8_t> b;
  PutKey(b, row, value, kind);
  return b;
}

TEST_F(RegistryTest, ReadsMalformedFilesSafelyAndSaysWhatBecomesOfTheTrack) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const FileCase cases[] = {
      {"well formed", Count(2) + Key(-5, 1.5f, 1) + Key(7, -2.0f, 0), {{-5, 1.5f, 1}, {7, -2.0f, 0}}, false},
      {"missing", {}, {}, true, true},
      {"empty file", {}, {}, true},
      {"count 0", Count(0), {}, false},
      {"short count", {1, 0}, {}, true},
      {"negative count", Count(-3) + Key(1, 1.0f, 0), {}, true},
      {"short file keeps whole keys", Count(3) + Key(1, 1.0f, 1) + Key(2, 2.0f, 2) + std::vector<uint8_t>{9, 9, 9, 9},
       {{1, 1.0f, 1}, {2, 2.0f, 2}}, true},
      {"huge count, one key", Count(0x7fffffff) + Key(4, 4.0f, 0), {{4, 4.0f, 0}}, true},
      {"huge count, no key", Count(0x7fffffff) + std::vector<uint8_t>{1, 2}, {}, true},
      {"trailing bytes are not read", Count(1) + Key(3, 3.0f, 3) + Key(1, nan, 0), {{3, 3.0f, 3}}, false},
      {"kind byte widens with its sign", Count(2) + Key(0, 1.0f, -1) + Key(1, 2.0f, 127),
       {{0, 1.0f, -1}, {1, 2.0f, 127}}, false},
      {"descending rows refused", Count(2) + Key(5, 1.0f, 1) + Key(4, 2.0f, 0), {}, true},
      {"equal rows refused", Count(3) + Key(1, 1.0f, 1) + Key(5, 1.0f, 1) + Key(5, 2.0f, 0), {}, true},
      {"NaN value kept", Count(2) + Key(1, 1.0f, 1) + Key(2, nan, 0), {{1, 1.0f, 1}, {2, nan, 0}}, false},
      {"infinite value kept", Count(1) + Key(1, -inf, 1), {{1, -inf, 1}}, false},
  };
  WorkingDir in(dir_.path());
  int n = 0;
  for (const FileCase& c : cases) {
    const std::string name = "t" + std::to_string(n++);
    if (!c.absent) WriteFile(TrackFile(name), c.bytes);
    testing::internal::CaptureStderr();
    const Track* track = GetTrack(name.c_str());
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(track->keyCount, int32_t(c.keys.size())) << c.what;
    for (size_t k = 0; k < c.keys.size(); ++k) {
      EXPECT_EQ(track->keys[k].row, c.keys[k].row) << c.what << " key " << k;
      EXPECT_EQ(FloatBits(track->keys[k].value), FloatBits(c.keys[k].value)) << c.what << " key " << k;
      EXPECT_EQ(track->keys[k].kind, c.keys[k].kind) << c.what << " key " << k;
    }
    if (c.message) {
      const std::string path = "res/steak_" + name + ".track";
      EXPECT_EQ(err.rfind("demo: tracks: " + path + ": ", 0), 0u) << c.what << ": " << err;
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.what << ": " << err;
      const std::string outcome = c.keys.empty() ? name + " is 0 throughout\n"
                                                 : name + " keeps its first " + std::to_string(c.keys.size());
      EXPECT_NE(err.find(outcome), std::string::npos) << c.what << ": " << err;
    } else {
      EXPECT_EQ(err, "") << c.what;
    }
  }
}

TEST_F(RegistryTest, MissingFileLeavesTheTrackUnchanged) {
  TrackKey keys[] = {{1, 1.0f, 0}};
  Track track{nullptr, keys, 1};
  std::string problem;
  EXPECT_EQ(LoadTrackFile(TrackFile("absent").c_str(), &track, &problem), TrackLoad::CannotOpen);
  EXPECT_NE(problem.find("cannot be opened"), std::string::npos) << problem;
  EXPECT_EQ(track.keys, keys);
  EXPECT_EQ(track.keyCount, 1);
  EXPECT_EQ(LoadTrackFile(nullptr, &track), TrackLoad::CannotOpen);
}

TEST_F(RegistryTest, FiniteKeysNeverYieldNaNOrInfinity) {
  // Random files, sometimes with a plausible count: whatever loads with finite
  // values must evaluate to finite values everywhere (non-finite values are
  // kept as stored, so only those tracks may give them).
  std::mt19937 rng(1234);
  const std::string path = TrackFile("fuzz");
  const double rows[] = {-1e12, -2147483649.0, -1.5, 0.0, 0.25, 1.0, 3.75, 17.5, 255.9, 1e5, 2147483647.5, 1e300};
  for (int trial = 0; trial < 400; ++trial) {
    std::vector<uint8_t> bytes(rng() % 80);
    for (auto& b : bytes) b = uint8_t(rng());
    if (bytes.size() >= 4 && trial % 2 == 0) {
      const uint32_t n = rng() % 10;
      std::memcpy(bytes.data(), &n, 4);
    }
    WriteFile(path, bytes);
    Track track{nullptr, nullptr, 0};
    testing::internal::CaptureStderr();
    LoadTrackFile(path.c_str(), &track);
    testing::internal::GetCapturedStderr();
    ASSERT_LE(size_t(track.keyCount) * 9 + 4, std::max<size_t>(bytes.size(), 4)) << "trial " << trial;
    if (!std::all_of(track.keys, track.keys + track.keyCount, [](const TrackKey& k) { return std::isfinite(k.value); })) {
      delete[] track.keys;
      continue;
    }
    for (double row : rows)
      ASSERT_TRUE(std::isfinite(TrackValue(&track, row))) << "trial " << trial << " row " << row;
    for (int32_t k = 0; k < track.keyCount; ++k)
      ASSERT_TRUE(std::isfinite(TrackValue(&track, track.keys[k].row + 0.5))) << "trial " << trial;
    delete[] track.keys;
  }
}

}  // namespace
