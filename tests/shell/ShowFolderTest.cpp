// The show's folder, chosen once at start, and the track text that --render
// and --capture take instead of the track files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "shell/ShowPlayer.h"
#include "show/ShowTable.h"
#include "sync/MusicClock.h"
#include "sync/TrackText.h"
#include "sync/Tracks.h"

namespace {

namespace fs = std::filesystem;

TEST(ShowFolder, EveryFileOfTheShowIsInTheChosenFolder) {
  struct Case {
    const char* folder;
    const char* music;
    const char* controlTrack;
  };
  const Case cases[] = {
      {"res", "res/Quelf - Tavoy Rip.mp3", "res/steak_control.track"},
      {"/tmp/my show", "/tmp/my show/Quelf - Tavoy Rip.mp3", "/tmp/my show/steak_control.track"},
      {"shows/", "shows/Quelf - Tavoy Rip.mp3", "shows/steak_control.track"},
      {"C:\\shows\\", "C:\\shows\\Quelf - Tavoy Rip.mp3", "C:\\shows\\steak_control.track"},
  };
  for (const Case& c : cases) {
    SetShowFolder(c.folder);
    EXPECT_EQ(ShowMusicPath(), c.music) << c.folder;
    EXPECT_STREQ(TrackFilePath("control"), c.controlTrack) << c.folder;
    EXPECT_EQ(ShowFilePath("vorn.gif"), ShowFilePath(c.folder, "vorn.gif")) << c.folder;
  }
  SetShowFolder(ShowFolder);
  // A folder so long that no track path fits refuses the name instead of
  // cutting the path short.
  SetShowFolder(std::string(300, 'd'));
  testing::internal::CaptureStderr();
  EXPECT_EQ(TrackFilePath("control"), nullptr);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("too long for a file path"), std::string::npos);
  SetShowFolder(ShowFolder);
}

TEST(ShowFolder, OnlyAFolderThatExistsIsTaken) {
  const fs::path dir = fs::temp_directory_path() / ("show-folder-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "file") << "x";
  struct Case {
    std::string folder;
    const char* why;  // null: taken
  };
  const Case cases[] = {
      {dir.string(), nullptr},
      {dir.string() + "/", nullptr},
      {(dir / "nowhere").string(), "no such folder"},
      {(dir / "file").string(), "not a folder"},
      {"", "the folder name is empty"},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(CheckShowFolder(c.folder, why), c.why == nullptr) << c.folder;
    if (c.why) {
      EXPECT_EQ(why, c.why) << c.folder;
    }
  }
  fs::remove_all(dir);
}

TEST(TrackTextOnce, ErrorsRefuseAndAreSaidAsFileAndLine) {
  const fs::path file = fs::temp_directory_path() / ("show-text-" + std::to_string(getpid()) + ".tracks");
  struct Case {
    const char* text;  // null: no file at all
    bool ok;
    std::vector<std::string> said;  // parts of stderr, in order
  };
  const std::string name = file.string();
  const Case cases[] = {
      {"track back.x\n0 1.5 linear\n40 2 step\n", true, {}},
      {"track back.x\n0 1.5 linear\nforty 2 step\n", false, {name + ":3: ", "has errors; nothing written"}},
      {"track back.xx\n0 1 step\n", true,
       {name + ":1: track 'back.xx' is none of the show's tracks; it is left out (did you mean back.x?)"}},
      {nullptr, false, {"demo: render: '" + name + "': "}},
  };
  for (const Case& c : cases) {
    fs::remove(file);
    if (c.text) std::ofstream(file, std::ios::binary) << c.text;
    std::vector<TrackSource> sources;
    testing::internal::CaptureStderr();
    const bool ok = CompileTrackTextFile(name, Subsystem::Render, sources);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, c.ok) << (c.text ? c.text : "(no file)") << said;
    EXPECT_EQ(sources.size(), c.ok ? 1u : 0u) << "sources kept from a text with errors";
    size_t at = 0;
    for (const std::string& part : c.said) {
      at = said.find(part, at);
      EXPECT_NE(at, std::string::npos) << part << " in\n" << said;
    }
    if (c.said.empty()) {
      EXPECT_EQ(said, "");
    }
  }
  fs::remove(file);
}

}  // namespace
