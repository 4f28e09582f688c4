#include "ui/schedule.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/fakes.h"

namespace veltora {
namespace {

DateTime At(int y, int mo, int d, int h, int mi, int s = 0) {
  return ToDateTime(LocalTime{y, mo, d, h, mi, s, 0});
}
std::string Shown(DateTime t) { return FormatDateTime(FromDateTime(t)); }

TEST(TimeTexts, ValidityAndNormalForm) {
  struct Case {
    const char* text;
    const char* normal;  // "" = invalid
  } cases[] = {
      {"01:30:00", "01:30:00"},
      {"1:5:0", "01:05:00"},
      {" 7: 5: 0", "07:05:00"},
      {"1::30:00", "01:30:00"},
      {"23:59:59", "23:59:59"},
      {"00:00:00", "00:00:00"},
      {"24:00:00", ""},
      {"25:00:00", ""},
      {"12:60:00", ""},
      {"12:00:60", ""},
      {"12:00", ""},
      {"12:00:00:00", ""},
      {"", ""},
      {"  :  :  ", ""},
      {"a1:00:00", ""},
      {"-1:00:00", ""},
      {"12", ""},
      {"1 2:00:00", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IsValidTimeText(c.text), std::string(c.normal) != "");
    EXPECT_EQ(NormalizeTimeText(c.text), c.normal);
  }
}

TEST(TimeTexts, SplitText) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitText("a;;b;;", ";;", false), (V{"a", "b"}));
  EXPECT_EQ(SplitText("a;;;;b", ";;", false), (V{"a", "b"}));
  EXPECT_EQ(SplitText("a;;;;b", ";;", true), (V{"a", "", "b"}));
  EXPECT_EQ(SplitText("ab", ";;", false), V{});  // no separator at all
  EXPECT_EQ(SplitText("", ";;", false), V{});
  EXPECT_EQ(SplitText("ab", "", false), V{"ab"});
}

