// The main window's shell: start-up, closing, the end of the session, the
// timer, "立即备份" and the start-with-the-system box, over a real settings
// database and the window in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/raw_db.h"
#include "ui/main_window_presenter.h"
#include "ui/presenter_fixture.h"

namespace veltora {
namespace {

using namespace std::chrono_literals;
using testing::PresenterFixture;
using Lines = std::vector<std::string>;

ShownMessage Warning(const std::string& text) { return {MessageStyle::kWarning, text}; }
ShownMessage Notice(const std::string& text) { return {MessageStyle::kNotice, text}; }

// Stores a configured file edition: the folder holds a.AIS, which is chosen;
// one backup a day at `time`; the guard option as given.
void Configure(PresenterFixture& f, const std::string& time = "10:01:00", bool guard = false) {
  const std::string accounts = f.dir / "accounts";
  const std::string backups = f.dir / "backups";
  std::filesystem::create_directories(accounts);
  std::filesystem::create_directories(backups);
  testing::WriteFile(accounts + "/a.AIS", "ledger");
  auto db = f.Db();
  BaksetRow row = db->LoadSettings();
  row.softvernum = 0;
  row.accountDir = accounts;
  row.localDir = backups;
  row.baktime = time;
  row.btwdays = 1;
  row.safecheck = guard;
  db->SaveSettings(row);
  db->RewriteAccountList({{"", "a.AIS", "a.AIS"}});
}

// The last n lines of the run log.
Lines Tail(const PresenterFixture& f, std::size_t n) {
  const Lines all = f.log.lines();
  return Lines(all.end() - static_cast<std::ptrdiff_t>(std::min(n, all.size())), all.end());
}

class ShellTest : public ::testing::Test {
 protected:
  MainWindowPresenter& P() {
    if (!presenter_) presenter_ = std::make_unique<MainWindowPresenter>(f.view, f.Services());
    return *presenter_;
  }
  // Starts configured (hidden in the tray) and forgets what start-up showed
  // and wrote.
  void StartConfigured(const std::string& time = "10:01:00", bool guard = false) {
    Configure(f, time, guard);
    ASSERT_TRUE(P().OnStartUp());
    ASSERT_TRUE(f.view.HiddenInTray());
    f.view.ClearMessages();
    f.log.Clear();
  }

