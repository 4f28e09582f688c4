#include "ui/weekly_test_restore.h"

#include <cmath>
#include <exception>

#include "ui/backup_health.h"
#include "ui/messages.h"

namespace veltora {
namespace {

namespace msg = ui_msg;

// "恢复测试：账套X的本机备份（20261210013000）通过", or "...失败，原因：..."; a set
// without a backup to test names no side.
std::string ResultLine(const VerifyResult& r) {
  std::string line = msg::kTestRestorePrefix + r.accountSet;
  if (!r.stamp.empty()) {
    line += msg::kTestRestoreOf;
    line += r.side == ArchiveSide::kLocal ? msg::kRestoreSideLocal : msg::kRestoreSideShare;
    line += msg::kTestRestoreStampOpen + r.stamp + msg::kTestRestoreStampClose;
  }
  if (!r.ok) return line + msg::kTestRestoreFailed + r.message;
  line += msg::kTestRestorePassed;
  if (r.message == msg::kVerifyPassedNoDigest) line += msg::kTestRestoreNoDigestNote;
  return line;
}

std::string SummaryLine(const std::vector<VerifyResult>& results) {
  int failed = 0;
  for (const auto& r : results) failed += r.ok ? 0 : 1;
  const std::string tested = std::to_string(results.size());
  if (failed == 0) return msg::kTestRestoreEnded + tested + msg::kTestRestoreAllPassed;
  return msg::kTestRestoreEnded + tested + msg::kTestRestoreSomeFailed + std::to_string(failed) +
         msg::kTestRestoreSomeFailedSuffix;
}

}  // namespace

bool TestRestoreDue(const std::vector<AccountListRow>& ticked,
                    const std::vector<VerificationRow>& newestFirst, DateTime now) {
  for (const AccountListRow& set : ticked) {
    if (set.accountname.empty()) continue;
    const auto last = LastVerificationOf(set.accountname, newestFirst);
    if (!last || !last->passed) return true;
    const double days = std::floor(now) - std::floor(last->time);
    if (days >= kTestRestoreIntervalDays || days < 0) return true;
  }
  return false;
}

void RecordVerifyResults(const RestoreServices& services,
                         const std::vector<VerifyResult>& results) {
  if (results.empty()) return;
  const std::string verified = FormatDateTime(services.clock->LocalNow());
  std::vector<VerificationRow> rows;
  for (const VerifyResult& r : results)
    rows.push_back(
        {verified, r.accountSet, SideKey(r.side), r.stamp, r.ok, r.ok ? std::string() : r.message});
  services.openSettings()->RecordVerifications(rows);
}

bool TestRestoreAfterScheduledRun(const RestoreServices& services, LineLog& runLog) {
  std::vector<VerifyResult> results;
  try {
    const DateTime now = ToDateTime(services.clock->LocalNow());
    {
      const auto db = services.openSettings();
      if (!TestRestoreDue(db->LoadAccountList(), db->ListVerifications(), now)) return false;
    }
    results = VerifyBackups(services, "", runLog);
  } catch (const std::exception& e) {
    runLog.Append(msg::kTestRestoreNotMade + std::string(e.what()));
    return false;
  }
  for (const VerifyResult& r : results) runLog.Append(ResultLine(r));
  runLog.Append(SummaryLine(results));
  try {
    RecordVerifyResults(services, results);
  } catch (const std::exception& e) {
    runLog.Append(msg::kTestRestoreNotRecorded + std::string(e.what()));
  }
  return true;
}

}  // namespace veltora
