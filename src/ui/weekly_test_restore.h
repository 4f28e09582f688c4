// The agent's test restore after its scheduled backup: once a week (and after
// every scheduled run while the last test of a set failed), the test of
// `veltora-cli verify` over every ticked account set, with a run-log line per
// set and side and a summary line, and each result recorded in the
// verification table, where `status` and the backup alarm read it.
#pragma once

#include <string>
#include <vector>

#include "base/date_time.h"
#include "base/line_log.h"
#include "settings/settings_database.h"
#include "ui/restore.h"

namespace veltora {

// Calendar days from a set's last passed test to the next one. Counted in
// days rather than hours, so that a run that ends a little earlier than the
// week before does not put the test off by a day.
inline constexpr int kTestRestoreIntervalDays = 7;

// Whether a test is due at `now`: some ticked set was never tested, its last
// test failed, was made kTestRestoreIntervalDays calendar days ago or more, or
// lies on a day after today (a clock that once ran ahead is not believed).
// `newestFirst`: the verification table's rows.
bool TestRestoreDue(const std::vector<AccountListRow>& ticked,
                    const std::vector<VerificationRow>& newestFirst, DateTime now);

// Records the results of one test in the verification table, all at the
// services' clock's time. Throws what the settings database throws.
void RecordVerifyResults(const RestoreServices& services, const std::vector<VerifyResult>& results);

// The end of a scheduled run: the test when it is due, its lines in `runLog`
// and its rows recorded. Never throws: a test that cannot be made says why
// in the run log. Answers whether a test was made.
bool TestRestoreAfterScheduledRun(const RestoreServices& services, LineLog& runLog);

}  // namespace veltora
