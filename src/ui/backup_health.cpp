#include "ui/backup_health.h"

#include <algorithm>
#include <map>
#include <utility>

#include "app/backup_configuration.h"
#include "base/path.h"
#include "base/text.h"
#include "engine/messages.h"
#include "settings/messages.h"
#include "ui/messages.h"

namespace veltora {
namespace {

constexpr double kLookInterval = 1.0 / 24.0;  // an hour

bool IsFileEdition(int edition) { return edition == 0 || edition == 1; }

// A row's account against a ticked name: the SQL editions write the name
// itself, the file editions the .AIS file's path, whose file name is ticked.
bool RowIsAbout(const BaklogRow& row, const std::string& ticked, bool fileEdition) {
  if (row.accountname.empty()) return false;
  if (!fileEdition) return row.accountname == ticked;
  return EqualsIgnoreAsciiCase(NameInFolder(row.accountname), ticked);
}

bool IsLocalSuccess(const BaklogRow& row) {
  return row.baksuccess.value_or(false) && row.bz != settings_messages::kRemoteCopyRemark;
}

bool IsArchiveFailure(const BaklogRow& row) {
  return row.baksuccess.has_value() && !*row.baksuccess &&
         StartsWith(row.localbakfile, engine_msg::kArchiveFailedRowPrefix);
}

bool IsShareCopy(const BaklogRow& row) {
  return !row.baksuccess.has_value() && row.bz == settings_messages::kRemoteCopyRemark;
}

// The share's copies by account and file name: the newest row of each.
using ShareCopies = std::map<std::pair<std::string, std::string>, const BaklogRow*>;

ShareCopies IndexShareCopies(const std::vector<BaklogRow>& oldestFirst) {
  ShareCopies copies;
  for (const auto& row : oldestFirst)
    if (IsShareCopy(row)) copies[{row.accountname, BaseName(row.localbakfile)}] = &row;
  return copies;
}

AccountSetHealth AssessOne(const std::string& name, const std::vector<BaklogRow>& oldestFirst,
                           const ShareCopies* shareCopies, bool fileEdition, int intervalDays,
                           DateTime now) {
  AccountSetHealth set;
  set.name = name;
  for (std::size_t i = oldestFirst.size(); i-- > 0;) {
    const BaklogRow& local = oldestFirst[i];
    if (!RowIsAbout(local, name, fileEdition) || !IsLocalSuccess(local)) continue;
    LocalTime at;
    if (!ParseDateTime(local.baktime, at)) continue;
    // The job writes a backup's archive failure right after its local row:
    // the next row about the same account tells.
    bool archived = true;
    for (std::size_t k = i + 1; k < oldestFirst.size(); ++k) {
      if (oldestFirst[k].accountname != local.accountname) continue;
      archived = !IsArchiveFailure(oldestFirst[k]);
      break;
    }
    if (!archived) continue;
    // With the share side on, the same file must have reached the share
    // after it was made.
    std::string shareFile;
    if (shareCopies) {
      const auto copy = shareCopies->find({local.accountname, BaseName(local.localbakfile)});
      if (copy == shareCopies->end() || copy->second->id < local.id) continue;
      shareFile = copy->second->localbakfile;
    }
    set.lastComplete = ToDateTime(at);
    set.localFile = local.localbakfile;
    set.shareFile = shareFile;
    set.ageDays = std::max(0.0, now - *set.lastComplete);
    set.verdict = set.ageDays > intervalDays + 1.0 ? BackupVerdict::kLate : BackupVerdict::kCurrent;
    return set;
  }
  return set;
}

const char* SideText(const std::string& side) {
  return side == kShareSideKey ? ui_msg::kRestoreSideShare : ui_msg::kRestoreSideLocal;
}

}  // namespace

std::optional<LastVerification> LastVerificationOf(
    const std::string& accountSet, const std::vector<VerificationRow>& newestFirst) {
  const auto newest =
      std::find_if(newestFirst.begin(), newestFirst.end(),
                   [&](const VerificationRow& row) { return row.accountSet == accountSet; });
  if (newest == newestFirst.end()) return std::nullopt;
  LocalTime at;
  if (!ParseDateTime(newest->verified, at)) return std::nullopt;
  LastVerification last{ToDateTime(at), newest->verified, true, {}};
  for (auto row = newest; row != newestFirst.end(); ++row) {
    if (row->accountSet != accountSet || row->verified != newest->verified || row->passed) continue;
    last.passed = false;
    if (!last.reason.empty()) last.reason += ui_msg::kVerificationReasonSeparator;
    // A set with nothing to test failed on no side.
    if (!row->stamp.empty())
      last.reason += SideText(row->side) + std::string(ui_msg::kRestoreColon);
    last.reason += row->reason;
  }
  return last;
}

BackupVerdict BackupHealth::Overall() const {
  BackupVerdict worst = BackupVerdict::kCurrent;
  for (const auto& set : sets) {
    if (set.verdict == BackupVerdict::kNever) return BackupVerdict::kNever;
    if (set.verdict == BackupVerdict::kLate) worst = BackupVerdict::kLate;
  }
  return worst;
}

std::vector<AccountSetHealth> BackupHealth::Overdue() const {
  std::vector<AccountSetHealth> overdue;
  for (const auto& set : sets)
    if (set.verdict != BackupVerdict::kCurrent) overdue.push_back(set);
  return overdue;
}

BackupHealth AssessBackups(const std::vector<AccountListRow>& ticked, const BaksetRow& settings,
                           const std::vector<BaklogRow>& rows, DateTime now,
                           const std::vector<VerificationRow>& verifications) {
  BackupHealth health;
  health.intervalDays = std::clamp(settings.btwdays, kIntervalDaysMin, kIntervalDaysMax);
  health.shareOn = settings.remotebak;
  std::vector<BaklogRow> oldestFirst = rows;
  std::stable_sort(oldestFirst.begin(), oldestFirst.end(),
                   [](const BaklogRow& a, const BaklogRow& b) { return a.id < b.id; });
  const bool fileEdition = IsFileEdition(settings.softvernum);
  const ShareCopies shareCopies = health.shareOn ? IndexShareCopies(oldestFirst) : ShareCopies();
  for (const auto& row : ticked) {
    if (row.accountname.empty()) continue;
    AccountSetHealth set =
        AssessOne(row.accountname, oldestFirst, health.shareOn ? &shareCopies : nullptr,
                  fileEdition, health.intervalDays, now);
    set.lastVerification = LastVerificationOf(row.accountname, verifications);
    if (set.VerificationFailed() && set.verdict == BackupVerdict::kCurrent)
      set.verdict = BackupVerdict::kLate;
    health.sets.push_back(std::move(set));
  }
  return health;
}

BackupHealth AssessBackups(const SettingsDatabase& db, DateTime now) {
  return AssessBackups(db.LoadAccountList(), db.LoadSettings(), db.ListBackupLog(), now,
                       db.ListVerifications());
}

std::string AgeText(double ageDays) {
  if (ageDays >= 1.0) return std::to_string(static_cast<long long>(ageDays)) + ui_msg::kAgeDays;
  return std::to_string(static_cast<long long>(ageDays * 24.0)) + ui_msg::kAgeHours;
}

std::string OverdueText(const BackupHealth& health) {
  std::string text;
  for (const auto& set : health.Overdue()) {
    if (!text.empty()) text += ui_msg::kOverdueSeparator;
    text += set.name;
    if (set.verdict == BackupVerdict::kNever)
      text += ui_msg::kNeverCompleted;
    else if (set.ageDays > health.intervalDays + 1.0)
      text += ui_msg::kAgeOpen + AgeText(set.ageDays) + ui_msg::kAgeClose;
    if (set.VerificationFailed())
      text += ui_msg::kVerificationFailedOpen + set.lastVerification->reason +
              ui_msg::kVerificationFailedClose;
  }
  return text;
}

std::optional<BackupWatch::Change> BackupWatch::Check(DateTime now,
                                                      const std::function<BackupHealth()>& assess) {
  // A clock put back by hours makes the next look due at once.
  if (now < nextLook_ && nextLook_ - now <= kLookInterval) return std::nullopt;
  nextLook_ = now + kLookInterval;
  BackupHealth health;
  try {
    health = assess();
  } catch (const std::exception&) {
    return std::nullopt;
  }
  const std::string overdue = OverdueText(health);
  bool announce = false;
  if (!overdue.empty()) {
    const std::string today = FormatDate(FromDateTime(now));
    if (alarmDay_ != today) {
      alarmDay_ = today;
      announce = true;
      log_.Append(ui_msg::kBackupAlarmPrefix + overdue + ui_msg::kBackupAlarmSuffix);
    }
  }
  if (!announce && shown_ && *shown_ == overdue) return std::nullopt;
  shown_ = overdue;
  return Change{overdue, announce};
}

}  // namespace veltora
