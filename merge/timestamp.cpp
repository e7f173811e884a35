#include "merge/timestamp.h"

#include <stdio.h>
#include <string.h>

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

bool parseTimestamp(const std::string& text, int64_t* seconds) {
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  char weekday[4] = {0};
  char month[4] = {0};
  int day = 0, hour = 0, minute = 0, second = 0, year = 0, used = 0;
  if (sscanf(text.c_str(), "%3s %3s %d %d:%d:%d %d%n", weekday, month, &day, &hour, &minute,
             &second, &year, &used) != 7) {
    return false;
  }
  if (strlen(month) != 3) return false;
  const char* found = strstr(kMonths, month);
  if (found == nullptr || (found - kMonths) % 3 != 0) return false;
  int monthIndex = static_cast<int>(found - kMonths) / 3 + 1;
  if (day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 60 || year < 1 || year > 9999) {
    return false;
  }
  *seconds = daysFromCivil(year, monthIndex, day) * 86400 + int64_t{hour} * 3600 +
             int64_t{minute} * 60 + second;
  return true;
}
