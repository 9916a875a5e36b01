// What the track text compiler says about hostile text: a message quotes a
// bounded piece of a word, and a file of nothing but mistakes gives a bounded
// list whose last entry counts the rest.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sync/TrackText.h"

namespace {

TEST(TrackTextMessages, QuoteAtMostAScreenfulOfAWord) {
  const std::string huge(1 << 20, '7');
  const struct {
    std::string text;
    std::string starts;  // what the message begins with
  } cases[] = {
      {"track a\n" + huge + "x 1 step\n", "bad row '77777"},
      {"track a\n0 " + huge + "x step\n", "bad value '77777"},
      {"track a\n0 1 " + huge + "\n", "unknown kind '77777"},
      {"track a\ntrack a" + std::string(200, '/') + "\n", "track name 'a////"},
      {"track " + std::string(200, 'n') + "\ntrack " + std::string(200, 'n') + "\n", "duplicate track 'nnnn"},
  };
  for (const auto& c : cases) {
    std::vector<TrackTextError> errors;
    ParseTrackText(c.text, errors);
    ASSERT_FALSE(errors.empty()) << c.starts;
    const std::string& message = errors.back().message;
    EXPECT_EQ(message.rfind(c.starts, 0), 0u) << message.substr(0, 200);
    EXPECT_LT(message.size(), MostQuotedCharacters + 80) << c.starts;
    EXPECT_NE(message.find("...'"), std::string::npos) << message;
  }
}

TEST(TrackTextMessages, QuotesCutBetweenCharactersAndLeaveShortWordsWhole) {
  const struct {
    std::string word;
    std::string quoted;
  } cases[] = {
      {"vorn", "'vorn'"},
      {std::string(MostQuotedCharacters, 'x'), "'" + std::string(MostQuotedCharacters, 'x') + "'"},
      {std::string(MostQuotedCharacters + 1, 'x'), "'" + std::string(MostQuotedCharacters, 'x') + "...'"},
      // "é" is two bytes; the cut would fall between them.
      {std::string(MostQuotedCharacters - 1, 'x') + "\xc3\xa9yz", "'" + std::string(MostQuotedCharacters - 1, 'x') + "...'"},
  };
  for (const auto& c : cases) EXPECT_EQ(QuoteWord(c.word), c.quoted);
}

TEST(TrackTextMessages, AFileOfMistakesKeepsTheFirstAndCountsTheRest) {
  const struct {
    const char* name;
    int badLines;
    size_t kept;
  } cases[] = {
      {"just under the limit", int(MostTrackTextErrors), MostTrackTextErrors},
      {"one more than the limit", int(MostTrackTextErrors) + 1, MostTrackTextErrors + 1},
      {"four million", 4 << 20, MostTrackTextErrors + 1},
  };
  for (const auto& c : cases) {
    std::string text = "track a\n";
    for (int i = 0; i < c.badLines; ++i) text += "x\n";
    std::vector<TrackTextError> errors;
    ParseTrackText(text, errors);
    ASSERT_EQ(errors.size(), c.kept) << c.name;
    EXPECT_EQ(errors[MostTrackTextErrors - 1].line, int(MostTrackTextErrors) + 1) << c.name;
    if (c.kept == MostTrackTextErrors) continue;
    const long long more = c.badLines - (long long)MostTrackTextErrors;
    EXPECT_EQ(errors.back().more, more) << c.name;
    EXPECT_EQ(errors.back().line, int(MostTrackTextErrors) + 2) << c.name << ": the first one left out";
    EXPECT_EQ(errors.back().message, "... and " + std::to_string(more) + (more > 1 ? " more errors" : " more error"))
        << c.name;
  }
}

}  // namespace
