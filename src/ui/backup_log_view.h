// What the backup log window's logic needs of a window: a read-only grid of
// the backup table, a notice and closing. The Win32 window implements it with
// a list view (titles and widths from ui_msg::kBackupLogColumns); tests and the
// headless front ends keep what they are told.
#pragma once

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
  friend bool operator==(const BackupLogRow&, const BackupLogRow&) = default;
};

class BackupLogView {
 public:
  virtual ~BackupLogView() = default;
  // Replaces the grid's rows; the first row is shown at the top.
  virtual void SetRows(const std::vector<BackupLogRow>& rows) = 0;
  // A plain modal notice with OK under the program's title.
  virtual void ShowNotice(const std::string& text) = 0;
  // Closes the window; OnClose follows when the window is gone.
  virtual void Close() = 0;
};

}  // namespace veltora
