#include "ui/schedule.h"

#include <charconv>

#include "base/text.h"
#include "ui/messages.h"

namespace veltora {
namespace {

// A whole number of at most a few digits, nothing else.
std::optional<int> WholeNumber(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<LocalTime> ReadTimeText(std::string_view text) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return std::nullopt;
  const auto parts = SplitText(trimmed, ":", false);
  if (parts.size() != 3) return std::nullopt;
  int values[3];
  for (int i = 0; i < 3; ++i) {
    const auto value = WholeNumber(Trim(parts[static_cast<std::size_t>(i)]));
    if (!value) return std::nullopt;
    values[i] = *value;
  }
  if (values[0] < 0 || values[0] > 23 || values[1] < 0 || values[1] > 59 || values[2] < 0 ||
      values[2] > 59)
    return std::nullopt;
  LocalTime t;
  t.hour = values[0];
  t.minute = values[1];
  t.second = values[2];
  return t;
}

// The calendar minute of a date-time, to tell whether a start was handled in
// the minute of a later tick.
std::string MinuteOf(DateTime value) { return FormatDateTime(FromDateTime(value)).substr(0, 16); }

}  // namespace

std::vector<std::string> SplitText(std::string_view text, std::string_view separator,
                                   bool keepEmpty) {
  std::vector<std::string> items;
  if (text.empty()) return items;
  if (separator.empty()) return {std::string(text)};
  std::size_t from = 0;
  bool sawSeparator = false;
  for (;;) {
    const std::size_t at = text.find(separator, from);
    if (at == std::string_view::npos) break;
    sawSeparator = true;
    std::string_view piece = text.substr(from, at - from);
    if (keepEmpty || !piece.empty()) items.emplace_back(piece);
    from = at + separator.size();
  }
  if (!sawSeparator) return {};
  if (from < text.size()) items.emplace_back(text.substr(from));
  return items;
}

bool IsValidTimeText(std::string_view text) { return ReadTimeText(text).has_value(); }

std::string NormalizeTimeText(std::string_view text) {
  const auto t = ReadTimeText(text);
  return t ? FormatTime(*t) : std::string();
}

std::string NextBackupLabel(DateTime next) {
  return std::string(ui_msg::kNextBackupPrefix) + FormatDateTime(FromDateTime(next));
}

bool Schedule::ComputeNextBackupTime(DateTime now) {
  DateTime next = lastBackupTime_ + intervalDays_;
  nextBackupTime_ = next;
  const auto timeOfDay = ReadTimeText(timeFieldText_);
  if (!timeOfDay) return false;
  LocalTime at = FromDateTime(next);
  at.hour = timeOfDay->hour;
  at.minute = timeOfDay->minute;
  at.second = timeOfDay->second;
  next = ToDateTime(at);
  while (now >= next) next += 1.0;
  nextBackupTime_ = next;
  backupTimeText_ = timeFieldText_;
  return true;
}

bool Schedule::StartNow(DateTime now, BackupStarter& starter, TickResult& result) {
  switch (starter.StartBackup()) {
    case StartOutcome::kFailed:
      log_.Append(ui_msg::kScheduledStartFailed);
      return false;
    case StartOutcome::kAlreadyRunning:
      // Another run got the flag between our look and the claim: the start
      // is owed, as if that run had been seen.
      pending_ = true;
      return true;
    case StartOutcome::kStarted:
      break;
  }
  starter.RecordScheduledStart();
  lastBackupTime_ = now;
  result.started = true;
  result.labelChanged = ComputeNextBackupTime(now);
  return true;
}

TickResult Schedule::Tick(DateTime now, bool configured, bool backupRunning,
                          BackupStarter& starter) {
  TickResult result;
  if (!configured) return result;
  const LocalTime today = FromDateTime(now);
  const LocalTime due = FromDateTime(nextBackupTime_);
  if (due.year != today.year || due.month != today.month || due.day != today.day) return result;
  backupTimeText_ = NormalizeTimeText(backupTimeText_);
  if (backupTimeText_.empty()) return result;
  const int hour = (backupTimeText_[0] - '0') * 10 + (backupTimeText_[1] - '0');
  const int minute = (backupTimeText_[3] - '0') * 10 + (backupTimeText_[4] - '0');

  const std::string thisMinute = MinuteOf(now);
  const bool owedBefore = pending_;
  if (hour == today.hour && minute == today.minute) {
    starter.CaptureBackupConfiguration();
    if (startedMinute_ != thisMinute) {
      if (backupRunning) {
        pending_ = true;
        startedMinute_ = thisMinute;
      } else {
        if (!StartNow(now, starter, result)) return result;
        startedMinute_ = thisMinute;
      }
    }
  } else {
    startedMinute_.clear();
  }

  if (owedBefore && pending_ && !backupRunning && !result.started) {
    pending_ = false;
    if (!StartNow(now, starter, result)) pending_ = true;
  }
  return result;
}

}  // namespace veltora
