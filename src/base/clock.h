// The time source of everything that stamps, names or schedules. Injected so
// that the run log, the backup stamps and the schedule can be tested at any date.
#pragma once

#include <chrono>

#include "base/date_time.h"

namespace veltora {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::system_clock::time_point Now() const = 0;
  LocalTime LocalNow() const { return ToLocalTime(Now()); }
};

class SystemClock final : public Clock {
 public:
  std::chrono::system_clock::time_point Now() const override {
    return std::chrono::system_clock::now();
  }
};

}  // namespace veltora
