#include "support/fakes.h"

#include <ctime>

namespace veltora::testing {

void FixedClock::Set(const LocalTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  std::lock_guard lock(mutex_);
  now_ = std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

}  // namespace veltora::testing
