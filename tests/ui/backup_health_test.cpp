// The last complete backup of each ticked account set, read from prepared
// backup tables, the verdict, and the watch that raises the alarm once a day.
#include "ui/backup_health.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/fakes.h"

namespace veltora {
namespace {

using Lines = std::vector<std::string>;

DateTime At(const std::string& text) {
  LocalTime t;
  EXPECT_TRUE(ParseDateTime(text, t)) << text;
  return ToDateTime(t);
}

// The rows the backup job writes, as it writes them.
BaklogRow Local(std::int64_t id, const std::string& account, const std::string& file,
                const std::string& time, bool succeeded = true) {
  return {id, account, file, "", succeeded, "", time};
}
BaklogRow ArchiveFailed(std::int64_t id, const std::string& account, const std::string& time) {
  return {id, account, "压缩失败：7-Zip exit 2", "", false, "", time};
}
BaklogRow OnShare(std::int64_t id, const std::string& account, const std::string& file,
                  const std::string& time) {
  return {id, account, file, "pw", std::nullopt, "远程备份", time};
}
BaklogRow FolderFailed(std::int64_t id, const std::string& time) {
  return {id, "", "本机备份路径无效", "", false, "执行备份失败", time};
}

const std::string kA = "/data/kis/a.AIS";  // the file edition's row account
const std::string kB = "/data/kis/b.AIS";

TEST(BackupHealth, TheNewestCompleteBackupAndItsVerdict) {
  // Now is 2024-05-10 12:00; one backup a day, so late beyond two days.
  struct Case {
    const char* name;
    bool shareOn;
    std::vector<BaklogRow> rows;
    BackupVerdict verdict;
    const char* lastComplete;  // "" for none
    const char* shareFile;
  } cases[] = {
      {"current",
       false,
       {Local(1, kA, "/bak/a20240509013000", "2024-05-09 01:35:00"),
        Local(2, kB, "/bak/b20240509013000", "2024-05-09 01:36:00")},
       BackupVerdict::kCurrent,
       "2024-05-09 01:35:00",
       ""},
      {"late: only older runs, the newest row of another set",
       false,
       {Local(1, kA, "/bak/a20240507013000", "2024-05-07 01:35:00"),
        Local(2, kB, "/bak/b20240509013000", "2024-05-09 01:36:00"),
        FolderFailed(3, "2024-05-10 01:30:00")},
       BackupVerdict::kLate,
       "2024-05-07 01:35:00",
       ""},
      {"never: failed local backups only",
       false,
       {Local(1, kA, "本机备份失败：disk full", "2024-05-09 01:35:00", false)},
       BackupVerdict::kNever,
       "",
       ""},
      {"never: an empty table", false, {}, BackupVerdict::kNever, "", ""},
      {"only local done while the share side is on: the older complete one counts",
       true,
       {Local(1, kA, "/bak/a20240501013000", "2024-05-01 01:35:00"),
        OnShare(2, kA, "\\\\nas\\bak\\a20240501013000", "2024-05-01 01:36:00"),
        Local(3, kA, "/bak/a20240509013000", "2024-05-09 01:35:00")},
       BackupVerdict::kLate,
       "2024-05-01 01:35:00",
       "\\\\nas\\bak\\a20240501013000"},
      {"a copy of another backup is no copy of this one",
       true,
       {Local(1, kA, "/bak/a20240509013000", "2024-05-09 01:35:00"),
        OnShare(2, kA, "\\\\nas\\bak\\a20240508013000", "2024-05-09 01:36:00")},
       BackupVerdict::kNever,
       "",
       ""},
      {"both sides done",
       true,
       {Local(1, kA, "/bak/a20240509013000", "2024-05-09 01:35:00"),
        OnShare(2, kA, "\\\\nas\\bak\\a20240509013000", "2024-05-09 01:36:00")},
       BackupVerdict::kCurrent,
       "2024-05-09 01:35:00",
       "\\\\nas\\bak\\a20240509013000"},
      {"an archive that failed makes its backup incomplete",
       false,
       {Local(1, kA, "/bak/a20240501013000", "2024-05-01 01:35:00"),
        Local(2, kA, "/bak/a20240509013000", "2024-05-09 01:35:00"),
        ArchiveFailed(3, kA, "2024-05-09 01:35:00")},
       BackupVerdict::kLate,
       "2024-05-01 01:35:00",
       ""},
      {"a backup stamped in the future (a clock once ahead) is no older than now",
       false,
       {Local(1, kA, "/bak/a20270601013000", "2027-06-01 01:35:00")},
       BackupVerdict::kCurrent,
       "2027-06-01 01:35:00",
       ""},
  };
  const DateTime now = At("2024-05-10 12:00:00");
  BaksetRow settings;
  settings.softvernum = 1;
  settings.btwdays = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings.remotebak = c.shareOn;
    const BackupHealth health = AssessBackups({{"", "a.AIS", "a.AIS"}}, settings, c.rows, now);
    ASSERT_EQ(health.sets.size(), 1u);
    const AccountSetHealth& a = health.sets[0];
    EXPECT_EQ(a.name, "a.AIS");
    EXPECT_EQ(a.verdict, c.verdict);
    EXPECT_EQ(health.Overall(), c.verdict);
    EXPECT_EQ(a.lastComplete ? FormatDateTime(FromDateTime(*a.lastComplete)) : "", c.lastComplete);
    EXPECT_EQ(a.shareFile, c.shareFile);
  }
}

TEST(BackupHealth, SetsAreMatchedByTheirEditionsNameAndTheWorstVerdictWins) {
  const DateTime now = At("2024-05-10 12:00:00");
  BaksetRow sql;
  sql.softvernum = 2;
  sql.btwdays = 3;  // late beyond four days
  const std::vector<BaklogRow> rows = {
      Local(1, "Ledger 2024", "/bak/Ledger 202420240507013000", "2024-05-07 01:35:00"),
      Local(2, "Ledger", "/bak/Ledger20240501013000", "2024-05-01 01:35:00"),
  };
  const BackupHealth health = AssessBackups(
      {{"001", "Ledger", "db1"}, {"002", "Ledger 2024", "db2"}, {"003", "New", "db3"}}, sql, rows,
      now);
  ASSERT_EQ(health.sets.size(), 3u);
  EXPECT_EQ(health.sets[0].verdict, BackupVerdict::kLate);
  EXPECT_EQ(health.sets[1].verdict, BackupVerdict::kCurrent);
  EXPECT_EQ(health.sets[2].verdict, BackupVerdict::kNever);
  EXPECT_EQ(health.Overall(), BackupVerdict::kNever);
  EXPECT_EQ(OverdueText(health), "Ledger(已有9天没有完整备份)、New(从未完整备份)");

  // The file editions write the .AIS file's path: its file name is the set.
  BaksetRow files;
  files.softvernum = 0;
  files.btwdays = 1;
  const BackupHealth byFile = AssessBackups(
      {{"", "A.ais", "A.ais"}}, files,
      {Local(1, "/elsewhere/a.AIS", "/bak/a20240510013000", "2024-05-10 01:35:00")}, now);
  EXPECT_EQ(byFile.Overall(), BackupVerdict::kCurrent);
  EXPECT_EQ(AgeText(byFile.sets[0].ageDays), "10小时");
}

// The rows of test restores, as the verification table gives them back.
VerificationRow Tested(const std::string& time, const std::string& set, const std::string& side,
                       bool passed, const std::string& reason = "") {
  return {time, set, side, passed ? "" : "20240509013000", passed, reason};
}

TEST(BackupHealth, AFailedLastTestRestoreMakesTheSetLateWithItsReason) {
  struct Case {
    const char* name;
    std::vector<VerificationRow> newestFirst;
    const char* completedAt;  // the newest complete backup
    BackupVerdict verdict;
    const char* overdue;
  } cases[] = {
      {"never tested", {}, "2024-05-09 01:35:00", BackupVerdict::kCurrent, ""},
      {"passed on both sides",
       {Tested("2024-05-09 01:40:00", "a.AIS", "share", true),
        Tested("2024-05-09 01:40:00", "a.AIS", "local", true)},
       "2024-05-09 01:35:00",
       BackupVerdict::kCurrent,
       ""},
      {"the share copy failed",
       {Tested("2024-05-09 01:40:00", "a.AIS", "share", false, "校验值不符"),
        Tested("2024-05-09 01:40:00", "a.AIS", "local", true)},
       "2024-05-09 01:35:00",
       BackupVerdict::kLate,
       "a.AIS(最近一次恢复测试失败：远程备份：校验值不符)"},
      {"both sides failed",
       {Tested("2024-05-09 01:40:00", "a.AIS", "share", false, "密码错误"),
        Tested("2024-05-09 01:40:00", "a.AIS", "local", false, "文件已损坏")},
       "2024-05-09 01:35:00",
       BackupVerdict::kLate,
       "a.AIS(最近一次恢复测试失败：远程备份：密码错误；本机备份：文件已损坏)"},
      {"an older failure, passed since",
       {Tested("2024-05-09 01:40:00", "a.AIS", "local", true),
        Tested("2024-05-02 01:40:00", "a.AIS", "local", false, "文件已损坏")},
       "2024-05-09 01:35:00",
       BackupVerdict::kCurrent,
       ""},
      {"another set's failure",
       {Tested("2024-05-09 01:40:00", "b.AIS", "local", false, "文件已损坏"),
        Tested("2024-05-02 01:40:00", "a.AIS", "local", true)},
       "2024-05-09 01:35:00",
       BackupVerdict::kCurrent,
       ""},
      {"late by age as well: both said",
       {Tested("2024-05-02 01:40:00", "a.AIS", "local", false, "文件已损坏")},
       "2024-05-01 01:35:00",
       BackupVerdict::kLate,
       "a.AIS(已有9天没有完整备份)(最近一次恢复测试失败：本机备份：文件已损坏)"},
      {"nothing to test is no side's failure",
       {{"2024-05-09 01:40:00", "a.AIS", "local", "", false, "没有可以测试的备份"}},
       "",
       BackupVerdict::kNever,
       "a.AIS(从未完整备份)(最近一次恢复测试失败：没有可以测试的备份)"},
  };
  const DateTime now = At("2024-05-10 12:00:00");
  BaksetRow settings;
  settings.softvernum = 1;
  settings.btwdays = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<BaklogRow> rows;
    if (*c.completedAt) rows.push_back(Local(1, kA, "/bak/a", c.completedAt));
    const BackupHealth health =
        AssessBackups({{"", "a.AIS", "a.AIS"}}, settings, rows, now, c.newestFirst);
    ASSERT_EQ(health.sets.size(), 1u);
    EXPECT_EQ(health.sets[0].verdict, c.verdict);
    EXPECT_EQ(OverdueText(health), c.overdue);
  }
}

