// Local date-time as the backup agent stores and compares it: days since
// 1899-12-30 00:00 local time as a double, the fraction being the time of day.
// -1.0 marks a file time that could not be read; it is older than any real time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace veltora {

using DateTime = double;
inline constexpr DateTime kUnreadableTime = -1.0;

// Broken-down local time, what every text format below is made from.
struct LocalTime {
  int year = 1899;
  int month = 12;  // 1..12
  int day = 30;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 6;  // 0 = Sunday
};

LocalTime ToLocalTime(std::chrono::system_clock::time_point when);
DateTime ToDateTime(const LocalTime& t);
LocalTime FromDateTime(DateTime value);

// The fixed formats: "yyyy-mm-dd", "hh:mm:ss" and both joined by one blank.
std::string FormatDate(const LocalTime& t);
std::string FormatTime(const LocalTime& t);
std::string FormatDateTime(const LocalTime& t);
// Parses "yyyy-mm-dd hh:mm:ss" (or the date alone); false when malformed.
bool ParseDateTime(const std::string& text, LocalTime& out);

// The 14-digit backup stamp "YYYYMMDDHHNNSS".
inline constexpr std::size_t kBackupStampLength = 14;
std::string BackupStamp(const LocalTime& t);

}  // namespace veltora
