#include "ui/schedule.h"

#include <charconv>
#include <cmath>

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

// Before the first scheduled start the last one is taken to lie this far back
// where a day is needed (the next backup time of an unreadable time text).
constexpr double kNoLastBackupDays = 100.0;

// The calendar day ("yyyy-mm-dd") and minute ("yyyy-mm-dd hh:mm") of a
// date-time. Compared as texts: they sort as the times do, and a comparison
// cannot fall on the wrong side of a boundary by a rounding of the days.
std::string DayOf(DateTime value) { return FormatDate(FromDateTime(value)); }
std::string MinuteOf(DateTime value) { return FormatDateTime(FromDateTime(value)).substr(0, 16); }

// The time of day on the calendar day of `day`.
DateTime OnDayOf(DateTime day, const LocalTime& timeOfDay) {
  LocalTime at = FromDateTime(day);
  at.hour = timeOfDay.hour;
  at.minute = timeOfDay.minute;
  at.second = timeOfDay.second;
  return ToDateTime(at);
}

std::string Shown(DateTime value) { return FormatDateTime(FromDateTime(value)); }

// The latest of `due` and the same time on the days after it whose minute lies
// before the minute of `now` (`due`'s own minute does).
DateTime LatestDueBefore(DateTime due, DateTime now) {
  if (now - due > 2.0) due += std::floor(now - due) - 1.0;
  const std::string nowMinute = MinuteOf(now);
  while (MinuteOf(due + 1.0) < nowMinute) due += 1.0;
  return due;
}

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

std::optional<DateTime> Schedule::LastBackupTime() const {
  return lastStarted_ ? lastStarted_ : lastBackupTime_;
}

bool Schedule::ComputeNextBackupTime(DateTime now) {
  const std::optional<DateTime> last = LastBackupTime();
  nextBackupTime_ = last.value_or(now - kNoLastBackupDays) + intervalDays_;
  const auto timeOfDay = ReadTimeText(timeFieldText_);
  if (!timeOfDay) return false;
  backupTimeText_ = timeFieldText_;

  std::optional<DateTime> missed;
  if (!last || DayOf(*last) > DayOf(now)) {
    // Nothing to count from: the next time of day. A start on a day still to
    // come was made under a clock that ran ahead; its own day keeps the one
    // start it had, should the clock have gone back only over midnight.
    DateTime next = OnDayOf(now, *timeOfDay);
    while (now >= next) next += 1.0;
    if (last && DayOf(next) == DayOf(*last)) next += 1.0;
    nextBackupTime_ = next;
  } else {
    const DateTime due = OnDayOf(*last + intervalDays_, *timeOfDay);
    if (MinuteOf(due) < MinuteOf(now)) {
      // Of several due times gone by, the latest is the one made up.
      missed = LatestDueBefore(due, now);
      nextBackupTime_ = now;
    } else {
      nextBackupTime_ = due;
    }
  }
  if (missed != missed_) {
    missed_ = missed;
    missedReported_ = false;
    catchUpReported_ = false;
    catchUpFailedMinute_.clear();
  }
  return true;
}

StartOutcome Schedule::StartNow(DateTime now, BackupStarter& starter, TickResult& result) {
  const StartOutcome outcome = starter.StartBackup();
  switch (outcome) {
    case StartOutcome::kFailed: {
      const std::string reason = starter.StartFailure();
      log_.Append(reason.empty() ? std::string(ui_msg::kScheduledStartFailed) : reason);
      break;
    }
    case StartOutcome::kAlreadyRunning:
      // Another run got the flag between our look and the claim: the start
      // is still owed.
      break;
    case StartOutcome::kStarted:
      starter.RecordScheduledStart();
      lastStarted_ = now;
      result.started = true;
      result.labelChanged = ComputeNextBackupTime(now);
      break;
  }
  return outcome;
}

void Schedule::TickCatchUp(DateTime now, bool backupRunning, BackupStarter& starter,
                           TickResult& result) {
  const DateTime missed = *missed_;
  if (!missedReported_) {
    log_.Append(ui_msg::kMissedBackupPrefix + Shown(missed) + ui_msg::kMissedBackupSuffix);
    missedReported_ = true;
  }
  // Made once no backup runs; a failed start waits for the next minute, so
  // that its line is not written every second.
  const std::string thisMinute = MinuteOf(now);
  if (backupRunning || catchUpFailedMinute_ == thisMinute) return;
  starter.CaptureBackupConfiguration();
  if (!catchUpReported_) {
    // Before the start, so that it comes ahead of the run's own lines.
    log_.Append(ui_msg::kCatchUpPrefix + Shown(missed) + ui_msg::kCatchUpSuffix);
    catchUpReported_ = true;
  }
  switch (StartNow(now, starter, result)) {
    case StartOutcome::kStarted:
      missed_.reset();
      break;
    case StartOutcome::kFailed:
      catchUpFailedMinute_ = thisMinute;
      break;
    case StartOutcome::kAlreadyRunning:
      break;
  }
}

TickResult Schedule::Tick(DateTime now, bool configured, bool backupRunning,
                          BackupStarter& starter) {
  TickResult result;
  if (!configured) return result;
  backupTimeText_ = NormalizeTimeText(backupTimeText_);
  if (backupTimeText_.empty()) return result;

  if (const auto last = LastBackupTime();
      last && DayOf(*last) > DayOf(now) && distrustReported_ != last) {
    distrustReported_ = last;
    log_.Append(ui_msg::kFutureLastBackupPrefix + Shown(*last) + ui_msg::kFutureLastBackupSuffix);
    result.labelChanged = ComputeNextBackupTime(now);
  }

  // The minute of the next backup time, at the hour and minute of the backup
  // time text (seconds are not compared). Missed only once both that minute
  // and the next backup time's own have passed: a text captured without a new
  // next backup time (a save) moves no start into the past.
  const std::string thisMinute = MinuteOf(now);
  const std::string dueMinute = DayOf(nextBackupTime_) + " " + backupTimeText_.substr(0, 5);
  if (!missed_ && !pending_ && thisMinute > dueMinute && thisMinute > MinuteOf(nextBackupTime_)) {
    missed_ = LatestDueBefore(nextBackupTime_, now);
    missedReported_ = false;
    catchUpReported_ = false;
    catchUpFailedMinute_.clear();
    nextBackupTime_ = now;
    result.labelChanged = true;
  }
  if (missed_) {
    TickCatchUp(now, backupRunning, starter, result);
    return result;
  }

  const bool owedBefore = pending_;
  if (thisMinute == dueMinute) {
    starter.CaptureBackupConfiguration();
    if (startedMinute_ != thisMinute) {
      if (backupRunning) {
        pending_ = true;
      } else {
        const StartOutcome outcome = StartNow(now, starter, result);
        if (outcome == StartOutcome::kFailed) return result;
        pending_ = outcome == StartOutcome::kAlreadyRunning;
      }
      startedMinute_ = thisMinute;
    }
  } else {
    startedMinute_.clear();
  }

  // The owed start, on whatever day the running backup ends.
  if (owedBefore && pending_ && !backupRunning && !result.started)
    pending_ = StartNow(now, starter, result) != StartOutcome::kStarted;
  return result;
}

}  // namespace veltora