TEST(ScheduleNextBackupTime, Table) {
  struct Case {
    const char* name;
    std::optional<DateTime> last;
    int days;
    const char* field;
    DateTime now;
    const char* next;
    const char* missed;  // "" = nothing owed
  } cases[] = {
      {"next day", At(2024, 5, 1, 1, 30), 1, "01:30:00", At(2024, 5, 1, 10, 0),
       "2024-05-02 01:30:00", ""},
      {"later the same day", At(2024, 5, 1, 1, 30), 1, "01:30:00", At(2024, 5, 2, 0, 10),
       "2024-05-02 01:30:00", ""},
      {"in the set minute: that minute", At(2024, 5, 1, 1, 30), 1, "01:30:00",
       At(2024, 5, 2, 1, 30, 40), "2024-05-02 01:30:00", ""},
      {"its minute gone: owed, the latest due time", At(2024, 4, 21, 1, 30), 7, "23:00:00",
       At(2024, 5, 1, 10, 0), "2024-05-01 10:00:00", "2024-04-30 23:00:00"},
      {"owed from earlier today", At(2024, 4, 21, 1, 30), 7, "01:30:00", At(2024, 5, 1, 10, 0),
       "2024-05-01 10:00:00", "2024-05-01 01:30:00"},
      {"interval over a month end", At(2024, 1, 30, 1, 30), 3, "1:5:0", At(2024, 1, 30, 2, 0),
       "2024-02-02 01:05:00", ""},
      {"never started: the next time of day", std::nullopt, 1, "01:30:00", At(2024, 5, 1, 10, 0),
       "2024-05-02 01:30:00", ""},
      {"a last start on a later day: from now", At(2027, 6, 1, 1, 30), 7, "23:00:00",
       At(2026, 12, 11, 10, 0), "2026-12-11 23:00:00", ""},
      {"the clock went back over midnight after a start", At(2024, 5, 2, 0, 0, 2), 1, "00:00:00",
       At(2024, 5, 1, 23, 59, 59), "2024-05-03 00:00:00", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::RecordingLog log;
    Schedule schedule(log);
    schedule.SetLastBackupTime(c.last);
    schedule.SetIntervalDays(c.days);
    schedule.SetTimeFieldText(c.field);
    ASSERT_TRUE(schedule.ComputeNextBackupTime(c.now));
    EXPECT_EQ(Shown(schedule.NextBackupTime()), c.next);
    EXPECT_EQ(schedule.MissedBackupTime() ? Shown(*schedule.MissedBackupTime()) : "", c.missed);
    EXPECT_EQ(schedule.BackupTimeText(), c.field);
    EXPECT_TRUE(log.lines().empty());  // a load writes nothing; the agent's tick does
  }
  EXPECT_EQ(NextBackupLabel(At(2024, 5, 2, 1, 30)), "下次备份时间:2024-05-02 01:30:00");
}

TEST(ScheduleNextBackupTime, UnreadableTimeLeavesTheDayAndShowsNothing) {
  testing::RecordingLog log;
  Schedule schedule(log);
  schedule.SetBackupTimeText("02:00:00");
  schedule.SetLastBackupTime(At(2024, 5, 1, 1, 30));
  schedule.SetIntervalDays(2);
  schedule.SetTimeFieldText("25:00:00");
  EXPECT_FALSE(schedule.ComputeNextBackupTime(At(2024, 5, 1, 10, 0)));
  EXPECT_EQ(Shown(schedule.NextBackupTime()), "2024-05-03 01:30:00");
  EXPECT_EQ(schedule.BackupTimeText(), "02:00:00");
}

// Records when the schedule started a backup; answers as told.
class RecordingStarter final : public BackupStarter {
 public:
  void CaptureBackupConfiguration() override { ++captures; }
  StartOutcome StartBackup() override {
    ++attempts;
    if (answer == StartOutcome::kStarted) starts.push_back(Shown(now));
    return answer;
  }
  std::string StartFailure() const override { return failure; }
  void RecordScheduledStart() override { ++recorded; }
  DateTime now = 0.0;
  StartOutcome answer = StartOutcome::kStarted;
  std::string failure;
  int captures = 0, attempts = 0, recorded = 0;
  std::vector<std::string> starts;
};

// A stretch of ticks, one a second, as the clock reads them.
struct Ticks {
  DateTime from;
  int seconds;
  int runningSeconds = 0;  // a backup runs over the first of them
  StartOutcome answer = StartOutcome::kStarted;
  bool configured = true;
};

std::string Missed(const char* due) { return std::string("未能按时执行") + due + "的定时备份！"; }
std::string CatchUp(const char* due) { return std::string("开始补做") + due + "的定时备份！"; }
constexpr char kFailed[] = "创建备份线程失败，无法进行备份操作！";

// The schedule over histories of the clock: loaded at one time, then ticked
// through stretches that may jump (asleep, moved, a daylight-saving change).
TEST(ScheduleTick, ClockHistories) {
  struct History {
    const char* name;
    std::optional<DateTime> last;
    int days;
    const char* field;
    DateTime loaded;
    const char* shownAtLoad;
    std::vector<Ticks> ticks;
    std::vector<std::string> starts;
    std::vector<std::string> lines;
    const char* nextAfter;
  };
  const DateTime may1 = At(2024, 5, 1, 1, 30);
  const History histories[] = {
      {"every day at the first tick of the set minute",
       may1,
       1,
       "01:30:45",
       At(2024, 5, 2, 0, 0),
       "2024-05-02 01:30:45",
       {{At(2024, 5, 2, 1, 29), 300}, {At(2024, 5, 3, 1, 29), 300}},
       {"2024-05-02 01:30:00", "2024-05-03 01:30:00"},
       {},
       "2024-05-04 01:30:45"},
      {"the set minute during a running backup: owed until it ends",
       may1,
       1,
       "01:30:45",
       At(2024, 5, 2, 0, 0),
       "2024-05-02 01:30:45",
       {{At(2024, 5, 2, 1, 20), 3600, 1200}},
       {"2024-05-02 01:40:00"},
       {},
       "2024-05-03 01:30:45"},
      {"a start still owed at midnight",
       At(2024, 5, 1, 23, 59),
       1,
       "23:59:00",
       At(2024, 5, 2, 0, 0),
       "2024-05-02 23:59:00",
       {{At(2024, 5, 2, 23, 58), 900, 420}},
       {"2024-05-03 00:05:00"},
       {},
       "2024-05-04 23:59:00"},
      {"the minute skipped by a jump: one catch-up, then the set minute",
       may1,
       1,
       "01:30:45",
       At(2024, 5, 2, 0, 0),
       "2024-05-02 01:30:45",
       {{At(2024, 5, 2, 1, 29), 60}, {At(2024, 5, 2, 1, 32), 10}, {At(2024, 5, 3, 1, 29), 120}},
       {"2024-05-02 01:32:00", "2024-05-03 01:30:00"},
       {Missed("2024-05-02 01:30:45"), CatchUp("2024-05-02 01:30:45")},
       "2024-05-04 01:30:45"},
      {"asleep past midnight",
       may1,
       1,
       "01:30:45",
       At(2024, 5, 2, 0, 0),
       "2024-05-02 01:30:45",
       {{At(2024, 5, 2, 1, 29), 10}, {At(2024, 5, 3, 0, 10), 10}},
       {"2024-05-03 00:10:00"},
       {Missed("2024-05-02 01:30:45"), CatchUp("2024-05-02 01:30:45")},
       "2024-05-04 01:30:45"},
      {"the spring gap: no 02:30 that day",
       At(2026, 3, 28, 2, 30),
       1,
       "02:30:00",
       At(2026, 3, 29, 0, 0),
       "2026-03-29 02:30:00",
       {{At(2026, 3, 29, 1, 59, 58), 2}, {At(2026, 3, 29, 3, 0), 5}},
       {"2026-03-29 03:00:00"},
       {Missed("2026-03-29 02:30:00"), CatchUp("2026-03-29 02:30:00")},
       "2026-03-30 02:30:00"},
      {"the autumn hour twice: one start",
       At(2026, 10, 24, 2, 30),
       1,
       "02:30:00",
       At(2026, 10, 25, 0, 0),
       "2026-10-25 02:30:00",
       {{At(2026, 10, 25, 2, 29), 1800}, {At(2026, 10, 25, 2, 0), 3600}},
       {"2026-10-25 02:30:00"},
       {},
       "2026-10-26 02:30:00"},
      {"a last start stored under a clock that ran ahead",
       At(2027, 6, 1, 1, 30),
       1,
       "01:30:45",
       At(2026, 12, 11, 0, 0),
       "2026-12-11 01:30:45",
       {{At(2026, 12, 11, 1, 29), 120}},
       {"2026-12-11 01:30:00"},
       {"上次备份时间2027-06-01 "
        "01:30:00晚于当前时间，系统时间可能有误，定时备份改按当前时间安排！"},
       "2026-12-12 01:30:45"},
      {"the clock ahead while serving, then corrected",
       may1,
       1,
       "01:30:45",
       At(2024, 5, 2, 0, 0),
       "2024-05-02 01:30:45",
       {{At(2024, 5, 2, 1, 29), 120},
        {At(2025, 6, 7, 10, 0), 3},
        {At(2024, 5, 2, 10, 0), 3},
        {At(2024, 5, 3, 1, 29), 120}},
       {"2024-05-02 01:30:00", "2025-06-07 10:00:00", "2024-05-03 01:30:00"},
       {Missed("2025-06-07 01:30:45"), CatchUp("2025-06-07 01:30:45"),
        "上次备份时间2025-06-07 "
        "10:00:00晚于当前时间，系统时间可能有误，定时备份改按当前时间安排！"},
       "2024-05-04 01:30:45"},
      {"start-up after the time passed unused",
       may1,
       1,
       "01:30:45",
       At(2024, 5, 2, 10, 0),
       "2024-05-02 10:00:00",
       {{At(2024, 5, 2, 10, 0, 1), 5}},
       {"2024-05-02 10:00:01"},
       {Missed("2024-05-02 01:30:45"), CatchUp("2024-05-02 01:30:45")},
       "2024-05-03 01:30:45"},
      {"start-up after many due times: made up once",
       At(2024, 4, 21, 1, 30),
       7,
       "23:00:00",
       At(2024, 5, 1, 10, 0),
       "2024-05-01 10:00:00",
       {{At(2024, 5, 1, 10, 0), 60}},
       {"2024-05-01 10:00:00"},
       {Missed("2024-04-30 23:00:00"), CatchUp("2024-04-30 23:00:00")},
       "2024-05-08 23:00:00"},
      {"never started: nothing to make up",
       std::nullopt,
       1,
       "01:30:45",
       At(2024, 5, 2, 10, 0),
       "2024-05-03 01:30:45",
       {{At(2024, 5, 2, 10, 0), 5}},
       {},
       {},
       "2024-05-03 01:30:45"},
      {"not configured over the minute",
       may1,
       1,
       "01:30:45",
       At(2024, 5, 2, 0, 0),
       "2024-05-02 01:30:45",
       {{At(2024, 5, 2, 1, 29, 30), 120, 0, StartOutcome::kStarted, false}},
       {},
       {},
       "2024-05-02 01:30:45"},
      {"a failed start: its line at each tick of the minute until one starts",
       may1,
       1,
       "01:30:45",
       At(2024, 5, 2, 0, 0),
       "2024-05-02 01:30:45",
       {{At(2024, 5, 2, 1, 30), 3, 0, StartOutcome::kFailed}, {At(2024, 5, 2, 1, 30, 3), 57}},
       {"2024-05-02 01:30:03"},
       {kFailed, kFailed, kFailed},
       "2024-05-03 01:30:45"},
      {"no start in the whole minute: made up, tried once a minute",
       may1,
       1,
       "01:30:45",
       At(2024, 5, 2, 0, 0),
       "2024-05-02 01:30:45",
       {{At(2024, 5, 2, 1, 30, 58), 2, 0, StartOutcome::kFailed},
        {At(2024, 5, 2, 1, 31), 61, 0, StartOutcome::kFailed},
        {At(2024, 5, 2, 1, 32, 1), 60}},
       {"2024-05-02 01:33:00"},
       {kFailed, kFailed, Missed("2024-05-02 01:30:45"), CatchUp("2024-05-02 01:30:45"), kFailed,
        kFailed},
       "2024-05-03 01:30:45"},
      // The run that holds the folder may be another process's, which the flag
      // of this one does not show.
      {"a start refused for a run elsewhere: owed, then made once",
       may1,
       1,
       "01:30:45",
       At(2024, 5, 2, 0, 0),
       "2024-05-02 01:30:45",
       {{At(2024, 5, 2, 1, 30), 30, 0, StartOutcome::kAlreadyRunning},
        {At(2024, 5, 2, 1, 30, 30), 90}},
       {"2024-05-02 01:30:30"},
       {},
       "2024-05-03 01:30:45"},
  };
  for (const auto& h : histories) {
    SCOPED_TRACE(h.name);
    testing::RecordingLog log;
    Schedule schedule(log);
    RecordingStarter starter;
    schedule.SetLastBackupTime(h.last);
    schedule.SetIntervalDays(h.days);
    schedule.SetTimeFieldText(h.field);
    ASSERT_TRUE(schedule.ComputeNextBackupTime(h.loaded));
    EXPECT_EQ(Shown(schedule.NextBackupTime()), h.shownAtLoad);
    for (const Ticks& t : h.ticks) {
      starter.answer = t.answer;
      for (int i = 0; i < t.seconds; ++i) {
        starter.now = t.from + i / 86400.0;
        schedule.Tick(starter.now, t.configured, i < t.runningSeconds, starter);
      }
    }
    EXPECT_EQ(starter.starts, h.starts);
    EXPECT_EQ(starter.recorded, static_cast<int>(h.starts.size()));
    EXPECT_EQ(log.lines(), h.lines);
    EXPECT_EQ(Shown(schedule.NextBackupTime()), h.nextAfter);
    EXPECT_FALSE(schedule.Pending());
    EXPECT_FALSE(schedule.MissedBackupTime());
  }
}

// A start made while the settings file could not record it still counts: a
// reload of the older stored time owes nothing.
TEST(ScheduleTick, AnUnrecordedStartCountsOnReload) {
  testing::RecordingLog log;
  Schedule schedule(log);
  RecordingStarter starter;
  schedule.SetLastBackupTime(At(2024, 5, 1, 1, 30));
  schedule.SetTimeFieldText("01:30:00");
  schedule.ComputeNextBackupTime(At(2024, 5, 2, 0, 0));
  starter.now = At(2024, 5, 2, 1, 30);
  EXPECT_TRUE(schedule.Tick(starter.now, true, false, starter).started);
  schedule.SetLastBackupTime(At(2024, 5, 1, 1, 30));
  schedule.ComputeNextBackupTime(At(2024, 5, 2, 10, 0));
  EXPECT_EQ(Shown(schedule.NextBackupTime()), "2024-05-03 01:30:00");
  EXPECT_FALSE(schedule.MissedBackupTime());
}

// A failed start whose reason the starter knows (a run lock that is not ours)
// logs that reason in place of the bare line.
TEST(ScheduleTick, AFailedStartLogsTheStartersReason) {
  constexpr char kReason[] = "锁文件veltora-backup.lock不是本程序的锁文件，无法进行备份操作！";
  testing::RecordingLog log;
  Schedule schedule(log);
  RecordingStarter starter;
  starter.answer = StartOutcome::kFailed;
  starter.failure = kReason;
  schedule.SetLastBackupTime(At(2024, 5, 1, 1, 30));
  schedule.SetTimeFieldText("01:30:00");
  schedule.ComputeNextBackupTime(At(2024, 5, 2, 0, 0));
  starter.now = At(2024, 5, 2, 1, 30);
  EXPECT_FALSE(schedule.Tick(starter.now, true, false, starter).started);
  EXPECT_EQ(log.lines(), std::vector<std::string>{kReason});
}

}  // namespace
}  // namespace veltora
