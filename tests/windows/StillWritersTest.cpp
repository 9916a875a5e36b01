// The pieces a still goes through on Windows, under Wine: the PNG writer on
// the Windows Imaging Component, read back with our own decoder (rows in the
// right order, channels in the right place, alpha kept), and pending output
// files on the wide calls (renamed over an older file, discarded without a
// trace, names outside the ANSI code page, devices written in place).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/PngWriter.h"
#include "png/PngDecoder.h"

namespace fs = std::filesystem;

namespace {

class StillWritersTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("still-writers-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // UTF-8, as the program holds every name.
  std::string Path(const std::u8string& name) const {
    const std::u8string whole = (dir_ / fs::path(name)).u8string();
    return std::string(whole.begin(), whole.end());
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      const std::u8string name = entry.path().filename().u8string();
      names.emplace_back(name.begin(), name.end());
    }
    return names;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

TEST_F(StillWritersTest, PngRowsComeOutTopFirstInRgbaWithAlpha) {
  // 3 x 2, rows bottom first as GL reads them; every pixel different and the
  // alpha varied, so a swapped channel, a flipped picture or a premultiplied
  // colour each show.
  const int width = 3, height = 2;
  const uint8_t bottomUp[] = {
      10, 20, 30, 255,  40, 50, 60, 128,  70, 80, 90, 0,     // bottom row
      200, 0, 0, 255,   0, 200, 0, 64,    0, 0, 200, 255,    // top row
  };
  const std::string path = Path(u8"still.png");
  std::string error;
  ASSERT_TRUE(WritePngBottomUp(path, bottomUp, width, height, error)) << error;
  const std::string bytes = Read(dir_ / "still.png");
  std::vector<unsigned char> rgba;
  PngState state;
  decodeImage(rgba, state, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  ASSERT_EQ(state.error, 0);
  ASSERT_EQ(state.width, 3u);
  ASSERT_EQ(state.height, 2u);
  const std::vector<unsigned char> topDown(bottomUp + 12, bottomUp + 24);
  std::vector<unsigned char> expected = topDown;
  expected.insert(expected.end(), bottomUp, bottomUp + 12);
  EXPECT_EQ(rgba, expected);

  // The same pixels, the same bytes: nothing that varies from run to run.
  ASSERT_TRUE(WritePngBottomUp(Path(u8"again.png"), bottomUp, width, height, error)) << error;
  EXPECT_EQ(Read(dir_ / "again.png"), bytes);
}

TEST_F(StillWritersTest, PngWriterRefusesWithAReason) {
  const uint8_t pixel[4] = {1, 2, 3, 4};
  struct Case {
    std::string path;
    int width;
  } cases[] = {
      {Path(u8"no-such-folder/still.png"), 1},  // cannot be opened
      {Path(u8"empty.png"), 0},                 // nothing to write
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(WritePngBottomUp(c.path, pixel, c.width, 1, error)) << c.path;
    EXPECT_FALSE(error.empty()) << c.path;
  }
}

TEST_F(StillWritersTest, PendingFilesReplaceDiscardAndKeepNames) {
  struct Case {
    std::u8string name;
    bool older;   // a file of that name is there before
    bool commit;  // committed rather than discarded
  } cases[] = {
      {u8"new.png", false, true},
      {u8"older.png", true, true},
      {u8"kept.png", true, false},
      {u8"dropped.png", false, false},
      {u8"Ωmega демо 静止.png", false, true},
  };
  for (const Case& c : cases) {
    const std::string path = Path(c.name);
    const fs::path native = dir_ / fs::path(c.name);
    if (c.older) std::ofstream(native, std::ios::binary) << "older";
    PendingFile file;
    std::string error;
    ASSERT_TRUE(CreatePendingFile(path, file, error)) << path << ": " << error;
    EXPECT_FALSE(file.inPlace);
    EXPECT_NE(file.tempPath, path);
    std::ofstream(fs::path(std::u8string(file.tempPath.begin(), file.tempPath.end())), std::ios::binary) << "new";
    if (c.commit) {
      ASSERT_TRUE(CommitPendingFile(file, error)) << path << ": " << error;
    } else {
      DiscardPendingFile(file);
    }
    const std::string expected = c.commit ? "new" : c.older ? "older" : "";
    EXPECT_EQ(fs::exists(native), c.commit || c.older) << path;
    if (fs::exists(native)) {
      EXPECT_EQ(Read(native), expected) << path;
    }
    for (const std::string& name : Names()) {
      EXPECT_EQ(name.find(".partial-"), std::string::npos) << "temporary " << name << " left by " << path;
    }
    fs::remove(native);
  }
}

TEST_F(StillWritersTest, PendingFilesRefuseFoldersAndWriteDevicesInPlace) {
  fs::create_directories(dir_ / "folder");
  struct Case {
    std::string path;
    bool created, inPlace;
  } cases[] = {
      {Path(u8"folder"), false, false},
      {Path(u8"folder") + "\\", false, false},
      {Path(u8"missing\\still.png"), false, false},
      {"NUL", true, true},
  };
  for (const Case& c : cases) {
    PendingFile file;
    std::string error;
    EXPECT_EQ(CreatePendingFile(c.path, file, error), c.created) << c.path << ": " << error;
    EXPECT_EQ(file.inPlace, c.inPlace) << c.path;
    if (c.created) {
      EXPECT_TRUE(CommitPendingFile(file, error)) << c.path << ": " << error;
    } else {
      EXPECT_FALSE(error.empty()) << c.path;
    }
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"folder"});
}

}  // namespace
