#include "app/run_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/fs_path.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using testing::FixedClock;

// The log's text as UTF-8, whatever the platform writes it in; the bytes on
// disk are the platform suites' business.
std::string ReadLog(const std::string& path) { return RunLogLineAsUtf8(ReadFile(path)); }

// A log file holding `utf8` as the platform writes it.
void WriteLog(const std::string& path, const std::string& utf8) {
  ASSERT_TRUE(internal::WriteRunLogBytes(path, utf8, true)) << path;
}

// 2024-05-01 was a Wednesday.
constexpr char kStamp[] = "在2024-05-01 13:05:09 周三 :";

class RunLogTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string path_ = dir_ / "程序运行日志.txt";
  FixedClock clock_{LocalTime{2024, 5, 1, 13, 5, 9, 3}};
};

TEST_F(RunLogTest, StampIsExactBytes) {
  ASSERT_TRUE(AppendRunLog(path_, "msg", false, true, clock_));
  EXPECT_EQ(ReadLog(path_), "在2024-05-01 13:05:09 周三 :msg\r\n");
}

// The weekday names come from the program's own table, whatever the C
// library's locale (the tests run in the C locale, which would say "Wed").
TEST(RunLogStampTest, EveryWeekdayHasItsChineseShortName) {
  const char* const names[] = {"周日", "周一", "周二", "周三", "周四", "周五", "周六"};
  for (int day = 0; day < 7; ++day) {
    // 2024-04-28 was a Sunday.
    const LocalTime t = FromDateTime(ToDateTime(LocalTime{2024, 4, 28 + day, 8, 0, 0}));
    SCOPED_TRACE(FormatDate(t));
    EXPECT_EQ(RunLogStamp(t), "在" + FormatDateTime(t) + " " + names[day] + " :");
  }
}

TEST_F(RunLogTest, TheDayOfTheNewestLineWithAPrefixIsFound) {
  EXPECT_EQ(LastDayOfRunLogLine(path_, "警告："), "");  // no file
  ASSERT_TRUE(AppendRunLog(path_, "警告：账套a.AIS", false, true, clock_));
  clock_.Advance(std::chrono::hours(24));
  ASSERT_TRUE(AppendRunLog(path_, "警告：账套b.AIS", false, true, clock_));
  ASSERT_TRUE(AppendRunLog(path_, "程序启动成功！ 警告：", false, true, clock_));
  clock_.Advance(std::chrono::hours(24));
  ASSERT_TRUE(AppendRunLog(path_, "程序启动成功！", false, true, clock_));
  EXPECT_EQ(LastDayOfRunLogLine(path_, "警告："), "2024-05-02");
  EXPECT_EQ(LastDayOfRunLogLine(path_, "没有的"), "");
}

TEST_F(RunLogTest, WritesLineAsAsked) {
  const std::string stamp = kStamp;
  struct Case {
    const char* name;
    const char* existing;  // nullptr: no file before the call
    std::string pathGiven;
    std::string message;
    bool startNew;
    bool stamp;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"creates the file", nullptr, path_, "first", false, true, stamp + "first\r\n"},
      {"appends at the end", "old\r\n", path_, "msg", false, true, "old\r\n" + stamp + "msg\r\n"},
      {"start new empties", "old\r\n", path_, "msg", true, true, stamp + "msg\r\n"},
      {"start new without a file", nullptr, path_, "msg", true, true, stamp + "msg\r\n"},
      {"unstamped", "old\r\n", path_, "msg", false, false, "old\r\nmsg\r\n"},
      {"empty message", "old\r\n", path_, "", false, true, "old\r\n" + stamp + "\r\n"},
      {"embedded line break written out", nullptr, path_, "driver:\r\ndetail", false, true,
       stamp + "driver:\\r\\ndetail\r\n"},
      {"path trimmed", nullptr, " \t" + path_ + "\r\n ", "msg", false, true, stamp + "msg\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(PathFromUtf8(path_));
    if (c.existing != nullptr) WriteLog(path_, c.existing);
    EXPECT_TRUE(AppendRunLog(c.pathGiven, c.message, c.startNew, c.stamp, clock_));
    EXPECT_EQ(ReadLog(path_), c.expected);
  }
}

