// The small handlers of the main window's fields: the Enter chain with its
// checks, the folder buttons, the resets, the spin fields and the time field.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ui/presenter_fixture.h"

namespace veltora {
namespace {

using ::testing::ElementsAre;
using testing::PresenterFixture;

// A window whose fields all pass their Enter checks.
struct FieldScene {
  FieldScene() {
    f.FillSavableWindow();
    f.shares = {"\\\\server\\share", "\\\\server\\readonly"};
    f.unwritable = {"\\\\server\\readonly"};
    f.view.SetText(Control::kShareUser, "u");
    f.view.SetText(Control::kShareFolder, "\\\\server\\share");
    f.view.SetText(Control::kSqlUser, "sa");
  }
  PresenterFixture f;
  MainWindowPresenter p{f.view, f.Services()};
};

TEST(EnterChain, MovesTheFocusAlongTheSettings) {
  const struct {
    Control from;
    Control to;
  } chain[] = {
      {Control::kSqlUser, Control::kSqlPassword},
      {Control::kAccountSetList, Control::kServerUser},
      {Control::kServerUser, Control::kServerPassword},
      {Control::kServerPassword, Control::kShareUser},
      {Control::kShareUser, Control::kSharePassword},
      {Control::kSharePassword, Control::kGuardSqlServer},
      {Control::kGuardSqlServer, Control::kLocalFolder},
      {Control::kLocalBackup, Control::kLocalFolder},
      {Control::kShareBackup, Control::kLocalFolder},
      {Control::kBackupTime, Control::kLocalFolder},
      {Control::kLocalFolder, Control::kShareFolder},
      {Control::kShareFolder, Control::kKeepCount},
  };
  for (const auto& step : chain) {
    SCOPED_TRACE(static_cast<int>(step.from));
    FieldScene s;

    s.p.FieldEnter(step.from);

    EXPECT_EQ(s.f.view.focus(), step.to);
    EXPECT_TRUE(s.f.view.messages().empty());
  }
}

// A full path to no folder, on each platform.
#ifdef _WIN32
constexpr char kMissingFolder[] = "C:\\no\\such\\folder";
#else
constexpr char kMissingFolder[] = "/no/such/folder";
#endif

TEST(EnterChain, RefusesAnEmptyUserOrABadFolderAndTrimsOnTheWay) {
  struct Case {
    Control field;
    const char* text;
    const char* warning;
    std::optional<Control> focus;  // where the focus is afterwards
    bool selected;
    const char* textAfter;
  } cases[] = {
      {Control::kServerUser, " \t", "您好，请输入登录服务器上Windows系统的用户名！",
       Control::kServerUser, false, ""},
      {Control::kShareUser, "", "您好，请输入访问远程共享文件夹的用户名！", Control::kShareUser,
       false, ""},
      {Control::kSqlUser, "   ", "您好，请输入连接数据库的用户名！", Control::kSqlUser, false, ""},
      {Control::kLocalFolder, "  ", "您好，请输入在本机上的备份路径！", Control::kLocalFolder, true,
       ""},
      {Control::kLocalFolder, " \\\\server\\share ",
       "您好，本机上的备份路径，不能为网络路径，请重新输入！", Control::kLocalFolder, true,
       "\\\\server\\share"},
      {Control::kLocalFolder, kMissingFolder, "您好，本机上的备份路径无效，请重新输入！",
       Control::kLocalFolder, true, kMissingFolder},
      {Control::kShareFolder, " ", "您好，请输入远程共享文件夹的路径！", std::nullopt, false, ""},
      {Control::kShareFolder, "D:\\bak", "您好，远程共享文件夹的路径，不能为本地路径，请重新输入！",
       std::nullopt, false, "D:\\bak"},
      {Control::kShareFolder, "\\\\server\\gone",
       "您好，您输入的远程共享文件夹的路径无效，请重新输入！", std::nullopt, false,
       "\\\\server\\gone"},
      {Control::kShareFolder, "\\\\server\\readonly",
       "您好，远程共享文件夹没有读写的权限，请设置相应的权限！", std::nullopt, false,
       "\\\\server\\readonly"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.warning);
    FieldScene s;
    s.f.view.SetText(c.field, c.text);

    s.p.FieldEnter(c.field);

    EXPECT_THAT(s.f.view.messages(), ElementsAre(ShownMessage{MessageStyle::kWarning, c.warning}));
    EXPECT_EQ(s.f.view.focus(), c.focus);
    EXPECT_EQ(s.f.view.selected(), c.selected ? c.focus : std::nullopt);
    EXPECT_EQ(s.f.view.Text(c.field), c.textAfter);
  }
}

TEST(EnterChain, ALocalFolderWithoutWriteAccessIsRefused) {
  FieldScene s;
  s.f.unwritable.push_back(s.f.backupFolder);

  s.p.FieldEnter(Control::kLocalFolder);

  EXPECT_THAT(
      s.f.view.messages(),
      ElementsAre(ShownMessage{MessageStyle::kWarning,
                               "您好，本机上的备份路径没有读写的权限，请设置相应的权限！"}));
  EXPECT_EQ(s.f.view.focus(), Control::kLocalFolder);
}

TEST(FieldHandlers, ClickSelectsAndLeavingTrims) {
  FieldScene s;
  for (Control c : {Control::kServerUser, Control::kServerPassword, Control::kShareUser,
                    Control::kSharePassword, Control::kLocalFolder, Control::kShareFolder,
                    Control::kSqlPassword, Control::kOldArchivePassword,
                    Control::kNewArchivePassword, Control::kConfirmArchivePassword}) {
    s.p.FieldClick(c);
    EXPECT_EQ(s.f.view.selected(), c);
  }
  for (Control c : {Control::kServerUser, Control::kShareUser, Control::kLocalFolder,
                    Control::kShareFolder, Control::kSqlUser}) {
    s.f.view.SetText(c, " \tname\r\n");
    s.p.FieldExit(c);
    EXPECT_EQ(s.f.view.Text(c), "name");
  }
  // Passwords keep what was typed.
  s.f.view.SetText(Control::kServerPassword, " pw ");
  s.p.FieldExit(Control::kServerPassword);
  EXPECT_EQ(s.f.view.Text(Control::kServerPassword), " pw ");
}

TEST(FolderButtons, TakeOnlyFoldersOfTheirKindWithoutBlanks) {
  const char kBlank[] = "备份的目标文件夹名或路径中不能有空格，请尽量在硬盘根目录处新建备份文件夹!";
  struct Case {
    bool remote;
    const char* chosen;
    const char* textAfter;
    const char* notice;  // nullptr: none
  } cases[] = {
      {false, " /srv/bak ", "/srv/bak", nullptr},
      {false, "D:\\My Backup", "before", kBlank},
      {false, "\\\\server\\share", "before", nullptr},
      {false, "", "before", nullptr},
      {true, "\\\\server\\share", "\\\\server\\share", nullptr},
      {true, "/srv/bak", "before", nullptr},
      {true, "\\\\server\\my share", "before", kBlank},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.remote ? "remote " : "local ") + c.chosen);
    FieldScene s;
    const Control field = c.remote ? Control::kShareFolder : Control::kLocalFolder;
    s.f.view.SetText(field, "before");
    s.f.view.SetBrowseAnswer(c.chosen);

