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
    f.view.SetText(Control::kCWinUser, "u");
    f.view.SetText(Control::kClientPath, "\\\\server\\share");
    f.view.SetText(Control::kDataUser, "sa");
  }
  PresenterFixture f;
  MainWindowPresenter p{f.view, f.Services()};
};

TEST(EnterChain, MovesTheFocusAlongTheSettings) {
  const struct {
    Control from;
    Control to;
  } chain[] = {
      {Control::kDataUser, Control::kDataPassWord}, {Control::kDataList, Control::kSWinUser},
      {Control::kSWinUser, Control::kSWinPassword}, {Control::kSWinPassword, Control::kCWinUser},
      {Control::kCWinUser, Control::kCWinPassword}, {Control::kCWinPassword, Control::kSafeCheck},
      {Control::kSafeCheck, Control::kServerPath},  {Control::kChkServer, Control::kServerPath},
      {Control::kChkShare, Control::kServerPath},   {Control::kDTime, Control::kServerPath},
      {Control::kServerPath, Control::kClientPath}, {Control::kClientPath, Control::kBakNum},
  };
  for (const auto& step : chain) {
    SCOPED_TRACE(static_cast<int>(step.from));
    FieldScene s;

    s.p.FieldEnter(step.from);

    EXPECT_EQ(s.f.view.focus(), step.to);
    EXPECT_TRUE(s.f.view.messages().empty());
  }
}

