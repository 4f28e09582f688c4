// The account-set list: the edition, the account folder, the SQL editions'
// catalogue on the stand-in SQL Server, and the tick commands.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ui/presenter_fixture.h"

namespace veltora {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::PresenterFixture;

std::vector<std::string> Shown(const std::vector<AccountSetEntry>& rows) {
  std::vector<std::string> out;
  for (const auto& r : rows) out.push_back((r.ticked ? "[x] " : "[ ] ") + r.number + " " + r.name);
  return out;
}

TEST(AccountSets, AnotherEditionEmptiesTheListAndShowsItsPage) {
  struct Case {
    int edition;
    AccountPage page;
    int numberWidth;
  } cases[] = {{3, AccountPage::kSqlServer, 100},
               {2, AccountPage::kSqlServer, 100},
               {1, AccountPage::kFolder, 0},
               {0, AccountPage::kFolder, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edition);
    PresenterFixture f;
    MainWindowPresenter p(f.view, f.Services());
    f.view.SetAccountRows({{true, "", "a.AIS", "a.AIS"}});
    f.view.SetItemIndex(Control::kEdition, c.edition);

    p.EditionChanged();

    EXPECT_EQ(f.view.page(), c.page);
    EXPECT_EQ(f.view.numberColumnWidth(), c.numberWidth);
    EXPECT_THAT(f.view.AccountRows(), IsEmpty());
  }
}

TEST(AccountSets, BrowsingListsTheFoldersAisFilesUnticked) {
  PresenterFixture f;
  const std::string folder = f.dir / "sets";
  std::filesystem::create_directories(folder + "/X.AIS");  // a folder, not an account set
  testing::WriteFile(folder + "/A.AIS", "a");
  testing::WriteFile(folder + "/b.ais", "b");
  testing::WriteFile(folder + "/C.txt", "c");
  f.Db()->RewriteAccountList({{"", "A.AIS", "A.AIS"}});
  MainWindowPresenter p(f.view, f.Services());
  f.view.SetAccountRows({{true, "", "old.AIS", "old.AIS"}});

  f.view.SetBrowseAnswer(" " + folder + " ");
  p.BrowseAccountFolderClicked();

  EXPECT_THAT(f.view.browsePrompts(), ElementsAre("请选择要添加的目录"));
  EXPECT_EQ(f.view.Text(Control::kAccountFolder), folder);
  EXPECT_THAT(Shown(f.view.AccountRows()), ElementsAre("[ ]  A.AIS", "[ ]  b.ais"));
  EXPECT_EQ(f.view.AccountRows()[0].database, "A.AIS");
  EXPECT_EQ(f.view.numberColumnWidth(), 0);

  // Cancelled, or a share: nothing changes.
  for (const char* answer : {"", "\\\\server\\sets"}) {
    f.view.SetBrowseAnswer(answer);
    p.BrowseAccountFolderClicked();
    EXPECT_EQ(f.view.Text(Control::kAccountFolder), folder);
    EXPECT_EQ(f.view.AccountRows().size(), 2u);
  }
}

TEST(AccountSets, TheCatalogueIsListedInNumberOrderWithTheStoredNumbersTicked) {
  PresenterFixture f;
  f.MakeSqlServer("AcctCtl", {{false, "003", "Gamma", "AIS003"},
                              {false, "001", "Alpha", "AIS001"},
                              {false, "002", "Beta", "AIS002"}});
  f.Db()->RewriteAccountList({{"002", "Beta", "AIS002"}});
  MainWindowPresenter p(f.view, f.Services());
  f.view.SetItemIndex(Control::kEdition, 2);
  f.view.SetText(Control::kSqlUser, " sa ");
  f.view.SetText(Control::kSqlPassword, f.sqlPassword);

  p.FieldEnter(Control::kSqlPassword);  // Enter in the password box lists too

  EXPECT_THAT(Shown(f.view.AccountRows()),
              ElementsAre("[ ] 001 Alpha", "[x] 002 Beta", "[ ] 003 Gamma"));
  EXPECT_EQ(f.view.AccountRows()[1].database, "AIS002");
  EXPECT_EQ(f.view.Text(Control::kSqlUser), "sa");
  EXPECT_EQ(f.view.numberColumnWidth(), 100);
  EXPECT_EQ(f.ensureCalls, 1);
  EXPECT_TRUE(f.view.messages().empty());
}

TEST(AccountSets, ACatalogueThatCannotBeListedIsToldAndEmptiesTheList) {
  struct Case {
    const char* name;
    int edition;
    std::string user;
    std::string password;
    MessageStyle style;
    std::string text;
  };
  const Case cases[] = {
      {"no catalogue", 3, "sa", "pw'1", MessageStyle::kNotice,
       "您好，没有找到您电脑上有安装金蝶K3系统的账套文件。"},
      {"no catalogue of this edition", 2, "sa", "pw'1", MessageStyle::kNotice,
       "您好，没有找到您电脑上有安装金蝶KIS专业版的账套文件。"},
      {"wrong password", 3, "sa", "PW'1", MessageStyle::kWarning,
       "您好，程序无法与数据库建立连接，请检查用户名或密码是否输入有误，或者SQL "
       "Server服务是否启动！\r发生错误可能的原因为：Login failed for user 'sa'."},
      {"no user", 3, " ", "pw'1", MessageStyle::kWarning, "您好，请输入连接数据库的用户名！"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PresenterFixture f;
    f.MakeSqlServer();
    MainWindowPresenter p(f.view, f.Services());
    f.view.SetAccountRows({{true, "009", "Old", "Old"}});
    f.view.SetItemIndex(Control::kEdition, c.edition);
    f.view.SetText(Control::kSqlUser, c.user);
    f.view.SetText(Control::kSqlPassword, c.password);

    p.ListSqlAccountSetsClicked();

    EXPECT_THAT(f.view.messages(), ElementsAre(ShownMessage{c.style, c.text}));
    EXPECT_THAT(f.view.AccountRows(), IsEmpty());
  }
}

TEST(AccountSets, TheTickCommandsActOnEveryEntryAndLeaveAnEmptyListAlone) {
  struct Case {
    const char* name;
    void (MainWindowPresenter::*command)();
    std::vector<std::string> after;
  } cases[] = {
      {"全选", &MainWindowPresenter::TickAllClicked, {"[x]  a", "[x]  b"}},
      {"全否", &MainWindowPresenter::TickNoneClicked, {"[ ]  a", "[ ]  b"}},
      {"反选", &MainWindowPresenter::InvertTicksClicked, {"[ ]  a", "[x]  b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PresenterFixture f;
    MainWindowPresenter p(f.view, f.Services());
    (p.*c.command)();
    EXPECT_THAT(f.view.AccountRows(), IsEmpty());

    f.view.SetAccountRows({{true, "", "a", "a"}, {false, "", "b", "b"}});
    (p.*c.command)();
    EXPECT_EQ(Shown(f.view.AccountRows()), c.after);
  }
}

}  // namespace
}  // namespace veltora