TEST(BackupWatch, TheAlarmLineIsWrittenOnceADayAndTheTrayFollowsTheVerdict) {
  testing::RecordingLog log;
  BackupWatch watch(log);
  BackupHealth late;
  late.sets.push_back(
      {"a.AIS", At("2024-05-01 01:35:00"), "/bak/a", "", 9.4, BackupVerdict::kLate, {}});
  BackupHealth current = late;
  current.sets[0].verdict = BackupVerdict::kCurrent;
  BackupHealth answer = late;
  int looks = 0;
  auto assess = [&] {
    ++looks;
    return answer;
  };
  const std::string line =
      "警告：以下账套已经很久没有完整的备份，请尽快检查：a.AIS(已有9天没有完整备份)！";

  auto change = watch.Check(At("2024-05-10 10:00:00"), assess);
  ASSERT_TRUE(change);
  EXPECT_EQ(change->overdue, "a.AIS(已有9天没有完整备份)");
  EXPECT_TRUE(change->announce);
  EXPECT_EQ(log.lines(), Lines{line});

  // Within the hour nothing is read; asked to look, the same verdict changes
  // nothing and the day's line is not repeated.
  EXPECT_FALSE(watch.Check(At("2024-05-10 10:30:00"), assess));
  EXPECT_EQ(looks, 1);
  watch.LookSoon();
  EXPECT_FALSE(watch.Check(At("2024-05-10 10:31:00"), assess));
  EXPECT_FALSE(watch.Check(At("2024-05-10 23:59:00"), assess));
  EXPECT_EQ(log.lines().size(), 1u);

  // The next day says it again, with a balloon.
  change = watch.Check(At("2024-05-11 00:59:00"), assess);
  ASSERT_TRUE(change);
  EXPECT_TRUE(change->announce);
  EXPECT_EQ(log.lines(), (Lines{line, line}));

  // A database that cannot be read changes nothing; a backup that completed
  // clears the tray.
  watch.LookSoon();
  EXPECT_FALSE(watch.Check(At("2024-05-11 02:00:00"), [&]() -> BackupHealth {
    throw std::runtime_error("database is locked");
  }));
  watch.LookSoon();
  answer = current;
  change = watch.Check(At("2024-05-11 02:01:00"), assess);
  ASSERT_TRUE(change);
  EXPECT_EQ(change->overdue, "");
  EXPECT_FALSE(change->announce);
  EXPECT_EQ(log.lines().size(), 2u);

  // Another process's line of the day counts as this one's.
  BackupWatch restarted(log);
  restarted.SetAlarmDay("2024-05-11");
  answer = late;
  change = restarted.Check(At("2024-05-11 03:00:00"), assess);
  ASSERT_TRUE(change);
  EXPECT_FALSE(change->announce);
  EXPECT_EQ(log.lines().size(), 2u);
}

}  // namespace
}  // namespace veltora
