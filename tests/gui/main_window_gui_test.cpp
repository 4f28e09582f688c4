// The Win32 main window driven as a user would, by window messages to its
// real controls, over the real presenter and a real settings database. The
// presenter's own rules are tested with the in-memory window; these tests
// show that each control reaches the right handler, that the window shows
// what the presenter says, and that the window's own keys and focus rules
// hold. They write screenshots of the window for a look by eye.
// clang-format off
#include <windows.h>  // before the other Windows headers, which need it
#include <commctrl.h>
#include <shlobj.h>
// clang-format on

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "base/wide_text.h"
#include "gui/main_window.h"
#include "settings/raw_db.h"
#include "support/gui_win.h"
#include "ui/presenter_fixture.h"

namespace veltora::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::FieldsAre;
using win32::MainWindow;
using win32::Part;

class MainWindowGui : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window.Create(presenter));
    window.ShowNormal();
    PumpMessages(100ms);
  }

  HWND Handle(Control control) const { return window.ControlHandle(control); }

  // The user puts the caret into a field and types its whole text.
  void Type(Control control, const std::string& text) {
    SetFocus(Handle(control));
    SendMessageW(Handle(control), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
  }

  // The key goes the way of a real one: through the dialog manager of the
  // window's loop, which must leave it to the field.
  void PressEnter(Control control) {
    PostMessageW(Handle(control), WM_KEYDOWN, VK_RETURN, 0);
    window.ProcessPendingMessages();
  }

  void Click(Part button) { SendMessageW(window.PartHandle(button), BM_CLICK, 0, 0); }

  std::vector<bool> Ticks() const {
    std::vector<bool> ticks;
    for (const AccountSetEntry& row : window.AccountRows()) ticks.push_back(row.ticked);
    return ticks;
  }

  PresenterFixture f;
  int logWindows = 0;
  MainWindow window{
      {.instance = GetModuleHandleW(nullptr), .showBackupLog = [this](HWND) { ++logWindows; }}};
  MainWindowPresenter presenter{window, f.Services()};
};

TEST_F(MainWindowGui, LeavingTheTimeFieldWithAnInvalidTimeWarnsAndTakesTheUserBack) {
  Type(Control::kBackupTime, "25:00:00");

  const std::vector<SeenBox> seen = AnswerMessageBoxes(
      [&] { SetFocus(Handle(Control::kLocalFolder)); }, ScreenshotPath("main_window_warning.bmp"));

  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "提示！");
  EXPECT_EQ(seen[0].text, "您好，定时备份时间输入非法，请重新输入！");
  EXPECT_TRUE(seen[0].topmost);
  EXPECT_EQ(GetFocus(), Handle(Control::kBackupTime));
  DWORD from = 1;
  DWORD to = 0;
  SendMessageW(Handle(Control::kBackupTime), EM_GETSEL, reinterpret_cast<WPARAM>(&from),
               reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, 8u);
}

