#include "ui/backup_log_presenter.h"

#include <exception>
#include <utility>

#include "ui/messages.h"

namespace veltora {

BackupLogPresenter::BackupLogPresenter(BackupLogView& view, OpenSettings openSettings)
    : view_(view), openSettings_(std::move(openSettings)) {}

bool BackupLogPresenter::OnShow() {
  db_.reset();
  try {
    db_ = openSettings_();
    db_->TrimBackupLog();
    ShowRows();
    return true;
  } catch (const std::exception&) {
    db_.reset();
    view_.ShowNotice(ui_msg::kBackupLogQueryFailed);
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

void BackupLogPresenter::CloseClicked() { view_.Close(); }

void BackupLogPresenter::OnClose() { db_.reset(); }

void BackupLogPresenter::ShowRows() {
  std::vector<BackupLogRow> rows;
  for (BaklogRow& r : db_->ListBackupLog()) {
    rows.push_back({std::move(r.accountname), std::move(r.localbakfile), std::move(r.baktime),
                    std::move(r.bz), std::move(r.rarpwd)});
  }
  view_.SetRows(rows);
}

}  // namespace veltora
