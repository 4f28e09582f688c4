// The backup log window driven through its real controls: the list it shows,
// its context menu, its close button, its modality and its refusal, and a
// row's restore from a backup the job made.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/path.h"
#include "base/wide_text.h"
#include "engine/backup_job.h"
// Whole before <windows.h>, whose DeleteFile macro would rename one half of
// the file systems' member.
#include "files/run_file_systems.h"
#include "gui/backup_log_window.h"
#include "gui/dpi.h"
#include "machine/background_thread.h"
#include "machine/backup_composition.h"
#include "settings/raw_db.h"
#include "settings/settings_database.h"
#include "settings/sqlite_backup_records.h"
#include "sqlserver/standin_sql_server.h"
#include "support/backup_services.h"
#include "support/fakes.h"
#include "support/gui_win.h"
#include "support/temp_dir.h"

namespace veltora::win32 {
namespace {

using namespace std::chrono_literals;
using testing::AnswerMessageBoxes;
using testing::PumpMessages;
using testing::RawDb;
using testing::SaveScreenshot;
using testing::ScreenshotPath;
using testing::TempDir;
using testing::WindowText;

std::string CellText(HWND list, int row, int column) {
  wchar_t buffer[512] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = buffer;
  item.cchTextMax = 512;
  ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return Narrow(buffer);
}

int RowCount(HWND list) { return static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

// The log window of this thread, if one exists (shown or not).
HWND FindLogWindow() { return ::FindWindowW(nullptr, L"备份日志"); }

class BackupLogWindowTest : public ::testing::Test {
 protected:
  BackupLogWindowTest() {
    std::filesystem::create_directories(app_);
    InstallSettingsDatabase(VELTORA_BUILT_SETTINGS_DB, app_);
    owner_ = ::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                               200, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  }
  ~BackupLogWindowTest() override { ::DestroyWindow(owner_); }

  BackupLogServices Opener() {
    return {[this] { return std::make_unique<SettingsDatabase>(app_); }, std::nullopt, {}};
  }
  RawDb Raw() const { return RawDb(SettingsDatabasePath(app_)); }
  void AddRow(const std::string& account, const std::string& file, const std::string& time,
              const std::string& remark, const std::string& password) {
    const auto quoted = [](std::string text) {
      for (std::size_t at = text.find('\''); at != std::string::npos; at = text.find('\'', at + 2))
        text.insert(at, 1, '\'');
      return "'" + text + "'";
    };
    Raw().Exec("insert into baklog(accountname, localbakfile, baktime, bz, rarpwd) values(" +
               quoted(account) + "," + quoted(file) + "," + quoted(time) + "," + quoted(remark) +
               "," + quoted(password) + ")");
  }

  TempDir dir_;
  std::string app_ = dir_ / "app";
  HWND owner_ = nullptr;
  HINSTANCE instance_ = ::GetModuleHandleW(nullptr);
};

TEST_F(BackupLogWindowTest, ShowsTheTrimmedTableNewestFirstUnderItsColumns) {
  {
    RawDb raw = Raw();
    raw.Exec("BEGIN");
    for (int id = 1; id <= 2499; ++id)
      raw.Exec("insert into baklog(localbakfile) values('f" + std::to_string(id) + "')");
    raw.Exec("COMMIT");
  }
  AddRow("甲公司", "C:\\bak\\甲公司20240502100000.7z", "2024-05-02 10:00:00", "上传失败", "p'w");

  BackupLogWindow window(instance_, owner_, Opener());
  ASSERT_TRUE(window.Open());
  const HWND hwnd = window.Handle();
  const HWND list = window.ListHandle();
  EXPECT_EQ(WindowText(hwnd), "备份日志");
  EXPECT_TRUE(::IsWindowVisible(hwnd));
  EXPECT_FALSE(::IsWindowEnabled(owner_)) << "modal over its owner";

  const UINT dpi = DpiOf(hwnd);
  RECT client{};
  ::GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, Scale(794, dpi));
  EXPECT_EQ(client.bottom, Scale(529, dpi));

  struct Column {
    const char* title;
    int width;
  };
  const Column columns[] = {
      {"账套名", 140}, {"备份文件", 305}, {"备份时间", 127}, {"备注", 100}, {"压缩密码", 70}};
  // The row indicator comes first, without a title.
  const HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
  ASSERT_EQ(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 6);
  for (int i = 0; i < 6; ++i) {
    const Column expected = i == 0 ? Column{"", 11} : columns[i - 1];
    SCOPED_TRACE(expected.title);
    wchar_t title[64] = {};
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH;
    c.pszText = title;
    c.cchTextMax = 64;
    ASSERT_TRUE(
        ::SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&c)));
    EXPECT_EQ(Narrow(title), expected.title);
    EXPECT_EQ(c.cx, Scale(expected.width, dpi));
  }

