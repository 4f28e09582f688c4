#include "ui/schedule.h"

#include <gtest/gtest.h>

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
    DateTime last;
    int days;
    const char* field;
    DateTime now;
    const char* next;
  } cases[] = {
      {"next day", At(2024, 5, 1, 1, 30), 1, "01:30:00", At(2024, 5, 1, 10, 0),
       "2024-05-02 01:30:00"},
      {"later the same day", At(2024, 5, 1, 1, 30), 1, "01:30:00", At(2024, 5, 2, 0, 10),
       "2024-05-02 01:30:00"},
      {"missed days are not made up: today", At(2024, 4, 21, 1, 30), 7, "23:00:00",
       At(2024, 5, 1, 10, 0), "2024-05-01 23:00:00"},
      {"missed days are not made up: tomorrow", At(2024, 4, 21, 1, 30), 7, "01:30:00",
       At(2024, 5, 1, 10, 0), "2024-05-02 01:30:00"},
      {"exactly at the time moves on", At(2024, 5, 1, 1, 30), 1, "01:30:00", At(2024, 5, 2, 1, 30),
       "2024-05-03 01:30:00"},
      {"interval over a month end", At(2024, 1, 30, 1, 30), 3, "1:5:0", At(2024, 1, 30, 2, 0),
       "2024-02-02 01:05:00"},
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
    EXPECT_EQ(schedule.BackupTimeText(), c.field);
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

// Records what the schedule asked of its starter; answers as told.
class RecordingStarter final : public BackupStarter {
 public:
  void CaptureBackupConfiguration() override { ++captures; }
  StartOutcome StartBackup() override {
    ++attempts;
    if (answer == StartOutcome::kStarted) ++starts;
    return answer;
  }
  void RecordScheduledStart() override { ++recorded; }
  StartOutcome answer = StartOutcome::kStarted;
  int captures = 0, attempts = 0, starts = 0, recorded = 0;
};

struct Armed {
  testing::RecordingLog log;
  Schedule schedule{log};
  RecordingStarter starter;
  // Last backup yesterday 01:30, every day at 01:30:45, looked at just after
  // midnight: armed for today.
  Armed() {
    schedule.SetLastBackupTime(At(2024, 5, 1, 1, 30));
    schedule.SetIntervalDays(1);
    schedule.SetTimeFieldText("01:30:45");
    schedule.ComputeNextBackupTime(At(2024, 5, 2, 0, 0));
  }
  // Ticks once a second from..to (inclusive), with `running` telling whether a
  // backup runs at each second.
  void Run(DateTime from, int seconds, const std::function<bool(int)>& running) {
    for (int i = 0; i < seconds; ++i) schedule.Tick(from + i / 86400.0, true, running(i), starter);
  }
};

TEST(ScheduleTick, StartsOnceAtTheFirstTickOfTheMinuteAndRearmsForTomorrow) {
  Armed a;
  a.Run(At(2024, 5, 2, 1, 29, 0), 300, [](int) { return false; });
  EXPECT_EQ(a.starter.starts, 1);
  EXPECT_EQ(a.starter.recorded, 1);
  // The start came at 01:30:00 (seconds are not compared) and the schedule
  // went on by itself: the next backup is tomorrow.
  EXPECT_EQ(Shown(a.schedule.LastBackupTime()), "2024-05-02 01:30:00");
  EXPECT_EQ(Shown(a.schedule.NextBackupTime()), "2024-05-03 01:30:45");
  // ...where it starts again, once, without a reload.
  a.Run(At(2024, 5, 3, 1, 29, 0), 300, [](int) { return false; });
  EXPECT_EQ(a.starter.starts, 2);
  EXPECT_TRUE(a.log.lines().empty());
}

TEST(ScheduleTick, AStartOwedToARunningBackupFollowsWhenItEnds) {
  Armed a;
  // A backup on demand runs from 01:20 to 01:40.
  const DateTime from = At(2024, 5, 2, 1, 20, 0);
  a.Run(from, 3600, [](int i) { return i < 1200; });
  EXPECT_EQ(a.starter.starts, 1);
  EXPECT_EQ(a.starter.attempts, 1);  // never tried while the other ran
  EXPECT_EQ(Shown(a.schedule.LastBackupTime()), "2024-05-02 01:40:00");
  EXPECT_FALSE(a.schedule.Pending());
}

TEST(ScheduleTick, NothingWhenNotConfiguredOrTheMinuteWasMissed) {
  Armed a;
  for (int i = 0; i < 120; ++i)
    a.schedule.Tick(At(2024, 5, 2, 1, 29, 30) + i / 86400.0, false, false, a.starter);
  EXPECT_EQ(a.starter.attempts, 0);
  // Suspended over the minute: the next tick comes at 01:32, nothing starts.
  a.Run(At(2024, 5, 2, 1, 32, 0), 600, [](int) { return false; });
  EXPECT_EQ(a.starter.attempts, 0);
}

TEST(ScheduleTick, AFailedStartIsLoggedAndRetriedWithinTheMinute) {
  Armed a;
  a.starter.answer = StartOutcome::kFailed;
  a.Run(At(2024, 5, 2, 1, 30, 0), 3, [](int) { return false; });
  EXPECT_EQ(a.starter.attempts, 3);
  EXPECT_EQ(a.log.lines(), std::vector<std::string>(3, "创建备份线程失败，无法进行备份操作！"));
  a.starter.answer = StartOutcome::kStarted;
  a.Run(At(2024, 5, 2, 1, 30, 3), 57, [](int) { return false; });
  EXPECT_EQ(a.starter.starts, 1);
  EXPECT_EQ(a.starter.recorded, 1);
}

// The run that holds the folder may be another process's, which the flag of
// this one does not show: the owed start is tried on every tick until it
// gets through, and then made once.
TEST(ScheduleTick, ALostRaceForTheFlagIsOwedNotDoubled) {
  Armed a;
  a.starter.answer = StartOutcome::kAlreadyRunning;
  a.Run(At(2024, 5, 2, 1, 30, 0), 30, [](int) { return false; });
  EXPECT_EQ(a.starter.starts, 0);
  EXPECT_TRUE(a.schedule.Pending());
  a.starter.answer = StartOutcome::kStarted;
  a.Run(At(2024, 5, 2, 1, 30, 30), 60, [](int) { return false; });
  EXPECT_EQ(a.starter.starts, 1);
  EXPECT_FALSE(a.schedule.Pending());
}

}  // namespace
}  // namespace veltora
