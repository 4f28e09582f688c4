// The backup log window's logic: each opening bounds the backup table to its
// newest rows and shows it newest first over a connection of its own, so that
// a backup writing rows meanwhile is not disturbed; "刷新" shows what was
// written since.
//
// A row's "恢复此备份..." brings its backup back with the restore of the
// command line: the row is looked up among the restorable backups by its id
// (a share-copy row by the backup's name), a file edition's ledger goes into
// a folder the user picks, a SQL edition's backup becomes a new database under
// a name the user confirms. The lookup and the restore run on the window's
// background work, one restore at a time, with their progress on the status
// line; the window cannot be closed by the user meanwhile, and a forced close
// waits for the work to end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/settings_database.h"
#include "ui/background_work.h"
#include "ui/backup_log_view.h"
#include "ui/restore.h"

namespace veltora {

struct BackupLogServices {
  // A fresh connection to the application folder's settings database; throws
  // when it cannot be opened.
  std::function<std::unique_ptr<SettingsDatabase>()> openSettings;
  // The restores' services (their progress listener is the presenter's own);
  // without them the window offers no restore.
  std::optional<RestoreServices> restore;
  // Made once per window: where its lookups and restores run. Without it they
  // run at once on the window's thread.
  std::function<std::unique_ptr<BackgroundWork>()> makeWork;
};

class BackupLogPresenter {
 public:
  using OpenSettings = std::function<std::unique_ptr<SettingsDatabase>()>;

  BackupLogPresenter(BackupLogView& view, BackupLogServices services);
  // A window without restores.
  BackupLogPresenter(BackupLogView& view, OpenSettings openSettings);
  ~BackupLogPresenter();
  BackupLogPresenter(const BackupLogPresenter&) = delete;
  BackupLogPresenter& operator=(const BackupLogPresenter&) = delete;

  // The window is about to be shown: connect, trim the table, show it. On any
  // failure the notice "查询备份日志出错" and the window closes; false then.
  bool OnShow();
  // "刷新": the rows again, without trimming; a failure keeps the grid as it
  // was.
  void RefreshClicked();
  // "恢复此备份..." on the row with backup-table id `rowId`.
  void RestoreClicked(std::int64_t rowId);
  // "关         闭", Esc and the window's close box: refused with a notice
  // while a restore runs.
  void CloseClicked();
  // The window has closed (also when forced while a restore runs): waits for
  // the background work; the connection goes with it.
  void OnClose();

  bool RestoreRunning() const { return restoring_; }

 private:
  struct Lookup;
  void ShowRows();
  void LookedUp(const BaklogRow& row, const Lookup& lookup);
  void StartRestore(const RestoreRequest& request);
  void StartWork(std::function<void()> work);
  void RestoreEnded(const RestoreResult& result, const std::vector<std::string>& notes);
  // The restore is over (done, refused or cancelled): the menu offers it again.
  void Idle(const std::string& status);

  BackupLogView& view_;
  BackupLogServices services_;
  std::unique_ptr<SettingsDatabase> db_;
  // The rows shown, as stored: a command names its row by id.
  std::vector<BaklogRow> rows_;
  std::unique_ptr<BackgroundWork> work_;
  bool restoring_ = false;
};

}  // namespace veltora