// Keys reach the time field as the keyboard sends them (posted characters
// through the window's dialog manager): whatever is typed, the text keeps the
// shape "##:##:##" with blanks for the places not filled.
TEST_F(MainWindowGui, TheTimeFieldIsAMaskedEditThatKeepsItsShape) {
  const HWND time = Handle(Control::kBackupTime);
  const auto typeKeys = [&](const std::wstring& keys) {
    for (const wchar_t key : keys) PostMessageW(time, WM_CHAR, key, 0);
    window.ProcessPendingMessages();
  };
  const auto caret = [&] {
    DWORD from = 0;
    DWORD to = 0;
    SendMessageW(time, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    return to;
  };
  EXPECT_EQ(WindowText(time), "01:30:00");
  SetFocus(time);

  // Over the whole text: the colon ends the hours; the seconds stay blank.
  SendMessageW(time, EM_SETSEL, 0, -1);
  typeKeys(L"9:30");
  EXPECT_EQ(WindowText(time), "9 :30:  ");
  EXPECT_EQ(caret(), 6u);
  typeKeys(L"a-.\u4e00");
  EXPECT_EQ(WindowText(time), "9 :30:  ") << "letters and signs are refused";
  typeKeys(L"\b\b\b\b");
  EXPECT_EQ(WindowText(time), "  :  :  ");
  EXPECT_EQ(caret(), 0u);
  typeKeys(L"1234567890");
  EXPECT_EQ(WindowText(time), "12:34:56") << "digits skip the colons and stop at the end";
  SendMessageW(time, EM_SETSEL, 3, 3);
  PostMessageW(time, WM_KEYDOWN, VK_DELETE, 0);
  window.ProcessPendingMessages();
  EXPECT_EQ(WindowText(time), "12: 4:56");

  // A text set rather than typed takes the shape too.
  SendMessageW(time, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"7:5"));
  EXPECT_EQ(WindowText(time), "7 :5 :  ");

  // "9:30" typed from the start of the default time leaves a time that is
  // valid once the field is left.
  SendMessageW(time, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"01:30:00"));
  SendMessageW(time, EM_SETSEL, 0, 0);
  typeKeys(L"9:30");
  EXPECT_EQ(WindowText(time), "9 :30:00");
  const std::vector<SeenBox> seen =
      AnswerMessageBoxes([&] { SetFocus(Handle(Control::kLocalFolder)); });
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(WindowText(time), "09:30:00");
}

TEST_F(MainWindowGui, SaveStoresWhatTheControlsHoldAndTheTopStripShowsTheNextBackup) {
  std::filesystem::create_directories(f.accountFolder);
  std::filesystem::create_directories(f.backupFolder);
  WriteFile(f.accountFolder + "/a.AIS", "a");
  WriteFile(f.accountFolder + "/b.AIS", "b");
  // What choosing the account folder would have listed.
  window.SetText(Control::kAccountFolder, f.accountFolder);
  window.SetAccountRows({{false, "", "a.AIS", "a.AIS"}, {false, "", "b.AIS", "b.AIS"}});
  LVITEMW tick{};
  tick.stateMask = LVIS_STATEIMAGEMASK;
  tick.state = INDEXTOSTATEIMAGEMASK(2);
  SendMessageW(Handle(Control::kAccountSetList), LVM_SETITEMSTATE, 1,
               reinterpret_cast<LPARAM>(&tick));
  Type(Control::kServerUser, "admin");
  Type(Control::kLocalFolder, f.backupFolder);
  Type(Control::kDaysBetweenBackups, "3");
  Type(Control::kBackupTime, " 7:5:0");

  // Clicking the button leaves the time field first.
  const std::vector<SeenBox> seen = AnswerMessageBoxes([&] { Click(Part::kSaveSettings); });

  EXPECT_TRUE(seen.empty()) << seen.front().text;
  const BaksetRow stored = f.Db()->LoadSettings();
  EXPECT_EQ(stored.accountDir, f.accountFolder);
  EXPECT_EQ(stored.localuser, "admin");
  EXPECT_EQ(stored.localDir, f.backupFolder);
  EXPECT_EQ(stored.baktime, "07:05:00");
  EXPECT_EQ(stored.btwdays, 3);
  EXPECT_EQ(stored.rarlevel, "标准");
  EXPECT_THAT(f.Db()->LoadAccountList(), ElementsAre(AccountListRow{"", "b.AIS", "b.AIS"}));
  EXPECT_TRUE(f.state.configured);
  EXPECT_EQ(WindowText(Handle(Control::kBackupTime)), "07:05:00");
  EXPECT_EQ(WindowText(window.PartHandle(win32::Part::kNextBackupLabel)),
            "下次备份时间:2024-05-03 07:05:00");
}