TEST(EnterChain, RefusesAnEmptyUserOrABadFolderAndTrimsOnTheWay) {
  struct Case {
    Control field;
    const char* text;
    const char* warning;
    std::optional<Control> focus;  // where the focus is afterwards
    bool selected;
    const char* textAfter;
  } cases[] = {
      {Control::kSWinUser, " \t", "您好，请输入登录服务器上Windows系统的用户名！",
       Control::kSWinUser, false, ""},
      {Control::kCWinUser, "", "您好，请输入访问远程共享文件夹的用户名！", Control::kCWinUser,
       false, ""},
      {Control::kDataUser, "   ", "您好，请输入连接数据库的用户名！", Control::kDataUser, false,
       ""},
      {Control::kServerPath, "  ", "您好，请输入在本机上的备份路径！", Control::kServerPath, true,
       ""},
      {Control::kServerPath, " \\\\server\\share ",
       "您好，本机上的备份路径，不能为网络路径，请重新输入！", Control::kServerPath, true,
       "\\\\server\\share"},
      {Control::kServerPath, "/no/such/folder", "您好，本机上的备份路径无效，请重新输入！",
       Control::kServerPath, true, "/no/such/folder"},
      {Control::kClientPath, " ", "您好，请输入远程共享文件夹的路径！", std::nullopt, false, ""},
      {Control::kClientPath, "D:\\bak", "您好，远程共享文件夹的路径，不能为本地路径，请重新输入！",
       std::nullopt, false, "D:\\bak"},
      {Control::kClientPath, "\\\\server\\gone",
       "您好，您输入的远程共享文件夹的路径无效，请重新输入！", std::nullopt, false,
       "\\\\server\\gone"},
      {Control::kClientPath, "\\\\server\\readonly",
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

  s.p.FieldEnter(Control::kServerPath);

  EXPECT_THAT(
      s.f.view.messages(),
      ElementsAre(ShownMessage{MessageStyle::kWarning,
                               "您好，本机上的备份路径没有读写的权限，请设置相应的权限！"}));
  EXPECT_EQ(s.f.view.focus(), Control::kServerPath);
}

TEST(FieldHandlers, ClickSelectsAndLeavingTrims) {
  FieldScene s;
  for (Control c : {Control::kSWinUser, Control::kSWinPassword, Control::kCWinUser,
                    Control::kCWinPassword, Control::kServerPath, Control::kClientPath,
                    Control::kDataPassWord, Control::kROPWD, Control::kRNPWD, Control::kRQPWD}) {
    s.p.FieldClick(c);
    EXPECT_EQ(s.f.view.selected(), c);
  }
  for (Control c : {Control::kSWinUser, Control::kCWinUser, Control::kServerPath,
                    Control::kClientPath, Control::kDataUser}) {
    s.f.view.SetText(c, " \tname\r\n");
    s.p.FieldExit(c);
    EXPECT_EQ(s.f.view.Text(c), "name");
  }
  // Passwords keep what was typed.
  s.f.view.SetText(Control::kSWinPassword, " pw ");
  s.p.FieldExit(Control::kSWinPassword);
  EXPECT_EQ(s.f.view.Text(Control::kSWinPassword), " pw ");
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
    const Control field = c.remote ? Control::kClientPath : Control::kServerPath;
    s.f.view.SetText(field, "before");
    s.f.view.SetBrowseAnswer(c.chosen);

    c.remote ? s.p.ClientBrowerClick() : s.p.ServerBrowerClick();

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
  s.f.view.SetText(Control::kSWinPassword, "pw");
  s.f.view.SetText(Control::kCWinPassword, "pw");

  s.p.SWinCZClick();
  EXPECT_EQ(s.f.view.Text(Control::kSWinUser), "");
  EXPECT_EQ(s.f.view.Text(Control::kSWinPassword), "");
  EXPECT_EQ(s.f.view.focus(), Control::kSWinUser);
  EXPECT_EQ(s.f.view.Text(Control::kCWinUser), "u");

  s.p.CWinCZClick();
  EXPECT_EQ(s.f.view.Text(Control::kCWinUser), "");
  EXPECT_EQ(s.f.view.Text(Control::kCWinPassword), "");
  EXPECT_EQ(s.f.view.focus(), Control::kCWinUser);
}

TEST(FieldHandlers, SpinFieldsAreLeftWithAWholeNumberInTheirRange) {
  struct Case {
    Control field;
    const char* typed;
    const char* shown;
  } cases[] = {
      {Control::kLJCS, "0", "7"},
      {Control::kLJCS, "3601", "3600"},
      {Control::kLJCS, "abc", "7"},
      {Control::kLJCS, " 60 ", "60"},
      {Control::kZXCS, "29", "30"},
      {Control::kZXCS, "10000", "9999"},
      {Control::kBakNum, "600", "500"},
      {Control::kBakNum, "-3", "0"},
      {Control::kBakNum, "99999999999999999999", "500"},
      {Control::kBtDays, "0", "1"},
      {Control::kBtDays, "31", "30"},
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

TEST(FieldHandlers, LeavingTheTimeOrIntervalFieldMovesTheNextBackupTime) {
  FieldScene s;
  SettingsDatabase(s.f.appFolder,
                   std::make_shared<testing::FixedClock>(LocalTime{2024, 5, 1, 9, 0, 0, 3}))
      .UpdateLastBackupDay();
  ASSERT_TRUE(s.p.BtnLoadClick());  // last start 2024-05-01 09:00, time 23:00:00, every day
  EXPECT_EQ(s.f.view.nextBackupText(), "下次备份时间:2024-05-02 23:00:00");

  s.f.view.SetText(Control::kDTime, " 7: 5: 0");
  s.p.DTimeExit();
  EXPECT_EQ(s.f.view.Text(Control::kDTime), "07:05:00");
  EXPECT_EQ(s.f.view.nextBackupText(), "下次备份时间:2024-05-03 07:05:00");
  EXPECT_EQ(s.p.schedule().BackupTimeText(), "07:05:00");

  s.f.view.SetText(Control::kBtDays, "40");
  s.p.BakNumEditExit();
  EXPECT_EQ(s.f.view.Text(Control::kBtDays), "30");
  EXPECT_EQ(s.f.view.nextBackupText(), "下次备份时间:2024-05-31 07:05:00");

  // An invalid time is refused and changes nothing else.
  s.f.view.SetText(Control::kDTime, "25:00:00");
  s.p.FieldExit(Control::kDTime);
  EXPECT_THAT(s.f.view.messages(),
              ElementsAre(ShownMessage{MessageStyle::kWarning,
                                       "您好，定时备份时间输入非法，请重新输入！"}));
  EXPECT_EQ(s.f.view.focus(), Control::kDTime);
  EXPECT_EQ(s.f.view.selected(), Control::kDTime);
  EXPECT_EQ(s.f.view.nextBackupText(), "下次备份时间:2024-05-31 07:05:00");
  EXPECT_EQ(s.p.schedule().BackupTimeText(), "07:05:00");
}

}  // namespace
}  // namespace veltora
