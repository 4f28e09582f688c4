#include "app/run_log.h"

#include <cmath>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "app/messages.h"
#include "base/fs_path.h"
#include "base/text.h"
#include "files/file_ops.h"

namespace veltora {
namespace {

// A month of the rotation, in days, and the age in such months beyond which the
// log goes.
constexpr double kDaysPerMonth = 30.4375;
constexpr double kMaxMonths = 30;

// "在" and "YYYY-MM-DD HH:NN:SS": what the first line's stamp is read from.
constexpr std::size_t kStampDateTimeLength = 19;

std::string WeekdayName(int weekday) { return app_msg::kWeekdayNames[((weekday % 7) + 7) % 7]; }

// The time of the first line's stamp; -1.0 when the line has none.
DateTime FirstLineTime(const std::string& path) {
  const std::string prefix = app_msg::kStampPrefix;
  const std::string line =
      internal::ReadRunLogFirstLine(path, prefix.size() + kStampDateTimeLength);
  if (line.size() != prefix.size() + kStampDateTimeLength || !StartsWith(line, prefix))
    return kUnreadableTime;
  LocalTime t;
  if (!ParseDateTime(line.substr(prefix.size()), t)) return kUnreadableTime;
  return ToDateTime(t);
}

}  // namespace

std::string RunLogStamp(const LocalTime& t) {
  return app_msg::kStampPrefix + FormatDateTime(t) + ' ' + WeekdayName(t.weekday) + " :";
}

std::string LastDayOfRunLogLine(const std::string& path, std::string_view messagePrefix) noexcept {
  constexpr std::streamoff kTail = 64 * 1024;
  try {
    // Only the log itself is read: a FIFO planted under its name would hold
    // the reader up for good.
    std::error_code ec;
    if (std::filesystem::symlink_status(PathFromUtf8(path), ec).type() !=
        std::filesystem::file_type::regular)
      return {};
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) return {};
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(size > kTail ? size - kTail : 0);
    std::string tail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string day;
    const std::string_view stampPrefix = app_msg::kStampPrefix;
    std::size_t from = 0;
    while (from < tail.size()) {
      std::size_t end = tail.find('\n', from);
      if (end == std::string::npos) end = tail.size();
      std::string_view raw(tail.data() + from, end - from);
      if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
      const std::string line = RunLogLineAsUtf8(raw);
      const std::size_t messageAt = line.find(" :");
      if (StartsWith(line, stampPrefix) && messageAt != std::string::npos &&
          StartsWith(std::string_view(line).substr(messageAt + 2), messagePrefix))
        day = line.substr(stampPrefix.size(), 10);
      from = end + 1;
    }
    return day;
  } catch (const std::exception&) {
    return {};
  }
}

bool AppendRunLog(const std::string& path, const std::string& message, bool startNew, bool stamp,
                  const Clock& clock) noexcept {
  try {
    const std::string target = Trim(path);
    if (target.empty()) return false;
    std::string text;
    if (stamp) text = RunLogStamp(clock.LocalNow());
    // One call, one physical line: a name or a server's reason that holds a
    // line break must not start a line of its own, stamp-less or forged.
    text += ShowControlCharacters(message);
    text += "\r\n";
    return internal::WriteRunLogBytes(target, text, startNew);
  } catch (const std::exception&) {
    return false;
  }
}

bool RotateRunLog(const std::string& path, const Clock& clock,
                  const CreationTimeReader& creationTime) noexcept {
  try {
    const std::string target = Trim(path);
    if (target.empty() || !FileExists(target)) return true;
    DateTime created =
        creationTime ? creationTime(target) : GetFileDate(target, FileTime::kCreation);
    if (created == kUnreadableTime) created = FirstLineTime(target);
    if (created == kUnreadableTime) return false;  // age unknown: the log stays
    const DateTime now = ToDateTime(clock.LocalNow());
    const double months = std::trunc(std::fabs(now - created) / kDaysPerMonth);
    if (months > kMaxMonths) return ForceDeleteFile(target);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::string DurationText(std::uint64_t seconds) {
  return std::to_string(seconds / 3600) + app_msg::kHours + std::to_string(seconds % 3600 / 60) +
         app_msg::kMinutes + std::to_string(seconds % 60) + app_msg::kSeconds;
}

RunLog::RunLog(std::string path, const Clock& clock, CreationTimeReader creationTime)
    : path_(std::move(path)), clock_(clock), creationTime_(std::move(creationTime)) {}

void RunLog::Append(std::string_view message) {
  try {
    const std::lock_guard<std::mutex> lock(mutex_);
    // Stamped here rather than inside AppendRunLog so that the listener hears
    // exactly the bytes the file gets.
    const std::string line = RunLogStamp(clock_.LocalNow()) + ShowControlCharacters(message);
    AppendRunLog(path_, line, /*startNew=*/false, /*stamp=*/false, clock_);
    if (listener_) {
      try {
        listener_(line);
      } catch (const std::exception&) {
        // An echo that fails must not cost the caller anything.
      }
    }
  } catch (const std::exception&) {
    // Out of memory or a broken lock: the line is dropped; the run log has no
    // one to tell, and its writer never fails its caller.
  }
}

bool RunLog::Rotate() {
  try {
    const std::lock_guard<std::mutex> lock(mutex_);
    return RotateRunLog(path_, clock_, creationTime_);
  } catch (const std::exception&) {
    return false;
  }
}

void RunLog::SetListener(Listener listener) {
  const std::lock_guard<std::mutex> lock(mutex_);
  listener_ = std::move(listener);
}

}  // namespace veltora
