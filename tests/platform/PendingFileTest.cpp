// Pending output files on POSIX: a file is written beside its final name and
// renamed over it, anything else that already stands at the path (a device,
// a pipe) is written in place and left standing.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Files.h"

namespace fs = std::filesystem;

namespace {

class PendingFileTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("pending-" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(PendingFileTest, APipeIsWrittenInPlaceAndStaysAPipe) {
  const std::string fifo = (dir_ / "pipe").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (bool commit : {true, false}) {
    PendingFile file;
    std::string error;
    ASSERT_TRUE(CreatePendingFile(fifo, file, error)) << error;
    EXPECT_TRUE(file.inPlace);
    EXPECT_EQ(file.tempPath, fifo);
    if (commit) {
      EXPECT_TRUE(CommitPendingFile(file, error)) << error;
    } else {
      DiscardPendingFile(file);
    }
    struct stat after {};
    ASSERT_EQ(stat(fifo.c_str(), &after), 0) << (commit ? "commit" : "discard") << " removed the pipe";
    EXPECT_TRUE(S_ISFIFO(after.st_mode)) << (commit ? "commit" : "discard") << " replaced the pipe";
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1) << "a temporary was left beside the pipe";
}

TEST_F(PendingFileTest, TheNullDeviceIsNeverRenamedOver) {
  PendingFile file;
  std::string error;
  ASSERT_TRUE(CreatePendingFile("/dev/null", file, error)) << error;
  const bool inPlace = file.inPlace && file.tempPath == "/dev/null";
  // Only the creation is tried: committing a wrong answer would replace the
  // device for the whole machine.
  if (!inPlace) DiscardPendingFile(file);
  EXPECT_TRUE(inPlace) << "temporary " << file.tempPath;
}

TEST_F(PendingFileTest, NamesUpToTheLongestAFolderTakesGetATemporary) {
  const struct {
    size_t length;
  } cases[] = {{1}, {NAME_MAX - 15}, {NAME_MAX - 14}, {250}, {NAME_MAX}};
  for (const auto& c : cases) {
    const fs::path path = dir_ / std::string(c.length, 'v');
    PendingFile file;
    std::string error;
    ASSERT_TRUE(CreatePendingFile(path.string(), file, error)) << c.length << ": " << error;
    EXPECT_FALSE(file.inPlace);
    EXPECT_LE(fs::path(file.tempPath).filename().string().size(), size_t(NAME_MAX));
    EXPECT_EQ(fs::path(file.tempPath).parent_path(), dir_) << "the temporary is not beside the file";
    std::ofstream(file.tempPath) << "done";
    ASSERT_TRUE(CommitPendingFile(file, error)) << c.length << ": " << error;
    std::ifstream in(path);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "done") << c.length;
  }
}

TEST_F(PendingFileTest, ASocketIsRefusedWithTheReason) {
  const std::string path = (dir_ / "sock").string();
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  PendingFile file;
  std::string error;
  EXPECT_FALSE(CreatePendingFile(path, file, error));
  EXPECT_NE(error.find("socket"), std::string::npos) << error;
  close(fd);
}

}  // namespace