// An account-set name holding a line break cannot start a line of its own
// (a forged stamp, or a line of another file's format): the file and the
// listener get one line with the break written out.
TEST_F(RunLogTest, ANameWithALineBreakStaysOneLine) {
  RunLog log(path_, clock_);
  std::vector<std::string> heard;
  log.SetListener([&heard](std::string_view line) { heard.emplace_back(line); });
  log.Append("开始备份账套A\nevil::0:0:::\r在2024-01-01 00:00:00 周一 :备份成功");
  const std::string line =
      std::string(kStamp) + "开始备份账套A\\nevil::0:0:::\\r在2024-01-01 00:00:00 周一 :备份成功";
  EXPECT_EQ(ReadLog(path_), line + "\r\n");
  EXPECT_EQ(heard, std::vector<std::string>{line});
}

TEST_F(RunLogTest, UnwritablePlacesAnswerFalse) {
  // Permission bits do not stop root, so the unwritable folder is a path whose
  // parent is a regular file.
  WriteFile(dir_ / "plain.txt", "x");
  const std::vector<std::string> paths = {"", " \t\r\n", dir_ / "plain.txt/程序运行日志.txt",
                                          dir_.str()};
  for (const std::string& p : paths) {
    SCOPED_TRACE(p);
    EXPECT_FALSE(AppendRunLog(p, "msg", false, true, clock_));
    EXPECT_FALSE(AppendRunLog(p, "msg", true, false, clock_));
  }
  EXPECT_EQ(ReadFile(dir_ / "plain.txt"), "x");
}

TEST_F(RunLogTest, RotationDeletesOnlyOldFiles) {
  EXPECT_TRUE(RotateRunLog(path_, clock_)) << "an absent log rotates fine";

  const DateTime created = ToDateTime(LocalTime{2021, 3, 4, 5, 6, 8});
  const CreationTimeReader reader = [&](const std::string& p) {
    EXPECT_EQ(p, path_);
    return created;
  };
  struct Case {
    int days;  // now minus the file's creation time
    bool deleted;
  };
  // 31 months of 30.4375 days are 943.5625 days; the age counts either way.
  const Case cases[] = {{0, false}, {943, false}, {944, true}, {-943, false}, {-944, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.days);
    WriteLog(path_, "line\r\n");
    clock_.Set(FromDateTime(created));
    clock_.Advance(std::chrono::hours(24) * c.days);
    EXPECT_TRUE(RotateRunLog(path_, clock_, reader));
    EXPECT_EQ(std::filesystem::exists(PathFromUtf8(path_)), !c.deleted);
  }
}

