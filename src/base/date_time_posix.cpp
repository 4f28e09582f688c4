// The local-time conversion on POSIX: the C library's, with the time zone
// rules of the date converted.
#include <ctime>

#include "base/date_time.h"

namespace veltora {

LocalTime ToLocalTime(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm tm{};
  localtime_r(&t, &tm);
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                   tm.tm_min,         tm.tm_sec,     tm.tm_wday};
}

}  // namespace veltora
