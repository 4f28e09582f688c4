#include "base/date_time.h"

#include <cmath>
#include <cstdio>

namespace veltora {
namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

// 1899-12-30 counted from 1970-01-01.
constexpr std::int64_t kEpochOffsetDays = -25569;

}  // namespace

DateTime ToDateTime(const LocalTime& t) {
  const std::int64_t days =
      DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) -
      kEpochOffsetDays;
  const double fraction = (t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0;
  return static_cast<double>(days) + fraction;
}

LocalTime FromDateTime(DateTime value) {
  // Round to the second first so that 0.999999 of a day does not read as 23:59:59.
  const auto totalSeconds = static_cast<std::int64_t>(std::llround(value * 86400.0));
  std::int64_t days = totalSeconds / 86400;
  std::int64_t secs = totalSeconds % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  LocalTime t;
  CivilFromDays(days + kEpochOffsetDays, t.year, t.month, t.day);
  t.hour = static_cast<int>(secs / 3600);
  t.minute = static_cast<int>(secs % 3600 / 60);
  t.second = static_cast<int>(secs % 60);
  const std::int64_t unixDays = days + kEpochOffsetDays;  // 1970-01-01 was a Thursday
  t.weekday = static_cast<int>(((unixDays % 7) + 7 + 4) % 7);
  return t;
}

std::string FormatDate(const LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
  return buf;
}

std::string FormatTime(const LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return buf;
}

std::string FormatDateTime(const LocalTime& t) { return FormatDate(t) + " " + FormatTime(t); }

bool ParseDateTime(const std::string& text, LocalTime& out) {
  LocalTime t{};
  t.hour = t.minute = t.second = 0;
  char tail = 0;
  const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &t.year, &t.month, &t.day,
                            &t.hour, &t.minute, &t.second, &tail);
  if (n != 3 && n != 6) return false;
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
      t.second > 59 || t.hour < 0 || t.minute < 0 || t.second < 0)
    return false;
  out = FromDateTime(ToDateTime(t));
  return true;
}

std::string BackupStamp(const LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

}  // namespace veltora
