#include "ui/backup_log_presenter.h"

#include <exception>
#include <memory>
#include <mutex>
#include <utility>

#include "app/single_instance.h"
#include "base/account_set.h"
#include "base/path.h"
#include "base/text.h"
#include "files/file_ops.h"
#include "settings/messages.h"
#include "ui/messages.h"
#include "ui/progress_text.h"

namespace veltora {

namespace msg = ui_msg;

struct BackupLogPresenter::Lookup {
  RestoreCatalogue catalogue;
  std::string error;  // why the backups could not be listed; empty when they were
};

namespace {

// "正在恢复…解压并校验 ACME20240501013000.7z 45%"
std::string ProgressText(const ProgressReport& r) {
  return msg::kRestoreRunning + std::string(ProgressStageName(r.stage)) + " " + r.item + " " +
         std::to_string(r.percent) + "%";
}

// Keeps what a restore said that the user should read with its result: a
// source that failed and why, a backup without digests, a share that could
// not be reached. Which backup and which copy were taken go to the status
// line's progress instead.
class NotesLog final : public LineLog {
 public:
  void Append(std::string_view line) override {
    if (line.starts_with(msg::kRestoreChosen) || line.starts_with(msg::kRestoreTaking)) return;
    std::lock_guard lock(mutex_);
    notes_.emplace_back(line);
  }
  std::vector<std::string> notes() const {
    std::lock_guard lock(mutex_);
    return notes_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> notes_;
};

class SilentLog final : public LineLog {
 public:
  void Append(std::string_view) override {}
};

bool IsShareCopyRow(const BaklogRow& row) { return row.bz == settings_messages::kRemoteCopyRemark; }

// The backup a row records: its local result row by id, else the backup of
// the same name (a share copy's row, or an older row of a backup recorded
// again). Nothing when it is no longer in either folder.
const RestorableBackup* BackupOfRow(const RestoreCatalogue& catalogue, const BaklogRow& row) {
  for (const auto& b : catalogue.backups)
    if (b.rowId == row.id) return &b;
  const std::string name = BaseName(row.localbakfile);
  for (const auto& b : catalogue.backups)
    if (EqualsIgnoreAsciiCase(name, StemOf(b.fileName)) || EqualsIgnoreAsciiCase(name, b.fileName))
      return &b;
  return nullptr;
}

}  // namespace

BackupLogPresenter::BackupLogPresenter(BackupLogView& view, BackupLogServices services)
    : view_(view), services_(std::move(services)) {
  work_ = services_.makeWork ? services_.makeWork() : std::make_unique<ImmediateWork>();
}

BackupLogPresenter::BackupLogPresenter(BackupLogView& view, OpenSettings openSettings)
    : BackupLogPresenter(view, BackupLogServices{std::move(openSettings), std::nullopt, {}}) {}

BackupLogPresenter::~BackupLogPresenter() { work_->Wait(); }

bool BackupLogPresenter::OnShow() {
  db_.reset();
  view_.SetRestoreEnabled(services_.restore.has_value() && !restoring_);
  try {
    db_ = services_.openSettings();
    db_->TrimBackupLog();
    ShowRows();
    return true;
  } catch (const std::exception&) {
    db_.reset();
    view_.ShowNotice(msg::kBackupLogQueryFailed);
    view_.Close();
    return false;
  }
}

void BackupLogPresenter::RefreshClicked() {
  try {
    if (db_) ShowRows();
  } catch (const std::exception&) {
    // The grid keeps what it showed.
  }
}

void BackupLogPresenter::RestoreClicked(std::int64_t rowId) {
  if (restoring_ || !services_.restore) return;
  const BaklogRow* row = nullptr;
  for (const auto& r : rows_)
    if (r.id == rowId) row = &r;
  if (row == nullptr) return;
  // A failure's row, or one saying that nothing reached the share, names no
  // backup: said at once, without reaching for the folders.
  if (row->baksuccess != true && !IsShareCopyRow(*row)) {
    view_.ShowNotice(msg::kRestoreNotABackupRow);
    return;
  }
  restoring_ = true;
  view_.SetRestoreEnabled(false);
  view_.SetStatus(msg::kRestoreLookingUp);
  // Listing reaches the share, which may take its time-out: not on the
  // window's thread.
  StartWork([this, row = *row] {
    Lookup lookup;
    try {
      SilentLog log;
      lookup.catalogue = ListRestorableBackups(*services_.restore, "", log);
    } catch (const std::exception& e) {
      lookup.error = e.what();
    }
    view_.RunOnWindowThread([this, row, lookup] { LookedUp(row, lookup); });
  });
}

void BackupLogPresenter::StartWork(std::function<void()> work) {
  try {
    work_->Start(std::move(work));
  } catch (const std::exception& e) {
    // No thread could be made: nothing runs.
    Idle(msg::kRestoreFailedStatus);
    view_.ShowWarning(msg::kRestoreFailedHead + std::string(e.what()));
  }
}

void BackupLogPresenter::LookedUp(const BaklogRow& row, const Lookup& lookup) {
  if (!lookup.error.empty()) {
    Idle(msg::kRestoreFailedStatus);
    view_.ShowWarning(msg::kRestoreFailedHead + lookup.error);
    return;
  }
  const RestorableBackup* backup = BackupOfRow(lookup.catalogue, row);
  if (backup == nullptr) {
    Idle("");
    view_.ShowNotice(msg::kRestoreBackupGone);
    return;
  }
  RestoreRequest request;
  request.accountSet = backup->accountSet;
  request.stamp = backup->stamp;
  if (IsSqlEdition(lookup.catalogue.edition)) {
    const auto name = view_.AskText(msg::kRestoreDatabaseNamePrompt,
                                    DefaultRestoredDatabaseName(backup->database, backup->stamp));
    if (!name) return Idle("");
    if (Trim(*name).empty()) {
      Idle("");
      view_.ShowWarning(msg::kRestoreDatabaseNameEmpty);
      return;
    }
    request.asDatabase = Trim(*name);
  } else {
    const std::string folder = view_.ChooseFolder(msg::kRestoreChooseFolder);
    if (folder.empty()) return Idle("");
    const std::string target = JoinPath(folder, backup->accountSet);
    if (FileExists(target)) {
      if (!view_.AskYesNo(msg::kRestoreReplaceHead + target + msg::kRestoreReplaceQuestion))
        return Idle("");
      request.replace = true;
    }
    request.targetFolder = folder;
  }
  StartRestore(request);
}

void BackupLogPresenter::StartRestore(const RestoreRequest& request) {
  view_.SetStatus(msg::kRestoreRunning);
  RestoreServices services = *services_.restore;
  // Reports come from the restore's thread and go to the status line on the
  // window's; a report that changes nothing shown is not sent.
  auto shown = std::make_shared<std::string>();
  services.progress = [this, shown](const ProgressReport& report) {
    std::string text = ProgressText(report);
    if (text == *shown) return;
    *shown = text;
    view_.RunOnWindowThread([this, text] { view_.SetStatus(text); });
  };
  StartWork([this, request, services] {
    RestoreResult result;
    NotesLog log;
    try {
      // A backup run prunes what a restore reads: never both at once.
      std::string error;
      const auto lock =
          AppFolderLock::TryAcquire(services.applicationFolder, kRunLockFileName, error);
      if (lock)
        result = RestoreBackup(request, services, log);
      else
        result.message = msg::kRestoreWhileBackup + error;
    } catch (const std::exception& e) {
      result.ok = false;
      result.message = e.what();
    }
    view_.RunOnWindowThread([this, result, notes = log.notes()] { RestoreEnded(result, notes); });
  });
}

void BackupLogPresenter::RestoreEnded(const RestoreResult& result,
                                      const std::vector<std::string>& notes) {
  std::string text = result.ok ? result.message : msg::kRestoreFailedHead + result.message;
  if (!result.keptAside.empty())
    text += std::string("\n") + msg::kRestoreKeptAside + result.keptAside;
  for (const auto& note : notes) text += "\n" + note;
  if (result.ok) {
    Idle(msg::kRestoreDoneStatus + result.restoredTo);
    view_.ShowNotice(text);
  } else {
    Idle(msg::kRestoreFailedStatus);
    view_.ShowWarning(text);
  }
}

void BackupLogPresenter::Idle(const std::string& status) {
  restoring_ = false;
  view_.SetStatus(status);
  view_.SetRestoreEnabled(true);
}

void BackupLogPresenter::CloseClicked() {
  if (restoring_) {
    view_.ShowNotice(msg::kRestoreCloseRefused);
    return;
  }
  view_.Close();
}

void BackupLogPresenter::OnClose() {
  work_->Wait();
  db_.reset();
}

void BackupLogPresenter::ShowRows() {
  rows_ = db_->ListBackupLog();
  std::vector<BackupLogRow> rows;
  rows.reserve(rows_.size());
  for (const BaklogRow& r : rows_)
    rows.push_back({r.accountname, r.localbakfile, r.baktime, r.bz, r.rarpwd, r.id});
  view_.SetRows(rows);
}

}  // namespace veltora
