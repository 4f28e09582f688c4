// The backup schedule: the time texts of the backup-time field, the next
// backup time, and the one-second tick that starts the scheduled backup.
//
// Toolkit-free: the window's timer and the headless agent both drive one
// Schedule. What a start means (capturing the configuration, claiming the
// backup-running flag, starting the thread) is the starter's business; the
// schedule only decides when.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/date_time.h"
#include "base/line_log.h"

namespace veltora {

// Splits text at every occurrence of separator. An empty text gives an empty
// list; an empty separator a list holding the whole text. With keepEmpty off,
// empty pieces are dropped. A text without the separator gives an empty list
// (the pieces are only those that a separator ends, plus a non-empty rest).
std::vector<std::string> SplitText(std::string_view text, std::string_view separator,
                                   bool keepEmpty);

// "h:m:s" with whole numbers, hours 0..23, minutes and seconds 0..59; blanks
// around the text and around each number are allowed, empty pieces are
// dropped ("1::30:00" is valid).
bool IsValidTimeText(std::string_view text);
// The valid text written "hh:mm:ss"; "" when the text is not valid.
std::string NormalizeTimeText(std::string_view text);

// "下次备份时间:" + the time as "yyyy-mm-dd hh:mm:ss".
std::string NextBackupLabel(DateTime next);

// What starting a backup came to.
enum class StartOutcome {
  kStarted,         // the thread runs
  kAlreadyRunning,  // another run holds the backup-running flag (or the folder)
  kFailed,          // the thread could not be created
};

// Starts one backup run with the configuration of the moment. The claim of the
// backup-running flag is the starter's own (one atomic exchange), so two ticks,
// a tick and a button, never start two runs.
class BackupStarter {
 public:
  virtual ~BackupStarter() = default;
  // Copies the live settings into the backup configuration the run will use.
  virtual void CaptureBackupConfiguration() = 0;
  virtual StartOutcome StartBackup() = 0;
  // Why the last StartBackup answered kFailed, when there is a reason to tell
  // (see BackupRunner::StartFailure); empty otherwise.
  virtual std::string StartFailure() const { return {}; }
  // A scheduled start happened: store it as the last backup time
  // (lastbakday = now()). Errors are the starter's to swallow.
  virtual void RecordScheduledStart() = 0;
};

struct TickResult {
  bool started = false;       // a scheduled, owed or catch-up backup was started
  bool labelChanged = false;  // the next backup time was recomputed and shown
};

// When the schedule starts a backup. The set time of day on the day that lies
// the interval after the last scheduled start is due; a due time whose minute
// passed without a start (the machine asleep, the clock moved over it, a day
// without that time of day) is made up once, as soon as a tick or a load
// notices it, and the schedule goes on from that catch-up. A last start on a
// day still to come (it was made under a clock that ran ahead) is not believed:
// the schedule then works from now.
class Schedule {
 public:
  explicit Schedule(LineLog& log) : log_(log) {}

  // The inputs of the next backup time: the last scheduled start as stored
  // (none before the first), the days between backups and the text of the
  // backup-time field.
  void SetLastBackupTime(std::optional<DateTime> last) { lastBackupTime_ = last; }
  // The last start this schedule made itself, else the stored one: a start
  // whose record failed still counts, and only this schedule records starts.
  std::optional<DateTime> LastBackupTime() const;
  void SetIntervalDays(int days) { intervalDays_ = days; }
  void SetTimeFieldText(std::string text) { timeFieldText_ = std::move(text); }

  // The next backup time: the moment the schedule will next start a backup.
  // - No last start, or one on a day after today: the first time of day of
  //   the field after now (not on the day of that future start).
  // - Otherwise the time of day on the day the interval after the last start;
  //   while the minute of that time has not passed, that is the answer.
  // - Its minute has passed unused: the latest such due time is owed
  //   (MissedBackupTime) and the next backup time is now.
  // When the field's text does not read as a time, the next backup time is
  // the last start + interval (100 days before now standing in for none) and
  // nothing is shown (false). Otherwise the backup time text becomes the
  // field's text and the answer is true: show NextBackupLabel(NextBackupTime()).
  bool ComputeNextBackupTime(DateTime now);

  DateTime NextBackupTime() const { return nextBackupTime_; }
  // The due time that passed without a start and is still to be made up.
  std::optional<DateTime> MissedBackupTime() const { return missed_; }
  const std::string& BackupTimeText() const { return backupTimeText_; }
  // Capturing the configuration copies the field into the backup time text.
  void SetBackupTimeText(std::string text) { backupTimeText_ = std::move(text); }

  // One timer tick at `now`; nothing while not configured or while the backup
  // time text is not a valid time.
  // - A last start on a day after today is reported once (run log) and the
  //   next backup time recomputed from now.
  // - The minute of the next backup time (its date and the hour and minute of
  //   the backup time text) starts the backup once, captured on every tick of
  //   it; with a backup running, the start is owed and made on the first tick
  //   without one, on whatever day that is.
  // - A next backup time whose minute has passed with neither a start nor an
  //   owed one is missed: its line, and the next backup time becomes now.
  // - A missed backup is made up by one catch-up start, with its line, on the
  //   first tick without a running backup (a failed start is tried again in
  //   the next minute).
  // After every start the last backup time is `now` and the next backup time
  // is recomputed, so the schedule goes on without a reload.
  TickResult Tick(DateTime now, bool configured, bool backupRunning, BackupStarter& starter);

  // Start-up: no start handled this minute, none owed.
  void ResetFlags() {
    startedMinute_.clear();
    pending_ = false;
  }
  bool Pending() const { return pending_; }

 private:
  // Starts a run; on success records it and recomputes the next backup time.
  StartOutcome StartNow(DateTime now, BackupStarter& starter, TickResult& result);
  void TickCatchUp(DateTime now, bool backupRunning, BackupStarter& starter, TickResult& result);

  LineLog& log_;
  std::optional<DateTime> lastBackupTime_;
  // The last start this schedule made; see LastBackupTime.
  std::optional<DateTime> lastStarted_;
  int intervalDays_ = 1;
  std::string timeFieldText_ = "01:30:00";
  DateTime nextBackupTime_ = 0.0;
  std::string backupTimeText_;
  // The minute ("yyyy-mm-dd hh:mm") whose scheduled start has been handled;
  // empty when none. The later ticks of that minute start nothing more, also
  // when the start was only made owed and the next backup time stayed.
  std::string startedMinute_;
  bool pending_ = false;
  // The owed catch-up: which due time, whether its missed and catch-up lines
  // are written, and the minute of its last failed start.
  std::optional<DateTime> missed_;
  bool missedReported_ = false;
  bool catchUpReported_ = false;
  std::string catchUpFailedMinute_;
  // The future last start already reported, so that it is said once.
  std::optional<DateTime> distrustReported_;
};

}  // namespace veltora