    c.remote ? s.p.BrowseShareFolderClicked() : s.p.BrowseLocalFolderClicked();

    EXPECT_EQ(s.f.view.Text(field), c.textAfter);
    EXPECT_THAT(s.f.view.browsePrompts(), ElementsAre("请选择要添加的目录"));
    if (c.notice)
      EXPECT_THAT(s.f.view.messages(), ElementsAre(ShownMessage{MessageStyle::kNotice, c.notice}));
    else
      EXPECT_TRUE(s.f.view.messages().empty());
  }
}

TEST(FieldHandlers, ResetEmptiesTheAccountAndFocusesItsUser) {
  FieldScene s;
  s.f.view.SetText(Control::kServerPassword, "pw");
  s.f.view.SetText(Control::kSharePassword, "pw");

  s.p.ResetServerAccountClicked();
  EXPECT_EQ(s.f.view.Text(Control::kServerUser), "");
  EXPECT_EQ(s.f.view.Text(Control::kServerPassword), "");
  EXPECT_EQ(s.f.view.focus(), Control::kServerUser);
  EXPECT_EQ(s.f.view.Text(Control::kShareUser), "u");

  s.p.ResetShareAccountClicked();
  EXPECT_EQ(s.f.view.Text(Control::kShareUser), "");
  EXPECT_EQ(s.f.view.Text(Control::kSharePassword), "");
  EXPECT_EQ(s.f.view.focus(), Control::kShareUser);
}

