#include <gtest/gtest.h>

#include "sync/ShowTime.h"

namespace {

TEST(ShowTimeTest, ParsesTheThreeFormsIntoRows) {
  struct Case {
    const char* text;
    bool ok;
    double row;
  };
  const Case cases[] = {
      {"61.5", true, 1230.0},     {"1:01.5", true, 1230.0},  {"r1230", true, 1230.0},
      {"0", true, 0.0},           {"0.05", true, 1.0},       {".5", true, 10.0},
      {"10:00", true, 12000.0},   {"r12.5", true, 12.5},     {"2:59.99", true, 3599.8},
      {"", false, 0},             {"r", false, 0},           {"-1", false, 0},
      {"+1", false, 0},           {" 1", false, 0},          {"1 ", false, 0},
      {"1e3", false, 0},          {"inf", false, 0},         {"nan", false, 0},
      {"0x10", false, 0},         {"1:60", false, 0},        {"1:5", false, 0},
      {"1.5:00", false, 0},       {"1:00:00", false, 0},     {":30", false, 0},
      {"1:.5", false, 0},         {"R10", false, 0},         {"99999999999", false, 0},
  };
  for (const Case& c : cases) {
    double row = -7.0;
    EXPECT_EQ(ParseShowTime(c.text, &row), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_NEAR(row, c.row, 1e-9) << c.text;
    } else {
      EXPECT_EQ(row, -7.0) << c.text << ": a refused time must leave the row alone";
    }
  }
}

TEST(ShowTimeTest, FormatsMinutesSecondsAndHundredths) {
  struct Case {
    double seconds;
    const char* text;
  };
  const Case cases[] = {
      {0.0, "0:00.00"},   {1.15, "0:01.15"},    {59.999, "0:59.99"}, {61.5, "1:01.50"},
      {600.0, "10:00.00"}, {-3.0, "0:00.00"},   {0.009, "0:00.00"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatShowTime(c.seconds), c.text) << c.seconds;
}

}  // namespace
