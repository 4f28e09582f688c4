// The small handlers of the main window's fields: a click selects the text,
// leaving a field trims it or puts a spin value back into its range, Enter
// moves the focus along the fixed chain and checks the folder fields on its
// way; the folders' "浏览", the accounts' "重置", the backup-time field.

#include <string>

#include "app/backup_configuration.h"
#include "base/text.h"
#include "ui/main_window_presenter.h"
#include "ui/messages.h"
#include "ui/presenter_support.h"

namespace veltora {

using namespace ui_detail;

void MainWindowPresenter::FieldClick(Control control) {
  Guarded([&] {
    switch (control) {
      case Control::kServerUser:
      case Control::kServerPassword:
      case Control::kShareUser:
      case Control::kSharePassword:
      case Control::kLocalFolder:
      case Control::kShareFolder:
      case Control::kSqlPassword:
      case Control::kOldArchivePassword:
      case Control::kNewArchivePassword:
      case Control::kConfirmArchivePassword:
        view_.SelectAll(control);
        break;
      default:
        break;
    }
  });
}

void MainWindowPresenter::FieldExit(Control control) {
  switch (control) {
    case Control::kServerUser:
    case Control::kShareUser:
    case Control::kLocalFolder:
    case Control::kShareFolder:
    case Control::kSqlUser:
      Guarded([&] { TrimField(control); });
      break;
    case Control::kConnectTimeout:
      Guarded([&] { ClampSpinField(control, kConnectTimeoutMin, kConnectTimeoutMax); });
      break;
    case Control::kCommandTimeout:
      Guarded([&] { ClampSpinField(control, kCommandTimeoutMin, kCommandTimeoutMax); });
      break;
    case Control::kBackupTime:
      BackupTimeLeft();
      break;
    case Control::kKeepCount:
    case Control::kDaysBetweenBackups:
      KeepCountLeft();
      break;
    default:
      break;
  }
}

void MainWindowPresenter::FieldEnter(Control control) {
  Guarded([&] {
    switch (control) {
      case Control::kSqlUser:
        SqlUserEnter();
        break;
      case Control::kSqlPassword:
        ListSqlAccountSetsClicked();
        break;
      case Control::kAccountSetList:
        view_.SelectAll(Control::kServerUser);
        view_.Focus(Control::kServerUser);
        break;
      case Control::kServerUser:
        MoveOnFromUser(Control::kServerUser, Control::kServerPassword, ui_msg::kEnterServerUser);
        break;
      case Control::kServerPassword:
        view_.SelectAll(Control::kShareUser);
        view_.Focus(Control::kShareUser);
        break;
      case Control::kShareUser:
        MoveOnFromUser(Control::kShareUser, Control::kSharePassword, ui_msg::kEnterRemoteUser);
        break;
      case Control::kSharePassword:
        view_.Focus(Control::kGuardSqlServer);
        break;
      case Control::kGuardSqlServer:
      case Control::kLocalBackup:
      case Control::kShareBackup:
      case Control::kBackupTime:
        view_.Focus(Control::kLocalFolder);
        break;
      case Control::kLocalFolder:
        LocalFolderEnter();
        break;
      case Control::kShareFolder:
        ShareFolderEnter();
        break;
      case Control::kOldArchivePassword:
        OldPasswordEnter();
        break;
      case Control::kNewArchivePassword:
        NewPasswordEnter();
        break;
      case Control::kConfirmArchivePassword:
        ConfirmPasswordEnter();
        break;
      default:
        break;
    }
  });
}

void MainWindowPresenter::MoveOnFromUser(Control user, Control password, const char* emptyMessage) {
  if (TrimField(user).empty()) {
    view_.ShowWarning(emptyMessage);
    view_.Focus(user);
    return;
  }
  view_.SelectAll(password);
  view_.Focus(password);
}

void MainWindowPresenter::LocalFolderEnter() {
  const std::string folder = TrimField(Control::kLocalFolder);
  const char* refusal = nullptr;
  if (folder.empty())
    refusal = ui_msg::kEnterLocalFolder;
  else if (IsSharePath(folder))
    refusal = ui_msg::kLocalFolderIsNetwork;
  else if (!s_.folderExists(folder))
    refusal = ui_msg::kLocalFolderInvalid;
  else if (!s_.isFolderWritable(folder))
    refusal = ui_msg::kLocalFolderNotWritable;
  if (refusal != nullptr) return Refuse(refusal, Control::kLocalFolder);
  view_.SelectAll(Control::kShareFolder);
  view_.Focus(Control::kShareFolder);
}

// The remote folder's refusals leave the focus where it is: the user may
// want to fix the account fields first.
void MainWindowPresenter::ShareFolderEnter() {
  const std::string folder = TrimField(Control::kShareFolder);
  const char* refusal = nullptr;
  if (folder.empty())
    refusal = ui_msg::kEnterRemoteFolder;
  else if (!IsSharePath(folder))
    refusal = ui_msg::kRemoteFolderIsLocal;
  else if (!s_.folderExists(folder))
    refusal = ui_msg::kRemoteFolderInvalid;
  else if (!s_.isFolderWritable(folder))
    refusal = ui_msg::kRemoteFolderNotWritable;
  if (refusal != nullptr) return view_.ShowWarning(refusal);
  view_.Focus(Control::kKeepCount);
}

// "浏览" beside a backup folder: a chosen folder with a blank is refused
// (the folder would not survive the archiver's command file); the local
// field takes only local folders, the remote one only shares.
void MainWindowPresenter::BrowseBackupFolder(Control field, bool shareWanted) {
  const std::string folder = Trim(view_.BrowseForFolder(ui_msg::kBrowsePrompt));
  if (folder.find(' ') != std::string::npos) return view_.ShowNotice(ui_msg::kBlankInChosenFolder);
  if (folder.empty() || IsSharePath(folder) != shareWanted) return;
  view_.SetText(field, folder);
}

void MainWindowPresenter::BrowseLocalFolderClicked() {
  Guarded([&] { BrowseBackupFolder(Control::kLocalFolder, false); });
}

void MainWindowPresenter::BrowseShareFolderClicked() {
  Guarded([&] { BrowseBackupFolder(Control::kShareFolder, true); });
}

void MainWindowPresenter::ResetServerAccountClicked() {
  Guarded([&] {
    view_.SetText(Control::kServerUser, "");
    view_.SetText(Control::kServerPassword, "");
    view_.Focus(Control::kServerUser);
  });
}

void MainWindowPresenter::ResetShareAccountClicked() {
  Guarded([&] {
    view_.SetText(Control::kShareUser, "");
    view_.SetText(Control::kSharePassword, "");
    view_.Focus(Control::kShareUser);
  });
}

void MainWindowPresenter::ClampSpinField(Control control, int min, int max) {
  view_.SetText(control, std::to_string(SpinValue(control, min, max)));
}

void MainWindowPresenter::BackupTimeLeft() {
  Guarded([&] {
    const std::string text = TrimField(Control::kBackupTime);
    if (!IsValidTimeText(text)) return Refuse(ui_msg::kBackupTimeInvalid, Control::kBackupTime);
    view_.SetText(Control::kBackupTime, NormalizeTimeText(text));
    ShowNextBackupTime();
  });
}

// Shared by the keep-count and the interval field: both are put back into
// their ranges, and the interval moves the next backup time.
void MainWindowPresenter::KeepCountLeft() {
  Guarded([&] {
    ClampSpinField(Control::kKeepCount, 0, kKeepCountMax);
    ClampSpinField(Control::kDaysBetweenBackups, kIntervalDaysMin, kIntervalDaysMax);
    ShowNextBackupTime();
  });
}

}  // namespace veltora
