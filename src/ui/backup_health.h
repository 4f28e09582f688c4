// Whether the ticked account sets have recent backups: each set's last
// complete backup as the backup table tells it, and the verdict that the
// command line's `status`, the agent's daily run-log line and the tray icon
// share.
//
// A backup is complete when every step of the job that is on was done for it:
// its local row says the local backup succeeded and no archive-failure row
// followed it, and, with the share side on, a share-copy row holds the same
// file. The table has no record of which sides were on at the time, so the
// settings of now decide: a set backed up only locally before the share side
// was switched on is late until its first copy reaches the share.
//
// A backup that cannot be restored protects nothing: a set whose last test
// restore failed is at least late, whatever the age of its backup, until a
// later test passes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/date_time.h"
#include "base/line_log.h"
#include "settings/settings_database.h"

namespace veltora {

enum class BackupVerdict {
  kCurrent,  // the newest complete backup is recent enough
  kLate,     // older than the days between backups plus one day
  kNever,    // no complete backup in the table
};

// The last test restore of an account set: the rows of its newest test
// (every side tested at that time).
struct LastVerification {
  DateTime time = 0.0;
  std::string timeText;  // as recorded, "yyyy-mm-dd hh:mm:ss"
  bool passed = false;   // every side passed
  // The sides that failed, each "本机备份：" or "远程备份：" and its reason,
  // joined by "；"; a set without a backup to test has the reason alone.
  std::string reason;
};

// The last test restore of `accountSet` among rows of the verification table
// given newest first; nothing when it was never tested (or its time does not
// read as one).
std::optional<LastVerification> LastVerificationOf(const std::string& accountSet,
                                                   const std::vector<VerificationRow>& newestFirst);

struct AccountSetHealth {
  std::string name;  // as ticked: the SQL account-set name, or the .AIS file name
  // The newest complete backup; the rest is empty without one.
  std::optional<DateTime> lastComplete;
  std::string localFile;  // its local row's file (without the archive's extension)
  std::string shareFile;  // its copy on the share; empty while the share side is off
  double ageDays = 0.0;   // now - lastComplete; 0 for a backup stamped in the future
  BackupVerdict verdict = BackupVerdict::kNever;
  std::optional<LastVerification> lastVerification;

  bool VerificationFailed() const { return lastVerification && !lastVerification->passed; }
};

struct BackupHealth {
  int intervalDays = 1;  // days between backups, in its range
  bool shareOn = false;
  std::vector<AccountSetHealth> sets;  // the ticked sets in list order

  // The worst verdict: kNever over kLate over kCurrent; kCurrent without sets.
  BackupVerdict Overall() const;
  // The sets that are not current, in list order.
  std::vector<AccountSetHealth> Overdue() const;
};

// The verdict over rows of the backup table (in any order; the id decides
// which is newer), the chosen account sets and the settings row, at `now`,
// with the test restores of the verification table (newest first).
BackupHealth AssessBackups(const std::vector<AccountListRow>& ticked, const BaksetRow& settings,
                           const std::vector<BaklogRow>& rows, DateTime now,
                           const std::vector<VerificationRow>& verifications = {});
// The same read from a settings database; throws what the database throws.
BackupHealth AssessBackups(const SettingsDatabase& db, DateTime now);

// The age as the texts show it: "N天" for whole days, "N小时" below a day.
std::string AgeText(double ageDays);
// The sets that are not current, for the run log and the tray: each name with
// its age when that is beyond the interval, or with the note that it never
// completed, then the failed test restore and its reason when there was one;
// joined by "、". Empty when all are current.
std::string OverdueText(const BackupHealth& health);

// The agent's and the window's watch over the backups: looks at the table
// at most once an hour (and at once when asked), writes the alarm line to the
// run log at most once per calendar day, and tells its caller when what the
// tray shows has to change.
class BackupWatch {
 public:
  // What the tray shows: empty when all ticked sets are current, otherwise
  // OverdueText; announce when the alarm line was written just now (once a
  // day), for a balloon.
  struct Change {
    std::string overdue;
    bool announce = false;
  };

  explicit BackupWatch(LineLog& log) : log_(log) {}

  // Look again at the next Check, whatever the hour (after a run ended, after
  // the settings changed).
  void LookSoon() { nextLook_ = 0.0; }
  // The day ("yyyy-mm-dd") whose alarm line is already in the run log, as
  // another process of this folder wrote it; today's is then not repeated.
  void SetAlarmDay(std::string day) { alarmDay_ = std::move(day); }
  const std::string& AlarmDay() const { return alarmDay_; }

  // Once a second is cheap: nothing is read before the next look is due. A
  // database that cannot be read leaves the tray as it was and is tried
  // again at the next look. Answers the tray's new state when it changed
  // or is to be announced.
  std::optional<Change> Check(DateTime now, const std::function<BackupHealth()>& assess);

 private:
  LineLog& log_;
  DateTime nextLook_ = 0.0;
  std::string alarmDay_;
  std::optional<std::string> shown_;  // what the tray shows; nothing before the first look
};

}  // namespace veltora