// Where the file system keeps no birth time, the first line's stamp tells the
// age; a log whose age nothing tells is kept.
TEST_F(RunLogTest, WithoutACreationTimeTheFirstLineDecides) {
  const CreationTimeReader unreadable = [](const std::string&) { return kUnreadableTime; };
  const std::string old = "在2021-03-04 05:06:08 周四 :程序启动成功！\r\n";
  struct Case {
    const char* what;
    std::string content;
    int days;  // now minus 2021-03-04 05:06:08
    bool kept;
    bool result;
  };
  const Case cases[] = {
      {"old first line", old + "在2024-01-01 00:00:00 周一 :later\r\n", 944, false, true},
      {"young first line", old, 943, true, true},
      {"first line unstamped", "driver detail\r\n" + old, 944, true, false},
      {"stamp with a bad date", "在2021-13-04 05:06:08 周四 :x\r\n", 944, true, false},
      {"stamp cut short", "在2021-03-04 05:06", 944, true, false},
      {"empty file", "", 944, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteLog(path_, c.content);
    clock_.Set(LocalTime{2021, 3, 4, 5, 6, 8});
    clock_.Advance(std::chrono::hours(24) * c.days);
    EXPECT_EQ(RotateRunLog(path_, clock_, unreadable), c.result);
    EXPECT_EQ(std::filesystem::exists(PathFromUtf8(path_)), c.kept);
  }
}

// With the file system's own creation time: a fresh log is young.
TEST_F(RunLogTest, FreshLogIsKept) {
  SystemClock now;
  ASSERT_TRUE(AppendRunLog(path_, "msg", false, true, now));
  EXPECT_TRUE(RotateRunLog(path_, now));
  EXPECT_TRUE(std::filesystem::exists(PathFromUtf8(path_)));
}

TEST(DurationTextTest, HoursMinutesSeconds) {
  const struct {
    std::uint64_t seconds;
    const char* text;
  } cases[] = {
      {0, "0时0分0秒"},      {59, "0时0分59秒"},         {3725, "1时2分5秒"},
      {90000, "25时0分0秒"}, {4294967, "1193时2分47秒"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seconds);
    EXPECT_EQ(DurationText(c.seconds), c.text);
  }
}

TEST(DurationTextTest, UptimeAndIdleAreWellFormed) {
  const std::regex shape("[0-9]+时[1-5]?[0-9]分[1-5]?[0-9]秒");
  EXPECT_TRUE(std::regex_match(UptimeText(), shape)) << UptimeText();
  EXPECT_TRUE(std::regex_match(IdleText(), shape)) << IdleText();
}

TEST_F(RunLogTest, ConcurrentWritersLoseAndMixNothing) {
  RunLog log(path_, clock_);
  std::vector<std::string> heard;
  log.SetListener([&heard](std::string_view line) { heard.emplace_back(line); });

  constexpr int kThreads = 8;
  constexpr int kLines = 250;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i)
        log.Append("thread " + std::to_string(t) + " line " + std::to_string(i) +
                   std::string(100, 'x'));
    });
  }
  for (std::thread& th : threads) th.join();

  const std::string text = ReadLog(path_);
  std::vector<std::string> lines;
  std::size_t begin = 0;
  for (std::size_t end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2)
    lines.push_back(text.substr(begin, end - begin));
  EXPECT_EQ(begin, text.size()) << "the file ends with a whole line";
  ASSERT_EQ(lines.size(), std::size_t{kThreads * kLines});

  std::set<std::string> expected;
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kLines; ++i)
      expected.insert(kStamp + ("thread " + std::to_string(t) + " line " + std::to_string(i)) +
                      std::string(100, 'x'));
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected);
  EXPECT_EQ(heard, lines) << "the listener hears every line, in file order";
}

TEST_F(RunLogTest, ListenerHearsLinesTheFileCannotTake) {
  RunLog log("", clock_);
  std::vector<std::string> heard;
  log.SetListener([&heard](std::string_view line) { heard.emplace_back(line); });
  log.Append("msg");
  log.SetListener({});
  log.Append("unheard");
  EXPECT_EQ(heard, std::vector<std::string>{std::string(kStamp) + "msg"});
}

TEST_F(RunLogTest, RotateWorksOnTheLogsPathWithItsReader) {
  const DateTime created = ToDateTime(LocalTime{2021, 3, 4, 5, 6, 8});
  RunLog log(path_, clock_, [created](const std::string&) { return created; });
  log.Append("msg");
  clock_.Set(FromDateTime(created));
  clock_.Advance(std::chrono::hours(24 * 944));
  EXPECT_TRUE(log.Rotate());
  EXPECT_FALSE(std::filesystem::exists(PathFromUtf8(path_)));
  log.Append("after");
  EXPECT_TRUE(std::filesystem::exists(PathFromUtf8(path_))) << "the next line starts a new file";
}

}  // namespace
}  // namespace veltora