TEST_F(MainWindowGui, EnterWalksTheChainAndTheFocusLeavingAFieldTrimsIt) {
  Type(Control::kShareUser, "  backup  ");
  PressEnter(Control::kShareUser);
  EXPECT_EQ(WindowText(Handle(Control::kShareUser)), "backup");
  EXPECT_EQ(GetFocus(), Handle(Control::kSharePassword));

  PressEnter(Control::kSharePassword);
  EXPECT_EQ(GetFocus(), Handle(Control::kGuardSqlServer));
  PressEnter(Control::kGuardSqlServer);
  EXPECT_EQ(GetFocus(), Handle(Control::kLocalFolder));

  Type(Control::kServerUser, " admin\t");
  SetFocus(Handle(Control::kServerPassword));
  EXPECT_EQ(WindowText(Handle(Control::kServerUser)), "admin");
}

TEST_F(MainWindowGui, TabWalksTheControlsInTheirKeyboardOrder) {
  const Part order[] = {
      Part::kEdition,
      Part::kAccountFolder,
      Part::kAccountFolderBrowse,
      Part::kAccountSetList,
      Part::kServerUser,
      Part::kServerPassword,
      Part::kServerAccountReset,
      Part::kShareUser,
      Part::kSharePassword,
      Part::kShareAccountReset,
      Part::kDaysBetweenBackups,
      Part::kBackupTime,
      Part::kLocalFolder,
      Part::kLocalFolderBrowse,
      Part::kShareBackup,
      Part::kShareFolder,
      Part::kShareFolderBrowse,
      Part::kKeepCount,
      Part::kCompressionLevel,
      Part::kConnectTimeout,
      Part::kCommandTimeout,
      Part::kGuardSqlServer,
      Part::kPasswordGroup,
      Part::kBackUpNow,
      Part::kLoadSettings,
      Part::kSaveSettings,
      Part::kBackupLog,
      Part::kExitProgram,
      Part::kAutostart,
      Part::kEdition,
  };
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    SCOPED_TRACE(WindowText(window.PartHandle(order[i])) + " #" + std::to_string(i));
    EXPECT_EQ(GetNextDlgTabItem(window.Handle(), window.PartHandle(order[i]), FALSE),
              window.PartHandle(order[i + 1]));
  }
  // The open password group's fields follow its tick, before the local
  // backup switch (which cannot be changed, so it takes no focus).
  SendMessageW(Handle(Control::kPasswordGroup), BM_CLICK, 0, 0);
  EXPECT_EQ(GetNextDlgTabItem(window.Handle(), Handle(Control::kPasswordGroup), FALSE),
            Handle(Control::kNewArchivePassword));
  EXPECT_EQ(GetNextDlgTabItem(window.Handle(), Handle(Control::kConfirmArchivePassword), FALSE),
            window.PartHandle(Part::kBackUpNow));
}

TEST_F(MainWindowGui, SpinFieldsArePutBackIntoTheirRangeWhenLeft) {
  const struct {
    Control field;
    std::string typed;
    std::string shown;
  } cases[] = {
      {Control::kConnectTimeout, "0", "7"},
      {Control::kCommandTimeout, "12345", "9999"},
      {Control::kKeepCount, "600", "500"},
      {Control::kDaysBetweenBackups, "0", "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    Type(c.field, c.typed);
    SetFocus(Handle(Control::kServerUser));
    EXPECT_EQ(WindowText(Handle(c.field)), c.shown);
  }
}

// A keep count typed as "3O" never becomes 0 (keep everything): leaving the
// field brings back the count before, with a warning, and the user is back.
TEST_F(MainWindowGui, AKeepCountThatIsNoNumberKeepsTheCountBeforeWhenLeft) {
  {
    auto db = f.Db();
    BaksetRow row = db->LoadSettings();
    row.bakfilenum = 3;
    db->SaveSettings(row);
  }
  AnswerMessageBoxes([&] { ASSERT_TRUE(presenter.LoadSettingsClicked()); });
  ASSERT_EQ(WindowText(Handle(Control::kKeepCount)), "3");
  Type(Control::kKeepCount, "3O");

  const std::vector<SeenBox> seen =
      AnswerMessageBoxes([&] { SetFocus(Handle(Control::kServerUser)); });

  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "您好，备份个数输入非法，请重新输入！");
  EXPECT_EQ(WindowText(Handle(Control::kKeepCount)), "3");
  EXPECT_EQ(GetFocus(), Handle(Control::kKeepCount));
}

