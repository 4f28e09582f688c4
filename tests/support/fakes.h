// Small doubles for the seams the agent injects: a clock that stands still
// until told to move, and a line sink that keeps what was written.
#pragma once

#include <chrono>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/date_time.h"
#include "base/line_log.h"

namespace veltora::testing {

// Seconds since the epoch of a local date and time.
std::time_t LocalSeconds(int year, int month, int day, int hour, int minute, int second);

class FixedClock final : public Clock {
 public:
  explicit FixedClock(const LocalTime& t) { Set(t); }
  std::chrono::system_clock::time_point Now() const override {
    std::lock_guard lock(mutex_);
    return now_;
  }
  // Interprets the broken-down time in the local time zone.
  void Set(const LocalTime& t);
  void Advance(std::chrono::seconds s) {
    std::lock_guard lock(mutex_);
    now_ += s;
  }

 private:
  mutable std::mutex mutex_;
  std::chrono::system_clock::time_point now_;
};

class RecordingLog final : public LineLog {
 public:
  void Append(std::string_view message) override {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(message);
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace veltora::testing
