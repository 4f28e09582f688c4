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
  // A scheduled start happened: store it as the last backup time
  // (lastbakday = now()). Errors are the starter's to swallow.
  virtual void RecordScheduledStart() = 0;
};

struct TickResult {
  bool started = false;       // a scheduled or pending backup was started
  bool labelChanged = false;  // the next backup time was recomputed and shown
};

class Schedule {
 public:
  explicit Schedule(LineLog& log) : log_(log) {}

  // The inputs of the next backup time: the last scheduled start, the days
  // between backups and the text of the backup-time field.
  void SetLastBackupTime(DateTime last) { lastBackupTime_ = last; }
  DateTime LastBackupTime() const { return lastBackupTime_; }
  void SetIntervalDays(int days) { intervalDays_ = days; }
  void SetTimeFieldText(std::string text) { timeFieldText_ = std::move(text); }

  // Next backup time := last + interval days, at the time of day of the
  // field, moved on a day at a time until it lies after now. When the date and
  // the field's text do not read as a date-time, the next backup time stays
  // last + interval and nothing is shown (false). Otherwise the backup time
  // text becomes the field's text and the answer is true: show
  // NextBackupLabel(NextBackupTime()).
  bool ComputeNextBackupTime(DateTime now);

  DateTime NextBackupTime() const { return nextBackupTime_; }
  const std::string& BackupTimeText() const { return backupTimeText_; }
  // Capturing the configuration copies the field into the backup time text.
  void SetBackupTimeText(std::string text) { backupTimeText_ = std::move(text); }

  // One timer tick at `now`. While configured and the next backup time falls
  // on today, the matching hour and minute of the backup time text start the
  // backup once in that minute (captured on every tick of it); a start owed to
  // a running backup is made on the first tick without one. After every
  // scheduled or pending start the last backup time is `now` and the next
  // backup time is recomputed, so the schedule goes on without a reload.
  TickResult Tick(DateTime now, bool configured, bool backupRunning, BackupStarter& starter);

  // Start-up: no start handled this minute, none owed.
  void ResetFlags() {
    startedMinute_.clear();
    pending_ = false;
  }
  bool Pending() const { return pending_; }

 private:
  bool StartNow(DateTime now, BackupStarter& starter, TickResult& result);

  LineLog& log_;
  DateTime lastBackupTime_ = 0.0;
  int intervalDays_ = 1;
  std::string timeFieldText_ = "01:30:00";
  DateTime nextBackupTime_ = 0.0;
  std::string backupTimeText_;
  // The minute ("yyyy-mm-dd hh:mm") whose scheduled start has been handled;
  // empty when none. Kept as the minute rather than a flag, because after a
  // start the next backup time moves to another day and the ticks of the
  // following minutes no longer reach the comparison that would clear a flag.
  std::string startedMinute_;
  bool pending_ = false;
};

}  // namespace veltora