  // Ids 500..2500 remain; the newest first, every column as stored.
  ASSERT_EQ(RowCount(list), 2001);
  const std::vector<std::string> newest = {"甲公司", "C:\\bak\\甲公司20240502100000.7z",
                                           "2024-05-02 10:00:00", "上传失败", "p'w"};
  EXPECT_EQ(CellText(list, 0, 0), "");
  for (int column = 0; column < 5; ++column)
    EXPECT_EQ(CellText(list, 0, column + 1), newest[column]);
  EXPECT_EQ(CellText(list, 1, 2), "f2499");
  EXPECT_EQ(CellText(list, 2000, 2), "f500");
  EXPECT_EQ(Raw().Int("select min(id) from baklog"), 500);

  ::SendMessageW(window.CloseButtonHandle(), BM_CLICK, 0, 0);
  EXPECT_FALSE(window.IsOpen());
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_TRUE(::IsWindowEnabled(owner_));
}

// Picks item `position` (from 1) of the context menu that `open` brings up,
// from a second thread, as the keyboard would; the items' texts come back,
// each with " (灰)" when it is grayed. With `screenshot`, the window `shot`
// is saved with the menu open over it first.
std::vector<std::string> PickMenuItem(int position, const std::function<void()>& open,
                                      HWND shot = nullptr, const std::string& screenshot = "") {
  std::vector<std::string> items;
  std::atomic<bool> done{false};
  std::thread picker([&] {
    for (auto waited = 0ms; waited < 5s && !done; waited += 20ms) {
      HWND menuWindow = ::FindWindowW(L"#32768", nullptr);
      if (menuWindow != nullptr && ::IsWindowVisible(menuWindow)) {
        auto menu = reinterpret_cast<HMENU>(::SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
        for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
          wchar_t text[64] = {};
          ::GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
          const bool grayed =
              (::GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED) != 0;
          items.push_back(Narrow(text) + (grayed ? " (灰)" : ""));
        }
        if (shot != nullptr) SaveScreenshot(shot, screenshot);
        for (int i = 0; i < position; ++i) ::PostMessageW(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
        ::PostMessageW(menuWindow, WM_KEYDOWN, VK_RETURN, 0);
        return;
      }
      std::this_thread::sleep_for(20ms);
    }
  });
  open();
  done = true;
  picker.join();
  return items;
}

TEST_F(BackupLogWindowTest, RefreshFromTheContextMenuShowsRowsWrittenSince) {
  AddRow("乙公司", "C:\\bak\\乙公司20240501230000.7z", "2024-05-01 23:00:00", "", "");
  AddRow("ACME", "C:\\bak\\ACME20240501230000.7z", "2024-05-01 23:00:05", "", "secret");
  BackupLogWindow window(instance_, owner_, Opener());
  ASSERT_TRUE(window.Open());
  const HWND list = window.ListHandle();
  ASSERT_EQ(RowCount(list), 2);

  SettingsDatabase(app_).InsertLocalResult("甲公司", "C:\\bak\\甲公司20240502230000.7z", "pw",
                                           true);
  EXPECT_EQ(RowCount(list), 2) << "nothing changes until asked";
  RECT r{};
  ::GetWindowRect(list, &r);
  const auto items = PickMenuItem(1, [&] {
    ::SendMessageW(window.Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list),
                   MAKELPARAM(r.left + 40, r.top + 40));
  });
  // A window without restore services offers none.
  EXPECT_EQ(items, (std::vector<std::string>{"刷新", "恢复此备份... (灰)"}));
  ASSERT_EQ(RowCount(list), 3);
  EXPECT_EQ(CellText(list, 0, 1), "甲公司");
  EXPECT_EQ(CellText(list, 2, 1), "乙公司");

  PumpMessages(300ms);
  EXPECT_TRUE(SaveScreenshot(window.Handle(), ScreenshotPath("backup_log_window.bmp")));
}

