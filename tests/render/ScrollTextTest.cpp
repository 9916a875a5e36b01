// The scroll line: its length, its characters and the gaps that pace it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "render/ScrollText.h"

namespace {

// The frame draws ScrollTextLength characters: the text must end right there.
// (Its 1295 characters are pinned by the pieces and gaps below.)
TEST(ScrollText, EndsAfterTheCharactersDrawn) {
  EXPECT_EQ(std::strlen(ScrollText), static_cast<size_t>(ScrollTextLength));
}

TEST(ScrollText, UsesOnlyPrintableCharactersUpToLowercaseY) {
  int digits = 0;
  int quotes = 0;
  const std::string punctuation = "-.\":,'";
  for (const char* c = ScrollText; *c; ++c) {
    const unsigned char u = static_cast<unsigned char>(*c);
    ASSERT_GE(u, 32) << "at " << (c - ScrollText);
    ASSERT_LE(u, 121) << "at " << (c - ScrollText);
    const bool letter = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'y');
    const bool digit = u >= '0' && u <= '9';
    const bool allowed = letter || digit || u == ' ' || punctuation.find(*c) != std::string::npos;
    EXPECT_TRUE(allowed) << "'" << *c << "' at " << (c - ScrollText);
    digits += digit;
    quotes += u == '"';
  }
  EXPECT_EQ(digits, 1);
  EXPECT_EQ(quotes, 6);
}

TEST(ScrollText, PiecesAndGapsFollowTheScrollsPacing) {
  // Alternating piece lengths and gap lengths, from the first character.
  const std::vector<int> expected = {1, 35, 2, 35, 3, 35, 4, 70, 8, 35, 462, 88, 247, 9, 156, 92, 13};
  std::vector<int> found;
  const std::string line = ScrollText;
  size_t at = 0;
  while (at < line.size()) {
    // A piece runs until two spaces in a row; single spaces separate its words.
    size_t end = line.find("  ", at);
    if (end == std::string::npos) end = line.size();
    found.push_back(static_cast<int>(end - at));
    if (end == line.size()) break;
    const size_t next = line.find_first_not_of(' ', end);
    ASSERT_NE(next, std::string::npos) << "the line must not end in spaces";
    found.push_back(static_cast<int>(next - end));
    at = next;
  }
  EXPECT_EQ(found, expected);
  EXPECT_NE(line.front(), ' ');
}

}  // namespace
