// Loading, capturing and saving the settings of the main window, against the
// real settings database of a temporary application folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/raw_db.h"
#include "ui/presenter_fixture.h"

namespace veltora {
namespace {

using ::testing::ElementsAre;
using testing::PresenterFixture;
using testing::RawDb;

std::vector<std::string> Names(const std::vector<AccountSetEntry>& rows, bool tickedOnly) {
  std::vector<std::string> names;
  for (const auto& r : rows)
    if (r.ticked || !tickedOnly) names.push_back(r.name);
  return names;
}

int Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

void UseSqlEdition(PresenterFixture& f) {
  f.MakeSqlServer();
  f.view.SetItemIndex(Control::kEdition, 2);
  f.view.SetAccountRows({{true, "001", "Alpha", "AIS001"}});
  f.view.SetText(Control::kSqlUser, f.sqlUser);
  f.view.SetText(Control::kSqlPassword, f.sqlPassword);
}

// ---------------------------------------------------------------------------
// Saving

TEST(SaveSettings, EachCheckStopsTheSaveWithItsMessageAndFocusAndStoresNothing) {
  struct Case {
    const char* name;
    std::function<void(PresenterFixture&)> arrange;
    MessageStyle style;
    std::string text;
    std::optional<Control> focus;
    bool selected;
  };
  // A full path of the platform, so that only its being missing is refused.
#ifdef _WIN32
  const std::string missing = "C:\\no\\such\\folder";
#else
  const std::string missing = "/no/such/folder";
#endif
  const Case cases[] = {
      {"a backup runs", [](auto& f) { f.state.backupRunning = true; }, MessageStyle::kWarning,
       "您好，备份线程正在运行，您可能暂时无法保存设置，请等待备份线程结束后，再执行保存操作！",
       std::nullopt, false},
      {"empty list", [](auto& f) { f.view.SetAccountRows({}); }, MessageStyle::kNotice,
       "请设置需要备份的账套!", std::nullopt, false},
      {"archive password refused",
       [](auto& f) {
         f.view.SetChecked(Control::kPasswordGroup, true);
         f.view.SetText(Control::kOldArchivePassword, "not the old one");
       },
       MessageStyle::kWarning, "您好，旧密码输入错误，请重新输入密码！",
       Control::kOldArchivePassword, true},
      {"connection time-out 6",
       [](auto& f) {
         UseSqlEdition(f);
         f.view.SetText(Control::kConnectTimeout, "6");
       },
       MessageStyle::kWarning, "您好，数据库连接超时时间输入非法，请重新输入！(建议：10-60秒)",
       Control::kConnectTimeout, false},
      {"connection time-out 3601",
       [](auto& f) {
         UseSqlEdition(f);
         f.view.SetText(Control::kConnectTimeout, "3601");
       },
       MessageStyle::kWarning, "您好，数据库连接超时时间输入非法，请重新输入！(建议：10-60秒)",
       Control::kConnectTimeout, false},
      {"command time-out 29",
       [](auto& f) {
         UseSqlEdition(f);
         f.view.SetText(Control::kCommandTimeout, "29");
       },
       MessageStyle::kWarning, "您好，SQL命令执行超时时间输入非法，请重新输入！(建议：2500-9000秒)",
       Control::kCommandTimeout, false},
      {"no SQL user",
       [](auto& f) {
         UseSqlEdition(f);
         f.view.SetText(Control::kSqlUser, "");
       },
       MessageStyle::kWarning, "您好，请输入连接数据库的用户名！", Control::kSqlUser, false},
      {"a SQL user of blanks is tried as it stands",
       [](auto& f) {
         UseSqlEdition(f);
         f.view.SetText(Control::kSqlUser, " ");
       },
       MessageStyle::kWarning,
       "您好，程序无法与数据库建立连接，请检查用户名或密码是否输入有误，或者SQL "
       "Server服务是否启动！\r发生错误可能的原因为：Login failed for user ' '.",
       Control::kSqlUser, false},
      {"trial connection refused",
       [](auto& f) {
         UseSqlEdition(f);
         f.view.SetText(Control::kSqlPassword, "wrong");
       },
       MessageStyle::kWarning,
       "您好，程序无法与数据库建立连接，请检查用户名或密码是否输入有误，或者SQL "
       "Server服务是否启动！\r发生错误可能的原因为：Login failed for user 'sa'.",
       Control::kSqlUser, false},
      {"nothing ticked",
       [](auto& f) {
         f.view.SetAccountRows({{false, "", "a.AIS", "a.AIS"}});
       },
       MessageStyle::kNotice, "请设置需要备份的账套!", std::nullopt, false},
      {"no server user", [](auto& f) { f.view.SetText(Control::kServerUser, " \t"); },
       MessageStyle::kWarning, "您好，请输入登录服务器上Windows系统的用户名！",
       Control::kServerUser, false},
      {"no remote user",
       [](auto& f) {
         f.view.SetChecked(Control::kShareBackup, true);
         f.view.SetText(Control::kShareFolder, "\\\\server\\share");
       },
       MessageStyle::kWarning, "您好，请输入访问远程共享文件夹的用户名！", Control::kShareUser,
       false},
      {"no local folder", [](auto& f) { f.view.SetText(Control::kLocalFolder, "  "); },
       MessageStyle::kWarning, "您好，请输入在服务器上的备份路径！", Control::kLocalFolder, false},
      {"local folder missing", [&](auto& f) { f.view.SetText(Control::kLocalFolder, missing); },
       MessageStyle::kWarning, "您好，本机上的备份路径无效，请重新输入！", Control::kLocalFolder,
       true},
      {"local folder on a share",
       [](auto& f) {
         f.shares.push_back("\\\\server\\bak");
         f.view.SetText(Control::kLocalFolder, "\\\\server\\bak");
       },
       MessageStyle::kWarning, "您好，本机上的备份路径，不能为网络路径，请重新输入！",
       Control::kLocalFolder, true},
      {"local folder not writable", [](auto& f) { f.unwritable.push_back(f.backupFolder); },
       MessageStyle::kWarning, "您好，本机上的备份路径没有读写的权限，请设置相应的权限！",
       Control::kLocalFolder, true},
      {"remote folder is local",
       [](auto& f) {
         f.view.SetChecked(Control::kShareBackup, true);
         f.view.SetText(Control::kShareUser, "u");
         f.view.SetText(Control::kShareFolder, "D:\\share");
       },
       MessageStyle::kWarning, "您好，远程共享文件夹的路径，不应该为本地路径，请重新输入！",
       Control::kShareFolder, true},
      {"backup time 25:00:00", [](auto& f) { f.view.SetText(Control::kBackupTime, "25:00:00"); },
       MessageStyle::kWarning, "您好，定时备份时间输入非法，请重新输入！", Control::kBackupTime,
       true},
      {"keep count 501", [](auto& f) { f.view.SetText(Control::kKeepCount, "501"); },
       MessageStyle::kWarning, "您好，备份个数输入非法，请重新输入！", Control::kKeepCount, false},
      {"keep count -1", [](auto& f) { f.view.SetText(Control::kKeepCount, "-1"); },
       MessageStyle::kWarning, "您好，备份个数输入非法，请重新输入！", Control::kKeepCount, false},
      {"keep count no number", [](auto& f) { f.view.SetText(Control::kKeepCount, "7x"); },
       MessageStyle::kWarning, "您好，备份个数输入非法，请重新输入！", Control::kKeepCount, false},
      {"neither local nor remote", [](auto& f) { f.view.SetChecked(Control::kLocalBackup, false); },
       MessageStyle::kNotice, "您至少要在本地备份和服务器备份中选择一项！", std::nullopt, false},
      // What the job could not use, whatever the edition.
      {"another save holds the lock", [](auto& f) { f.settingsLockBusy = true; },
       MessageStyle::kWarning, "您好，另一个保存设置的操作正在进行，请等它结束后再执行保存操作！",
       std::nullopt, false},
      {"account folder gone", [&](auto& f) { f.view.SetText(Control::kAccountFolder, missing); },
       MessageStyle::kWarning,
       "您好，账套所在的文件夹“" + missing + "”不存在或不是文件夹，请重新选择！", std::nullopt,
       false},
      {"account folder is a file",
       [](auto& f) { f.view.SetText(Control::kAccountFolder, f.accountFolder + "/b.AIS"); },
       MessageStyle::kWarning, "", std::nullopt, false},
      {"account folder relative", [](auto& f) { f.view.SetText(Control::kAccountFolder, "acc2"); },
       MessageStyle::kWarning,
       "您好，账套所在的文件夹“acc2”不是从根目录或盘符开始的完整路径，请重新选择！", std::nullopt,
       false},
      {"tab inside the server user",
       [](auto& f) { f.view.SetText(Control::kServerUser, "ad\tmin"); }, MessageStyle::kWarning,
       "您好，登录服务器上Windows系统的用户名中不能包含换行符、制表符等控制字符，请重新输入！",
       Control::kServerUser, true},
      {"line break in the share password, remote backup off",
       [](auto& f) { f.view.SetText(Control::kSharePassword, "a\nb"); }, MessageStyle::kWarning,
       "您好，访问远程共享文件夹的密码中不能包含换行符、制表符等控制字符，请重新输入！",
       Control::kSharePassword, true},
      {"line break in the local folder",
       [](auto& f) { f.view.SetText(Control::kLocalFolder, f.backupFolder + "\nx"); },
       MessageStyle::kWarning,
       "您好，本机上的备份路径中不能包含换行符、制表符等控制字符，请重新输入！",
       Control::kLocalFolder, true},
      {"tab in the SQL password",
       [](auto& f) {
         UseSqlEdition(f);
         f.view.SetText(Control::kSqlPassword, "p\tw");
       },
       MessageStyle::kWarning,
       "您好，连接数据库的密码中不能包含换行符、制表符等控制字符，请重新输入！",
       Control::kSqlPassword, true},
      {"connection time-out no number, file edition",
       [](auto& f) { f.view.SetText(Control::kConnectTimeout, "abc"); }, MessageStyle::kWarning,
       "您好，数据库连接超时时间输入非法，请重新输入！(建议：10-60秒)", Control::kConnectTimeout,
       false},
      {"connection time-out 0, file edition",
       [](auto& f) { f.view.SetText(Control::kConnectTimeout, "0"); }, MessageStyle::kWarning,
       "您好，数据库连接超时时间输入非法，请重新输入！(建议：10-60秒)", Control::kConnectTimeout,
       false},
      {"command time-out -1, file edition",
       [](auto& f) { f.view.SetText(Control::kCommandTimeout, "-1"); }, MessageStyle::kWarning,
       "您好，SQL命令执行超时时间输入非法，请重新输入！(建议：2500-9000秒)",
       Control::kCommandTimeout, false},
      {"local folder relative", [](auto& f) { f.view.SetText(Control::kLocalFolder, "relbak"); },
       MessageStyle::kWarning,
       "您好，本机上的备份路径必须是从根目录或盘符开始的完整路径，请重新输入！",
       Control::kLocalFolder, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PresenterFixture f;
    f.FillSavableWindow();
    c.arrange(f);
    MainWindowPresenter p(f.view, f.Services());
    const BaksetRow settingsBefore = f.Db()->LoadSettings();
    const auto listBefore = f.Db()->LoadAccountList();

    EXPECT_FALSE(p.SaveSettingsClicked());

    // An empty text: the message names the account folder as it stands.
    const std::string text = !c.text.empty() ? c.text
                                             : "您好，账套所在的文件夹“" +
                                                   f.view.Text(Control::kAccountFolder) +
                                                   "”不存在或不是文件夹，请重新选择！";
    EXPECT_THAT(f.view.messages(), ElementsAre(ShownMessage{c.style, text}));
    EXPECT_EQ(f.view.focus(), c.focus);
    EXPECT_EQ(f.view.selected(), c.selected ? c.focus : std::nullopt);
    EXPECT_EQ(f.Db()->LoadSettings(), settingsBefore);
    EXPECT_EQ(f.Db()->LoadAccountList(), listBefore);
    EXPECT_FALSE(f.state.configured);
    EXPECT_EQ(f.guardStarts, 0);
    EXPECT_TRUE(f.log.lines().empty());
  }
}

TEST(SaveSettings, AMissingRemoteFolderOrAnUnreachableShareIsToldAndTheSaveGoesOn) {
  struct Case {
    const char* name;
    const char* remoteFolder;
    bool shareAnswer;
    const char* warning;
    std::vector<std::string> shareConnections;
  } cases[] = {
      {"no remote folder", " ", true, "您好，请输入远程共享文件夹的路径！", {}},
      {"share unreachable",
       "\\\\server\\share",
       false,
       "您好，程序无法访问远程共享文件夹，请检查您的网络是否正常，以及您输入的访问帐号是否有误！",
       {"\\\\server\\share|u|p w"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PresenterFixture f;
    f.FillSavableWindow();
    f.view.SetChecked(Control::kShareBackup, true);
    f.view.SetText(Control::kShareUser, "u");
    f.view.SetText(Control::kSharePassword, "p w");
    f.view.SetText(Control::kShareFolder, c.remoteFolder);
    f.shareAnswer = c.shareAnswer;
    MainWindowPresenter p(f.view, f.Services());

    EXPECT_TRUE(p.SaveSettingsClicked());

    EXPECT_THAT(f.view.messages(), ElementsAre(ShownMessage{MessageStyle::kWarning, c.warning}));
    EXPECT_EQ(f.shareConnections, c.shareConnections);
    const BaksetRow stored = f.Db()->LoadSettings();
    EXPECT_TRUE(stored.remotebak);
    EXPECT_EQ(stored.remoteDir, f.view.Text(Control::kShareFolder));
    EXPECT_TRUE(f.state.configured);
  }
}

TEST(SaveSettings, StoresAppliesAndSwitchesTheServiceAndTheGuardOnOnce) {
  PresenterFixture f;
  f.FillSavableWindow();
  f.view.SetText(Control::kServerPassword, "it's");
  f.view.SetText(Control::kBackupTime, " 7: 5: 0");
  f.view.SetText(Control::kKeepCount, "500");
  f.view.SetText(Control::kDaysBetweenBackups, "3");
  f.view.SetItemIndex(Control::kCompressionLevel, -1);
  f.view.SetChecked(Control::kGuardSqlServer, true);
  MainWindowPresenter p(f.view, f.Services());

  ASSERT_TRUE(p.SaveSettingsClicked());

  EXPECT_TRUE(f.view.messages().empty());
  const BaksetRow stored = f.Db()->LoadSettings();
  EXPECT_EQ(stored.softvernum, 0);
  EXPECT_EQ(stored.accountDir, f.accountFolder);
  EXPECT_EQ(stored.localuser, "admin");
  EXPECT_EQ(stored.localpwd, "it's");
  EXPECT_TRUE(stored.localbak);
  EXPECT_FALSE(stored.remotebak);
  EXPECT_EQ(stored.localDir, f.backupFolder);
  EXPECT_EQ(stored.bakfilenum, 500);
  EXPECT_EQ(stored.rarlevel, "标准");
  EXPECT_EQ(stored.baktime, "07:05:00");
  EXPECT_EQ(stored.conout, 27);
  EXPECT_EQ(stored.sqlout, 1800);
  EXPECT_EQ(stored.btwdays, 3);
  EXPECT_TRUE(stored.safecheck);
  EXPECT_THAT(f.Db()->LoadAccountList(), ElementsAre(AccountListRow{"", "b.AIS", "b.AIS"}));
  EXPECT_EQ(f.view.Text(Control::kBackupTime), "07:05:00");
  EXPECT_EQ(f.view.ItemIndex(Control::kCompressionLevel), 3);
  EXPECT_EQ(p.schedule().BackupTimeText(), "07:05:00");
  EXPECT_THAT(p.Configuration().selectedAccountSets, ElementsAre("b.AIS"));
  EXPECT_EQ(p.Configuration().keepCount, 500);
  EXPECT_TRUE(f.state.configured);
  EXPECT_TRUE(f.state.guardSwitch);

  // A second save finds the service on and the guard running.
  f.view.SetAccountRows({{true, "", "a.AIS", "a.AIS"}, {false, "", "b.AIS", "b.AIS"}});
  ASSERT_TRUE(p.SaveSettingsClicked());
  EXPECT_THAT(f.Db()->LoadAccountList(), ElementsAre(AccountListRow{"", "a.AIS", "a.AIS"}));
  EXPECT_EQ(Count(f.log.lines(), "服务启动成功！"), 1);
  EXPECT_EQ(f.guardStarts, 1);
  EXPECT_TRUE(f.runner.starts.empty());

  // Switching the guard off clears its switch and wakes it to end.
  f.view.SetChecked(Control::kGuardSqlServer, false);
  ASSERT_TRUE(p.SaveSettingsClicked());
  EXPECT_FALSE(f.state.guardSwitch);
  EXPECT_EQ(f.guardWakes, 1);
  EXPECT_EQ(f.guardStarts, 1);
}

// The checks and the write of one save happen under the folder's settings
// lock, and the lock is let go when the save ends.
TEST(SaveSettings, WritesUnderTheSettingsLock) {
  PresenterFixture f;
  f.FillSavableWindow();
  MainWindowPresenter p(f.view, f.Services());

  ASSERT_TRUE(p.SaveSettingsClicked());

  EXPECT_THAT(f.settingsLockHeldAtOpen, ElementsAre(true));
  EXPECT_TRUE(f.settingsLock.expired());
}

TEST(SaveSettings, AGuardThatCannotStartIsLoggedAndTheSaveStands) {
  PresenterFixture f;
  f.FillSavableWindow();
  f.view.SetChecked(Control::kGuardSqlServer, true);
  f.guardStartAnswer = false;
  MainWindowPresenter p(f.view, f.Services());

  EXPECT_TRUE(p.SaveSettingsClicked());

  EXPECT_THAT(f.log.lines(), ElementsAre("服务启动成功！", "创建SQL Server保护线程失败！"));
  EXPECT_TRUE(f.Db()->LoadSettings().safecheck);
}

TEST(SaveSettings, SqlEditionStartsTheServerTriesTheLoginAndStoresItsPasswordIntact) {
  PresenterFixture f;
  f.FillSavableWindow();
  UseSqlEdition(f);
  MainWindowPresenter p(f.view, f.Services());

  ASSERT_TRUE(p.SaveSettingsClicked());

  EXPECT_TRUE(f.view.messages().empty());
  EXPECT_EQ(f.ensureCalls, 1);
  const BaksetRow stored = f.Db()->LoadSettings();
  EXPECT_EQ(stored.softvernum, 2);
  EXPECT_EQ(stored.sqluser, "sa");
  EXPECT_EQ(stored.sqlpwd, "pw'1");
  EXPECT_THAT(f.Db()->LoadAccountList(), ElementsAre(AccountListRow{"001", "Alpha", "AIS001"}));
  EXPECT_EQ(p.Configuration().sqlPassword, "pw'1");
}

// A handler's step that throws ends without a message box, and its text is in
// the run log rather than lost.
TEST(SaveSettings, AServerStartThatThrowsIsLoggedWithItsTextAndShowsNoMessage) {
  PresenterFixture f;
  f.FillSavableWindow();
  UseSqlEdition(f);
  MainWindowServices services = f.Services();
  services.ensureSqlServerRunning = [] { throw std::runtime_error("service control refused"); };
  MainWindowPresenter p(f.view, std::move(services));

  p.SaveSettingsClicked();

  EXPECT_TRUE(f.view.messages().empty());
  EXPECT_THAT(f.log.lines(), ::testing::Contains("service control refused"));
}

TEST(SaveSettings, ADatabaseThatCannotBeOpenedOrWrittenKeepsEverythingAsItWas) {
  {
    SCOPED_TRACE("0004: cannot open");
    PresenterFixture f;
    f.FillSavableWindow();
    const std::string db = SettingsDatabasePath(f.appFolder);
    std::filesystem::rename(db, db + ".away");
    MainWindowPresenter p(f.view, f.Services());

    EXPECT_FALSE(p.SaveSettingsClicked());

    EXPECT_THAT(
        f.view.messages(),
        ElementsAre(ShownMessage{MessageStyle::kNotice, "系统在保存信息时发生错误，错误号：0004"}));
    EXPECT_FALSE(f.state.configured);
  }
  {
    SCOPED_TRACE("0006: the settings row cannot be written");
    PresenterFixture f;
    f.FillSavableWindow();
    f.Db()->RewriteAccountList({{"", "old.AIS", "old.AIS"}});
    RawDb(SettingsDatabasePath(f.appFolder))
        .Exec(
            "CREATE TRIGGER refuse BEFORE UPDATE ON bakset BEGIN SELECT RAISE(FAIL, 'disk is "
            "full'); END");
    f.view.SetChecked(Control::kPasswordGroup, true);
    f.view.SetText(Control::kNewArchivePassword, "secret");
    f.view.SetText(Control::kConfirmArchivePassword, "secret");
    MainWindowPresenter p(f.view, f.Services());

    EXPECT_FALSE(p.SaveSettingsClicked());

    EXPECT_THAT(f.view.messages(),
                ElementsAre(ShownMessage{MessageStyle::kNotice,
                                         "系统在保存信息时出错，错误号：0006disk is full"}));
    // One transaction: the account list is not left rewritten.
    EXPECT_THAT(f.Db()->LoadAccountList(), ElementsAre(AccountListRow{"", "old.AIS", "old.AIS"}));
    // The new password never came into force, and the entries wait for
    // another try.
    EXPECT_EQ(p.ArchivePassword(), "");
    EXPECT_TRUE(f.view.Checked(Control::kPasswordGroup));
    EXPECT_EQ(f.view.Text(Control::kNewArchivePassword), "secret");
    EXPECT_FALSE(f.state.configured);
  }
}

// ---------------------------------------------------------------------------
// Capturing

TEST(CaptureBackupConfiguration, TakesTheWindowAsItStands) {
  PresenterFixture f;
  f.FillSavableWindow();
  f.view.SetAccountRows({{true, "", "a;;b.AIS", "a;;b.AIS"},
                         {false, "", "c.AIS", "c.AIS"},
                         {true, "", "", ""},
                         {true, "", "d.AIS", "d.AIS"}});
  f.view.SetText(Control::kKeepCount, "600");
  f.view.SetItemIndex(Control::kCompressionLevel, -1);
  f.view.SetText(Control::kConnectTimeout, "abc");
  f.view.SetText(Control::kCommandTimeout, "120");
  f.view.SetText(Control::kBackupTime, "03:00:00");
  f.view.SetChecked(Control::kGuardSqlServer, true);
  f.view.SetChecked(Control::kShareBackup, true);
  f.view.SetText(Control::kShareFolder, "\\\\server\\share");
  f.view.SetText(Control::kShareUser, "u");
  f.view.SetText(Control::kSharePassword, "p");
  MainWindowPresenter p(f.view, f.Services());

  p.CaptureBackupConfiguration();

  const BackupConfig& c = p.Configuration();
  EXPECT_EQ(c.caption, "青岚软件账套自动备份系统(金蝶版)  V2.1");
  // The names themselves: one holding ";;" stays whole.
  EXPECT_THAT(c.selectedAccountSets, ElementsAre("a;;b.AIS", "d.AIS"));
  EXPECT_EQ(c.accountSets.size(), 4u);
  EXPECT_EQ(c.accountFolder, f.accountFolder);
  EXPECT_EQ(c.keepCount, 500);
  EXPECT_EQ(c.compressionLevel, 3);
  EXPECT_EQ(c.timeouts.connectSeconds, 7);
  EXPECT_EQ(c.timeouts.commandSeconds, 120);
  EXPECT_TRUE(c.localBackup);
  EXPECT_TRUE(c.remoteBackup);
  EXPECT_EQ(c.localFolder, f.backupFolder);
  EXPECT_EQ(c.remoteFolder, "\\\\server\\share");
  EXPECT_EQ(c.remoteUser, "u");
  EXPECT_EQ(c.remotePassword, "p");
  EXPECT_EQ(p.schedule().BackupTimeText(), "03:00:00");
  EXPECT_TRUE(f.state.guardSwitch);
}

// ---------------------------------------------------------------------------
// Loading

TEST(LoadSettings, FillsTheWindowPutsNumbersIntoRangeAndShowsTheNextBackupTime) {
  PresenterFixture f;
  BaksetRow row = f.Db()->LoadSettings();
  row.localuser = "admin";
  row.localpwd = "pw";
  row.remoteuser = "ru";
  row.remotepwd = "rp";
  row.safecheck = true;
  row.remotebak = true;
  row.localDir = "/srv/bak";
  row.remoteDir = "\\\\server\\share";
  row.bakfilenum = 600;
  row.rarlevel = "最好";
  row.baktime = "1:5:0";
  row.conout = 5;
  row.sqlout = 99999;
  row.btwdays = 0;
  f.Db()->SaveSettings(row, "Old1");
  f.view.SetChecked(Control::kPasswordGroup, true);
  f.view.SetText(Control::kNewArchivePassword, "typed");
  MainWindowPresenter p(f.view, f.Services());

  ASSERT_TRUE(p.LoadSettingsClicked());

  const MemoryView& v = f.view;
  EXPECT_EQ(v.Text(Control::kServerUser), "admin");
  EXPECT_EQ(v.Text(Control::kServerPassword), "pw");
  EXPECT_EQ(v.Text(Control::kShareUser), "ru");
  EXPECT_EQ(v.Text(Control::kSharePassword), "rp");
  EXPECT_TRUE(v.Checked(Control::kGuardSqlServer));
  EXPECT_TRUE(v.Checked(Control::kLocalBackup));
  EXPECT_TRUE(v.Checked(Control::kShareBackup));
  EXPECT_EQ(v.Text(Control::kLocalFolder), "/srv/bak");
  EXPECT_EQ(v.Text(Control::kShareFolder), "\\\\server\\share");
  EXPECT_EQ(v.Text(Control::kKeepCount), "500");
  EXPECT_EQ(v.ItemIndex(Control::kCompressionLevel), 5);
  EXPECT_EQ(v.Text(Control::kConnectTimeout), "7");
  EXPECT_EQ(v.Text(Control::kCommandTimeout), "9999");
  EXPECT_EQ(v.Text(Control::kDaysBetweenBackups), "1");
  EXPECT_EQ(v.Text(Control::kBackupTime), "01:05:00");
  // No scheduled start yet: the next occurrence of the time of day.
  EXPECT_EQ(v.nextBackupText(), "下次备份时间:2024-05-03 01:05:00");
  EXPECT_EQ(p.schedule().BackupTimeText(), "01:05:00");
  EXPECT_EQ(p.ArchivePassword(), "Old1");
  EXPECT_EQ(p.Configuration().archivePassword, "Old1");
  EXPECT_EQ(p.Configuration().keepCount, 500);
  EXPECT_FALSE(v.Checked(Control::kPasswordGroup));
  EXPECT_EQ(v.Text(Control::kNewArchivePassword), "");
  EXPECT_TRUE(v.Enabled(Control::kOldArchivePassword));
  EXPECT_TRUE(v.messages().empty());
  EXPECT_TRUE(std::filesystem::exists(SpareCopyPath(f.appFolder)));
}

TEST(LoadSettings, AnInvalidStoredTimeLeavesTheFieldAndTheIntervalCountsFromTheLastStart) {
  PresenterFixture f;
  BaksetRow row = f.Db()->LoadSettings();
  row.baktime = "25:00:00";
  row.btwdays = 3;
  f.Db()->SaveSettings(row);
  SettingsDatabase(f.appFolder,
                   std::make_shared<testing::FixedClock>(LocalTime{2024, 5, 1, 9, 0, 0, 3}))
      .UpdateLastBackupDay();
  f.view.SetText(Control::kBackupTime, "02:00:00");
  MainWindowPresenter p(f.view, f.Services());

  ASSERT_TRUE(p.LoadSettingsClicked());

  EXPECT_EQ(f.view.Text(Control::kBackupTime), "02:00:00");
  EXPECT_EQ(f.view.nextBackupText(), "下次备份时间:2024-05-04 02:00:00");
}

TEST(LoadSettings, FileEditionListsTheFolderAndTicksTheStoredNames) {
  PresenterFixture f;
  f.FillSavableWindow();
  testing::WriteFile(f.accountFolder + "/it's.AIS", "q");
  BaksetRow row = f.Db()->LoadSettings();
  row.softvernum = 1;
  row.accountDir = " " + f.accountFolder + " ";
  f.Db()->SaveSettings(row);
  f.Db()->RewriteAccountList({{"", "b.AIS", "b.AIS"}, {"", "it's.AIS", "it's.AIS"}});
  f.view.SetAccountRows({});
  MainWindowPresenter p(f.view, f.Services());

  ASSERT_TRUE(p.LoadSettingsClicked());

  EXPECT_EQ(f.view.page(), AccountPage::kFolder);
  EXPECT_EQ(f.view.numberColumnWidth(), 0);
  EXPECT_EQ(f.view.ItemIndex(Control::kEdition), 1);
  EXPECT_EQ(f.view.Text(Control::kAccountFolder), f.accountFolder);
  EXPECT_THAT(Names(f.view.AccountRows(), false), ElementsAre("a.AIS", "b.AIS", "it's.AIS"));
  EXPECT_THAT(Names(f.view.AccountRows(), true), ElementsAre("b.AIS", "it's.AIS"));
  EXPECT_THAT(p.Configuration().selectedAccountSets, ElementsAre("b.AIS", "it's.AIS"));
}

TEST(LoadSettings, AGoneAccountFolderIsToldAndEmptiesTheList) {
  PresenterFixture f;
  BaksetRow row = f.Db()->LoadSettings();
  row.accountDir = f.dir / "gone";
  f.Db()->SaveSettings(row);
  f.view.SetAccountRows({{true, "", "x.AIS", "x.AIS"}});
  MainWindowPresenter p(f.view, f.Services());

  ASSERT_TRUE(p.LoadSettingsClicked());

  EXPECT_THAT(
      f.view.messages(),
      ElementsAre(ShownMessage{MessageStyle::kNotice,
                               ".......账套所在文件夹已经不存在，是否您删除或移动了？......"}));
  EXPECT_TRUE(f.view.AccountRows().empty());
}

TEST(LoadSettings, SqlEditionWithoutAUserShowsItsPageAndConnectsToNothing) {
  PresenterFixture f;
  BaksetRow row = f.Db()->LoadSettings();
  row.softvernum = 3;
  row.sqluser = "  ";
  row.sqlpwd = "pw";
  f.Db()->SaveSettings(row);
  f.view.SetAccountRows({{true, "007", "Kept", "K"}});
  MainWindowPresenter p(f.view, f.Services());

  ASSERT_TRUE(p.LoadSettingsClicked());

  EXPECT_EQ(f.view.page(), AccountPage::kSqlServer);
  EXPECT_EQ(f.view.numberColumnWidth(), 100);
  EXPECT_EQ(f.view.Text(Control::kSqlUser), "");
  EXPECT_EQ(f.view.Text(Control::kSqlPassword), "pw");
  EXPECT_EQ(f.ensureCalls, 0);
  EXPECT_THAT(Names(f.view.AccountRows(), false), ElementsAre("Kept"));
  EXPECT_TRUE(f.view.messages().empty());
}

TEST(LoadSettings, SqlEditionListsTheCatalogueAndTicksTheStoredNumbers) {
  PresenterFixture f;
  f.MakeSqlServer("AcctCtl", {{false, "002", "Beta", "AIS002"}, {false, "001", "Alpha", "AIS001"}});
  BaksetRow row = f.Db()->LoadSettings();
  row.softvernum = 2;
  row.sqluser = " sa ";
  row.sqlpwd = f.sqlPassword;
  f.Db()->SaveSettings(row);
  f.Db()->RewriteAccountList({{"002", "Beta", "AIS002"}});
  MainWindowPresenter p(f.view, f.Services());

  ASSERT_TRUE(p.LoadSettingsClicked());

  EXPECT_EQ(f.view.Text(Control::kSqlUser), "sa");
  EXPECT_THAT(Names(f.view.AccountRows(), false), ElementsAre("Alpha", "Beta"));
  EXPECT_THAT(Names(f.view.AccountRows(), true), ElementsAre("Beta"));
  EXPECT_THAT(p.Configuration().selectedAccountSets, ElementsAre("Beta"));
  EXPECT_TRUE(f.view.messages().empty());
}

TEST(LoadSettings, ADatabaseThatCannotBeOpenedEndsTheProgram) {
  PresenterFixture f;
  const std::string db = SettingsDatabasePath(f.appFolder);
  std::filesystem::rename(db, db + ".away");
  MainWindowPresenter p(f.view, f.Services());

  EXPECT_FALSE(p.LoadSettingsClicked());

  EXPECT_THAT(f.view.messages(),
              ElementsAre(ShownMessage{MessageStyle::kNotice, "系统运行出错,错误号0001!"}));
  EXPECT_TRUE(f.view.ended());
}

}  // namespace
}  // namespace veltora
