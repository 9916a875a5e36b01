// The shell's files are layered: the player core at the bottom, one file per
// mode above it, the choice of mode on top. A file that includes a header of
// a file above it turns the layers into a circle, where every change reaches
// every mode; these tests keep the circle from coming back. A file and its
// header count as one unit (Shell.cpp and Shell.h), so a unit reaches another
// when either of its files includes "shell/<Other>.h".
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using IncludeGraph = std::map<std::string, std::set<std::string>>;

// A path round a circle, first unit repeated at the end; empty when there is none.
std::vector<std::string> FindIncludeCycle(const IncludeGraph& graph) {
  enum Mark { Unseen, OnPath, Done };
  std::map<std::string, Mark> marks;
  std::vector<std::string> path;
  std::vector<std::string> cycle;
  std::function<bool(const std::string&)> visit = [&](const std::string& unit) {
    marks[unit] = OnPath;
    path.push_back(unit);
    const auto found = graph.find(unit);
    if (found != graph.end()) {
      for (const std::string& next : found->second) {
        if (next == unit) continue;
        if (marks[next] == OnPath) {
          auto start = std::find(path.begin(), path.end(), next);
          cycle.assign(start, path.end());
          cycle.push_back(next);
          return true;
        }
        if (marks[next] == Unseen && visit(next)) return true;
      }
    }
    path.pop_back();
    marks[unit] = Done;
    return false;
  };
  for (const auto& [unit, ignored] : graph) {
    if (marks[unit] == Unseen && visit(unit)) return cycle;
  }
  return {};
}

std::string Joined(const std::vector<std::string>& units) {
  std::string text;
  for (const std::string& unit : units) text += (text.empty() ? "" : " -> ") + unit;
  return text;
}

struct ShellSources {
  IncludeGraph graph;
  std::vector<std::string> conditionals;  // "File:line: text" of every #if
};

ShellSources ReadShellSources() {
  static const std::regex shellInclude(R"(^\s*#\s*include\s+"shell/([A-Za-z0-9_]+)\.h")");
  static const std::regex conditional(R"(^\s*#\s*(if|ifdef|ifndef|elif)\b)");
  ShellSources sources;
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(DEMO_SOURCE_DIR) / "src" / "shell")) {
    const fs::path& file = entry.path();
    if (file.extension() != ".h" && file.extension() != ".cpp") continue;
    const std::string unit = file.stem().string();
    sources.graph[unit];
    std::ifstream in(file);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      std::smatch match;
      if (std::regex_search(line, match, shellInclude)) sources.graph[unit].insert(match[1]);
      if (std::regex_search(line, conditional)) {
        sources.conditionals.push_back(file.filename().string() + ":" + std::to_string(number) + ": " + line);
      }
    }
  }
  return sources;
}

TEST(ShellIncludes, CycleFinderSeesCircles) {
  struct Case {
    const char* what;
    IncludeGraph graph;
    bool cycle;
  };
  const Case cases[] = {
      {"a file and its own header", {{"Shell", {"Shell"}}}, false},
      {"two units through each other", {{"Shell", {"EditSession"}}, {"EditSession", {"Shell"}}}, true},
      {"round three units", {{"A", {"B"}}, {"B", {"C"}}, {"C", {"A"}}}, true},
      {"two paths to one unit", {{"A", {"B", "C"}}, {"B", {"C"}}, {"C", {}}}, false},
      {"a circle away from the first unit", {{"A", {"B"}}, {"B", {"C"}}, {"C", {"D"}}, {"D", {"B"}}}, true},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> cycle = FindIncludeCycle(c.graph);
    EXPECT_EQ(!cycle.empty(), c.cycle) << c.what << ": " << Joined(cycle);
    if (!cycle.empty()) {
      EXPECT_EQ(cycle.front(), cycle.back()) << c.what;
    }
  }
}

TEST(ShellIncludes, NoTwoFilesReachEachOther) {
  const ShellSources sources = ReadShellSources();
  ASSERT_GT(sources.graph.count("ShowPlayer"), 0u) << "src/shell was not found under " << DEMO_SOURCE_DIR;
  const std::vector<std::string> cycle = FindIncludeCycle(sources.graph);
  EXPECT_TRUE(cycle.empty()) << "src/shell includes round a circle: " << Joined(cycle);
  // The core is the bottom layer: it reaches no other file of the shell.
  EXPECT_EQ(sources.graph.at("ShowPlayer"), std::set<std::string>{"ShowPlayer"});
}

// A service a build lacks is a refusing backend, never a test in the shell:
// the modes compile everywhere and say at run time why they cannot run.
TEST(ShellIncludes, NoPreprocessorConditionals) {
  const ShellSources sources = ReadShellSources();
  std::string found;
  for (const std::string& line : sources.conditionals) found += "\n  " + line;
  EXPECT_TRUE(sources.conditionals.empty()) << "conditional compilation in src/shell:" << found;
}

}  // namespace
