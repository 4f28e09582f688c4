// The small handlers of the main window's fields: a click selects the text,
// leaving a field trims it or puts a spin value back into its range, Enter
// moves the focus along the fixed chain and checks the folder fields on its
// way; the folders' "浏览", the accounts' "重置", the backup-time field.

#include <string>

#include "app/backup_configuration.h"
#include "base/path.h"
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
      Guarded([&] {
        TrimField(control);
        TextFieldLeft(control);
      });
      break;
    case Control::kServerPassword:
    case Control::kSharePassword:
    case Control::kSqlPassword:
    case Control::kNewArchivePassword:
    case Control::kConfirmArchivePassword:
      Guarded([&] { TextFieldLeft(control); });
      break;
    case Control::kConnectTimeout:
      Guarded([&] {
        SpinFieldLeft(control, kConnectTimeoutMin, kConnectTimeoutMax,
                      ui_msg::kConnectTimeoutInvalid);
      });
      break;
    case Control::kCommandTimeout:
      Guarded([&] {
        SpinFieldLeft(control, kCommandTimeoutMin, kCommandTimeoutMax,
                      ui_msg::kCommandTimeoutInvalid);
      });
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
  else if (HasControlCharacter(folder))
    refusal = ui_msg::kLocalFolderControlCharacter;
  else if (IsSharePath(folder))
    refusal = ui_msg::kLocalFolderIsNetwork;
  else if (!IsAbsolutePath(folder))
    refusal = ui_msg::kLocalFolderNotAbsolute;
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

const char* MainWindowPresenter::ControlCharacterMessage(Control control) {
  switch (control) {
    case Control::kSqlUser:
      return ui_msg::kSqlUserControlCharacter;
    case Control::kSqlPassword:
      return ui_msg::kSqlPasswordControlCharacter;
    case Control::kServerUser:
      return ui_msg::kServerUserControlCharacter;
    case Control::kServerPassword:
      return ui_msg::kServerPasswordControlCharacter;
    case Control::kShareUser:
      return ui_msg::kShareUserControlCharacter;
    case Control::kSharePassword:
      return ui_msg::kSharePasswordControlCharacter;
    case Control::kLocalFolder:
      return ui_msg::kLocalFolderControlCharacter;
    case Control::kShareFolder:
      return ui_msg::kShareFolderControlCharacter;
    case Control::kAccountFolder:
      return ui_msg::kAccountFolderControlCharacter;
    case Control::kOldArchivePassword:
    case Control::kNewArchivePassword:
    case Control::kConfirmArchivePassword:
      return ui_msg::kPasswordControlCharacter;
    default:
      return nullptr;
  }
}

bool MainWindowPresenter::TextFieldLeft(Control control) {
  // The archive password is stored trimmed: only what lies inside counts.
  const bool trimmedOnStore =
      control == Control::kNewArchivePassword || control == Control::kConfirmArchivePassword;
  const std::string text = trimmedOnStore ? Trim(view_.Text(control)) : view_.Text(control);
  const char* refusal = nullptr;
  if (HasControlCharacter(text))
    refusal = ControlCharacterMessage(control);
  else if (control == Control::kLocalFolder && !text.empty() && !IsAbsolutePath(text))
    refusal = ui_msg::kLocalFolderNotAbsolute;
  if (refusal == nullptr) return true;
  Refuse(refusal, control);
  return false;
}

bool MainWindowPresenter::SpinFieldLeft(Control control, int min, int max, const char* message) {
  if (!WholeNumber(view_.Text(control))) {
    // Not the minimum: 0 in the keep count means keeping every backup.
    const auto before = spinTexts_.find(control);
    if (before != spinTexts_.end()) view_.SetText(control, before->second);
    Refuse(message, control);
    return false;
  }
  view_.SetText(control, std::to_string(SpinValue(control, min, max)));
  spinTexts_[control] = view_.Text(control);
  return true;
}

void MainWindowPresenter::KeepSpinTexts() {
  for (const Control control : {Control::kKeepCount, Control::kDaysBetweenBackups,
                                Control::kConnectTimeout, Control::kCommandTimeout})
    spinTexts_[control] = view_.Text(control);
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
    if (!SpinFieldLeft(Control::kKeepCount, 0, kKeepCountMax, ui_msg::kKeepCountInvalid)) return;
    if (!SpinFieldLeft(Control::kDaysBetweenBackups, kIntervalDaysMin, kIntervalDaysMax,
                       ui_msg::kIntervalInvalid))
      return;
    ShowNextBackupTime();
  });
}

}  // namespace veltora