TEST_F(MainWindowGui, ListTicksAreReadBackAndTheContextMenuSetsThem) {
  window.SetAccountRows({{false, "01", "甲公司", "AIS01"}, {false, "02", "乙公司", "AIS02"}});
  LVITEMW tick{};
  tick.stateMask = LVIS_STATEIMAGEMASK;
  tick.state = INDEXTOSTATEIMAGEMASK(2);
  SendMessageW(Handle(Control::kAccountSetList), LVM_SETITEMSTATE, 0,
               reinterpret_cast<LPARAM>(&tick));
  EXPECT_THAT(window.AccountRows(), ElementsAre(FieldsAre(true, "01", "甲公司", "AIS01"),
                                                FieldsAre(false, "02", "乙公司", "AIS02")));

  // The menu's items in their order, each sent as the menu sends it.
  HMENU menu = window.AccountListMenu();
  ASSERT_EQ(GetMenuItemCount(menu), 4);
  EXPECT_EQ(GetMenuState(menu, 2, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
  const struct {
    int position;
    std::string text;
    std::vector<bool> ticks;
  } items[] = {
      {3, "反选", {false, true}},
      {0, "全选", {true, true}},
      {1, "全否", {false, false}},
  };
  for (const auto& item : items) {
    SCOPED_TRACE(item.text);
    wchar_t text[32] = {};
    GetMenuStringW(menu, item.position, text, 32, MF_BYPOSITION);
    EXPECT_EQ(Narrow(text), item.text);
    SendMessageW(window.Handle(), WM_COMMAND, GetMenuItemID(menu, item.position), 0);
    EXPECT_EQ(Ticks(), item.ticks);
  }
}

TEST_F(MainWindowGui, MinimisingOrClosingHidesToTheTrayAndTheTrayMenuBringsTheWindowBack) {
  HMENU tray = window.TrayMenu();
  wchar_t text[32] = {};
  GetMenuStringW(tray, 0, text, 32, MF_BYPOSITION);
  EXPECT_EQ(Narrow(text), "设置......");

  const struct {
    const char* how;
    UINT message;
    WPARAM wParam;
  } ways[] = {{"minimise", WM_SYSCOMMAND, SC_MINIMIZE}, {"close", WM_CLOSE, 0}};
  for (const auto& way : ways) {
    SCOPED_TRACE(way.how);
    SendMessageW(window.Handle(), way.message, way.wParam, 0);
    ASSERT_TRUE(IsWindow(window.Handle()));
    EXPECT_FALSE(IsWindowVisible(window.Handle()));

    SendMessageW(window.Handle(), WM_COMMAND, GetMenuItemID(tray, 0), 0);
    EXPECT_TRUE(IsWindowVisible(window.Handle()));
    EXPECT_FALSE(IsIconic(window.Handle()));
  }
  EXPECT_TRUE(f.log.lines().empty());
}

TEST_F(MainWindowGui, TheTrayWarnsWhileATickedSetHasNoRecentCompleteBackup) {
  // Configured: a.AIS chosen, never backed up; the program sits in the tray.
  std::filesystem::create_directories(f.accountFolder);
  WriteFile(f.accountFolder + "\\a.AIS", "ledger");
  {
    auto db = f.Db();
    BaksetRow row = db->LoadSettings();
    row.accountDir = f.accountFolder;
    row.btwdays = 1;
    db->SaveSettings(row);
    db->RewriteAccountList({{"", "a.AIS", "a.AIS"}});
  }
  ASSERT_TRUE(presenter.OnStartUp());
  const std::wstring normalTip = window.TrayTip();
  const HICON normalIcon = window.TrayIcon();

  presenter.OnTimerTick();
  EXPECT_EQ(window.TrayIcon(), LoadIconW(nullptr, IDI_WARNING));
  EXPECT_NE(window.TrayIcon(), normalIcon);
  EXPECT_EQ(Narrow(window.TrayTip()), "备份告警：a.AIS(从未完整备份)");
  EXPECT_EQ(window.TrayBalloons(), 1);

  // A run ends with a complete backup: the normal icon and tip come back.
  f.state.backupRunning = true;
  presenter.OnTimerTick();
  f.Db()->InsertLocalResult(f.accountFolder + "\\a.AIS", f.backupFolder + "\\a20240502100000", "",
                            true);
  RawDb(f.appFolder + "\\Setlog.dll").Exec("update baklog set baktime='2024-05-02 10:00:00'");
  f.state.backupRunning = false;
  presenter.OnTimerTick();
  EXPECT_EQ(window.TrayIcon(), normalIcon);
  EXPECT_EQ(window.TrayTip(), normalTip);
  EXPECT_EQ(window.TrayBalloons(), 1);
}

TEST_F(MainWindowGui, TheMessageLoopRunsUntilTheProgramIsQuit) {
  const std::vector<SeenBox> seen = AnswerMessageBoxes([&] { ASSERT_TRUE(presenter.OnStartUp()); });
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "您好，您尚未进行备份设置，请进行相关的设置！");

  PostMessageW(window.PartHandle(Part::kExitProgram), BM_CLICK, 0, 0);
  EXPECT_EQ(window.RunMessageLoop(), 0);

  EXPECT_EQ(window.Handle(), nullptr);
  EXPECT_THAT(f.log.lines(), ElementsAre("程序启动成功！", "程序停止成功！", "解除进程保护成功！"));
}

TEST_F(MainWindowGui, ButtonsAndTickBoxesReachTheirHandlersButTheWindowsOwnChangesDoNot) {
  window.SetChecked(Control::kAutostart, true);
  EXPECT_TRUE(f.autostartCalls.empty());
  SendMessageW(Handle(Control::kAutostart), BM_CLICK, 0, 0);
  EXPECT_THAT(f.autostartCalls, ElementsAre("remove"));

  Type(Control::kServerUser, "someone");
  Click(Part::kServerAccountReset);
  EXPECT_EQ(WindowText(Handle(Control::kServerUser)), "");
  EXPECT_EQ(GetFocus(), Handle(Control::kServerUser));

  Click(Part::kBackupLog);
  EXPECT_EQ(logWindows, 1);

  // The password group's tick opens its new and confirm fields.
  SendMessageW(Handle(Control::kPasswordGroup), BM_CLICK, 0, 0);
  EXPECT_TRUE(IsWindowEnabled(Handle(Control::kNewArchivePassword)));
  EXPECT_TRUE(IsWindowEnabled(Handle(Control::kConfirmArchivePassword)));
  EXPECT_FALSE(IsWindowEnabled(Handle(Control::kOldArchivePassword)));  // no password in force
}

// The answering machine takes the picker's first choice, the desktop: a
// local folder, which only the local folder's field takes.
TEST_F(MainWindowGui, TheFolderPickersChoiceGoesIntoTheFieldThatTakesIt) {
  wchar_t desktop[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop), S_OK);

  EXPECT_EQ(AnswerMessageBoxes([&] { Click(Part::kLocalFolderBrowse); }).size(), 1u);
  EXPECT_EQ(WindowText(Handle(Control::kLocalFolder)), Narrow(desktop));

  EXPECT_EQ(AnswerMessageBoxes([&] { Click(Part::kShareFolderBrowse); }).size(), 1u);
  EXPECT_EQ(WindowText(Handle(Control::kShareFolder)), "");
}

