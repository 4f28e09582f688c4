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
      case Control::kSWinUser:
      case Control::kSWinPassword:
      case Control::kCWinUser:
      case Control::kCWinPassword:
      case Control::kServerPath:
      case Control::kClientPath:
      case Control::kDataPassWord:
      case Control::kROPWD:
      case Control::kRNPWD:
      case Control::kRQPWD:
        view_.SelectAll(control);
        break;
      default:
        break;
    }
  });
}

void MainWindowPresenter::FieldExit(Control control) {
  switch (control) {
    case Control::kSWinUser:
    case Control::kCWinUser:
    case Control::kServerPath:
    case Control::kClientPath:
    case Control::kDataUser:
      Guarded([&] { TrimField(control); });
      break;
    case Control::kLJCS:
      Guarded([&] { ClampSpinField(control, kConnectTimeoutMin, kConnectTimeoutMax); });
      break;
    case Control::kZXCS:
      Guarded([&] { ClampSpinField(control, kCommandTimeoutMin, kCommandTimeoutMax); });
      break;
    case Control::kDTime:
      DTimeExit();
      break;
    case Control::kBakNum:
    case Control::kBtDays:
      BakNumEditExit();
      break;
    default:
      break;
  }
}

void MainWindowPresenter::FieldEnter(Control control) {
  Guarded([&] {
    switch (control) {
      case Control::kDataUser:
        DataUserKeyPress();
        break;
      case Control::kDataPassWord:
        DataCnClick();
        break;
      case Control::kDataList:
        view_.SelectAll(Control::kSWinUser);
        view_.Focus(Control::kSWinUser);
        break;
      case Control::kSWinUser:
        MoveOnFromUser(Control::kSWinUser, Control::kSWinPassword, ui_msg::kEnterServerUser);
        break;
      case Control::kSWinPassword:
        view_.SelectAll(Control::kCWinUser);
        view_.Focus(Control::kCWinUser);
        break;
      case Control::kCWinUser:
        MoveOnFromUser(Control::kCWinUser, Control::kCWinPassword, ui_msg::kEnterRemoteUser);
        break;
      case Control::kCWinPassword:
        view_.Focus(Control::kSafeCheck);
        break;
      case Control::kSafeCheck:
      case Control::kChkServer:
      case Control::kChkShare:
      case Control::kDTime:
        view_.Focus(Control::kServerPath);
        break;
      case Control::kServerPath:
        ServerPathKeyPress();
        break;
      case Control::kClientPath:
        ClientPathKeyPress();
        break;
      case Control::kROPWD:
        ROPWDKeyPress();
        break;
      case Control::kRNPWD:
        RNPWDKeyPress();
        break;
      case Control::kRQPWD:
        RQPWDKeyPress();
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

void MainWindowPresenter::ServerPathKeyPress() {
  const std::string folder = TrimField(Control::kServerPath);
  const char* refusal = nullptr;
  if (folder.empty())
    refusal = ui_msg::kEnterLocalFolder;
  else if (IsSharePath(folder))
    refusal = ui_msg::kLocalFolderIsNetwork;
  else if (!s_.folderExists(folder))
    refusal = ui_msg::kLocalFolderInvalid;
  else if (!s_.isFolderWritable(folder))
    refusal = ui_msg::kLocalFolderNotWritable;
  if (refusal != nullptr) return Refuse(refusal, Control::kServerPath);
  view_.SelectAll(Control::kClientPath);
  view_.Focus(Control::kClientPath);
}

// The remote folder's refusals leave the focus where it is: the user may
// want to fix the account fields first.
void MainWindowPresenter::ClientPathKeyPress() {
  const std::string folder = TrimField(Control::kClientPath);
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
  view_.Focus(Control::kBakNum);
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

void MainWindowPresenter::ServerBrowerClick() {
  Guarded([&] { BrowseBackupFolder(Control::kServerPath, false); });
}

void MainWindowPresenter::ClientBrowerClick() {
  Guarded([&] { BrowseBackupFolder(Control::kClientPath, true); });
}

void MainWindowPresenter::SWinCZClick() {
  Guarded([&] {
    view_.SetText(Control::kSWinUser, "");
    view_.SetText(Control::kSWinPassword, "");
    view_.Focus(Control::kSWinUser);
  });
}

void MainWindowPresenter::CWinCZClick() {
  Guarded([&] {
    view_.SetText(Control::kCWinUser, "");
    view_.SetText(Control::kCWinPassword, "");
    view_.Focus(Control::kCWinUser);
  });
}

void MainWindowPresenter::ClampSpinField(Control control, int min, int max) {
  view_.SetText(control, std::to_string(SpinValue(control, min, max)));
}

void MainWindowPresenter::DTimeExit() {
  Guarded([&] {
    const std::string text = TrimField(Control::kDTime);
    if (!IsValidTimeText(text)) return Refuse(ui_msg::kBackupTimeInvalid, Control::kDTime);
    view_.SetText(Control::kDTime, NormalizeTimeText(text));
    ShowNextBackupTime();
  });
}

// Shared by the keep-count and the interval field: both are put back into
// their ranges, and the interval moves the next backup time.
void MainWindowPresenter::BakNumEditExit() {
  Guarded([&] {
    ClampSpinField(Control::kBakNum, 0, kKeepCountMax);
    ClampSpinField(Control::kBtDays, kIntervalDaysMin, kIntervalDaysMax);
    ShowNextBackupTime();
  });
}

}  // namespace veltora