// How many dark pixels the indicator cell of `row` shows: the triangle, or
// none but the cell's edge.
int DarkPixelsInIndicator(HWND list, int row) {
  RECT cell{};
  if (!ListView_GetSubItemRect(list, row, 0, LVIR_BOUNDS, &cell)) return -1;
  cell.right = cell.left + ListView_GetColumnWidth(list, 0);
  ::UpdateWindow(list);
  HDC dc = ::GetDC(list);
  int dark = 0;
  // Inside the raised edge.
  for (int y = cell.top + 2; y < cell.bottom - 2; ++y)
    for (int x = cell.left + 2; x < cell.right - 2; ++x) {
      const COLORREF c = ::GetPixel(dc, x, y);
      if (c != CLR_INVALID && GetRValue(c) + GetGValue(c) + GetBValue(c) < 150) ++dark;
    }
  ::ReleaseDC(list, dc);
  return dark;
}

TEST_F(BackupLogWindowTest, TheRowIndicatorPointsAtTheCurrentRow) {
  for (int i = 0; i < 3; ++i)
    AddRow("账套" + std::to_string(i), "f" + std::to_string(i), "2024-05-02 10:00:00", "", "");
  BackupLogWindow window(instance_, owner_, Opener());
  ASSERT_TRUE(window.Open());
  const HWND list = window.ListHandle();
  PumpMessages(200ms);

  // The newest row is the current one when the window opens.
  EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_FOCUSED), 0);
  EXPECT_GT(DarkPixelsInIndicator(list, 0), 4);
  EXPECT_EQ(DarkPixelsInIndicator(list, 1), 0);
  EXPECT_EQ(DarkPixelsInIndicator(list, 2), 0);

  // The arrow key moves the current row, and the triangle with it.
  ::SetFocus(list);
  ::SendMessageW(list, WM_KEYDOWN, VK_DOWN, 0);
  PumpMessages(200ms);
  EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_FOCUSED), 1);
  EXPECT_EQ(DarkPixelsInIndicator(list, 0), 0);
  EXPECT_GT(DarkPixelsInIndicator(list, 1), 4);
  EXPECT_TRUE(SaveScreenshot(window.Handle(), ScreenshotPath("backup_log_indicator.bmp")));
}

TEST_F(BackupLogWindowTest, ShowingRunsModallyUntilTheCloseButton) {
  AddRow("甲公司", "C:\\bak\\甲公司20240502100000.7z", "2024-05-02 10:00:00", "", "");
  // The test's own steps run from a timer, inside the window's loop.
  static bool ownerEnabledWhileOpen;
  static bool closeClicked;
  ownerEnabledWhileOpen = true;
  closeClicked = false;
  static HWND owner;
  owner = owner_;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) {
    HWND log = FindLogWindow();
    if (log == nullptr || !::IsWindowVisible(log) || closeClicked) return;
    ownerEnabledWhileOpen = ::IsWindowEnabled(owner) != FALSE;
    closeClicked = true;
    ::SendMessageW(::GetDlgItem(log, BackupLogWindow::kCloseButtonId), BM_CLICK, 0, 0);
  });
  ShowBackupLogWindow(instance_, owner_, Opener());
  ::KillTimer(nullptr, timer);
  EXPECT_TRUE(closeClicked);
  EXPECT_FALSE(ownerEnabledWhileOpen);
  EXPECT_EQ(FindLogWindow(), nullptr);
  EXPECT_TRUE(::IsWindowEnabled(owner_));
}

TEST_F(BackupLogWindowTest, MissingDatabaseTellsOnceAndLeavesNoWindow) {
  std::filesystem::remove(SettingsDatabasePath(app_));
  const auto seen = AnswerMessageBoxes([&] { ShowBackupLogWindow(instance_, owner_, Opener()); });
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "青岚账套自动备份系统");
  EXPECT_EQ(seen[0].text, "查询备份日志出错");
  EXPECT_EQ(FindLogWindow(), nullptr);
  EXPECT_TRUE(::IsWindowEnabled(owner_));
  EXPECT_FALSE(std::filesystem::exists(SettingsDatabasePath(app_)));
}

