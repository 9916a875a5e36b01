// The files service: the demo's own path strings, and whole-file reads that
// never trust a file to be what it claims.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Files.h"

namespace fs = std::filesystem;

namespace {

TEST(DataFiles, BackslashIsADirectorySeparator) {
  const fs::path dir = fs::temp_directory_path() / ("files-" + std::to_string(getpid()));
  fs::create_directories(dir / "res");
  std::ofstream(dir / "res" / "steak_a.track", std::ios::binary) << "abcdefghij";

  const std::string demoPath = (dir.string() + "\\res\\steak_a.track");
  EXPECT_EQ(NativeDataPath(demoPath.c_str()), (dir / "res" / "steak_a.track").string());

  struct Case {
    const char* name;
    std::string path;
    size_t limit;
    FileRead expected;
    std::string bytes;
  } cases[] = {
      {"whole file by the demo's path", demoPath, SIZE_MAX, FileRead::Ok, "abcdefghij"},
      {"exactly at the limit", demoPath, 10, FileRead::Ok, "abcdefghij"},
      {"over the limit gives nothing", demoPath, 9, FileRead::TooLarge, ""},
      {"missing file", dir.string() + "/res/none.track", SIZE_MAX, FileRead::CannotOpen, ""},
      {"a folder is no file", dir.string() + "/res", SIZE_MAX, FileRead::ReadError, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> bytes(3, 'x');  // stale content must not survive
    EXPECT_EQ(ReadDataFile(c.path.c_str(), bytes, c.limit), c.expected);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.bytes);
  }
  fs::remove_all(dir);
}

}  // namespace
