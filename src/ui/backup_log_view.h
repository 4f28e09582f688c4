// What the backup log window's logic needs of a window: a read-only grid of
// the backup table with a context menu, a status line, notices and questions,
// the folder picker, a one-line input box, and a way back onto the window's
// thread for the work it runs elsewhere. The Win32 window implements it with a
// list view (titles and widths from ui_msg::kBackupLogColumns); tests and the
// headless front ends keep what they are told.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace veltora {

// One grid row, the texts as stored. The id and the success flag are not shown;
// the archive password is shown in clear, as the backup table keeps it.
struct BackupLogRow {
  std::string accountName;      // 账套名
  std::string backupFile;       // 备份文件
  std::string backupTime;       // 备份时间, "yyyy-mm-dd hh:mm:ss"
  std::string remark;           // 备注
  std::string archivePassword;  // 压缩密码
  std::int64_t id = 0;          // the backup-table row; what a row's command names
  friend bool operator==(const BackupLogRow&, const BackupLogRow&) = default;
};

class BackupLogView {
 public:
  virtual ~BackupLogView() = default;
  // Replaces the grid's rows; the first row is shown at the top.
  virtual void SetRows(const std::vector<BackupLogRow>& rows) = 0;
  // A plain modal notice with OK under the program's title.
  virtual void ShowNotice(const std::string& text) = 0;
  // A modal warning with OK.
  virtual void ShowWarning(const std::string& text) = 0;
  // A modal yes/no question; true for yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // The folder picker; the chosen folder, or empty when it was cancelled.
  virtual std::string ChooseFolder(const std::string& prompt) = 0;
  // A modal box with one line to edit, filled with `initial`; what it holds
  // at OK, or nothing when it was cancelled.
  virtual std::optional<std::string> AskText(const std::string& prompt,
                                             const std::string& initial) = 0;
  // The status line at the bottom of the window.
  virtual void SetStatus(const std::string& text) = 0;
  // Whether the rows' menu offers "恢复此备份...".
  virtual void SetRestoreEnabled(bool enabled) = 0;
  // Runs `task` on the window's thread, after what it is doing now. Callable
  // from any thread; once the window has closed, tasks are dropped.
  virtual void RunOnWindowThread(std::function<void()> task) = 0;
  // Closes the window; OnClose follows when the window is gone.
  virtual void Close() = 0;
};

}  // namespace veltora