TEST_F(MainWindowGui, TheSessionMayNotEndWhileABackupRuns) {
  f.state.backupRunning = true;
  EXPECT_EQ(SendMessageW(window.Handle(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
  EXPECT_THAT(f.log.lines(), ElementsAre("操作系统试图退出，但数据库备份线程正在运行，禁止退出！"));

  f.state.backupRunning = false;
  EXPECT_EQ(SendMessageW(window.Handle(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
}

TEST_F(MainWindowGui, MovingToAScreenOfAnotherDpiLaysTheWindowOutAgainAtItsScale) {
  const UINT dpi = window.Dpi() * 3 / 2;
  RECT outer{};
  GetWindowRect(window.Handle(), &outer);
  RECT client{};
  GetClientRect(window.Handle(), &client);
  // The system suggests the frame for the new client size.
  RECT suggested{outer.left, outer.top,
                 outer.right + MulDiv(767, static_cast<int>(dpi), 96) - client.right,
                 outer.bottom + MulDiv(618, static_cast<int>(dpi), 96) - client.bottom};
  SendMessageW(window.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
               reinterpret_cast<LPARAM>(&suggested));

  EXPECT_EQ(window.Dpi(), dpi);
  GetClientRect(window.Handle(), &client);
  EXPECT_EQ(client.right, MulDiv(767, static_cast<int>(dpi), 96));
  RECT button{};
  GetWindowRect(window.PartHandle(Part::kSaveSettings), &button);
  EXPECT_EQ(button.right - button.left, MulDiv(182, static_cast<int>(dpi), 96));
  EXPECT_EQ(button.bottom - button.top, MulDiv(40, static_cast<int>(dpi), 96));
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(
                 SendMessageW(window.PartHandle(Part::kSaveSettings), WM_GETFONT, 0, 0)),
             sizeof(font), &font);
  EXPECT_EQ(font.lfHeight, -MulDiv(12, static_cast<int>(dpi), 96));
}

// Pictures of both pages to look at, at the screen's DPI; the window's size
// is the one check.
TEST_F(MainWindowGui, Screenshots) {
  const UINT dpi = window.Dpi();
  RECT client{};
  GetClientRect(window.Handle(), &client);
  EXPECT_EQ(client.right, MulDiv(767, static_cast<int>(dpi), 96));
  EXPECT_EQ(client.bottom, MulDiv(618, static_cast<int>(dpi), 96));
  const LONG style = GetWindowLongW(window.Handle(), GWL_STYLE);
  EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  const std::string suffix = dpi == 96 ? ".bmp" : "_" + std::to_string(dpi) + "dpi.bmp";

  window.SetText(Control::kAccountFolder, "D:\\KIS\\账套");
  window.SetAccountRows(
      {{true, "", "甲公司.AIS", "甲公司.AIS"}, {false, "", "乙公司.AIS", "乙公司.AIS"}});
  window.SetText(Control::kLocalFolder, "D:\\备份");
  window.SetNextBackupText("下次备份时间:2024-05-02 23:00:00");
  presenter.OnTimerTick();
  PumpMessages(300ms);
  EXPECT_TRUE(SaveScreenshot(window.Handle(), ScreenshotPath("main_window_file_page" + suffix)));

  window.SetItemIndex(Control::kEdition, 3);
  presenter.EditionChanged();
  window.SetAccountRows({{true, "001", "甲公司", "AIS20240101"},
                         {false, "002", "乙公司", "AIS20240102"},
                         {true, "003", "丙公司", "AIS20240103"}});
  window.SetText(Control::kSqlUser, "sa");
  window.SetChecked(Control::kPasswordGroup, true);
  presenter.PasswordGroupTicked();
  f.state.backupRunning = true;
  presenter.OnTimerTick();
  PumpMessages(300ms);
  EXPECT_TRUE(SaveScreenshot(window.Handle(), ScreenshotPath("main_window_sql_page" + suffix)));
}

}  // namespace
}  // namespace veltora::testing
