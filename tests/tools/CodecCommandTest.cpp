// demotool inflate and png, run as a person runs them: what they print, what
// they write with -o, and their exit status on good, bad and missing input.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/ToolRunner.h"

namespace fs = std::filesystem;

namespace {

ToolRun Demotool(const std::string& args) { return RunDemotool(args, false); }

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class CodecCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("codec-cmd-" + std::to_string(getpid()));
    fs::create_directories(dir);
    // A zlib stream of known content, made by zlib itself.
    for (int i = 0; i < 5000; ++i) text += "row " + std::to_string(i % 97) + " value\n";
    uLongf size = compressBound(text.size());
    std::vector<unsigned char> packed(size);
    compress2(packed.data(), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(), 9);
    std::ofstream(dir / "text.z", std::ios::binary).write(reinterpret_cast<const char*>(packed.data()), size);
    std::ofstream(dir / "junk.z", std::ios::binary) << "\x78\x9c\xff\xff\xff\xff";
    std::ofstream(dir / "notpng.png", std::ios::binary) << "definitely not a png file";
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
  std::string text;
};

TEST_F(CodecCommandTest, InflateAndPngReportAndWrite) {
  const std::string suite = std::string(DEMO_PNGSUITE_DIR) + "/";
  struct Case {
    const char* name;
    std::string args;
    int status;
    std::string out;
  } cases[] = {
      {"inflate ok", "inflate " + (dir / "text.z").string(), 0, "ok " + std::to_string(text.size()) + "\n"},
      {"inflate of damaged data names the code", "inflate " + (dir / "junk.z").string(), 1, "error "},
      {"inflate of a missing file", "inflate " + (dir / "none.z").string(), 1, ""},
      {"inflate within its limit", "inflate --limit " + std::to_string(text.size()) + " " + (dir / "text.z").string(), 0,
       "ok " + std::to_string(text.size()) + "\n"},
      {"inflate past its limit", "inflate " + (dir / "text.z").string() + " --limit 1K", 1, "error 65\n"},
      {"inflate with a limit that is no number", "inflate " + (dir / "text.z").string() + " --limit lots", 2, ""},
      {"inflate help", "inflate --help", 0, "usage: demotool inflate"},
      {"png ok", "png " + suite + "basn6a08.png", 0, "ok 32 32\n"},
      {"png with a damaged signature", "png " + suite + "xs1n0g01.png", 1, "error 28\n"},
      {"png that is no png", "png " + (dir / "notpng.png").string(), 1, "error "},
      {"png of a missing file", "png " + (dir / "none.png").string(), 1, ""},
      {"no file at all", "png", 2, ""},
      {"unknown option", "inflate " + (dir / "text.z").string() + " --bogus", 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolRun run = Demotool(c.args);
    EXPECT_EQ(run.status, c.status) << run.output;
    EXPECT_EQ(run.output.substr(0, c.out.size()), c.out);
    if (c.out.empty()) {
      EXPECT_EQ(run.output, "") << "nothing on stdout when there is nothing to report";
    }
  }
}

TEST_F(CodecCommandTest, EveryStderrLineNamesTheCommand) {
  const std::string suite = std::string(DEMO_PNGSUITE_DIR) + "/";
  const struct {
    const char* command;
    std::string args;
  } cases[] = {
      {"inflate", "inflate " + (dir / "none.z").string()},
      {"inflate", "inflate " + (dir / "text.z").string() + " -o " + (dir / "missing" / "a").string()},
      {"inflate", "inflate"},
      {"png", "png " + (dir / "none.png").string()},
      {"png", "png " + suite + "basn6a08.png -o " + (dir / "missing" / "a").string()},
      {"png", "png " + suite + "basn6a08.png -o"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun run = RunDemotool(c.args, true);
    EXPECT_NE(run.status, 0);
    const std::string prefix = std::string("demotool: ") + c.command + ": ";
    int lines = 0;
    size_t start = 0;
    for (size_t end; (end = run.output.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = run.output.substr(start, end - start);
      if (line.rfind("ok ", 0) == 0) continue;  // the report on stdout
      ++lines;
      EXPECT_EQ(line.substr(0, prefix.size()), prefix) << line;
    }
    EXPECT_EQ(lines, 1) << run.output;
  }
}

TEST_F(CodecCommandTest, OutputFilesHoldTheDecodedBytes) {
  ASSERT_EQ(Demotool("inflate " + (dir / "text.z").string() + " -o " + (dir / "text.out").string()).status, 0);
  EXPECT_EQ(Slurp(dir / "text.out"), text);

  // 32x32 RGBA, rows top to bottom: 4096 bytes whose first pixel is the
  // suite file's top-left one.
  const std::string suite = std::string(DEMO_PNGSUITE_DIR) + "/";
  ASSERT_EQ(Demotool("png " + suite + "basn2c08.png -o " + (dir / "rgb.raw").string()).status, 0);
  const std::string raw = Slurp(dir / "rgb.raw");
  ASSERT_EQ(raw.size(), 32u * 32u * 4u);
  for (size_t i = 3; i < raw.size(); i += 4) ASSERT_EQ(static_cast<unsigned char>(raw[i]), 255) << "opaque";

  // A failed decode writes nothing.
  EXPECT_EQ(Demotool("png " + (dir / "notpng.png").string() + " -o " + (dir / "none.raw").string()).status, 1);
  EXPECT_FALSE(fs::exists(dir / "none.raw"));
}

}  // namespace
