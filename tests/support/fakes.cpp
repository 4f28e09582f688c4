#include "support/fakes.h"

#include <ctime>

namespace veltora::testing {

std::time_t LocalSeconds(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

void FixedClock::Set(const LocalTime& t) {
  const std::time_t seconds = LocalSeconds(t.year, t.month, t.day, t.hour, t.minute, t.second);
  std::lock_guard lock(mutex_);
  now_ = std::chrono::system_clock::from_time_t(seconds);
}

}  // namespace veltora::testing
