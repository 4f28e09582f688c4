// The backup log window's logic: each opening bounds the backup table to its
// newest rows and shows it newest first over a connection of its own, so that
// a backup writing rows meanwhile is not disturbed; "刷新" shows what was
// written since.
#pragma once

#include <functional>
#include <memory>

#include "settings/settings_database.h"
#include "ui/backup_log_view.h"

namespace veltora {

class BackupLogPresenter {
 public:
  using OpenSettings = std::function<std::unique_ptr<SettingsDatabase>()>;

  // openSettings gives a fresh connection to the application folder's
  // settings database and throws when it cannot be opened.
  BackupLogPresenter(BackupLogView& view, OpenSettings openSettings);

  // The window is about to be shown: connect, trim the table, show it. On any
  // failure the notice "查询备份日志出错" and the window closes; false then.
  bool OnShow();
  // "刷新": the rows again, without trimming; a failure keeps the grid as it
  // was.
  void RefreshClicked();
  // "关         闭".
  void CloseClicked();
  // The window has closed: the connection goes with it.
  void OnClose();

 private:
  void ShowRows();

  BackupLogView& view_;
  OpenSettings openSettings_;
  std::unique_ptr<SettingsDatabase> db_;
};

}  // namespace veltora
