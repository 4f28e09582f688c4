// The backup log window: a read-only list of the backup table, newest row at
// the top, with a row indicator before its columns that points at the current
// row, a context menu ("刷新", "恢复此备份..."), the button "关         闭"
// filling the strip below it and a status line at the bottom, where a
// restore shows its progress. All its logic is BackupLogPresenter's; this
// window shows what the presenter says and turns its events into presenter
// calls. The restore's thread reaches the window only through
// RunOnWindowThread: a queue and a posted message.
//
// Each opening makes a new window object; it is modal over its owner (the
// owner is disabled while it is open) and destroyed when it closes.
#pragma once

// windows.h first: the other Windows headers need its types.
// clang-format off
#include <windows.h>
// clang-format on
#include <commctrl.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/scoped_handle.h"
#include "ui/backup_log_presenter.h"
#include "ui/backup_log_view.h"

namespace veltora::win32 {

// The folder picker the window opens for a restore: the shell's, unless a
// test puts its own answer in.
using ChooseFolderFunction = std::function<std::string(HWND owner, const std::string& prompt)>;

// Creates the backup log window (794 x 529 client at 96 DPI, centred, modal
// over `owner`), runs its presenter, returns when it has closed. When the
// backup table cannot be read, the notice is shown and no window appears.
void ShowBackupLogWindow(HINSTANCE instance, HWND owner, BackupLogServices services);

struct GdiObjectTraits {
  static HGDIOBJ Invalid() { return nullptr; }
  static void Close(HGDIOBJ object) { ::DeleteObject(object); }
};
using ScopedGdiObject = ScopedHandle<HGDIOBJ, GdiObjectTraits>;

// The window itself, split into opening and the modal loop so that a caller
// (a test) can open it, act on it, and close it on its own thread.
class BackupLogWindow final : public BackupLogView {
 public:
  // The context menu's "刷新" and "恢复此备份...", the close button, as
  // WM_COMMAND ids.
  static constexpr int kRefreshCommand = 101;
  static constexpr int kCloseButtonId = 102;
  static constexpr int kListId = 103;
  static constexpr int kStatusId = 104;
  static constexpr int kRestoreCommand = 105;

  BackupLogWindow(HINSTANCE instance, HWND owner, BackupLogServices services,
                  ChooseFolderFunction chooseFolder = {});
  // Closes the window if it is still open.
  ~BackupLogWindow() override;
  BackupLogWindow(const BackupLogWindow&) = delete;
  BackupLogWindow& operator=(const BackupLogWindow&) = delete;

  // Creates the window hidden, lets the presenter fill it (OnShow), then
  // shows it and disables the owner. False when the window could not be made
  // or the presenter refused (its notice has been shown): no window remains.
  bool Open();
  // Dispatches this thread's messages until the window has closed. A WM_QUIT
  // met meanwhile closes the window and is posted again for the caller's loop.
  void RunModalLoop();

  bool IsOpen() const { return hwnd_ != nullptr; }
  HWND Handle() const { return hwnd_; }
  HWND ListHandle() const { return list_; }
  HWND CloseButtonHandle() const { return closeButton_; }
  HWND StatusHandle() const { return status_; }
  bool RestoreRunning() const { return presenter_.RestoreRunning(); }

  // BackupLogView.
  void SetRows(const std::vector<BackupLogRow>& rows) override;
  void ShowNotice(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  std::string ChooseFolder(const std::string& prompt) override;
  std::optional<std::string> AskText(const std::string& prompt,
                                     const std::string& initial) override;
  void SetStatus(const std::string& text) override;
  void SetRestoreEnabled(bool enabled) override;
  void RunOnWindowThread(std::function<void()> task) override;
  void Close() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  bool Create();
  void CreateControls();
  // Places the controls and sets the font for `dpi`.
  void Layout(UINT dpi);
  void OnCommand(int id);
  void ShowContextMenu(LPARAM screenPoint);
  void OnGetDispInfo(NMLVDISPINFOW& info);
  LRESULT OnCustomDraw(NMLVCUSTOMDRAW& draw);
  void DrawIndicator(HDC dc, int row);
  // The row the indicator points at (the focused one); -1 when none.
  int CurrentRow() const;
  void ReleaseOwner();
  // Runs the tasks queued by RunOnWindowThread.
  void RunQueuedTasks();

  HINSTANCE instance_;
  HWND owner_;
  ChooseFolderFunction chooseFolder_;
  // Before the presenter: the restore's thread may queue tasks until the
  // presenter has waited for it.
  std::mutex tasksMutex_;
  HWND tasksWindow_ = nullptr;  // where queued tasks are announced; null once closed
  std::deque<std::function<void()>> tasks_;
  BackupLogPresenter presenter_;
  HWND hwnd_ = nullptr;
  HWND list_ = nullptr;
  HWND closeButton_ = nullptr;
  HWND status_ = nullptr;
  bool ownerDisabled_ = false;
  bool restoreEnabled_ = false;
  ScopedGdiObject font_;
  // The rows as the list shows them: the list asks for each cell when it is
  // drawn, so that two thousand rows cost nothing to show again.
  std::vector<std::array<std::wstring, 5>> rows_;
  std::vector<std::int64_t> rowIds_;
};

}  // namespace veltora::win32