TEST_F(BackupLogWindowTest, RestoresTheRowsBackupIntoThePickedFolder) {
  const std::string accounts = dir_ / "accounts";
  const std::string backups = dir_ / "backups";
  const std::string target = dir_ / "target";
  for (const auto& folder : {accounts, backups, target})
    std::filesystem::create_directories(std::filesystem::path(Widen(folder)));
  const std::string ledger = testing::Incompressible(300000, 7);
  testing::WriteFile(JoinPath(accounts, "ACME.AIS"), ledger);
  {
    SettingsDatabase db(app_);
    BaksetRow row = db.LoadSettings();
    row.softvernum = 0;
    row.accountDir = accounts;
    row.localDir = backups;
    row.localbak = true;
    row.remotebak = false;
    db.SaveSettings(row);
    db.RewriteAccountList({{"", "ACME.AIS", "ACME.AIS"}});
  }
  // One backup by the job, packed by the 7zr.exe beside the test.
  {
    const auto clock = std::make_shared<testing::FixedClock>(LocalTime{2024, 5, 1, 1, 30, 0, 3});
    SqliteBackupRecordsFactory records(app_, clock);
    StandinSqlServerFactory sql(dir_ / "server");
    testing::RecordingLog log;
    BackupServices services = testing::TestBackupServices(log, *clock, sql, records);
    services.archiver = Archiver{ArchiverKind::kSevenZip, VELTORA_BIN_DIR "\\7zr.exe", ".7z"};
    BackupConfig config;
    config.accountSets = {{true, "", "ACME.AIS", "ACME.AIS"}};
    config.selectedAccountSets = {"ACME.AIS"};
    config.accountFolder = accounts;
    config.localFolder = backups;
    config.archivePassword = "p&w|x";
    std::atomic<bool> configured{true};
    std::atomic<bool> running{false};
    const auto summary = BackupThreadProc(config, {configured, running}, services);
    ASSERT_TRUE(summary && summary->Complete(config)) << ::testing::PrintToString(log.lines());
  }
  ASSERT_EQ(testing::FilesIn(backups), std::vector<std::string>{"ACME20240501013000.7z"});
  testing::WriteFile(JoinPath(accounts, "ACME.AIS"), "the ledger as changed later");

  // The window's services as the tray application composes them; the folder
  // picker answers by itself.
  MachineContext context;
  context.executableFolder = VELTORA_BIN_DIR;
  StandinSqlServerFactory sql(dir_ / "server");
  BackupLogServices services = Opener();
  services.restore = ComposeRestore(app_, context, sql, {});
  services.makeWork = [] { return std::make_unique<BackgroundThread>(); };
  std::vector<std::string> prompts;
  BackupLogWindow window(instance_, owner_, services, [&](HWND, const std::string& prompt) {
    prompts.push_back(prompt);
    return target;
  });
  ASSERT_TRUE(window.Open());
  const HWND list = window.ListHandle();
  ASSERT_EQ(RowCount(list), 1);
  EXPECT_TRUE(CellText(list, 0, 2).ends_with("ACME20240501013000")) << CellText(list, 0, 2);
  EXPECT_EQ(WindowText(window.StatusHandle()), "");
  PumpMessages(200ms);

  // The context menu on the current row, its second item.
  RECT cell{};
  ListView_GetItemRect(list, 0, &cell, LVIR_LABEL);
  POINT at{cell.left + 20, cell.top + 4};
  ::ClientToScreen(list, &at);
  const auto items = PickMenuItem(
      2,
      [&] {
        ::SendMessageW(window.Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list),
                       MAKELPARAM(at.x, at.y));
      },
      window.Handle(), ScreenshotPath("backup_log_restore_menu.bmp"));
  EXPECT_EQ(items, (std::vector<std::string>{"刷新", "恢复此备份..."}));
  EXPECT_TRUE(window.RestoreRunning());

  // The work runs on its own thread while this one keeps the window going;
  // the notice ends it.
  const auto seen = AnswerMessageBoxes([&] {
    for (auto waited = 0ms; waited < 60s && window.RestoreRunning(); waited += 50ms)
      PumpMessages(50ms);
  });
  EXPECT_FALSE(window.RestoreRunning());
  EXPECT_EQ(prompts, std::vector<std::string>{"请选择要把账套恢复到哪个文件夹："});
  const std::string restored = JoinPath(target, "ACME.AIS");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "青岚账套自动备份系统");
  EXPECT_EQ(seen[0].text, "账套已恢复到：" + restored);
  EXPECT_TRUE(testing::ReadFile(restored) == ledger) << "byte-identical to the backed-up ledger";
  EXPECT_EQ(testing::FilesIn(target), std::vector<std::string>{"ACME.AIS"}) << "no work folder";
  EXPECT_EQ(WindowText(window.StatusHandle()), "恢复完成：" + restored);
  EXPECT_TRUE(SaveScreenshot(window.Handle(), ScreenshotPath("backup_log_restored.bmp")));
}

}  // namespace
}  // namespace veltora::win32
