// The edit mode's status line: where the show stands and what it draws.
#include <gtest/gtest.h>

#include "shell/EditSession.h"

namespace {

TEST(EditSessionTest, StatusLineNamesTimeRowCodePlaneAndRate) {
  struct Case {
    EditStatus status;
    const char* expected;
  };
  const Case cases[] = {
      {{61.5, 1230.0, 5, false, false, 59.6}, "1:01.50   row 1230.0   code 5: plane B in, atari_st_bee.gif   60 fps"},
      {{0.0, 0.0, 0, false, false, 0.0}, "0:00.00   row 0.0   code 0: no plane   0 fps"},
      {{2.0, 40.0, 2, true, false, 60.0}, "0:02.00   row 40.0   code 2: plane A out, grlsch.png   paused"},
      {{7.049, 140.98, 8, false, false, 144.0}, "0:07.04   row 140.9   code 8: plane C out, vorn.gif   144 fps"},
      {{120.0, 2400.0, 777, true, true, 60.0}, "2:00.00   row 2400.0   code 777: end of the show   held at the end"},
      {{1.0, 20.0, 12, false, false, 30.0}, "0:01.00   row 20.0   code 12: no plane   30 fps"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatEditStatus(c.status), c.expected);
}

}  // namespace
