#include "sync/ShowTime.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sync/MusicClock.h"

namespace {

// Ten days of music: far beyond any show, small enough that rows and frame
// counts derived from it stay exact in a double and fit an int64.
constexpr double LongestShowSeconds = 10.0 * 24 * 3600;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Moves p past a plain decimal: digits, optionally a point and more digits,
// at least one digit in all. No sign, exponent, spaces, "inf" or hex, all of
// which strtod alone would take.
bool SkipDecimal(const char*& p) {
  int digits = 0;
  while (IsDigit(*p)) ++p, ++digits;
  if (*p == '.') {
    ++p;
    while (IsDigit(*p)) ++p, ++digits;
  }
  return digits > 0;
}

double DecimalValue(const char* from, const char* to) {
  return std::strtod(std::string(from, to).c_str(), nullptr);
}

}  // namespace

bool ParseShowTime(const char* text, double* row) {
  if (!text) return false;
  const char* p = text;
  double result = 0.0;
  if (*p == 'r') {
    const char* start = ++p;
    if (!SkipDecimal(p) || *p != '\0') return false;
    result = DecimalValue(start, p);
  } else {
    const char* start = p;
    if (!SkipDecimal(p)) return false;
    if (*p == '\0') {
      result = DecimalValue(start, p) * RowsPerSecond;
    } else if (*p == ':') {
      // Whole minutes, then seconds below 60 written with two digits as a
      // clock shows them: "1:5" is more often a typo than five seconds.
      const char* minutesEnd = p;
      for (const char* q = start; q < minutesEnd; ++q) {
        if (!IsDigit(*q)) return false;
      }
      const char* secondsStart = ++p;
      if (!IsDigit(secondsStart[0]) || !IsDigit(secondsStart[1])) return false;
      if (!SkipDecimal(p) || *p != '\0') return false;
      const double seconds = DecimalValue(secondsStart, p);
      if (!(seconds < 60.0)) return false;
      result = (DecimalValue(start, minutesEnd) * 60.0 + seconds) * RowsPerSecond;
    } else {
      return false;
    }
  }
  if (!std::isfinite(result) || result > LongestShowSeconds * RowsPerSecond) return false;
  *row = result;
  return true;
}

std::string FormatShowTime(double seconds) {
  if (!(seconds > 0.0)) seconds = 0.0;
  if (seconds > LongestShowSeconds) seconds = LongestShowSeconds;
  // Whole hundredths, with a nudge so that 1.15 (stored as 1.1499999...)
  // reads 1.15 rather than 1.14.
  const long long hundredths = static_cast<long long>(std::floor(seconds * 100.0 + 1e-6));
  const long long minutes = hundredths / 6000;
  const long long rest = hundredths % 6000;
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02lld.%02lld", minutes, rest / 100, rest % 100);
  return text;
}
