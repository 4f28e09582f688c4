// The local-time conversion on Windows: the system's own, with the time zone
// rules of the date converted (a summer time is applied by the date, not by
// today's bias).
#include <windows.h>

#include <cstdint>

#include "base/date_time.h"

namespace veltora {
namespace {

// FILETIME counts 100-ns ticks from 1601-01-01; the system clock from 1970.
constexpr std::int64_t kTicksFrom1601To1970 = 116444736000000000LL;
using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;

}  // namespace

LocalTime ToLocalTime(std::chrono::system_clock::time_point when) {
  const std::int64_t ticks =
      std::chrono::floor<Ticks>(when.time_since_epoch()).count() + kTicksFrom1601To1970;
  FILETIME utcFile{};
  utcFile.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
  utcFile.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  if (ticks < 0 || !FileTimeToSystemTime(&utcFile, &utc) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
    return LocalTime{};
  return LocalTime{local.wYear,   local.wMonth,  local.wDay,      local.wHour,
                   local.wMinute, local.wSecond, local.wDayOfWeek};
}

}  // namespace veltora