  PresenterFixture f;
  std::unique_ptr<MainWindowPresenter> presenter_;
};

TEST(ShellStartup, RefusalsEndTheProgramWithTheirMessage) {
  enum Which { kBlank, kInstance, kAdmin };
  struct Case {
    Which which;
    MessageStyle style;
    int claims;  // single-instance claims made before the refusal
  } cases[] = {
      {kBlank, MessageStyle::kNotice, 0},
      {kInstance, MessageStyle::kWarning, 1},
      {kAdmin, MessageStyle::kWarning, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.which);
    PresenterFixture f;
    const std::string text = "refusal " + std::to_string(c.which);
    (c.which == kBlank      ? f.blankRefusal
     : c.which == kInstance ? f.instanceRefusal
                            : f.adminRefusal) = text;
    f.autostart = {true, true};
    MainWindowServices services = f.Services();
    int claims = 0;
    services.claimSingleInstance = [&] {
      ++claims;
      return f.instanceRefusal;
    };
    MainWindowPresenter presenter(f.view, std::move(services));

    EXPECT_FALSE(presenter.OnStartUp());
    EXPECT_TRUE(f.view.ended());
    EXPECT_EQ(f.view.messages(), (std::vector<ShownMessage>{{c.style, text}}));
    EXPECT_EQ(claims, c.claims);
    // The executable's folder is entered once the blank-path check has passed.
    EXPECT_EQ(f.folderEntries, c.which == kBlank ? 0 : 1);
    EXPECT_TRUE(f.log.lines().empty());
    EXPECT_EQ(f.rotations, 0);
    EXPECT_TRUE(f.autostartCalls.empty());
  }
}

TEST_F(ShellTest, StartupEndsWhenTheSettingsDatabaseCannotBeOpened) {
  std::filesystem::remove(SettingsDatabasePath(f.appFolder));
  EXPECT_FALSE(P().OnStartUp());
  EXPECT_TRUE(f.view.ended());
  ASSERT_EQ(f.view.messages().size(), 1u);
  const ShownMessage& shown = f.view.messages()[0];
  EXPECT_EQ(shown.style, MessageStyle::kNotice);
  const std::string prefix = "系统启动出错，错误号0002....";
  ASSERT_GT(shown.text.size(), prefix.size());
  EXPECT_EQ(shown.text.substr(0, prefix.size()), prefix);
  // The run log carries the same reason after its own prefix.
  EXPECT_EQ(f.log.lines(), Lines{"程序启动失败！" + shown.text.substr(prefix.size())});
  EXPECT_EQ(f.rotations, 1);
  EXPECT_FALSE(std::filesystem::exists(SettingsDatabasePath(f.appFolder)));
}

TEST_F(ShellTest, AFailedLoadAtStartupIsLoggedAndTheProgramGoesOn) {
  Configure(f);
  testing::RawDb(SettingsDatabasePath(f.appFolder)).Exec("delete from bakset");
  EXPECT_TRUE(P().OnStartUp());
  EXPECT_FALSE(f.view.ended());
  EXPECT_TRUE(f.view.messages().empty());
  EXPECT_TRUE(f.view.HiddenInTray());  // as far as start-up got
  EXPECT_EQ(f.log.lines(), Lines{"程序启动失败！the settings table bakset has no row"});
  EXPECT_EQ(f.rotations, 1);
}

TEST(ShellStartup, SettingsLostBetweenTheCheckAndTheLoadEndTheProgram) {
  PresenterFixture f;
  MainWindowServices services = f.Services();
  int opens = 0;
  services.openSettings = [&] {
    if (++opens > 1) throw std::runtime_error("gone");
    return f.Db();
  };
  MainWindowPresenter presenter(f.view, std::move(services));
  EXPECT_FALSE(presenter.OnStartUp());
  EXPECT_TRUE(f.view.ended());
  EXPECT_EQ(f.view.messages(),
            (std::vector<ShownMessage>{Warning("您好，您尚未进行备份设置，请进行相关的设置！"),
                                       Notice("系统运行出错,错误号0001!")}));
  EXPECT_EQ(f.log.lines(), Lines{"程序启动失败！系统运行出错,错误号0001!"});
  EXPECT_EQ(f.rotations, 1);
}

TEST_F(ShellTest, StartupWithoutAccountSetsAsksForSettingsAndStaysVisible) {
  ASSERT_TRUE(P().OnStartUp());
  EXPECT_EQ(f.view.messages(),
            std::vector<ShownMessage>{Warning("您好，您尚未进行备份设置，请进行相关的设置！")});
  EXPECT_FALSE(f.view.ended());
  EXPECT_FALSE(f.view.HiddenInTray());
  EXPECT_FALSE(f.view.trayVisible());
  EXPECT_FALSE(f.state.configured);
  EXPECT_EQ(f.guardStarts, 0);
  // The prepared database: backups at 23:00, none made yet.
  EXPECT_EQ(f.view.nextBackupText(), "下次备份时间:2024-05-02 23:00:00");
  EXPECT_EQ(f.log.lines(), Lines{"程序启动成功！"});
  EXPECT_EQ(f.rotations, 1);
}

TEST(ShellStartupConfigured, HidesToTrayAndStartsTheGuardWhenItsOptionIsStored) {
  for (const bool guard : {false, true}) {
    SCOPED_TRACE(guard);
    PresenterFixture f;
    Configure(f, "10:01:00", guard);
    MainWindowPresenter presenter(f.view, f.Services());

    ASSERT_TRUE(presenter.OnStartUp());
    EXPECT_TRUE(f.view.messages().empty());
    EXPECT_TRUE(f.view.HiddenInTray());
    EXPECT_TRUE(f.view.trayVisible());
    EXPECT_TRUE(f.state.configured);
    EXPECT_EQ(f.guardStarts, guard ? 1 : 0);
    EXPECT_EQ(f.state.guardSwitch.load(), guard);
    EXPECT_EQ(f.view.nextBackupText(), "下次备份时间:2024-05-02 10:01:00");
    EXPECT_EQ(f.log.lines(), Lines{"程序启动成功！"});
  }
}

TEST(ShellStartupAutostart, BoxShowsThisExecutablesRegistrationAndRegistersAgain) {
  struct Case {
    AutostartRegistration registration;
    bool box;
    Lines calls;
  } cases[] = {
      {{true, true}, true, {"register"}},
      {{true, false}, false, {}},  // another executable's entry
      {{false, false}, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    PresenterFixture f;
    f.autostart = c.registration;
    MainWindowPresenter presenter(f.view, f.Services());
    ASSERT_TRUE(presenter.OnStartUp());
    EXPECT_EQ(f.view.Checked(Control::kAutostart), c.box);
    EXPECT_EQ(f.autostartCalls, c.calls);
    // Registering writes its own line; the presenter adds none.
    EXPECT_EQ(f.log.lines(), Lines{"程序启动成功！"});
  }
}

TEST_F(ShellTest, ClosingHidesToTrayUntilTheQuitIsConfirmed) {
  ASSERT_TRUE(P().OnStartUp());  // not configured: the window is shown
  f.log.Clear();

  EXPECT_FALSE(P().OnCloseRequested());
  EXPECT_TRUE(f.view.HiddenInTray());
  EXPECT_TRUE(f.view.trayVisible());
  EXPECT_FALSE(f.view.ended());
  EXPECT_TRUE(f.log.lines().empty());

  // A close while hidden in the tray is meant: the program ends.
  EXPECT_TRUE(P().OnCloseRequested());
  EXPECT_TRUE(f.view.ended());
  EXPECT_EQ(f.log.lines(), (Lines{"程序停止成功！", "解除进程保护成功！"}));
}

TEST(ShellClose, RefusedWhileABackupRunsFromTheButtonAndFromTheTray) {
  struct Case {
    const char* name;
    void (MainWindowPresenter::*quit)();
  } cases[] = {{"退出程序", &MainWindowPresenter::ExitProgramClicked},
               {"退出自动备份", &MainWindowPresenter::TrayExitClicked}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PresenterFixture f;
    Configure(f);
    MainWindowPresenter presenter(f.view, f.Services());
    ASSERT_TRUE(presenter.OnStartUp());
    presenter.TrayRestoreClicked();
    EXPECT_FALSE(f.view.HiddenInTray());
    f.log.Clear();

    f.state.backupRunning = true;
    (presenter.*c.quit)();
    EXPECT_FALSE(f.view.ended());
    EXPECT_EQ(f.view.messages(),
              std::vector<ShownMessage>{
                  Warning("您好，有线程正在运行无法退出，如您强行退出会导致线程残留！")});
    EXPECT_TRUE(f.log.lines().empty());
    EXPECT_TRUE(f.state.configured);

    // The refusal forgot the quit: once the backup has ended, a plain close
    // hides the window again; the next quit ends the program.
    f.state.backupRunning = false;
    EXPECT_FALSE(presenter.OnCloseRequested());
    EXPECT_FALSE(f.view.ended());
    EXPECT_TRUE(f.view.HiddenInTray());
    presenter.TrayRestoreClicked();
    (presenter.*c.quit)();
    EXPECT_TRUE(f.view.ended());
    EXPECT_EQ(f.log.lines(), (Lines{"服务停止成功！", "程序停止成功！", "解除进程保护成功！"}));
    EXPECT_FALSE(f.state.configured);
  }
}

TEST_F(ShellTest, CloseWaitsForTheGuardAndStartsNoBackupMeanwhile) {
  StartConfigured("10:01:00", /*guard=*/true);
  ASSERT_TRUE(f.state.guardRunning);
  f.clock.Advance(60s);  // the scheduled minute comes during the wait
  int sleeps = 0;
  f.onSleep = [&] {
    P().OnTimerTick();
    P().BackUpNowClicked();
    EXPECT_FALSE(f.state.guardSwitch);
    if (++sleeps == 2) f.state.guardRunning = false;
  };

  P().ExitProgramClicked();

  EXPECT_EQ(f.sleeps, (std::vector<std::chrono::milliseconds>{500ms, 500ms}));
  EXPECT_EQ(f.guardWakes, 2);
  EXPECT_EQ(f.view.pendingMessageRounds(), 2);
  EXPECT_TRUE(f.runner.starts.empty());
  EXPECT_TRUE(f.view.messages().empty());
  EXPECT_TRUE(f.view.ended());
  EXPECT_EQ(f.log.lines(), (Lines{"服务停止成功！", "程序停止成功！", "解除进程保护成功！"}));
  // The program has ended: its timer no longer starts anything.
  P().OnTimerTick();
  EXPECT_TRUE(f.runner.starts.empty());
}

TEST_F(ShellTest, EndOfSessionIsRefusedDuringABackupAndOtherwiseAccepted) {
  StartConfigured("10:01:00", /*guard=*/true);
  f.state.backupRunning = true;
  EXPECT_FALSE(P().QueryEndSession());
  EXPECT_EQ(f.log.lines(), Lines{"操作系统试图退出，但数据库备份线程正在运行，禁止退出！"});
  EXPECT_TRUE(f.state.guardRunning);
  EXPECT_TRUE(f.sleeps.empty());
  f.runner.Finish();
  f.log.Clear();

  f.onSleep = [&] { f.state.guardRunning = false; };
  EXPECT_TRUE(P().QueryEndSession());
  EXPECT_EQ(f.sleeps.size(), 1u);
  EXPECT_EQ(f.log.lines(), Lines{"由于系统退出，程序被迫关闭！"});
  EXPECT_FALSE(f.view.ended());
  EXPECT_TRUE(f.view.messages().empty());

  // The agent closes after an accepted end: the quit is confirmed, so the
  // close ends the program with its stop lines even with the window shown.
  P().TrayRestoreClicked();
  EXPECT_TRUE(P().OnCloseRequested());
  EXPECT_TRUE(f.view.ended());
  EXPECT_EQ(Tail(f, 3), (Lines{"服务停止成功！", "程序停止成功！", "解除进程保护成功！"}));
}

TEST_F(ShellTest, TimerStartsOneRunAtTheScheduledMinuteAndShowsTheNextTime) {
  StartConfigured("10:01:00");
  EXPECT_EQ(f.view.nextBackupText(), "下次备份时间:2024-05-02 10:01:00");

  P().OnTimerTick();
  EXPECT_EQ(f.view.statusText(), "当前无备份操作");
  EXPECT_EQ(f.view.statusColour(), StatusColour::kGreen);
  EXPECT_TRUE(f.runner.starts.empty());

  f.clock.Advance(60s);
  for (int tick = 0; tick < 3; ++tick) {
    P().OnTimerTick();
    if (tick == 1) f.runner.Finish();  // a short run ends within the minute
    f.clock.Advance(1s);
  }
  ASSERT_EQ(f.runner.starts.size(), 1u);
  EXPECT_EQ(f.runner.starts[0].selectedAccountSets, Lines{"a.AIS"});
  EXPECT_EQ(f.view.nextBackupText(), "下次备份时间:2024-05-03 10:01:00");
  EXPECT_EQ(FormatDateTime(FromDateTime(*f.Db()->LoadSettings().lastbakday)),
            "2024-05-02 10:01:00");
  EXPECT_TRUE(f.view.messages().empty());

  f.state.backupRunning = true;
  P().OnTimerTick();
  EXPECT_EQ(f.view.statusText(), "正在执行备份操作");
  EXPECT_EQ(f.view.statusColour(), StatusColour::kRed);
}

TEST(ShellTimer, EverySixtiethTickTrimsTheWorkingSetConfiguredOrNot) {
  PresenterFixture f;
  MainWindowPresenter presenter(f.view, f.Services());
  ASSERT_FALSE(f.state.configured);
  for (int tick = 1; tick <= 59; ++tick) presenter.OnTimerTick();
  EXPECT_EQ(f.trims, 0);
  presenter.OnTimerTick();
  EXPECT_EQ(f.trims, 1);
  // A running backup changes nothing in the count.
  f.state.backupRunning = true;
  for (int tick = 1; tick <= 60; ++tick) presenter.OnTimerTick();
  EXPECT_EQ(f.trims, 2);
}

TEST_F(ShellTest, TheTimerRaisesTheAlarmForASetWithoutACompleteBackupUntilARunEnds) {
  StartConfigured("03:00:00");
  P().OnTimerTick();
  EXPECT_EQ(f.view.backupAlarm(), "a.AIS(从未完整备份)");
  EXPECT_EQ(f.view.alarmAnnouncements(), 1);
  EXPECT_EQ(f.log.lines(),
            Lines{"警告：以下账套已经很久没有完整的备份，请尽快检查：a.AIS(从未完整备份)！"});

  // A run ends with a complete backup: the next tick clears the tray, without
  // waiting for the hour.
  f.state.backupRunning = true;
  P().OnTimerTick();
  f.Db()->InsertLocalResult((f.dir / "accounts") + "/a.AIS",
                            (f.dir / "backups") + "/a20240502100000", "", true);
  testing::RawDb(f.appFolder + "/Setlog.dll")
      .Exec("update baklog set baktime='2024-05-02 10:00:00'");
  f.state.backupRunning = false;
  f.clock.Advance(1s);
  P().OnTimerTick();
  EXPECT_EQ(f.view.backupAlarm(), "");
  EXPECT_EQ(f.view.alarmAnnouncements(), 1);
  EXPECT_EQ(f.log.lines().size(), 1u);
}

TEST(ShellBackupNow, ChecksInOrderAndTellsTheOutcome) {
  struct Case {
    const char* name;
    bool configured;
    bool running;
    bool ticked;
    StartOutcome runnerAnswer;
    StartOutcome outcome;
    ShownMessage shown;
  } cases[] = {
      {"not configured", false, true, true, StartOutcome::kStarted, StartOutcome::kFailed,
       Warning(
           "您好，程序缺乏相关的配置信息，无法进行数据库的备份操作，请先对相关的信息进行配置并点击"
           "[保存设置]按钮，然后再单击本按钮！")},
      {"running", true, true, false, StartOutcome::kStarted, StartOutcome::kAlreadyRunning,
       Warning("您好，已有一个备份线程正在运行，无需同时启动多个备份线程！")},
      {"nothing ticked", true, false, false, StartOutcome::kStarted, StartOutcome::kFailed,
       Notice("您好，请先选择好需要备份的账套!")},
      {"thread not created", true, false, true, StartOutcome::kFailed, StartOutcome::kFailed,
       Warning("您好，备份线程启动失败，无法进行数据库的备份操作！")},
      {"started", true, false, true, StartOutcome::kStarted, StartOutcome::kStarted,
       Notice(
           "您好，系统正在执行您的备份指令，待备份完成后，您可以在备份日志里查看备份执行的情况!")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PresenterFixture f;
    Configure(f);
    MainWindowPresenter presenter(f.view, f.Services());
    ASSERT_TRUE(presenter.OnStartUp());
    f.view.ClearMessages();
    f.log.Clear();
    f.state.configured = c.configured;
    f.state.backupRunning = c.running;
    if (!c.ticked) f.view.SetAccountRows({{false, "", "a.AIS", "a.AIS"}});
    f.runner.answer = c.runnerAnswer;
    const int roundsBefore = f.view.pendingMessageRounds();

    EXPECT_EQ(presenter.BackUpNowClicked(), c.outcome);
    EXPECT_EQ(f.view.messages(), std::vector<ShownMessage>{c.shown});
    const bool started = c.outcome == StartOutcome::kStarted;
    EXPECT_EQ(f.runner.starts.size(), started ? 1u : 0u);
    EXPECT_EQ(f.view.pendingMessageRounds(), roundsBefore + (started ? 1 : 0));
    // "立即备份" leaves the schedule and the stored last backup time alone.
    EXPECT_EQ(f.view.nextBackupText(), "下次备份时间:2024-05-02 10:01:00");
    EXPECT_FALSE(f.Db()->LoadSettings().lastbakday.has_value());
    EXPECT_TRUE(f.log.lines().empty());
  }
}

TEST(ShellBackupNow, ATickAndTheButtonInTheSameSecondStartOneRun) {
  for (const bool buttonFirst : {false, true}) {
    SCOPED_TRACE(buttonFirst);
    PresenterFixture f;
    Configure(f, "10:00:30");  // due now: this minute, 30 s from now
    MainWindowPresenter presenter(f.view, f.Services());
    ASSERT_TRUE(presenter.OnStartUp());
    f.view.ClearMessages();

    if (buttonFirst) {
      EXPECT_EQ(presenter.BackUpNowClicked(), StartOutcome::kStarted);
      presenter.OnTimerTick();
    } else {
      presenter.OnTimerTick();
      EXPECT_EQ(presenter.BackUpNowClicked(), StartOutcome::kAlreadyRunning);
      EXPECT_EQ(f.view.messages(),
                std::vector<ShownMessage>{
                    Warning("您好，已有一个备份线程正在运行，无需同时启动多个备份线程！")});
    }
    ASSERT_EQ(f.runner.starts.size(), 1u);
    // Only the schedule's run may be followed by the weekly test restore.
    EXPECT_EQ(f.runner.starts[0].scheduled, !buttonFirst);
  }
}

TEST(ShellAutostartBox, FailuresWarnAndAFailedWriteTurnsTheBoxOff) {
  struct Case {
    const char* name;
    bool tickOn;
    bool registerAnswer, removeAnswer;
    Lines calls;
    std::vector<ShownMessage> shown;
    bool boxAfter;
  } cases[] = {
      {"registered", true, true, true, {"register"}, {}, true},
      {"removed", false, true, true, {"remove"}, {}, false},
      {"write fails",
       true,
       false,
       true,
       {"register", "remove"},
       {Warning("写入自动运行失败，下次应用程序将不会自动运行！\nrefused")},
       false},
      {"write and removal fail",
       true,
       false,
       false,
       {"register", "remove"},
       {Warning("写入自动运行失败，下次应用程序将不会自动运行！\nrefused"),
        Warning("取消自动运行失败，下次应用程序仍然会自动运行！\nrefused")},
       false},
      {"removal fails",
       false,
       true,
       false,
       {"remove"},
       {Warning("取消自动运行失败，下次应用程序仍然会自动运行！\nrefused")},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PresenterFixture f;
    f.registerAnswer = c.registerAnswer;
    f.removeAnswer = c.removeAnswer;
    MainWindowPresenter presenter(f.view, f.Services());
    f.view.SetChecked(Control::kAutostart, c.tickOn);

    presenter.AutostartClicked();
    EXPECT_EQ(f.autostartCalls, c.calls);
    EXPECT_EQ(f.view.messages(), c.shown);
    EXPECT_EQ(f.view.Checked(Control::kAutostart), c.boxAfter);
    EXPECT_TRUE(f.log.lines().empty());  // the registration writes its own lines
  }
}

// The wake timer follows the next backup time: set at start-up, moved by a
// save and by a run, never asked twice for one time; a refusal is one line.
TEST_F(ShellTest, TheWakeTimerFollowsTheNextBackupTimeAndARefusalIsSaidOnce) {
  StartConfigured("10:01:00");
  f.view.SetText(Control::kServerUser, "admin");  // what a save asks for
  EXPECT_EQ(f.wakeTimers, Lines{"2024-05-02 10:01:00"});
  P().OnTimerTick();
  EXPECT_EQ(f.wakeTimers.size(), 1u);

  // Saved without leaving the field: the saved time is the schedule's.
  f.view.SetText(Control::kBackupTime, "11:30:00");
  ASSERT_TRUE(P().SaveSettingsClicked());
  EXPECT_EQ(f.wakeTimers.back(), "2024-05-02 11:30:00");

  // After the run at that time, the next day's.
  f.clock.Advance(90min);
  P().OnTimerTick();
  ASSERT_EQ(f.runner.starts.size(), 1u);
  EXPECT_EQ(f.wakeTimers.back(), "2024-05-03 11:30:00");
  f.runner.Finish();

  // Refused: one line with the reason, however often the time moves, until
  // a setting succeeds again.
  const auto refusals = [&] {
    const Lines lines = f.log.lines();
    return std::count(
        lines.begin(), lines.end(),
        "设置唤醒定时器失败，电脑睡眠时将不会在备份时间醒来备份！原因：no wake support");
  };
  f.wakeTimerAnswer = false;
  f.log.Clear();
  for (const char* time : {"12:00:00", "12:30:00"}) {
    f.view.SetText(Control::kBackupTime, time);
    ASSERT_TRUE(P().SaveSettingsClicked());
  }
  EXPECT_EQ(f.wakeTimers.back(), "2024-05-03 12:30:00");
  EXPECT_EQ(refusals(), 1);
  f.wakeTimerAnswer = true;
  f.view.SetText(Control::kBackupTime, "13:00:00");
  ASSERT_TRUE(P().SaveSettingsClicked());
  f.wakeTimerAnswer = false;
  f.view.SetText(Control::kBackupTime, "13:30:00");
  ASSERT_TRUE(P().SaveSettingsClicked());
  EXPECT_EQ(refusals(), 2);
}

// Beside the running agent service the window is the service's: it shows the
// service's state, runs "立即备份" under the run lock, and starts no schedule,
// no guard and no wake timer of its own.
TEST_F(ShellTest, TheServicesWindowRunsNoScheduleOfItsOwn) {
  f.serviceWindow = true;
  StartConfigured("10:01:00", /*guard=*/true);
  f.view.SetText(Control::kServerUser, "admin");  // what a save asks for
  EXPECT_TRUE(P().IsServiceWindow());
  EXPECT_EQ(f.guardStarts, 0);

  P().OnTimerTick();
  EXPECT_EQ(f.view.statusText(), "由后台服务自动备份（运行中）");
  EXPECT_EQ(f.view.statusColour(), StatusColour::kGreen);
  // The backup time comes and goes: nothing starts here.
  for (int tick = 0; tick < 120; ++tick) {
    f.clock.Advance(1s);
    P().OnTimerTick();
  }
  EXPECT_TRUE(f.runner.starts.empty());
  EXPECT_FALSE(f.Db()->LoadSettings().lastbakday.has_value());
  // The service is asked at a modest rate, and a stop shows.
  EXPECT_LE(f.serviceLooks, 121 / 5 + 1);
  EXPECT_GE(f.serviceLooks, 121 / 5);
  f.serviceState = "停止";
  for (int tick = 0; tick < 5; ++tick) P().OnTimerTick();
  EXPECT_EQ(f.view.statusText(), "由后台服务自动备份（停止）");
  EXPECT_EQ(f.view.statusColour(), StatusColour::kRed);

  EXPECT_EQ(P().BackUpNowClicked(), StartOutcome::kStarted);
  ASSERT_EQ(f.runner.starts.size(), 1u);
  EXPECT_FALSE(f.runner.starts[0].scheduled);
  P().OnTimerTick();
  EXPECT_EQ(f.view.statusText(), "正在执行备份操作");
  f.runner.Finish();

  // The service's own run holds the folder's run lock.
  f.view.ClearMessages();
  f.runner.answer = StartOutcome::kAlreadyRunning;
  EXPECT_EQ(P().BackUpNowClicked(), StartOutcome::kAlreadyRunning);
  EXPECT_EQ(f.view.messages(), std::vector<ShownMessage>{Warning(
                                   "您好，已有一个备份线程正在运行，无需同时启动多个备份线程！")});

  // Saving stores the file the service follows; the window still runs
  // nothing of its own.
  f.view.SetText(Control::kBackupTime, "11:30:00");
  ASSERT_TRUE(P().SaveSettingsClicked());
  EXPECT_EQ(f.Db()->LoadSettings().baktime, "11:30:00");
  EXPECT_EQ(f.guardStarts, 0);
  EXPECT_TRUE(f.wakeTimers.empty());

  // The stopped service has let the folder go: the window takes the schedule
  // over, once, and makes the backup at its time.
  f.folderFree = true;
  f.runner.answer = StartOutcome::kStarted;
  for (int tick = 0; tick < 5; ++tick) P().OnTimerTick();
  EXPECT_FALSE(P().IsServiceWindow());
  const auto lines = f.log.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "后台服务未运行，本程序接管自动备份。"), 1);
  EXPECT_EQ(f.guardStarts, 1);
  EXPECT_FALSE(f.wakeTimers.empty());
  EXPECT_EQ(f.runner.starts.size(), 1u);
  f.clock.Set(LocalTime{2024, 5, 2, 11, 30, 0});
  P().OnTimerTick();
  ASSERT_EQ(f.runner.starts.size(), 2u);
  EXPECT_TRUE(f.runner.starts[1].scheduled);
}

}  // namespace
}  // namespace veltora
