// Names in any script: a folder and files named outside any 8-bit code page
// are created, found, listed, read and named back exactly as spelt. Built
// into the Linux and the Windows suites: on Windows the C runtime's 8-bit
// calls cannot open these names at all, so each step must go through the
// files service's wide calls.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/Files.h"

namespace fs = std::filesystem;

namespace {

TEST(FileNames, AnyScriptRoundTrips) {
  const std::string base =
      PathText(fs::temp_directory_path() /
               ("names-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())));
  struct Case {
    const char* folder;  // UTF-8
    const char* file;
  } cases[] = {
      {"plain", "steak_control.track"},
      {"\xce\xa9mega \xd0\xb4\xd0\xb5\xd0\xbc\xd0\xbe", "\xce\xa9.track"},  // Ωmega демо, Ω.track
      {"\xe6\x95\xb0\xe6\x8d\xae", "\xe5\x9b\xbe.gif"},                     // 数据, 图.gif
      {"caf\xc3\xa9 \xf0\x9f\x8e\xb5", "na\xc3\xafve.txt"},                // café 🎵 (beyond 16 bits), naïve
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    const std::string folder = base + "/" + c.folder;
    std::error_code error;
    ASSERT_TRUE(fs::create_directories(FileSystemPath(folder), error)) << error.message();
    std::string why;
    EXPECT_TRUE(CheckShowFolder(folder, why)) << why;

    const std::string path = ShowFilePath(folder, c.file);
    std::FILE* out = OpenFile(path, "wb");
    ASSERT_NE(out, nullptr) << std::strerror(errno);
    std::fputs(c.file, out);
    std::fclose(out);

    // Read back by the path, by the demo's backslash spelling and through
    // a stream on the std::filesystem path.
    std::vector<unsigned char> bytes;
    EXPECT_EQ(ReadDataFile(path.c_str(), bytes), FileRead::Ok);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.file);
    const std::string backslashed = base + "\\" + c.folder + "\\" + c.file;
    EXPECT_EQ(ReadDataFile(backslashed.c_str(), bytes), FileRead::Ok);
    std::ifstream in(FileSystemPath(path), std::ios::binary);
    std::string line;
    EXPECT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, c.file);

    // The folder's listing names the file as it was spelt.
    std::set<std::string> listed;
    for (const auto& entry : fs::directory_iterator(FileSystemPath(folder), error))
      listed.insert(PathText(entry.path().filename()));
    EXPECT_EQ(listed, std::set<std::string>{c.file});
    EXPECT_EQ(PathText(FileSystemPath(folder).filename()), c.folder);

    // A name that is not there is not found under a misspelling either.
    EXPECT_EQ(OpenFile(folder + "/" + c.file + "x", "rb"), nullptr);
    EXPECT_FALSE(CheckShowFolder(folder + "x", why));
  }
  fs::remove_all(FileSystemPath(base));
}

}  // namespace