TEST(FieldHandlers, SpinFieldsAreLeftWithAWholeNumberInTheirRange) {
  struct Case {
    Control field;
    const char* typed;
    const char* shown;
  } cases[] = {
      {Control::kConnectTimeout, "0", "7"},
      {Control::kConnectTimeout, "3601", "3600"},
      {Control::kConnectTimeout, " 60 ", "60"},
      {Control::kCommandTimeout, "29", "30"},
      {Control::kCommandTimeout, "10000", "9999"},
      {Control::kKeepCount, "600", "500"},
      {Control::kKeepCount, "-3", "0"},
      {Control::kKeepCount, "99999999999999999999", "500"},
      {Control::kDaysBetweenBackups, "0", "1"},
      {Control::kDaysBetweenBackups, "31", "30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.typed));
    FieldScene s;
    s.f.view.SetText(c.field, c.typed);

    s.p.FieldExit(c.field);

    EXPECT_EQ(s.f.view.Text(c.field), c.shown);
    EXPECT_TRUE(s.f.view.messages().empty());
  }
}

// Only a whole number is put into range: any other text would become the
// minimum, and a keep count of 0 keeps every backup.
TEST(FieldHandlers, ASpinFieldLeftWithoutANumberKeepsItsValueBeforeAndWarns) {
  FieldScene s;
  {
    SettingsDatabase db(s.f.appFolder);
    BaksetRow row = db.LoadSettings();
    row.bakfilenum = 3;
    row.conout = 27;
    row.sqlout = 1800;
    row.btwdays = 2;
    db.SaveSettings(row);
  }
  ASSERT_TRUE(s.p.LoadSettingsClicked());
  s.f.view.ClearMessages();
  struct Case {
    Control field;
    const char* typed;
    const char* kept;
    const char* message;
  } cases[] = {
      {Control::kKeepCount, "3O", "3", "您好，备份个数输入非法，请重新输入！"},
      {Control::kConnectTimeout, "abc", "27",
       "您好，数据库连接超时时间输入非法，请重新输入！(建议：10-60秒)"},
      {Control::kCommandTimeout, "", "1800",
       "您好，SQL命令执行超时时间输入非法，请重新输入！(建议：2500-9000秒)"},
      {Control::kDaysBetweenBackups, "2天", "2",
       "您好，备份间隔天数输入非法，请重新输入！(有效范围：1-30天)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    s.f.view.ClearMessages();
    s.f.view.SetText(c.field, c.typed);
    s.p.FieldExit(c.field);
    EXPECT_EQ(s.f.view.Text(c.field), c.kept);
    EXPECT_THAT(s.f.view.messages(), ElementsAre(ShownMessage{MessageStyle::kWarning, c.message}));
    EXPECT_EQ(s.f.view.focus(), c.field);
  }

  // The value before is the one last accepted, and a backup started while
  // the typo stands still keeps that many.
  s.f.view.SetText(Control::kKeepCount, "5");
  s.p.FieldExit(Control::kKeepCount);
  s.f.view.SetText(Control::kKeepCount, "3O");
  s.p.CaptureBackupConfiguration();
  EXPECT_EQ(s.p.Configuration().keepCount, 5);
  s.p.FieldExit(Control::kKeepCount);
  EXPECT_EQ(s.f.view.Text(Control::kKeepCount), "5");
}

// What the job could not use is refused when the field is left, as the save
// refuses it: the warning, the field's text selected and the focus back.
TEST(FieldHandlers, LeavingATextFieldRefusesControlCharactersAndARelativeFolder) {
  struct Case {
    Control field;
    const char* typed;
    const char* message;  // nullptr: accepted
  } cases[] = {
      {Control::kServerPassword, "p\tw",
       "您好，登录服务器上Windows系统的密码中不能包含换行符、制表符等控制字符，请重新输入！"},
      {Control::kShareUser, "u\nx",
       "您好，访问远程共享文件夹的用户名中不能包含换行符、制表符等控制字符，请重新输入！"},
      {Control::kSqlPassword, "p\x7f",
       "您好，连接数据库的密码中不能包含换行符、制表符等控制字符，请重新输入！"},
      {Control::kNewArchivePassword, "a\nb",
       "您好，密码中不应该包含换行符、制表符等控制字符，请重新输入密码！"},
      {Control::kLocalFolder, "relbak",
       "您好，本机上的备份路径必须是从根目录或盘符开始的完整路径，请重新输入！"},
      {Control::kServerUser, " admin\t", nullptr},
      {Control::kSharePassword, " pw ", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    FieldScene s;
    s.f.view.ClearFocus();
    s.f.view.SetText(c.field, c.typed);

    s.p.FieldExit(c.field);

    if (c.message == nullptr) {
      EXPECT_TRUE(s.f.view.messages().empty());
      EXPECT_EQ(s.f.view.focus(), std::nullopt);
      continue;
    }
    EXPECT_THAT(s.f.view.messages(), ElementsAre(ShownMessage{MessageStyle::kWarning, c.message}));
    EXPECT_EQ(s.f.view.focus(), c.field);
    EXPECT_EQ(s.f.view.selected(), c.field);
  }
}

TEST(FieldHandlers, LeavingTheTimeOrIntervalFieldMovesTheNextBackupTime) {
  FieldScene s;
  SettingsDatabase(s.f.appFolder,
                   std::make_shared<testing::FixedClock>(LocalTime{2024, 5, 1, 9, 0, 0, 3}))
      .UpdateLastBackupDay();
  ASSERT_TRUE(s.p.LoadSettingsClicked());  // last start 2024-05-01 09:00, time 23:00:00, every day
  EXPECT_EQ(s.f.view.nextBackupText(), "下次备份时间:2024-05-02 23:00:00");

  s.f.view.SetText(Control::kBackupTime, " 7: 5: 0");
  s.p.BackupTimeLeft();
  EXPECT_EQ(s.f.view.Text(Control::kBackupTime), "07:05:00");
  // 07:05 today, the day after the last start, has gone by: owed, made now.
  EXPECT_EQ(s.f.view.nextBackupText(), "下次备份时间:2024-05-02 10:00:00");
  EXPECT_EQ(s.p.schedule().BackupTimeText(), "07:05:00");

  s.f.view.SetText(Control::kDaysBetweenBackups, "40");
  s.p.KeepCountLeft();
  EXPECT_EQ(s.f.view.Text(Control::kDaysBetweenBackups), "30");
  EXPECT_EQ(s.f.view.nextBackupText(), "下次备份时间:2024-05-31 07:05:00");

  // An invalid time is refused and changes nothing else.
  s.f.view.SetText(Control::kBackupTime, "25:00:00");
  s.p.FieldExit(Control::kBackupTime);
  EXPECT_THAT(s.f.view.messages(),
              ElementsAre(ShownMessage{MessageStyle::kWarning,
                                       "您好，定时备份时间输入非法，请重新输入！"}));
  EXPECT_EQ(s.f.view.focus(), Control::kBackupTime);
  EXPECT_EQ(s.f.view.selected(), Control::kBackupTime);
  EXPECT_EQ(s.f.view.nextBackupText(), "下次备份时间:2024-05-31 07:05:00");
  EXPECT_EQ(s.p.schedule().BackupTimeText(), "07:05:00");
}

}  // namespace
}  // namespace veltora
