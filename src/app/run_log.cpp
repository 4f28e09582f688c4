#include "app/run_log.h"

#include <cmath>
#include <ctime>
#include <utility>

#include "app/messages.h"
#include "base/text.h"
#include "files/file_ops.h"

namespace veltora {
namespace {

// A month of the rotation, in days, and the age in such months beyond which the
// log goes.
constexpr double kDaysPerMonth = 30.4375;
constexpr double kMaxMonths = 30;

std::string WeekdayAbbreviation(int weekday) {
  std::tm tm{};
  tm.tm_wday = weekday;
  char buf[64];
  const std::size_t n = std::strftime(buf, sizeof buf, "%a", &tm);
  return std::string(buf, n);
}

}  // namespace

std::string RunLogStamp(const LocalTime& t) {
  return app_msg::kStampPrefix + FormatDateTime(t) + ' ' + WeekdayAbbreviation(t.weekday) + " :";
}

bool AppendRunLog(const std::string& path, const std::string& message, bool startNew, bool stamp,
                  const Clock& clock) noexcept {
  try {
    const std::string target = Trim(path);
    if (target.empty()) return false;
    std::string text;
    if (stamp) text = RunLogStamp(clock.LocalNow());
    text += message;
    text += "\r\n";
    return internal::WriteRunLogBytes(target, text, startNew);
  } catch (...) {
    return false;
  }
}

bool RotateRunLog(const std::string& path, const Clock& clock) noexcept {
  try {
    const std::string target = Trim(path);
    if (target.empty() || !FileExists(target)) return true;
    const DateTime created = GetFileDate(target, 0);
    const DateTime now = ToDateTime(clock.LocalNow());
    const double months = std::trunc(std::fabs(now - created) / kDaysPerMonth);
    if (months > kMaxMonths) return ForceDeleteFile(target);
    return true;
  } catch (...) {
    return false;
  }
}

std::string DurationText(std::uint64_t seconds) {
  return std::to_string(seconds / 3600) + app_msg::kHours + std::to_string(seconds % 3600 / 60) +
         app_msg::kMinutes + std::to_string(seconds % 60) + app_msg::kSeconds;
}

RunLog::RunLog(std::string path, const Clock& clock) : path_(std::move(path)), clock_(clock) {}

void RunLog::Append(std::string_view message) {
  try {
    const std::lock_guard<std::mutex> lock(mutex_);
    // Stamped here rather than inside AppendRunLog so that the listener hears
    // exactly the bytes the file gets.
    const std::string line = RunLogStamp(clock_.LocalNow()) + std::string(message);
    AppendRunLog(path_, line, /*startNew=*/false, /*stamp=*/false, clock_);
    if (listener_) {
      try {
        listener_(line);
      } catch (...) {
        // An echo that fails must not cost the caller anything.
      }
    }
  } catch (...) {
    // Out of memory or a broken lock: the line is dropped, as documented.
  }
}

bool RunLog::Rotate() {
  try {
    const std::lock_guard<std::mutex> lock(mutex_);
    return RotateRunLog(path_, clock_);
  } catch (...) {
    return false;
  }
}

void RunLog::SetListener(Listener listener) {
  const std::lock_guard<std::mutex> lock(mutex_);
  listener_ = std::move(listener);
}

}  // namespace veltora
